#include "recordio/unit_file.hpp"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask, as for any file a program creates

// How often a run that waits for the readers of its output looks again.
constexpr long kReaderWaitNanoseconds = 10'000'000;

// A FIFO, a device or a socket: a stream of bytes in one direction rather than a file with places in it.
bool is_stream_kind(mode_t mode) { return S_ISFIFO(mode) || S_ISCHR(mode) || S_ISBLK(mode) || S_ISSOCK(mode); }

bool names_stream(const std::string& name) {
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 && is_stream_kind(st.st_mode);
}

bool is_stream_descriptor(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && is_stream_kind(st.st_mode);
}

bool is_regular_descriptor(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// Takes the advisory lock that keeps a second run from writing the same file: exclusive, held while the
// run writes. A program that only reads the file holds it shared while it reads; the run waits until
// such readers are done, and is refused only when another writer holds the file. Where the file system
// has no locks, the run goes on without one.
bool lock_for_writing(int fd) {
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 || errno != EWOULDBLOCK) {
            return true;
        }
        // A shared lock is granted only while nobody holds the file exclusively: then readers hold it.
        if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
            return errno != EWOULDBLOCK;
        }
        ::flock(fd, LOCK_UN);
        const struct timespec pause = {0, kReaderWaitNanoseconds};
        ::nanosleep(&pause, nullptr);
    }
}

// Opens a FIFO or device in the one direction the unit uses it: an input for reading, an output for
// writing. Opened both ways, the run would itself be a writer of its own input, whose end would never
// come, or a reader of its own output, which would take the rows no one else gets; and a FIFO output
// opened for writing only waits here until a reader comes.
int open_stream(const Unit& unit, const std::string& name, int& rights) {
    rights = unit.input ? kMayRead : kMayWrite;
    return open_fd(name, unit.input ? O_RDONLY : O_WRONLY);
}

// The open sequence for every other kind: reading and writing (content kept, at the start), then
// reading only, then writing only.
//
// Writing only is tried for an output that does not exist yet, which it creates; never for an input, so
// that an input removed after its existence test is reported missing, not created. An existing file
// that can be opened neither way is refused with the reason the read-only open gave: opening it for
// writing would empty it, and an input file that merely lacks read permission must not lose its content
// to an open.
int open_in_sequence(const Unit& unit, const std::string& name, int& rights) {
    rights = kMayRead | kMayWrite;
    int fd = open_fd(name, O_RDWR);
    if (fd < 0) {
        fd = open_fd(name, O_RDONLY);
        rights = kMayRead;
    }
    if (fd < 0 && errno == ENOENT && !unit.input) {
        fd = open_fd(name, O_WRONLY | O_CREAT);
        rights = kMayWrite;
    }
    return fd;
}

}  // namespace

// A unit's file never takes descriptor 0, 1 or 2, also when the process was started without them and
// nothing could be opened in their place: reports and trap messages go to descriptor 2 and must never
// land in a data file.
int open_fd(const std::string& name, int flags) {
    int fd = ::open(name.c_str(), flags | O_CLOEXEC, kNewFileMode);
    if (fd >= 0 && fd <= STDERR_FILENO) {
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
        const int saved_errno = errno;
        ::close(fd);
        errno = saved_errno;
        fd = moved;
    }
    return fd;
}

// Attaches fd to the unit's stream. An output is compared with the run's inputs on the opened file
// itself: a name checked before the open may since have been made a link to an input, and the open then
// reached the input (refused, fd closed: false with *same_as_input set). An output that is a regular
// file is then locked (closed again when it is locked elsewhere: false with errno EWOULDBLOCK), and
// replaces the older content of its file from its first row on. A device, a pipe or a terminal is shared
// by nature and has nothing to cut.
bool attach_file(Unit& unit, int fd, const Unit** same_as_input) {
    if (!unit.input) {
        if (const Unit* reader = input_on_same_descriptor(fd); reader != nullptr) {
            ::close(fd);
            if (same_as_input != nullptr) {
                *same_as_input = reader;
            }
            errno = EINVAL;
            return false;
        }
    }
    const bool regular_output = !unit.input && is_regular_descriptor(fd);
    if (regular_output && !lock_for_writing(fd)) {
        ::close(fd);
        errno = EWOULDBLOCK;
        return false;
    }
    unit.stream.attach(fd, true);
    if (regular_output && unit.record_length == 0) {
        unit.stream.replace_old_content();
    }
    return true;
}

namespace {

const Unit* input_with_identity(const struct stat& st) {
    for (const Unit& unit : f__units) {
        if (unit.input_file.known && unit.input_file.device == st.st_dev && unit.input_file.inode == st.st_ino) {
            return &unit;
        }
    }
    return nullptr;
}

}  // namespace

// The unit that was opened as an input on the same file as name, or none.
const Unit* input_on_same_file(const std::string& name) {
    struct stat st;
    return ::stat(name.c_str(), &st) == 0 ? input_with_identity(st) : nullptr;
}

const Unit* input_on_same_descriptor(int fd) {
    struct stat st;
    return ::fstat(fd, &st) == 0 ? input_with_identity(st) : nullptr;
}

// Of every kind: a FIFO or a device that is the run's input must not become its output either.
void remember_input_file(Unit& unit) {
    struct stat st;
    if (::fstat(unit.stream.fd(), &st) == 0) {
        try {
            unit.input_file = {true, st.st_dev, st.st_ino, unit.name};
        } catch (const std::bad_alloc&) {
            unit.input_file.known = false;  // the check is lost, not the run
        }
    }
}

// Connects the unit's stream, opening a FIFO or device in one direction and any other file by the open
// sequence (see above). Returns false with errno set when the file cannot be opened at all.
//
// The kind is asked of the name and then of the descriptor: a FIFO or device put in place of the name
// in between, and opened both ways, is opened again in its one direction.
bool connect_stream(Unit& unit, const std::string& name, const Unit*& same_as_input) {
    int rights = 0;
    int fd = names_stream(name) ? open_stream(unit, name, rights) : open_in_sequence(unit, name, rights);
    if (fd >= 0 && rights == (kMayRead | kMayWrite) && is_stream_descriptor(fd)) {
        ::close(fd);
        fd = open_stream(unit, name, rights);
    }
    if (fd < 0) {
        return false;
    }
    if (!attach_file(unit, fd, &same_as_input)) {
        return false;
    }
    unit.rights = rights;
    unit.last_op.store(rights == kMayWrite ? 1 : 0);  // a file opened for writing only is already writing
    return true;
}

// A standard descriptor that the process was started without is opened on /dev/null, so that no file a
// unit opens can take its number: the fatal report would otherwise be written into that file.
void occupy_closed_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            // Where /dev/null cannot be opened, the root directory holds the place: every write fails.
            int opened = ::open("/dev/null", O_RDWR);
            if (opened < 0) {
                opened = ::open("/", O_RDONLY | O_DIRECTORY);
            }
            if (opened >= 0 && opened != fd) {
                ::close(opened);  // fd was taken meanwhile; nothing more to do
            }
        }
    }
}

// A scratch unit gets a fresh temporary file of its own.
bool make_scratch_name(std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/ephemXXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    name = pattern;
    return true;
}
