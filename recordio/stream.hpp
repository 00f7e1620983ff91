#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

// A unit's connection to an open file descriptor.
//
// Input is read through a buffer with one character of push-back. Output is gathered and handed to the
// file by flush(), in one write per flush where it fits, so a row reaches the file as one piece.
//
// A signal may end the process at any moment, and its handler must still cut the output file after the
// last whole row and close it. A handler may not call the buffered C library, so the few facts it needs
// (the descriptor, whether the stream owns it, and the offset up to which output has been handed to the
// file by a completed flush, and whether this connection has put any byte into the file) are lock-free
// atomics that are always valid; see cut_and_close_for_exit().
// They use sequentially consistent order, so that a handler never sees a new descriptor with the committed
// offset of an older connection.
class Stream {
public:
    static constexpr int kEof = -1;

    // Connects to fd at the descriptor's current offset. A stream that does not own its descriptor (the
    // standard streams) never closes or cuts it.
    void attach(int fd, bool owns_fd);
    // For a regular file: the first output that reaches the file also cuts the file right after it, so
    // that nothing of an older, longer file follows this connection's output, whatever ends the process.
    // A cut that fails fails that hand-over of output, with the cut's errno.
    void replace_old_content() { replace_old_content_ = true; }
    // Hands pending output to the file, then closes an owned descriptor. Returns 0, or -1 with errno set
    // when the output was refused or the close failed; the stream is closed either way.
    int close();
    bool attached() const { return fd_.load() >= 0; }
    int fd() const { return fd_.load(); }
    bool owns_fd() const { return owns_fd_.load(); }

    // Next byte as 0..255, or kEof at the end of the file or after a read error (see read_error()).
    int get();
    // Puts back c, the byte get() returned last; at most one byte is held.
    void unget(int c);
    bool read_error() const { return read_errno_ != 0; }
    int read_errno() const { return read_errno_; }
    void clear_read_error() { read_errno_ = 0; }

    // Appends n bytes to the output. Returns false with errno set when output had to be handed to the
    // file early (the gathering buffer was full) and the file refused it.
    bool put(const char* text, std::size_t n);
    // Hands all gathered output to the file. Returns false with errno set when the file refused any of it
    // (the committed offset then stays at the end of the last complete flush), or when the cut after the
    // first output failed (the output itself is whole, and committed).
    bool flush();

    // The logical position: where the next byte would be read or written.
    int64_t tell() const;
    // Moves to offset from the start of the file; pending output is handed over first.
    bool seek(int64_t offset);
    // The file length, or -1 when it cannot be told.
    int64_t file_size() const;
    // The offset just after the last byte handed to the file by a completed flush.
    int64_t committed() const { return committed_.load(); }
    // Whether this connection has put any byte into the file: until then the file is as it was found.
    bool wrote() const { return wrote_.load(); }
    // Whether the descriptor refers to a terminal.
    bool is_terminal() const;

    // For the exit path, async-signal-safe: when cut is set, shortens the file to the committed offset;
    // then closes an owned descriptor. Pending output and unread input are dropped.
    void cut_and_close_for_exit(bool cut);

private:
    bool write_all(const char* data, std::size_t n);
    // completes_flush: the output ends at a flush, so the offset after it may be committed.
    bool hand_over_output(bool completes_flush);
    bool hand_over_replacing(bool completes_flush);

    static constexpr std::size_t kBufferSize = 8192;

    // The file's bytes that the first output is about to cover, read before it goes out, so that a write
    // that fails part way can give them back (see hand_over_replacing).
    struct Covered {
        char bytes[kBufferSize];
        int64_t length = -1;       // how many of them were read; -1: they could not be
        int64_t size_before = -1;  // the file's length before the output; -1: unknown
    };
    void keep_covered_bytes(std::size_t n, Covered& covered);
    void put_back_covered_bytes(int64_t start, const Covered& covered);

    std::atomic<int> fd_{-1};
    std::atomic<bool> owns_fd_{false};
    std::atomic<int64_t> committed_{0};
    std::atomic<bool> wrote_{false};
    static_assert(std::atomic<int>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free &&
                      std::atomic<bool>::is_always_lock_free,
                  "a signal handler reads these");

    bool replace_old_content_ = false;  // until the cut after the first output is done
    int64_t fd_offset_ = 0;             // the descriptor's own offset, kept to avoid asking the kernel
    char in_[kBufferSize];
    std::size_t in_next_ = 0;  // next unread byte of in_
    std::size_t in_end_ = 0;   // end of the valid bytes of in_
    int pushed_back_ = kEof;   // the byte put back, or kEof
    int read_errno_ = 0;
    char out_[kBufferSize];
    std::size_t out_len_ = 0;
};
