// Races with another local process, run many times over (the long set): a process that keeps swapping
// ZEPO.DAT between a hard link to DATOS.DAT and a plain file while runs start. Whatever the moment of a
// swap, no run writes into DATOS.DAT: each either writes its table into the plain file or is refused.
// (Faults.OutputLinkedToTheInputBetweenItsCheckAndItsOpenIsRefused holds the worst moment for one run.)
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <unistd.h>

#include "tests/program_run.hpp"

namespace {

constexpr int kRuns = 300;

const std::string kRefusal =
    "open: ZEPO.DAT is the same file as DATOS.DAT, an input of this run\napparent state: unit 2 named "
    "ZEPO.DAT\nlast format: list io\nlately reading sequential formatted external IO\n";

// Swaps ZEPO.DAT between a hard link to DATOS.DAT and a plain file, each by one rename, until told to stop.
void swap_until(const TempDir& dir, const std::atomic<bool>& stop) {
    const std::string zepo = dir.file("ZEPO.DAT");
    const std::string link_name = dir.file("link.new");
    const std::string plain_name = dir.file("plain.new");
    while (!stop.load()) {
        unlink(link_name.c_str());
        if (link(dir.file("DATOS.DAT").c_str(), link_name.c_str()) == 0) {
            rename(link_name.c_str(), zepo.c_str());
        }
        std::ofstream(plain_name) << "a plain file\n";
        rename(plain_name.c_str(), zepo.c_str());
    }
}

TEST(Races, OutputSwappedForALinkToTheInputNeverWritesTheInput) {
    TempDir dir;
    const std::string datos = mars_datos("3");
    dir.write("DATOS.DAT", datos);
    std::atomic<bool> stop{false};
    std::thread swapper(swap_until, std::cref(dir), std::cref(stop));
    int written = 0;
    int refused = 0;
    for (int run = 0; run < kRuns; ++run) {
        SCOPED_TRACE("run " + std::to_string(run));
        const RunResult result = run_ephem(dir);
        if (result.exited && result.exit_status == 0) {
            ++written;
        } else {
            EXPECT_EQ(result.standard_error, kRefusal);
            ++refused;
        }
        ASSERT_EQ(dir.read("DATOS.DAT"), datos) << "a run wrote into its input";
    }
    stop.store(true);
    swapper.join();
    std::printf("%d runs: %d wrote their table, %d were refused\n", kRuns, written, refused);
}

}  // namespace
