#include "recordio/stream.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

// The size of the kernel's signal set: 64 signals on most machines, 128 on some.
constexpr std::size_t kKernelSignalSetBytes = (_NSIG - 1) / 8;
static_assert(kKernelSignalSetBytes <= sizeof(sigset_t));

// Holds every signal the kernel lets a process hold, for the life of the object. The C library's own
// calls leave out the two realtime signals it keeps for its threads (32 and 33); this single-threaded
// program has no use for them, and left unheld they would end it, by their default action, in the
// middle of the stretch. Async-signal-safe.
class AllSignalsHeld {
public:
    AllSignalsHeld() {
        sigset_t all;
        std::memset(&all, 0xff, sizeof all);
        std::memset(&previous_, 0, sizeof previous_);
        ::syscall(SYS_rt_sigprocmask, SIG_BLOCK, &all, &previous_, kKernelSignalSetBytes);
    }
    ~AllSignalsHeld() { ::syscall(SYS_rt_sigprocmask, SIG_SETMASK, &previous_, nullptr, kKernelSignalSetBytes); }
    AllSignalsHeld(const AllSignalsHeld&) = delete;
    AllSignalsHeld& operator=(const AllSignalsHeld&) = delete;

private:
    sigset_t previous_;
};

// Makes the file end at length when it is longer; a file that already ends there is not touched, so one
// that may no longer be shortened (made append-only) fails only where a cut is needed. Returns false
// with errno set when the cut fails. Async-signal-safe.
bool cut_file(int fd, int64_t length) {
    struct stat st;
    if (::fstat(fd, &st) == 0 && static_cast<int64_t>(st.st_size) <= length) {
        return true;
    }
    return ::ftruncate(fd, static_cast<off_t>(length)) == 0;
}

}  // namespace

void Stream::attach(int fd, bool owns_fd) {
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    fd_offset_ = at < 0 ? 0 : static_cast<int64_t>(at);
    committed_.store(fd_offset_);
    in_next_ = in_end_ = 0;
    pushed_back_ = kEof;
    read_errno_ = 0;
    out_len_ = 0;
    replace_old_content_ = false;
    wrote_.store(false);
    owns_fd_.store(owns_fd);
    fd_.store(fd);
}

