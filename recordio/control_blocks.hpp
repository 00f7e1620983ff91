#pragma once

#include <cstdint>

// Control blocks of the I/O statements. A text field that is null means "not given"; status, access,
// form and blank texts are examined by their first letter only, so they need no terminator.

// A free-format read or write.
struct cilist {
    int32_t err = 0;               // nonzero: the caller has an error branch (the program never has one)
    int32_t unit = 0;              // unit number
    int32_t end = 0;               // nonzero: the caller has an end-of-file branch
    const char* format = nullptr;  // none: free format
    int32_t rec = 0;               // record number; 0 for sequential transfer
};

// An open.
struct olist {
    int32_t err = 0;
    int32_t unit = 0;
    const char* file = nullptr;  // file name, filelen characters, not terminated
    int32_t filelen = 0;
    const char* stat = nullptr;    // OLD, NEW, REPLACE, SCRATCH or UNKNOWN
    const char* access = nullptr;  // APPEND positions at the end
    const char* form = nullptr;    // FORMATTED or UNFORMATTED
    int32_t recl = 0;              // record length; 0 for sequential access
    const char* blank = nullptr;   // ZERO: blanks as zeros
};

// A close.
struct cllist {
    int32_t err = 0;
    int32_t unit = 0;
    const char* stat = nullptr;  // DELETE removes the file; anything else keeps it
};
