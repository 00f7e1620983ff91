#include "tests/program_run.hpp"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

// Reads both pipes to their ends without letting either fill up and block the program.
void drain(int out_fd, int err_fd, std::string& out, std::string& err) {
    pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
    std::string* sinks[2] = {&out, &err};
    int open_count = 2;
    char buffer[4096];
    while (open_count > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open_count;
            }
        }
    }
}

}  // namespace

const char* ephem_path() { return EPHEM_PATH; }

bool running_as_root() { return geteuid() == 0; }

std::string mars_datos(const std::string& row_count) {
    return "1.52371034 0.0933941 1.84969142 286.4968315 49.55953891 19.3903 2451545.0 0.0\n"
           "1.00000261 0.01671123 -0.00001531 102.93768193 0.0 -2.47311027 2451545.0 0.0\n"
           "2451545.0\n" +
           row_count + "\n";
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ephem-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed");
    }
    path_ = pattern;
    chmod(path_.c_str(), 0777);  // an unprivileged run must be able to create its files here
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void TempDir::write(const std::string& name, const std::string& bytes) const {
    std::ofstream out(file(name), std::ios::binary | std::ios::trunc);
    out << bytes;
}

bool TempDir::exists(const std::string& name) const {
    struct stat st;
    return lstat(file(name).c_str(), &st) == 0;
}

std::string TempDir::read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

RunningProgram::RunningProgram(const TempDir& dir, const RunOptions& options) : dir_(dir) {
    int out_pipe[2];
    int err_pipe[2];
    if (pipe(out_pipe) != 0 || pipe(err_pipe) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = fork();
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid_ == 0) {
        dup2(out_pipe[1], STDOUT_FILENO);
        dup2(err_pipe[1], STDERR_FILENO);
        close(out_pipe[0]);
        close(out_pipe[1]);
        close(err_pipe[0]);
        close(err_pipe[1]);
        const int in = open(options.stdin_path.c_str(), O_RDONLY);
        if (in >= 0) {
            dup2(in, STDIN_FILENO);
            close(in);
        }
        signal(SIGINT, options.ignore_sigint ? SIG_IGN : SIG_DFL);
        if (chdir(dir.path().c_str()) != 0) _exit(120);
        if (options.unprivileged && geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(121);
        }
        if (options.prepare) {
            options.prepare();
        }
        std::vector<char*> argv;
        for (const std::string& word : options.wrapper) {
            argv.push_back(const_cast<char*>(word.c_str()));
        }
        argv.push_back(const_cast<char*>(options.wrapper.empty() ? "ephem" : ephem_path()));
        for (const std::string& argument : options.arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        if (options.wrapper.empty()) {
            execv(ephem_path(), argv.data());
        } else {
            execvp(argv[0], argv.data());
        }
        _exit(122);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
}

RunningProgram::~RunningProgram() {
    if (!waited_) {
        kill(pid_, SIGKILL);
        wait();
    }
}

void RunningProgram::send(int signal_number) const { kill(pid_, signal_number); }

bool RunningProgram::wait_for_file_size(const std::string& name, long bytes) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        struct stat st;
        if (stat(dir_.file(name).c_str(), &st) == 0 && st.st_size >= bytes) {
            return true;
        }
        siginfo_t info{};
        if (waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid_) {
            return false;  // ended before the file grew that far
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

RunResult RunningProgram::wait() {
    RunResult result;
    drain(out_fd_, err_fd_, result.standard_output, result.standard_error);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    waited_ = true;
    if (WIFEXITED(status)) {
        result.exited = true;
        result.exit_status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.term_signal = WTERMSIG(status);
    }
    return result;
}

RunResult run_ephem(const TempDir& dir, const RunOptions& options) {
    RunningProgram program(dir, options);
    return program.wait();
}
