#include "recordio/unit_table.hpp"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <initializer_list>
#include <new>
#include <string_view>
#include <unistd.h>

#include "process/io_state.hpp"
#include "recordio/fatal.hpp"
#include "recordio/unit_file.hpp"

Unit f__units[kUnitCount];

namespace {

constexpr std::size_t kMaxNameLength = 255;

bool starts_with_letter(const char* text, char lower) {
    return text != nullptr && (*text == lower || *text == lower - 'a' + 'A');
}

// The open's file name with trailing blanks removed; leading blanks stay.
std::string_view given_name(const olist& a) {
    std::string_view name(a.file, a.filelen > 0 ? static_cast<std::size_t>(a.filelen) : 0);
    while (!name.empty() && name.back() == ' ') {
        name.remove_suffix(1);
    }
    return name;
}

bool same_name(const Unit& unit, const olist& a) {
    return a.file == nullptr || (unit.named && unit.name == given_name(a));
}

bool file_exists(const std::string& name) { return ::access(name.c_str(), F_OK) == 0; }

// Keeps SIGINT and SIGTERM waiting until the process ends, so that a trap cannot end it in the middle of
// the close of all units: the trap's own close of all units would do nothing, being the second one.
void hold_termination_signals() {
    sigset_t held;
    sigemptyset(&held);
    sigaddset(&held, SIGINT);
    sigaddset(&held, SIGTERM);
    sigprocmask(SIG_BLOCK, &held, nullptr);
}

void forget_name(Unit& unit) {
    unit.name.clear();
    unit.named = false;
}

// Cuts a written file after the current position, so that nothing of an older, longer file remains.
// Output still gathered is handed over first; a file that refuses it fails like the end of a row.
int cut_at_position(Unit& unit, int32_t err) {
    if (!unit.stream.flush()) {
        return err__fl_host(err, errno, "write end");
    }
    if (unit.record_length != 0) {
        return 0;
    }
    const int64_t position = unit.stream.tell();
    const int64_t length = unit.stream.file_size();
    if (position >= length || !unit.can_seek || !unit.named) {
        return 0;
    }
    if (::ftruncate(unit.stream.fd(), static_cast<off_t>(position)) != 0) {
        return err__fl(err, kTruncationFailed, "endfile");
    }
    return 0;
}

// The report of an output that is one of the run's inputs under another name.
int refuse_input_as_output(Unit& unit, const std::string& name, const Unit& reader, int32_t err) {
    unit.name = name;  // the report names the file, as for a missing one
    unit.named = true;
    char message[2 * kMaxNameLength + 64];
    std::snprintf(message, sizeof message, "%s is the same file as %s, an input of this run", name.c_str(),
                  reader.input_file.name.c_str());
    return err__fl_message(err, EINVAL, message, "open");
}

void connect_preset(int number, int fd, int rights, int last_op) {
    Unit& unit = f__units[number];
    unit.stream.attach(fd, false);
    forget_name(unit);
    unit.record_length = 0;
    unit.can_seek = !unit.stream.is_terminal();
    unit.formatted = true;
    unit.rights = rights;
    unit.blank_zero = false;
    unit.at_end = false;
    unit.last_op.store(last_op);
    unit.scratch = false;
}

}  // namespace

int unit_number(const Unit& unit) { return static_cast<int>(&unit - f__units); }

void connect_preset_units() {
    occupy_closed_standard_descriptors();
    connect_preset(0, STDERR_FILENO, kMayWrite, 1);
    connect_preset(5, STDIN_FILENO, kMayRead, 0);
    connect_preset(6, STDOUT_FILENO, kMayWrite, 1);
}

void f_init() {
    if ((f__init & kUnderWay) != 0) {
        f__fatal(kIoRecursion, "I/O recursion");
    }
    f__init = kInitialised;
    connect_preset_units();
}