int Stream::close() {
    if (!attached()) {
        return 0;
    }
    bool ok = hand_over_output(false);
    int error = ok ? 0 : errno;
    const int fd = fd_.exchange(-1);
    // Some file systems (network ones) report at the close a write that did not reach the file.
    if (owns_fd() && ::close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    errno = error;
    return ok ? 0 : -1;
}

int Stream::get() {
    if (pushed_back_ != kEof) {
        const int c = pushed_back_;
        pushed_back_ = kEof;
        return c;
    }
    if (in_next_ == in_end_) {
        if (out_len_ > 0 && !hand_over_output(false)) {
            read_errno_ = errno;
            return kEof;
        }
        ssize_t got;
        do {
            got = ::read(fd(), in_, kBufferSize);
        } while (got < 0 && errno == EINTR);
        if (got < 0) {
            read_errno_ = errno;
            return kEof;
        }
        if (got == 0) {
            return kEof;
        }
        fd_offset_ += got;
        in_next_ = 0;
        in_end_ = static_cast<std::size_t>(got);
    }
    return static_cast<unsigned char>(in_[in_next_++]);
}

void Stream::unget(int c) {
    if (c != kEof) {
        pushed_back_ = c;
    }
}

bool Stream::put(const char* text, std::size_t n) {
    if (in_next_ != in_end_ || pushed_back_ != kEof) {
        seek(tell());  // writing goes on where reading stopped, not where the read-ahead stopped
    }
    while (n > 0) {
        if (out_len_ == kBufferSize && !hand_over_output(false)) {
            return false;
        }
        const std::size_t room = kBufferSize - out_len_;
        const std::size_t take = n < room ? n : room;
        std::memcpy(out_ + out_len_, text, take);
        out_len_ += take;
        text += take;
        n -= take;
    }
    return true;
}

bool Stream::flush() {
    if (!hand_over_output(true)) {
        return false;
    }
    committed_.store(fd_offset_);
    return true;
}

bool Stream::hand_over_output(bool completes_flush) {
    if (out_len_ == 0) {
        return true;
    }
    if (replace_old_content_) {
        return hand_over_replacing(completes_flush);
    }
    const bool ok = write_all(out_, out_len_);
    out_len_ = 0;
    return ok;
}

// The first output that reaches the file, and the cut right after it. Every signal that can be held
// waits from before the write to after the cut, so that no trap, and no signal whose default action
// ends the process, can find the file holding this output followed by older content; only SIGKILL (or
// the kernel itself) can end the process in between. A signal that arrived meanwhile is delivered when
// the stretch ends, so the output of a completed flush is committed inside it: the exit path then cuts
// after that output, not before it. Until a byte has gone out, the file stays as it was found, and the
// next output tries again.
//
// A cut that fails (the file was made append-only) fails the hand-over, as a refused write would: the
// older content still follows this output.
//
// A write that fails part way (a file-size limit inside the row, a disk that fills) would leave the start
// of this output over the older content, and the exit's cut at the committed offset would then leave
// nothing where a table stood: the bytes the output covered are read before it goes out and put back,
// with the file's length, so that the file is as it was found. Where that cannot be done, the file is
// cut after what went out, as before.
bool Stream::hand_over_replacing(bool completes_flush) {
    const AllSignalsHeld held;
    const int64_t start = fd_offset_;
    Covered covered;
    keep_covered_bytes(out_len_, covered);
    bool ok = write_all(out_, out_len_);
    int error = ok ? 0 : errno;
    out_len_ = 0;
    if (!ok && wrote()) {
        put_back_covered_bytes(start, covered);
    }
    if (wrote()) {
        if (ok && completes_flush) {
            committed_.store(fd_offset_);
        }
        if (!cut_file(fd(), fd_offset_) && ok) {
            ok = false;
            error = errno;
        }
        replace_old_content_ = false;
    }
    errno = error;
    return ok;
}

void Stream::keep_covered_bytes(std::size_t n, Covered& covered) {
    struct stat st;
    covered.size_before = ::fstat(fd(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    covered.length = 0;
    const int64_t existing = covered.size_before - fd_offset_;
    const auto wanted = static_cast<int64_t>(n) < existing ? static_cast<int64_t>(n) : existing;
    while (covered.length < wanted) {
        const ssize_t got =
            ::pread(fd(), covered.bytes + covered.length, static_cast<std::size_t>(wanted - covered.length),
                    static_cast<off_t>(fd_offset_ + covered.length));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            covered.length = -1;  // a file opened for writing only, or one that shrank meanwhile
            return;
        }
        covered.length += got;
    }
}

// Gives the file back what it held from start on, where this output went, and its former length. Where
// that cannot be done the file is left as the failed write left it, which the caller then cuts.
void Stream::put_back_covered_bytes(int64_t start, const Covered& covered) {
    const int64_t written = fd_offset_ - start;
    if (covered.length < 0 || covered.size_before < 0) {
        return;
    }
    const int64_t back = written < covered.length ? written : covered.length;
    for (int64_t done = 0; done < back;) {
        const ssize_t put = ::pwrite(fd(), covered.bytes + done, static_cast<std::size_t>(back - done),
                                     static_cast<off_t>(start + done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return;
        }
        done += put;
    }
    if (start + written > covered.size_before && ::ftruncate(fd(), static_cast<off_t>(covered.size_before)) != 0) {
        return;
    }
    if (::lseek(fd(), static_cast<off_t>(start), SEEK_SET) < 0) {
        return;
    }
    fd_offset_ = start;
    wrote_.store(false);
}

bool Stream::write_all(const char* data, std::size_t n) {
    while (n > 0) {
        const ssize_t put = ::write(fd(), data, n);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (put == 0) {
            errno = EIO;  // a file that takes nothing would otherwise be retried for ever
            return false;
        }
        if (!wrote_.load(std::memory_order_relaxed)) {
            wrote_.store(true);
        }
        fd_offset_ += put;
        data += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

int64_t Stream::tell() const {
    const int64_t unread = static_cast<int64_t>(in_end_ - in_next_) + (pushed_back_ != kEof ? 1 : 0);
    return fd_offset_ - unread + static_cast<int64_t>(out_len_);
}

bool Stream::seek(int64_t offset) {
    if (!hand_over_output(false)) {
        return false;
    }
    in_next_ = in_end_ = 0;
    pushed_back_ = kEof;
    if (::lseek(fd(), offset, SEEK_SET) < 0) {
        return false;
    }
    fd_offset_ = offset;
    committed_.store(offset);
    return true;
}

int64_t Stream::file_size() const {
    struct stat st;
    if (::fstat(fd(), &st) != 0) {
        return -1;
    }
    return static_cast<int64_t>(st.st_size);
}

bool Stream::is_terminal() const { return ::isatty(fd()) == 1; }

void Stream::cut_and_close_for_exit(bool cut) {
    const int fd = fd_.exchange(-1);
    if (fd < 0 || !owns_fd()) {
        return;
    }
    if (cut) {
        (void)cut_file(fd, committed());  // only a shortening: a shorter file (cut elsewhere) keeps its length
    }
    (void)::close(fd);
}
