// Interim free-format reader: plain numbers separated by blanks, commas and line ends.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "recordio/list_io.hpp"
#include "recordio/list_io_internal.hpp"
#include "runtime/fatal.hpp"

namespace {
Unit* reading_unit = nullptr;
}

int32_t s_rsle(const cilist* a) {
    Unit* unit = nullptr;
    if (const int32_t failed = list_io_start(a, 1, &unit); failed != 0) {
        return failed;
    }
    reading_unit = unit;
    if (unit->last_op.load() == 1 && f__nowreading(unit) != 0) {
        return err__fl(a->err, errno, "read start");
    }
    if (unit->at_end) {
        return err__fl(a->err, -1, "read start");
    }
    return 0;
}

int32_t list_read_items(int32_t type, int32_t number, char* ptr, int32_t length) {
    Stream& in = reading_unit->stream;
    for (int32_t i = 0; i < number; ++i) {
        int c = in.get();
        while (c == ' ' || c == '\t' || c == '\n' || c == ',') {
            c = in.get();
        }
        if (c == Stream::kEof) {
            f__fatal(-1, "list in");
        }
        std::string text;
        while (c != Stream::kEof && c != ' ' && c != '\t' && c != '\n' && c != ',') {
            text.push_back(static_cast<char>(c));
            c = in.get();
        }
        in.unget(c);
        char* item = ptr + static_cast<std::ptrdiff_t>(i) * length;
        if (type == kTypeDouble) {
            const double value = std::strtod(text.c_str(), nullptr);
            std::memcpy(item, &value, sizeof value);
        } else {
            const auto value = static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
            std::memcpy(item, &value, sizeof value);
        }
    }
    return 0;
}

int32_t e_rsle() {
    list_io_finish();
    int c;
    do {
        c = reading_unit->stream.get();
    } while (c != '\n' && c != Stream::kEof);
    if (c == Stream::kEof) {
        reading_unit->at_end = true;
        return -1;
    }
    return 0;
}