int f_open(const olist* a) {
    if ((f__init & kUnderWay) != 0) {
        return err__fl(a->err, kIoRecursion, "I/O recursion");
    }
    if ((f__init & kInitialised) == 0) {
        f_init();
    }
    f__external = 1;
    if (a->unit < 0 || a->unit >= kUnitCount) {
        return err__fl(a->err, kIllegalUnitNumber, "open");
    }
    Unit& unit = f__units[a->unit];
    f__curunit = &unit;

    if (unit.stream.attached()) {
        if (same_name(unit, *a)) {
            if (a->blank != nullptr) {
                unit.blank_zero = starts_with_letter(a->blank, 'z');
            }
            return 0;
        }
        const cllist close_first{a->err, a->unit, nullptr};
        f_clos(&close_first);
    }

    unit.record_length = a->recl;
    unit.blank_zero = starts_with_letter(a->blank, 'z');
    unit.formatted = a->form == nullptr ? a->recl <= 0 : starts_with_letter(a->form, 'f');

    std::string name;
    if (a->file != nullptr) {
        const std::string_view given = given_name(*a);
        if (given.empty()) {
            return err__fl(a->err, kNullFileName, "open");
        }
        // A longer name is refused rather than shortened: the shortened name could be another file.
        if (given.size() > kMaxNameLength) {
            return err__fl_host(a->err, ENAMETOOLONG, "open");
        }
        try {
            name = given;
        } catch (const std::bad_alloc&) {
            return err__fl(a->err, kOutOfFreeSpace, "no space");
        }
    } else {
        name = "fort." + std::to_string(a->unit);
    }

    unit.scratch = false;
    unit.at_end = false;
    unit.last_op.store(0);
    unit.rights = kMayRead | kMayWrite;
    const char status = a->stat == nullptr ? 'u' : *a->stat;
    unit.input = status == 'o' || status == 'O';

    // Before the status can empty the file; the opened file is compared again before anything can be
    // written to it.
    if (!unit.input) {
        if (const Unit* reader = input_on_same_file(name); reader != nullptr) {
            return refuse_input_as_output(unit, name, *reader, a->err);
        }
    }

    switch (status) {
        case 'o':
        case 'O':
            if (!file_exists(name)) {
                const int code = errno;
                unit.name = name;  // the report names the file that is missing
                unit.named = true;
                return err__fl_host(a->err, code, "open");
            }
            break;
        case 'n':
        case 'N':
            if (file_exists(name)) {
                return err__fl(a->err, kNewFileExists, "open");
            }
            [[fallthrough]];
        case 'r':
        case 'R':
            if (const int fd = open_fd(name, O_WRONLY | O_CREAT | O_TRUNC); fd >= 0) {
                ::close(fd);
            }
            break;
        case 's':
        case 'S':
            if (!make_scratch_name(name)) {
                return err__fl_host(a->err, errno, "open");
            }
            unit.scratch = true;
            break;
        default:
            break;
    }

    try {
        unit.name = name;
        unit.named = true;
    } catch (const std::bad_alloc&) {
        forget_name(unit);
        return err__fl(a->err, kOutOfFreeSpace, "no space");
    }

    const Unit* same_as_input = nullptr;
    if (!connect_stream(unit, name, same_as_input)) {
        if (same_as_input != nullptr) {
            return refuse_input_as_output(unit, name, *same_as_input, a->err);
        }
        if (errno == EWOULDBLOCK) {
            char message[kMaxNameLength + 64];
            std::snprintf(message, sizeof message, "%s is being written by another run", name.c_str());
            return err__fl_message(a->err, EWOULDBLOCK, message, "open");
        }
        return err__fl_host(a->err, errno, "open");
    }
    if (unit.input) {
        remember_input_file(unit);
    }
    unit.can_seek = !unit.stream.is_terminal();

    if (unit.can_seek && unit.record_length > 0) {
        unit.stream.seek(0);
    }
    if (starts_with_letter(a->access, 'a')) {
        const int64_t end = unit.stream.file_size();
        if (end < 0 || !unit.stream.seek(end)) {
            return err__fl(a->err, kCantAppendToFile, "open");
        }
    }
    return 0;
}

int f_clos(const cllist* a) {
    if ((f__init & kUnderWay) != 0) {
        return err__fl(a->err, kIoRecursion, "I/O recursion");
    }
    if (a->unit < 0 || a->unit >= kUnitCount) {
        return 0;
    }
    Unit& unit = f__units[a->unit];
    int result = 0;
    if (unit.stream.attached()) {
        if (unit.scratch || starts_with_letter(a->stat, 'd')) {
            unit.stream.close();
            if (unit.named) {
                ::unlink(unit.name.c_str());
            }
        } else {
            const bool written = unit.last_op.load() == 1;
            if (written) {
                result = cut_at_position(unit, a->err);
            }
            // A standard stream's descriptor stays open. The close of a written file is the last word of
            // its writing: a file system that reports a lost write only there fails like a row.
            if (unit.stream.close() != 0 && written && unit.named && result == 0) {
                result = err__fl_host(a->err, errno, "write end");
            }
        }
    }
    unit.at_end = false;
    unit.last_op.store(0);
    forget_name(unit);
    return result;
}

namespace {

struct Reopening {
    int flags;
    int rights;
};

// Connects a named unit again to its file, with the first way of opening it that succeeds, at the
// position it had: a unit whose connection lacks a right gets it without losing its place.
bool reopen_in_place(Unit& x, std::initializer_list<Reopening> ways) {
    if (!x.named) {
        return false;
    }
    const int64_t position = x.stream.tell();
    x.stream.close();
    for (const Reopening& way : ways) {
        if (const int fd = open_fd(x.name, way.flags); fd >= 0) {
            // Placed before it is attached, so that its committed offset is never the file's start: a
            // trap in between would cut a written file there.
            ::lseek(fd, static_cast<off_t>(position), SEEK_SET);
            if (!attach_file(x, fd)) {
                return false;
            }
            x.rights = way.rights;
            return true;
        }
    }
    return false;  // the unit has lost its stream
}

}  // namespace

int f__nowwriting(Unit* x) {
    if ((x->rights & kMayWrite) == 0 && !reopen_in_place(*x, {{O_RDWR, kMayRead | kMayWrite}})) {
        return 1;
    }
    x->last_op.store(1);
    return 0;
}

int f__nowreading(Unit* x) {
    if ((x->rights & kMayRead) == 0 && !reopen_in_place(*x, {{O_RDWR, kMayRead | kMayWrite}, {O_RDONLY, kMayRead}})) {
        return 1;
    }
    x->last_op.store(0);
    return 0;
}

void f_exit() {
    static std::atomic<bool> closed{false};
    if ((f__init & kInitialised) == 0) {
        return;
    }
    hold_termination_signals();
    f__init = f__init & ~kUnderWay;  // an interrupted transfer no longer counts as under way
    if (closed.exchange(true)) {
        return;
    }
    for (Unit& unit : f__units) {
        // A file this connection has put no byte into is left exactly as it was found.
        const bool written =
            unit.last_op.load() == 1 && unit.record_length == 0 && unit.can_seek && unit.stream.wrote();
        const bool delete_file = unit.scratch && unit.named && unit.stream.attached();
        unit.stream.cut_and_close_for_exit(written && !delete_file);
        if (delete_file) {
            ::unlink(unit.name.c_str());
        }
    }
}
