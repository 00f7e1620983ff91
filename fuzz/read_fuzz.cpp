// Fuzz target for reading DATOS.DAT: each input is a whole file, read as the program reads it (eight
// doubles, eight doubles, one double, one integer), but with error and end-of-file branches, so that a
// malformed file comes back as an error number instead of ending the process. Anything else that ends
// it (a crash, a sanitizer report, a fatal report that ignored the branches, a hang) is a finding.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "process/io_state.hpp"
#include "recordio/list_io.hpp"
#include "recordio/unit_table.hpp"

namespace {

constexpr int32_t kUnit = 1;

// The branches of a read that wants every failure back: err = 1, end = 1.
const cilist kRead{1, kUnit, 1, nullptr, 0};

// A read that took a branch must leave nothing under way, or the unit could never be closed again.
void check_nothing_under_way() {
    if ((f__init & kUnderWay) != 0) {
        std::fputs("a read that took a branch left an operation under way\n", stderr);
        __builtin_trap();
    }
}

// One read of count items of type; returns false when it took a branch.
bool read(int32_t type, int count) {
    double value = 0;
    int32_t integer = 0;
    if (s_rsle(&kRead) != 0) {
        check_nothing_under_way();
        return false;
    }
    for (int i = 0; i < count; ++i) {
        void* item = type == kTypeDouble ? static_cast<void*>(&value) : static_cast<void*>(&integer);
        const int32_t length = type == kTypeDouble ? 8 : 4;
        if (do_lio(type, 1, item, length) != 0) {
            check_nothing_under_way();
            return false;
        }
    }
    e_rsle();
    check_nothing_under_way();
    return true;
}

// The input as a file of its own, reachable by name.
int input_file(const uint8_t* data, size_t size) {
    const int fd = memfd_create("datos", 0);
    if (fd < 0) {
        __builtin_trap();
    }
    for (size_t done = 0; done < size;) {
        const ssize_t put = write(fd, data + done, size - done);
        if (put <= 0) {
            __builtin_trap();
        }
        done += static_cast<size_t>(put);
    }
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int fd = input_file(data, size);
    const std::string name = "/proc/self/fd/" + std::to_string(fd);
    const olist open{1, kUnit, name.c_str(), static_cast<int32_t>(name.size()), "OLD", nullptr, nullptr, 0, nullptr};
    if (f_open(&open) != 0) {
        __builtin_trap();
    }
    read(kTypeDouble, 8) && read(kTypeDouble, 8) && read(kTypeDouble, 1) && read(kTypeInteger, 1);
    const cllist close{1, kUnit, nullptr};
    if (f_clos(&close) != 0 || f__units[kUnit].stream.attached() || f__units[kUnit].at_end) {
        __builtin_trap();  // the unit must be free and clean for the next input
    }
    ::close(fd);
    return 0;
}
