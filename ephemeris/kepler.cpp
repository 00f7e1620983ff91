#include "ephemeris/kepler.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "ephemeris/constants.hpp"

namespace {

// Iterate i from iterate i - 1 (e), the one step of both forms.
double kepler_step(double exce, double anomedia, double e) { return (std::sin(e) * exce) + anomedia; }

// Two iterates are the same input to the next pass only when their bits agree: 0.0 and -0.0 compare
// equal but can lead to different sums.
bool same_bits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

// Whether the 100th iterate (last) has settled, from the two before it: a fixed point, or a two-cycle of
// any width. For |exce| < 1 the iteration contracts, and rounding alone keeps it in a two-cycle: both of
// its points lie within that rounding over 1 + |exce cos E| of the root (a cycle two units wide is
// common at e = 0.68). What has not settled after 100 passes is still crawling toward the root.
bool settled(double last, double before, double twice_before) {
    return same_bits(last, before) || same_bits(last, twice_before);
}

// The eccentric anomaly from an unsettled 100th iterate: solved to the end for an ellipse, the iterate
// itself for anything else.
double finished(double exce, double anomedia, double iterate) {
    const double dospi = model_constants().dospi;
    const bool ellipse = std::fabs(exce) < 1.0 && exce != 0.0;
    return (ellipse && anomedia >= 0.0 && anomedia <= dospi) ? kepler_solve(exce, anomedia) : iterate;
}

// One chain of the iteration taken a pass at a time, so that several chains can be interleaved.
struct KeplerChain {
    double exce;
    double anomedia;
    double e;       // iterate i - 1
    double before;  // iterate i - 2 (meaningful from the second pass on)

    // Takes pass i (1 to 100). Returns true, with the 100th iterate in anomex, once the iterates have
    // settled and that is known.
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
    double twice_before = anomedia, before = anomedia, e = anomedia;
    for (int i = 0; i < kKeplerPasses; ++i) {
        twice_before = before;
        before = e;
        e = kepler_step(exce, anomedia, e);
    }
    anomex = settled(e, before, twice_before) ? e : finished(exce, anomedia, e);
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
    // A chain still open after 100 passes has neither a fixed point nor a two-cycle: it has not settled.
    for (int k = 0; k < open_count; ++k) {
        const int lane = open[k];
        anomex[lane] = finished(exce[lane], anomedia[lane], chains[lane].e);
    }
}

double kepler_solve(double exce, double anomedia) {
    const auto [gauss, pi, dospi, obli] = model_constants();
    // With f(E) = E - exce sin E - anomedia, f' = 1 - exce cos E > 0 and f'' = exce sin E keeps its sign
    // on each half turn. The root lies on the half turn of anomedia, and Newton's method started on the
    // far side of it from the corner where f' is smallest (0 or 2 pi for exce > 0, pi for exce < 0)
    // moves toward that corner and never passes the root.
    const double corner = (exce > 0.0) ? ((anomedia <= pi) ? 0.0 : dospi) : pi;
    const double away = (anomedia > corner) ? 1.0 : -1.0;
    // The root's distance D from the corner solves D - |exce| sin D = m, and D - sin D >= D^3 / pi^2 on
    // 0..pi: so D <= cbrt(pi^2 m), which near a parabola (|exce| -> 1, m -> 0) starts close to the root
    // where m + |exce| would take dozens of slow steps.
    const double m = std::fabs(anomedia - corner);
    const double reach = std::min({std::cbrt((pi * pi) * m), m + std::fabs(exce), pi});
    double e = corner + (away * reach);
    for (int step = 0; step < 64; ++step) {
        const double esin = std::sin(e) * exce;
        const double residual = (e - esin) - anomedia;
        // The residual's own rounding: from then on a step is noise.
        if (!(std::fabs(residual) > (0x1p-53 * ((2.0 * std::fabs(esin)) + std::fabs(anomedia))))) {
            break;
        }
        const double next = e - (residual / (1.0 - (std::cos(e) * exce)));
        if (!((away * (next - e)) < 0.0)) {
            break;  // a step away from the corner is rounding: the root is reached
        }
        e = next;
    }
    return e;
}
