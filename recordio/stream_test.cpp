#include "recordio/stream.hpp"
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// A file of the given content in a fresh directory, removed at the end of the test.
class ScratchFile {
public:
    explicit ScratchFile(const std::string& content) {
        std::string pattern = (std::filesystem::temp_directory_path() / "ephem-stream-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("mkdtemp failed");
        }
        dir_ = pattern;
        path_ = dir_ + "/f";
        std::ofstream(path_, std::ios::binary) << content;
    }
    ~ScratchFile() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    const std::string& path() const { return path_; }
    std::string content() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    int open(int flags) const { return ::open(path_.c_str(), flags); }

private:
    std::string dir_;
    std::string path_;
};

void put_text(Stream& stream, const std::string& text) { ASSERT_TRUE(stream.put(text.data(), text.size())); }

// Bytes above 127 come back as 128..255, never as the end of the file.
TEST(Stream, PushedBackByteIsReadAgainAndNotCountedInThePosition) {
    ScratchFile file("\xff\x80");
    Stream stream;
    stream.attach(file.open(O_RDONLY), true);
    EXPECT_EQ(stream.get(), 0xff);
    EXPECT_EQ(stream.get(), 0x80);
    EXPECT_EQ(stream.tell(), 2);
    stream.unget(0x80);
    EXPECT_EQ(stream.tell(), 1);
    EXPECT_EQ(stream.get(), 0x80);
    EXPECT_EQ(stream.get(), Stream::kEof);
    stream.unget(Stream::kEof);  // putting back the end changes nothing
    EXPECT_EQ(stream.get(), Stream::kEof);
    EXPECT_EQ(stream.tell(), 2);
    stream.close();
}

// Writing after reading must land where reading stopped, not where the read-ahead left the descriptor.
TEST(Stream, WriteAfterReadGoesToTheLogicalPosition) {
    ScratchFile file("abc\ndef\n");
    Stream stream;
    stream.attach(file.open(O_RDWR), true);
    EXPECT_EQ(stream.get(), 'a');
    EXPECT_EQ(stream.get(), 'b');
    stream.unget('b');
    put_text(stream, "XY");
    EXPECT_EQ(stream.tell(), 3);
    ASSERT_TRUE(stream.flush());
    EXPECT_EQ(stream.committed(), 3);
    EXPECT_EQ(stream.get(), '\n');  // reading goes on after the bytes written
    EXPECT_EQ(stream.tell(), 4);
    stream.close();
    EXPECT_EQ(file.content(), "aXY\ndef\n");
}

TEST(Stream, PositionAcrossTheReadBuffer) {
    std::string content(20000, 'r');
    content[9000] = 'w';
    ScratchFile file(content);
    Stream stream;
    stream.attach(file.open(O_RDWR), true);
    for (int i = 0; i < 9000; ++i) {
        ASSERT_EQ(stream.get(), 'r');
    }
    EXPECT_EQ(stream.tell(), 9000);
    put_text(stream, "W");
    EXPECT_EQ(stream.tell(), 9001);
    ASSERT_TRUE(stream.flush());
    EXPECT_EQ(stream.get(), 'r');
    stream.close();
    content[9000] = 'W';
    EXPECT_EQ(file.content(), content);
}

// Output gathered but not flushed is handed over before the next read, so a read sees the file as written.
TEST(Stream, ReadAfterWriteSeesTheWrittenBytes) {
    ScratchFile file("0123456789");
    Stream stream;
    stream.attach(file.open(O_RDWR), true);
    put_text(stream, "ab");
    EXPECT_EQ(stream.get(), '2');
    EXPECT_EQ(stream.tell(), 3);
    stream.close();
    EXPECT_EQ(file.content(), "ab23456789");
}

TEST(Stream, OutputLargerThanTheBufferReachesTheFileWhole) {
    ScratchFile file("");
    Stream stream;
    stream.attach(file.open(O_WRONLY), true);
    const std::string big(50000, 'x');
    put_text(stream, big);
    ASSERT_TRUE(stream.flush());
    EXPECT_EQ(stream.committed(), 50000);
    stream.close();
    EXPECT_EQ(file.content(), big);
}

// A flush that the file takes only in part (here the file size limit falls inside the row) must not
// count as complete: the exit path cuts at the committed offset, which must stay before the partial row.
TEST(Stream, PartlyTakenFlushIsNotCommittedAndTheExitCutRemovesIt) {
    ScratchFile file("");
    Stream stream;
    stream.attach(file.open(O_WRONLY), true);
    put_text(stream, "whole\n");
    ASSERT_TRUE(stream.flush());

    struct rlimit saved {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 9;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    put_text(stream, "partial\n");
    const bool flushed = stream.flush();
    const int flush_errno = errno;
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(flushed);
    EXPECT_EQ(flush_errno, EFBIG);
    EXPECT_EQ(stream.committed(), 6);
    EXPECT_EQ(file.content(), "whole\npar");
    stream.cut_and_close_for_exit(true);
    EXPECT_FALSE(stream.attached());
    EXPECT_EQ(file.content(), "whole\n");
}

TEST(Stream, ExitCutDropsPendingOutputAndNeverLengthens) {
    ScratchFile file("old content, longer than the new\n");
    Stream stream;
    stream.attach(file.open(O_RDWR), true);
    put_text(stream, "new\n");
    ASSERT_TRUE(stream.flush());
    put_text(stream, "pending\n");
    stream.cut_and_close_for_exit(true);
    EXPECT_EQ(file.content(), "new\n");

    ScratchFile shorter("ab");
    stream.attach(shorter.open(O_RDWR), true);
    ASSERT_TRUE(stream.seek(10));  // a committed offset beyond the end
    stream.cut_and_close_for_exit(true);
    EXPECT_EQ(shorter.content(), "ab");
}

TEST(Stream, ExitCloseLeavesAForeignDescriptorOpen) {
    ScratchFile file("content");
    const int fd = file.open(O_RDWR);
    Stream stream;
    stream.attach(fd, false);
    stream.cut_and_close_for_exit(true);
    EXPECT_FALSE(stream.attached());
    EXPECT_EQ(file.content(), "content");
    EXPECT_NE(fcntl(fd, F_GETFD), -1);  // still open
    ::close(fd);
}

}  // namespace
