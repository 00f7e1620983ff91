#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/program_run.hpp"

namespace {

// Far more rows than are written before the signal: the run must still be going when it arrives.
const char* const kLongRun = "5000000";
constexpr long kSomeRows = 64L * 1024;  // bytes of rows to wait for before signalling

// The number of rows in a table: each row's first line begins with its day number, "  245....".
int count_rows(const std::string& table) {
    int rows = 0;
    std::size_t at = 0;
    while (at < table.size()) {
        if (table.compare(at, 5, "  245") == 0) ++rows;
        const std::size_t end = table.find('\n', at);
        if (end == std::string::npos) break;
        at = end + 1;
    }
    return rows;
}

std::string reference_rows(int row_count) {
    TempDir dir;
    dir.write("DATOS.DAT", mars_datos(std::to_string(row_count)));
    run_ephem(dir);
    return dir.read("ZEPO.DAT");
}

// An interrupted table must be exactly the first rows of an uninterrupted run: whole rows, each equal to
// the same row of that run, and nothing after them.
void expect_whole_rows(const std::string& table) {
    const int rows = count_rows(table);
    EXPECT_GT(rows, 0);
    EXPECT_EQ(table, reference_rows(rows));
}

// Waits until the file holds written rows at byte offset `at`: an older file that is longer keeps its
// size, so its growth cannot tell. Gives up when the program has ended or after a minute.
bool wait_for_rows_at(const TempDir& dir, const RunningProgram& program, off_t at) {
    for (int tries = 0; tries < 60000; ++tries) {
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(program.pid()), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == program.pid()) {
            return false;
        }
        const int fd = open(dir.file("ZEPO.DAT").c_str(), O_RDONLY);
        char byte = 0;
        const bool written = fd >= 0 && pread(fd, &byte, 1, at) == 1 && byte != '\0';
        if (fd >= 0) close(fd);
        if (written) return true;
        usleep(1000);
    }
    return false;
}

// Sends SIGTERM: the run says "Killed", ends with status 1 and leaves whole rows.
void expect_termination_keeps_whole_rows(const TempDir& dir, RunningProgram& program) {
    program.send(SIGTERM);
    const RunResult result = program.wait();
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.standard_error, "Killed\n");
    expect_whole_rows(dir.read("ZEPO.DAT"));
}

TEST(Signals, InterruptEndsTheRunWithWholeRowsAndNoOldTail) {
    TempDir dir;
    dir.write("DATOS.DAT", mars_datos(kLongRun));
    // An older table far longer than anything written before the interrupt; its holes read as zeros.
    const int fd = open(dir.file("ZEPO.DAT").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_EQ(ftruncate(fd, off_t{1} << 32), 0);
    close(fd);

    RunningProgram program(dir);
    ASSERT_TRUE(wait_for_rows_at(dir, program, kSomeRows));
    program.send(SIGINT);
    const RunResult result = program.wait();
    EXPECT_TRUE(result.exited);
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.standard_error, "Interrupt\n");
    EXPECT_EQ(result.standard_output, "");
    struct stat st {};
    ASSERT_EQ(stat(dir.file("ZEPO.DAT").c_str(), &st), 0);
    ASSERT_LT(st.st_size, off_t{1} << 30) << "the old tail was not cut";
    expect_whole_rows(dir.read("ZEPO.DAT"));
}

TEST(Signals, TerminationRequestEndsTheRunWithWholeRows) {
    TempDir dir;
    dir.write("DATOS.DAT", mars_datos(kLongRun));
    RunningProgram program(dir);
    ASSERT_TRUE(program.wait_for_file_size("ZEPO.DAT", kSomeRows));
    expect_termination_keeps_whole_rows(dir, program);
}

// A run started in the background of a shell ignores interrupts: it writes no message and goes on.
TEST(Signals, InterruptIgnoredByTheParentStaysIgnored) {
    TempDir dir;
    dir.write("DATOS.DAT", mars_datos(kLongRun));
    RunningProgram program(dir, {.ignore_sigint = true});
    ASSERT_TRUE(program.wait_for_file_size("ZEPO.DAT", kSomeRows));
    program.send(SIGINT);
    // Each row ends in a system call, at whose return a pending signal is delivered: once many more rows
    // have been written, the interrupt has had its chance.
    EXPECT_TRUE(program.wait_for_file_size("ZEPO.DAT", 4 * kSomeRows));
    expect_termination_keeps_whole_rows(dir, program);
}

}  // namespace
