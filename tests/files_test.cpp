#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/fs.h>
#include <sched.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "tests/program_run.hpp"

namespace {

// The rows an uninterrupted run writes for the Mars input with row_count rows.
std::string reference_rows(int row_count) {
    TempDir dir;
    dir.write("DATOS.DAT", mars_datos(std::to_string(row_count)));
    const RunResult result = run_ephem(dir);
    EXPECT_EQ(result.exit_status, 0);
    return dir.read("ZEPO.DAT");
}

// Splits a table into its rows: a row is one or two lines and its first line begins with the day number,
// the only item that starts with "  245" in these runs.
std::vector<std::string> split_rows(const std::string& table) {
    std::vector<std::string> rows;
    std::size_t at = 0;
    while (at < table.size()) {
        std::size_t end = table.find('\n', at);
        end = end == std::string::npos ? table.size() : end + 1;
        if (rows.empty() || table.compare(at, 5, "  245") == 0) {
            rows.emplace_back();
        }
        rows.back() += table.substr(at, end - at);
        at = end;
    }
    return rows;
}

void expect_aborted(const RunResult& result) {
    EXPECT_FALSE(result.exited);
    EXPECT_EQ(result.term_signal, SIGABRT);
    EXPECT_EQ(result.standard_output, "");
}

void expect_normal_end(const RunResult& result) {
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_EQ(result.standard_error, "");
}

// The state lines that end each report, by the moment of the failure.
const std::string kOpeningInput =
    "\napparent state: unit 1 named DATOS.DAT\n"
    "lately writing direct unformatted external IO\n";
const std::string kOpeningOutput =
    "\napparent state: unit 2 named ZEPO.DAT\n"
    "last format: list io\n"
    "lately reading sequential formatted external IO\n";
const std::string kWritingOutput =
    "\napparent state: unit 2 named ZEPO.DAT\n"
    "last format: list io\n"
    "lately writing sequential formatted external IO\n";

// A run whose files may grow to `limit` bytes, and no further: a write past it is cut short and fails with
// EFBIG (SIGXFSZ ignored, so that the write fails rather than the signal ending the program).
RunOptions under_file_size_limit(rlim_t limit) {
    RunOptions options;
    options.prepare = [limit] {
        signal(SIGXFSZ, SIG_IGN);
        const struct rlimit bound = {limit, limit};
        setrlimit(RLIMIT_FSIZE, &bound);
    };
    return options;
}

const std::string kOldRows = "an older table, to be left as it is\n";

// An input that is missing, or that exists but may not be read, is refused by the open, never created or
// emptied by it.
TEST(Files, InputThatCannotBeOpenedEndsTheRunBeforeTheOutputIsOpened) {
    for (const bool exists : {false, true}) {
        SCOPED_TRACE(exists ? "unreadable" : "missing");
        TempDir dir;
        const std::string datos = mars_datos("3");
        if (exists) {
            dir.write("DATOS.DAT", datos);
            chmod(dir.file("DATOS.DAT").c_str(), 0222);
        }
        const RunResult result = run_ephem(dir, {.unprivileged = true});
        expect_aborted(result);
        const int refusal = exists ? EACCES : ENOENT;
        EXPECT_EQ(result.standard_error, std::string("open: ") + std::strerror(refusal) + kOpeningInput);
        EXPECT_EQ(dir.exists("DATOS.DAT"), exists);
        if (exists) {
            EXPECT_EQ(dir.read("DATOS.DAT"), datos);
        }
        EXPECT_FALSE(dir.exists("ZEPO.DAT"));
    }
}

TEST(Files, ReadOnlyInputIsReadAndNeverWritten) {
    TempDir dir;
    const std::string datos = mars_datos("3");
    dir.write("DATOS.DAT", datos);
    chmod(dir.file("DATOS.DAT").c_str(), 0444);
    expect_normal_end(run_ephem(dir, {.unprivileged = true}));
    EXPECT_EQ(dir.read("ZEPO.DAT"), reference_rows(3));
    EXPECT_EQ(dir.read("DATOS.DAT"), datos);
}

TEST(Files, OlderLongerOutputIsCutToTheNewRows) {
    const std::string longer = reference_rows(60);
    ASSERT_EQ(split_rows(longer).size(), 60u);
    TempDir dir;
    dir.write("DATOS.DAT", mars_datos("30"));
    dir.write("ZEPO.DAT", longer + "and a tail that is not a row\n");
    expect_normal_end(run_ephem(dir));
    EXPECT_EQ(dir.read("ZEPO.DAT"), reference_rows(30));
}

// Without rows nothing is written, so nothing is cut, and a read-only table is never turned to writing.
TEST(Files, NoRowsLeaveAnExistingOutputAsItWas) {
    const struct {
        const char* count;
        bool read_only;
    } cases[] = {{"0", false}, {"-5", false}, {"-2147483648", false}, {"0", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.count) + (c.read_only ? " read-only" : ""));
        TempDir dir;
        dir.write("DATOS.DAT", mars_datos(c.count));
        dir.write("ZEPO.DAT", kOldRows);
        if (c.read_only) {
            chmod(dir.file("ZEPO.DAT").c_str(), 0444);
        }
        expect_normal_end(run_ephem(dir, {.unprivileged = c.read_only}));
        EXPECT_EQ(dir.read("ZEPO.DAT"), kOldRows);
    }
}

