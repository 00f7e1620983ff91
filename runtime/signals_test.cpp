#include "runtime/signals.hpp"
#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <unistd.h>

#include "recordio/unit_table.hpp"
#include "runtime/startup.hpp"

namespace {

// Each trap writes its message and ends the process its own way: SIGFPE and SIGABRT by abort (without
// entering the SIGABRT trap a second time), SIGINT and SIGTERM with exit status 1.
TEST(TrapsDeathTest, EachSignalEndsTheRunWithItsMessage) {
    const struct {
        int signal_number;
        const char* output;
        bool aborts;
    } traps[] = {
        {SIGFPE, "^Floating Exception\n$", true},
        {SIGABRT, "^IOT Trap\n$", true},
        {SIGINT, "^Interrupt\n$", false},
        {SIGTERM, "^Killed\n$", false},
    };
    for (const auto& trap : traps) {
        const auto deliver = [&trap] {
            f_init();
            f_setsig();
            raise(trap.signal_number);
            _exit(0);
        };
        if (trap.aborts) {
            EXPECT_EXIT(deliver(), testing::KilledBySignal(SIGABRT), trap.output) << trap.signal_number;
        } else {
            EXPECT_EXIT(deliver(), testing::ExitedWithCode(1), trap.output) << trap.signal_number;
        }
    }
}

TEST(TrapsDeathTest, InterruptIgnoredAtStartStaysIgnored) {
    const auto deliver = [] {
        std::signal(SIGINT, SIG_IGN);
        f_setsig();
        raise(SIGINT);
        _exit(0);
    };
    EXPECT_EXIT(deliver(), testing::ExitedWithCode(0), "^$");
}

TEST(StopDeathTest, EmptyTextWritesNothingAndATextIsFramed) {
    EXPECT_EXIT(s_stop("arbitrary characters", 0), testing::ExitedWithCode(0), "^$");
    EXPECT_EXIT(s_stop("abcdef", 3), testing::ExitedWithCode(0), "^STOP abc statement executed\n$");
}

}  // namespace
