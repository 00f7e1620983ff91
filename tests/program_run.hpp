#pragma once

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Runs the built ephem in a temporary directory of its own and collects what it leaves behind.

// A fresh temporary working directory, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    void write(const std::string& name, const std::string& bytes) const;
    bool exists(const std::string& name) const;
    std::string read(const std::string& name) const;

private:
    std::string path_;
};

struct RunOptions {
    bool unprivileged = false;   // run as an unprivileged user when the tests run as root
    bool ignore_sigint = false;  // start with SIGINT ignored, as a shell does for a background job
    std::string stdin_path = "/dev/null";
    std::vector<std::string> arguments = {};  // after the program name
    std::function<void()> prepare = {};       // run in the child just before the program starts
    // A command that runs the program (a tracer such as strace with its options), found on the PATH;
    // empty: the program runs by itself.
    std::vector<std::string> wrapper = {};
};

struct RunResult {
    bool exited = false;  // ended by exit(); exit_status holds the status
    int exit_status = -1;
    int term_signal = 0;  // the signal that ended it, when it did not exit
    std::string standard_output;
    std::string standard_error;
};

// A started ephem: send it signals, then wait for it.
class RunningProgram {
public:
    RunningProgram(const TempDir& dir, const RunOptions& options = {});
    ~RunningProgram();
    RunningProgram(const RunningProgram&) = delete;
    RunningProgram& operator=(const RunningProgram&) = delete;

    pid_t pid() const { return pid_; }
    void send(int signal_number) const;
    // Waits until the file name in the working directory holds at least bytes bytes, or the program
    // has ended; returns whether the size was reached.
    bool wait_for_file_size(const std::string& name, long bytes) const;
    RunResult wait();

private:
    const TempDir& dir_;
    pid_t pid_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    bool waited_ = false;
};

// Runs ephem to its end in dir.
RunResult run_ephem(const TempDir& dir, const RunOptions& options = {});

// The path of the built program.
const char* ephem_path();

// Whether the tests run as root (permission tests then need an unprivileged user).
bool running_as_root();

// The standard example input: Mars seen from the Earth from 2451545.0, with the given row count.
std::string mars_datos(const std::string& row_count);
