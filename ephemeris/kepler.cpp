#include "ephemeris/kepler.hpp"

#include <bit>
#include <cmath>
#include <cstdint>

namespace {

// Iterate i from iterate i - 1 (e), the one step of both forms.
double kepler_step(double exce, double anomedia, double e) { return (std::sin(e) * exce) + anomedia; }

// Two iterates are the same input to the next pass only when their bits agree: 0.0 and -0.0 compare
// equal but can lead to different sums.
bool same_bits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

// One chain of the iteration taken a pass at a time, so that several chains can be interleaved.
struct KeplerChain {
    double exce;
    double anomedia;
    double e;       // iterate i - 1
    double before;  // iterate i - 2 (meaningful from the second pass on)

    // Takes pass i (1 to 100). Returns true, with the 100th iterate in anomex, once that is known.
    bool pass(int i, double& anomex) {
        const double next = kepler_step(exce, anomedia, e);  // iterate i
        if (same_bits(next, e)) {
            anomex = next;
            return true;
        }
        if (i >= 2 && same_bits(next, before)) {
            // From here the iterates alternate next, e, next, ...: the 100th is next after an even count
            // of further passes.
            anomex = ((kKeplerPasses - i) % 2 == 0) ? next : e;
            return true;
        }
        before = e;
        e = next;
        return false;
    }
};

}  // namespace

void kepler(double& exce, double& anomedia, double& anomex) {
    double e = anomedia;
    for (int i = 0; i < kKeplerPasses; ++i) {
        e = kepler_step(exce, anomedia, e);
    }
    anomex = e;
}

void kepler_lanes(const double* exce, const double* anomedia, double* anomex, int lanes) {
    KeplerChain chains[kMaxKeplerLanes];
    int open[kMaxKeplerLanes];  // the lanes whose 100th iterate is not known yet
    int open_count = 0;
    for (int lane = 0; lane < lanes; ++lane) {
        chains[lane] = KeplerChain{exce[lane], anomedia[lane], anomedia[lane], anomedia[lane]};
        open[open_count++] = lane;
    }
    // One pass of every open chain before the next pass of any: the sines of a pass do not wait for
    // each other.
    for (int i = 1; i <= kKeplerPasses && open_count > 0; ++i) {
        int still_open = 0;
        for (int k = 0; k < open_count; ++k) {
            const int lane = open[k];
            if (!chains[lane].pass(i, anomex[lane])) {
                open[still_open++] = lane;
            }
        }
        open_count = still_open;
    }
    for (int k = 0; k < open_count; ++k) {
        anomex[open[k]] = chains[open[k]].e;
    }
}
