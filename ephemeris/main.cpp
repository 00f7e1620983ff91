#include <cfenv>
#include <cstdlib>

#include "ephemeris/driver.hpp"
#include "recordio/unit_table.hpp"
#include "runtime/signals.hpp"
#include "runtime/startup.hpp"

int main(int argc, char** argv) {
    // Round to nearest, exceptions masked: a division by zero gives an infinity and the run goes on.
    std::fesetenv(FE_DFL_ENV);
    f_setarg(argc, argv);
    f_setsig();
    f_init();
    std::atexit(f_exit);
    ephemeris_run();
    return 0;
}
