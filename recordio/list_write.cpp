#include <cerrno>
#include <cstdint>
#include <cstring>

#include "recordio/fatal.hpp"
#include "recordio/item_text.hpp"
#include "recordio/list_io.hpp"
#include "recordio/list_io_internal.hpp"

namespace {

// Items are placed so that no line reaches this many characters, whatever the unit or its file.
constexpr int32_t kLineLimit = 80;

// The free-format write state: one write is open at a time. The line buffer is made once and never
// grows: a line of double items is at most 79 characters and its line end, and an item is formed at
// the end of the line before it is known whether it fits.
struct WriteState {
    Unit* unit = nullptr;
    int32_t err = 0;
    int32_t position = 0;                    // characters in the current line
    int put_errno = 0;                       // the first refusal of a line by the stream during this write, else 0
    ItemTextForm form = ItemTextForm::fast;  // how the items of this write are formed
    char line[400];
};
static_assert(kLineLimit + kItemTextCapacity <= sizeof(WriteState::line));
WriteState state;

// Hands the finished line and its line end to the unit's stream in one piece. The stream refuses a
// line only when it had to hand earlier output to the file and the file refused it; that line is then
// lost, so the refusal is kept and reported at the end of the row, which must not pass as written.
void end_line() {
    state.line[state.position] = '\n';
    if (!state.unit->stream.put(state.line, static_cast<std::size_t>(state.position) + 1) && state.put_errno == 0) {
        state.put_errno = errno;
    }
    state.position = 0;
}

// The text is formed where it goes, at the end of the line (a line under 80 characters leaves room for
// kItemTextCapacity more); only an item that has to start a new line is moved there.
void write_item(double x) {
    char* const at = state.line + state.position;
    const auto n = static_cast<int32_t>(format_item(x, at, state.form));
    if (state.position + n >= kLineLimit && state.position > 0) {
        char text[kItemTextCapacity];
        std::memcpy(text, at, static_cast<std::size_t>(n));
        end_line();
        std::memcpy(state.line, text, static_cast<std::size_t>(n));
    }
    state.position += n;
}

}  // namespace

int32_t s_wsle(const cilist* a, ItemTextForm form) {
    Unit* unit = nullptr;
    if (const int32_t failed = list_io_start(a, 0, &unit); failed != 0) {
        return failed;
    }
    state.unit = unit;
    state.err = a->err;
    state.position = 0;
    state.put_errno = 0;
    state.form = form;
    if (unit->last_op.load() != 1 && f__nowwriting(unit) != 0) {
        return err__fl(a->err, kCantWriteFile, "list output start");
    }
    return 0;
}

int32_t list_write_items(int32_t type, int32_t number, char* ptr, int32_t length) {
    if (type != kTypeDouble) {
        return err__fl(state.err, kBadVariableType, "unknown type in lio");
    }
    for (int32_t i = 0; i < number; ++i) {
        double x;
        std::memcpy(&x, ptr + static_cast<std::ptrdiff_t>(i) * length, sizeof x);
        write_item(x);
    }
    return 0;
}

int32_t e_wsle() {
    end_line();
    int32_t result = 0;
    // A row with a refused line is not flushed: the flush would commit its other line as if the row
    // were whole, and the cut at exit keeps only what was committed.
    if (state.put_errno != 0) {
        result = err__fl_host(state.err, state.put_errno, "write end");
    } else if (!state.unit->stream.flush()) {
        result = err__fl_host(state.err, errno, "write end");
    }
    list_io_finish();
    return result;
}
