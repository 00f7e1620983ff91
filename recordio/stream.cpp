#include "recordio/stream.hpp"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

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
    hand_over_output();
    const int fd = fd_.exchange(-1);
    return owns_fd() ? ::close(fd) : 0;
}

int Stream::get() {
    if (pushed_back_ != kEof) {
        const int c = pushed_back_;
        pushed_back_ = kEof;
        return c;
    }
    if (in_next_ == in_end_) {
        if (out_len_ > 0 && !hand_over_output()) {
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
        if (out_len_ == kBufferSize && !hand_over_output()) {
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
    if (!hand_over_output()) {
        return false;
    }
    committed_.store(fd_offset_);
    return true;
}

bool Stream::hand_over_output() {
    if (out_len_ == 0) {
        return true;
    }
    if (replace_old_content_) {
        return hand_over_replacing();
    }
    const bool ok = write_all(out_, out_len_);
    out_len_ = 0;
    return ok;
}

// The first output that reaches the file, and the cut right after it. Every signal that can be held
// waits from before the write to after the cut, so that no trap, and no signal whose default action
// ends the process, can find the file holding this output followed by older content; only SIGKILL (or
// the kernel itself) can end the process in between. Until a byte has gone out, the file stays as it
// was found, and the next output tries again.
bool Stream::hand_over_replacing() {
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    sigprocmask(SIG_BLOCK, &all, &previous);
    const bool ok = write_all(out_, out_len_);
    out_len_ = 0;
    const int saved_errno = errno;
    if (wrote()) {
        (void)::ftruncate(fd(), static_cast<off_t>(fd_offset_));
        replace_old_content_ = false;
    }
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    errno = saved_errno;
    return ok;
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
    if (!hand_over_output()) {
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
        // Only a shortening: a file that is already shorter (cut elsewhere) keeps its length.
        struct stat st;
        const int64_t end = committed();
        if (::fstat(fd, &st) == 0 && end < static_cast<int64_t>(st.st_size)) {
            (void)::ftruncate(fd, static_cast<off_t>(end));
        }
    }
    (void)::close(fd);
}