TEST(Files, ReadOnlyOutputFailsAtTheFirstRowAndIsLeftAlone) {
    TempDir dir;
    dir.write("DATOS.DAT", mars_datos("2"));
    dir.write("ZEPO.DAT", kOldRows);
    chmod(dir.file("ZEPO.DAT").c_str(), 0444);
    const RunResult result = run_ephem(dir, {.unprivileged = true});
    expect_aborted(result);
    EXPECT_EQ(result.standard_error, "list output start: can't write file" + kWritingOutput);
    EXPECT_EQ(dir.read("ZEPO.DAT"), kOldRows);
}

TEST(Files, OutputThatCannotBeCreatedIsReportedByTheOpen) {
    TempDir dir;
    dir.write("DATOS.DAT", mars_datos("2"));
    chmod(dir.path().c_str(), 0555);
    const RunResult result = run_ephem(dir, {.unprivileged = true});
    chmod(dir.path().c_str(), 0777);
    expect_aborted(result);
    EXPECT_EQ(result.standard_error, std::string("open: ") + std::strerror(EACCES) + kOpeningOutput);
    EXPECT_FALSE(dir.exists("ZEPO.DAT"));
}

TEST(Files, FullDiskIsReportedByTheEndOfTheRow) {
    TempDir dir;
    dir.write("DATOS.DAT", mars_datos("2"));
    ASSERT_EQ(symlink("/dev/full", dir.file("ZEPO.DAT").c_str()), 0);
    const RunResult result = run_ephem(dir);
    expect_aborted(result);
    EXPECT_EQ(result.standard_error, std::string("write end: ") + std::strerror(ENOSPC) + kWritingOutput);
    char target[64] = {};
    ASSERT_GT(readlink(dir.file("ZEPO.DAT").c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/dev/full");
}

// A failure in the middle of the table (here the file size limit falls inside a row) leaves the rows
// completed before it, and neither the partial row nor the tail of the older, longer file.
TEST(Files, FailureDuringTheRowsLeavesOnlyWholeRows) {
    const std::vector<std::string> rows = split_rows(reference_rows(40));
    constexpr rlim_t kLimit = 1000;
    std::string whole;
    for (const std::string& row : rows) {
        if (whole.size() + row.size() > kLimit) break;
        whole += row;
    }
    ASSERT_LT(whole.size(), kLimit);  // the limit falls inside a row

    TempDir dir;
    dir.write("DATOS.DAT", mars_datos("40"));
    dir.write("ZEPO.DAT", std::string(3000, 'o'));
    const RunResult run = run_ephem(dir, under_file_size_limit(kLimit));
    expect_aborted(run);
    EXPECT_EQ(run.standard_error, std::string("write end: ") + std::strerror(EFBIG) + kWritingOutput);
    EXPECT_EQ(dir.read("ZEPO.DAT"), whole);
}

// A write that fails inside the first row (here a file-size limit below one row) leaves neither the start
// of the row over the older table nor an empty file: the older table is put back as it was, whether the
// row would have grown the file or not.
TEST(Files, FailureInsideTheFirstRowLeavesTheOlderTableAsItWas) {
    constexpr rlim_t kLimit = 50;  // the first row is 96 bytes
    const struct {
        const char* what;
        std::string older;
    } cases[] = {
        {"an older table shorter than the limit", "OLD TABLE 1 2 3 4 5\n"},
        {"an older table longer than the row", std::string(3000, 'o')},
        {"an empty file", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("DATOS.DAT", mars_datos("3"));
        dir.write("ZEPO.DAT", c.older);
        const RunResult run = run_ephem(dir, under_file_size_limit(kLimit));
        expect_aborted(run);
        EXPECT_EQ(run.standard_error, std::string("write end: ") + std::strerror(EFBIG) + kWritingOutput);
        EXPECT_EQ(dir.read("ZEPO.DAT"), c.older);
    }
}

// Started without a standard error, the program must not let the input file take its descriptor: the
// report would then be written into the input. Also when /dev/null cannot be opened in its place (a
// bind mount without devices over it, as in some containers), tried in a mount namespace of the child's.
TEST(Files, ReportNeverLandsInAFileWhenStandardErrorIsClosed) {
    const std::function<void()> closings[] = {
        [] { close(STDERR_FILENO); },
        [] {
            if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
                mount("/dev/null", "/dev/null", nullptr, MS_BIND, nullptr) != 0 ||
                mount(nullptr, "/dev/null", nullptr, MS_REMOUNT | MS_BIND | MS_NODEV, nullptr) != 0 ||
                open("/dev/null", O_RDWR) >= 0) {
                _exit(77);
            }
            close(STDERR_FILENO);
        },
    };
    for (const auto& closing : closings) {
        TempDir dir;
        const std::string full = mars_datos("2");
        const std::string datos = full.substr(0, full.find('\n', full.find('\n') + 1) + 1);  // orbits only
        dir.write("DATOS.DAT", datos);
        RunOptions options;
        options.prepare = closing;
        const RunResult run = run_ephem(dir, options);
        if (run.exited && run.exit_status == 77) {
            std::printf("skipped: no mount namespace here to make /dev/null unopenable\n");
            continue;
        }
        expect_aborted(run);
        EXPECT_EQ(dir.read("DATOS.DAT"), datos);
        EXPECT_FALSE(dir.exists("ZEPO.DAT"));
    }
}

// An output that is the input under another name, or that another run is writing, is refused by its
// open, before any row: the input and the other run's table stay as they were.
TEST(Files, OutputThatIsNotOursToWriteIsRefusedBeforeAnyRow) {
    const struct {
        const char* what;
        void (*make)(const TempDir&);
        std::string first_line;
    } cases[] = {
        {"a symbolic link to the input",
         [](const TempDir& dir) { ASSERT_EQ(symlink("DATOS.DAT", dir.file("ZEPO.DAT").c_str()), 0); },
         "open: ZEPO.DAT is the same file as DATOS.DAT, an input of this run"},
        {"a hard link to the input",
         [](const TempDir& dir) { ASSERT_EQ(link(dir.file("DATOS.DAT").c_str(), dir.file("ZEPO.DAT").c_str()), 0); },
         "open: ZEPO.DAT is the same file as DATOS.DAT, an input of this run"},
        {"a table another run holds", [](const TempDir& dir) { dir.write("ZEPO.DAT", kOldRows); },
         "open: ZEPO.DAT is being written by another run"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("DATOS.DAT", mars_datos("3"));
        c.make(dir);
        const std::string before = dir.read("ZEPO.DAT");
        // The other run is this test, holding the lock a run holds while it writes.
        const int held = open(dir.file("ZEPO.DAT").c_str(), O_RDONLY);
        ASSERT_GE(held, 0);
        const bool other_run = c.first_line.find("another run") != std::string::npos;
        if (other_run) {
            ASSERT_EQ(flock(held, LOCK_EX), 0);
        }
        const RunResult result = run_ephem(dir);
        close(held);
        expect_aborted(result);
        EXPECT_EQ(result.standard_error, c.first_line + kOpeningOutput);
        EXPECT_EQ(dir.read("ZEPO.DAT"), before);
        EXPECT_EQ(dir.read("DATOS.DAT"), mars_datos("3"));
    }
}

}  // namespace

namespace {

// Waits until the program (not the test's child before it becomes the program) has the file path open;
// false when it ended first.
bool wait_until_open(pid_t pid, const std::string& path) {
    const std::string wanted = std::filesystem::canonical(path).string();
    const std::string process = "/proc/" + std::to_string(pid);
    for (int tries = 0; tries < 30000; ++tries) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) {
            return false;
        }
        std::string name;
        std::ifstream(process + "/comm") >> name;
        std::error_code ignored;
        if (name == "ephem") {
            for (const auto& entry : std::filesystem::directory_iterator(process + "/fd", ignored)) {
                if (std::filesystem::read_symlink(entry.path(), ignored) == wanted) return true;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// Sets or clears the append-only flag of the open file fd (chattr +a); false where the file system has
// no such flag.
bool set_append_only(int fd, bool on) {
    int flags = 0;
    if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) return false;
    flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
    return ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
}

// A program that reads the table holds a shared lock on it while it reads: the run waits until the
// reader lets go (it is not refused as if another run were writing), then writes its table. A table made
// append-only meanwhile can no longer be cut after the first row, and the run says so at once.
TEST(Files, ReaderOfTheTableIsWaitedFor) {
    std::string old_table;
    while (old_table.size() < std::size_t{16} * 1024) old_table += std::string(79, 'o') + "\n";
    const std::string three_rows = reference_rows(3);
    const std::string first_row = three_rows.substr(0, split_rows(three_rows).front().size());
    const struct {
        const char* what;
        bool append_only;
        std::string standard_error;  // empty: the run ends normally with its three rows
        std::string table;
    } cases[] = {
        {"the reader lets go", false, "", three_rows},
        {"made append-only while the run waits", true,
         std::string("write end: ") + std::strerror(EPERM) + kWritingOutput,
         first_row + old_table.substr(first_row.size())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        dir.write("DATOS.DAT", mars_datos("3"));
        dir.write("ZEPO.DAT", old_table);
        const int reader = open(dir.file("ZEPO.DAT").c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(flock(reader, LOCK_SH), 0);
        RunningProgram program(dir);
        ASSERT_TRUE(wait_until_open(program.pid(), dir.file("ZEPO.DAT")));
        const bool flagged = c.append_only && set_append_only(reader, true);
        close(reader);  // the reader lets go
        const RunResult result = program.wait();
        if (c.append_only && !flagged) {
            std::printf("skipped: no append-only flag on this file system\n");
            continue;
        }
        if (flagged) {
            const int fd = open(dir.file("ZEPO.DAT").c_str(), O_RDONLY | O_CLOEXEC);
            EXPECT_TRUE(set_append_only(fd, false));
            close(fd);
        }
        if (c.standard_error.empty()) {
            expect_normal_end(result);
        } else {
            expect_aborted(result);
            EXPECT_EQ(result.standard_error, c.standard_error);
        }
        EXPECT_EQ(dir.read("ZEPO.DAT"), c.table);
    }
}

}  // namespace
