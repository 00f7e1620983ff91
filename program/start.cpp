#include "program/start.hpp"

#include <cerrno>
#include <cfenv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "program/driver.hpp"
#include "recordio/unit_table.hpp"
#include "runtime/signals.hpp"
#include "runtime/startup.hpp"

namespace {

constexpr const char* kUsage =
    "Usage: ephem\n"
    "Computes a daily ephemeris of one body seen from another from two Keplerian orbits.\n"
    "Reads DATOS.DAT and writes ZEPO.DAT, both in the current directory; takes no options\n"
    "and prints nothing when it succeeds. The layout of both files, the reports and the\n"
    "exit statuses are in the manual: man ephem.\n"
    "\n"
    "  -h, --help     show this text and exit\n"
    "  -V, --version  show the version and exit\n";

// Answers "--help" or "--version" (or "-h", "-V") given alone, on standard output, without touching any
// file. Returns false for every other command line, whose arguments the run stores and never reads.
bool answered_alone_option(int argc, char** argv, int& status) {
    if (argc != 2) {
        return false;
    }
    const std::string_view option = argv[1];
    if (option == "--help" || option == "-h") {
        std::fputs(kUsage, stdout);
    } else if (option == "--version" || option == "-V") {
        std::fputs("ephem " EPHEM_VERSION "\n", stdout);
    } else {
        return false;
    }
    // A text that could not be written is a failure, not a success.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fprintf(stderr, "ephem: standard output: %s\n", std::strerror(errno));
        status = 1;
    } else {
        status = 0;
    }
    return true;
}

}  // namespace

int start_program(int argc, char** argv, Forms forms) {
    if (int status = 0; answered_alone_option(argc, argv, status)) {
        return status;
    }
    // Round to nearest, exceptions masked: a division by zero gives an infinity and the run goes on.
    std::fesetenv(FE_DFL_ENV);
    f_setarg(argc, argv);
    f_setsig();
    f_init();
    std::atexit(f_exit);
    ephemeris_run(forms);
    return 0;
}
