#include "recordio/list_io.hpp"

#include "process/io_state.hpp"
#include "recordio/fatal.hpp"
#include "recordio/list_io_internal.hpp"
#include "recordio/unit_table.hpp"

int32_t list_io_start(const cilist* a, int32_t reading, Unit** unit) {
    if ((f__init & kInitialised) == 0) {
        f_init();
    }
    f__reading = reading;
    f__external = 1;
    f__formatted = 1;
    f__init = kInitialised | kUnderWay;
    f__fmtbuf = "list io";
    f__fmtlen = 7;
    f__sequential = 1;
    if (a->unit < 0 || a->unit >= kUnitCount) {
        return err__fl(a->err, kIllegalUnitNumber, "stler");
    }
    Unit& chosen = f__units[a->unit];
    f__curunit = &chosen;
    if (!chosen.stream.attached()) {
        const olist default_connection{1, a->unit, nullptr, 0, nullptr, nullptr, nullptr, 0, nullptr};
        f__init = kInitialised;  // the connection is an open, not part of the transfer
        const int32_t failed = f_open(&default_connection);
        f__init = kInitialised | kUnderWay;
        f__curunit = &chosen;
        if (failed != 0) {
            return err__fl(a->err, kFormattedIoNotAllowed, "lio");
        }
    }
    if (!chosen.formatted) {
        return err__fl(a->err, kUnformattedIoNotAllowed, "lio");
    }
    *unit = &chosen;
    return 0;
}

void list_io_finish() { f__init = kInitialised; }

int32_t do_lio(int32_t type, int32_t number, void* ptr, int32_t length) {
    char* first = static_cast<char*>(ptr);
    return f__reading != 0 ? list_read_items(type, number, first, length)
                           : list_write_items(type, number, first, length);
}
