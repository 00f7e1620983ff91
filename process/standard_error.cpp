#include "process/standard_error.hpp"

#include <cerrno>
#include <cstring>
#include <unistd.h>

void write_standard_error(const char* text, std::size_t length) {
    const int saved_errno = errno;
    while (length > 0) {
        const ssize_t put = ::write(STDERR_FILENO, text, length);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            break;
        }
        text += put;
        length -= static_cast<std::size_t>(put);
    }
    errno = saved_errno;
}

void write_standard_error(const char* text) { write_standard_error(text, std::strlen(text)); }
