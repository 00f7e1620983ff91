// The floor for a run: writes the bytes of a finished ZEPO.DAT again with one write(2) per row and
// nothing else, and prints the rows and the seconds that the writing took. Like ephem, it writes over
// an existing OUTPUT from its start and cuts it after the last row; OUTPUT may be INPUT itself, which is
// read whole first.
//   plain_rows INPUT OUTPUT LINES_PER_ROW

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

bool read_all(const char* path, std::string& bytes) {
    const int fd = ::open(path, O_RDONLY);
    if (fd < 0) {
        return false;
    }
    char buffer[1 << 16];
    ssize_t got;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(fd);
    return got == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: plain_rows INPUT OUTPUT LINES_PER_ROW\n");
        return 2;
    }
    std::string bytes;
    if (!read_all(argv[1], bytes)) {
        std::perror(argv[1]);
        return 1;
    }
    const int lines_per_row = std::atoi(argv[3]);
    const int fd = ::open(argv[2], O_WRONLY | O_CREAT, 0644);
    if (fd < 0 || lines_per_row < 1) {
        std::perror(argv[2]);
        return 1;
    }
    const auto start = std::chrono::steady_clock::now();
    long rows = 0;
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t end = at;
        for (int line = 0; line < lines_per_row && end < bytes.size(); ++line) {
            const std::size_t newline = bytes.find('\n', end);
            end = (newline == std::string::npos) ? bytes.size() : newline + 1;
        }
        if (::write(fd, bytes.data() + at, end - at) != static_cast<ssize_t>(end - at)) {
            std::perror(argv[2]);
            return 1;
        }
        at = end;
        ++rows;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (::ftruncate(fd, static_cast<off_t>(at)) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    ::close(fd);
    std::printf("%ld %.6f\n", rows, took.count());
    return 0;
}
