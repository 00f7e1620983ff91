// The floor for a run: writes the bytes of a finished ZEPO.DAT again with one write(2) per row and
// nothing else, and prints the rows and the seconds that the writing took. Like ephem, it writes over
// an existing OUTPUT from its start and cuts it after the last row; OUTPUT may be INPUT itself, which is
// read whole first. A row is told by its items, not its lines: a row of NANs takes one line where a
// row of numbers takes two.
//   plain_rows INPUT OUTPUT ITEMS_PER_ROW

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

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

// The offset after each row: after the line in which its last item ends.
std::vector<std::size_t> row_ends(const std::string& bytes, int items_per_row) {
    std::vector<std::size_t> ends;
    int items = 0;
    bool in_item = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const bool blank = std::isspace(static_cast<unsigned char>(bytes[i])) != 0;
        if (!blank && !in_item) {
            ++items;
        }
        in_item = !blank;
        if (bytes[i] == '\n' && items >= items_per_row) {
            ends.push_back(i + 1);
            items = 0;
        }
    }
    if (ends.empty() || ends.back() != bytes.size()) {
        ends.push_back(bytes.size());
    }
    return ends;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: plain_rows INPUT OUTPUT ITEMS_PER_ROW\n");
        return 2;
    }
    std::string bytes;
    if (!read_all(argv[1], bytes)) {
        std::perror(argv[1]);
        return 1;
    }
    const int items_per_row = std::atoi(argv[3]);
    const int fd = ::open(argv[2], O_WRONLY | O_CREAT, 0644);
    if (fd < 0 || items_per_row < 1) {
        std::perror(argv[2]);
        return 1;
    }
    const std::vector<std::size_t> ends = row_ends(bytes, items_per_row);
    const auto start = std::chrono::steady_clock::now();
    std::size_t at = 0;
    for (const std::size_t end : ends) {
        if (::write(fd, bytes.data() + at, end - at) != static_cast<ssize_t>(end - at)) {
            std::perror(argv[2]);
            return 1;
        }
        at = end;
    }
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (::ftruncate(fd, static_cast<off_t>(at)) != 0) {
        std::perror(argv[2]);
        return 1;
    }
    ::close(fd);
    std::printf("%zu %.6f\n", ends.size(), took.count());
    return 0;
}
