#include "ephemeris/orbit.hpp"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

// Two iterates are the same input to the next pass only when their bits agree: 0.0 and -0.0 compare
// equal but can lead to different sums.
bool same_bits(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

// One chain of Kepler's iteration taken a pass at a time, so that several chains can be interleaved.
// Each iterate is a fixed function of the one before, so once an iterate repeats its predecessor (a
// fixed point) or the iterate two passes back (a two-cycle), every later iterate is known.
struct KeplerChain {
    double exce;
    double anomedia;
    double e;       // iterate i - 1
    double before;  // iterate i - 2 (meaningful from the second pass on)

    // Takes pass i (1 to 100). Returns true, with the 100th iterate in anomex, once that is known.
    bool pass(int i, double& anomex) {
        const double next = (std::sin(e) * exce) + anomedia;  // iterate i
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

constexpr uint64_t kHiddenBit = uint64_t{1} << 52;
constexpr uint64_t kFractionBits = kHiddenBit - 1;

// The steps y = y - dospi from y that stay in y's binary exponent range, taken at once.
//
// In the range [2^k, 2^(k+1)) the doubles are the integers N times u = 2^(k-52), with N in [2^52, 2^53).
// Let dospi = (M + f) u with M an integer and 0 <= f < 1: dospi's significand shifted right by the
// difference of the exponents is M, and the bits shifted off are f (exactly, no rounding). A step
// whose exact difference (N - M - f) u is still at least 2^k rounds to a multiple of u, so it turns N
// into the integer nearest to N - M - f:
//   f < 1/2: N - M;  f > 1/2: N - M - 1;  f = 1/2: the even one of the two (ties to even).
// Away from the tie every step takes away the same c. At the tie every result is even, and from an even
// N the even candidate is N - M for an even M and N - M - 1 for an odd M: from an even N every step
// takes away the same c as well, the even one of M and M + 1 (an odd N is left to one literal step,
// which makes it even).
// With A = N - 2^52 - M, a step from N stays inside the range exactly when A >= g, g = 1 if f > 0 else 0
// (N - M - f >= 2^52 for integers N, M). The steps from N, N - c, ..., N - (n-1)c all stay inside when
// A - (n-1)c >= g, so n = (A - g) / c + 1. Every value passed is at least 2^k > dospi, so the caller's
// loop test (y > dospi, or -y < 0 for the negative side) holds at each skipped step.
//
// Everything but N depends only on dospi and the difference of the two exponents, and is formed by
// turn_range. The count n is predicted with a floating-point reciprocal of c and then checked, which
// takes the place of a division in each range.
//
// y must be positive and at most 2^56. Returns y unchanged when no step can be skipped (below 2^3 for
// dospi = 2 pi, where a literal step or two ends the loop); the caller then takes one literal step.
double skip_in_range(double y, const TurnRange& range) {
    const uint64_t y_bits = std::bit_cast<uint64_t>(y);
    const auto n_y = static_cast<int64_t>((y_bits & kFractionBits) | kHiddenBit);
    if (range.c <= 0 || (range.tie && n_y % 2 != 0)) {
        return y;  // no step to skip, or an odd N: one literal step makes it even
    }
    const int64_t a = n_y - static_cast<int64_t>(kHiddenBit) - range.m;
    if (a < range.g) {
        return y;
    }
    const int64_t steps = quotient_of_steps(a - range.g, range) + 1;
    const auto n_result = static_cast<uint64_t>(n_y - (steps * range.c));
    return std::bit_cast<double>((y_bits & ~kFractionBits) | (n_result - kHiddenBit));
}

int exponent_of(double x) { return static_cast<int>(std::bit_cast<uint64_t>(x) >> 52); }

bool can_skip(int shift, double dospi) { return shift >= 1 && shift <= kMaxTurnShift && exponent_of(dospi) != 0; }

double skip_turns(double y, double dospi) {
    const int shift = exponent_of(y) - exponent_of(dospi);
    return can_skip(shift, dospi) ? skip_in_range(y, turn_range(shift, dospi)) : y;
}

double skip_turns(double y, const TurnSteps& steps) {
    const int shift = exponent_of(y) - exponent_of(steps.dospi);
    return can_skip(shift, steps.dospi) ? skip_in_range(y, steps.ranges[static_cast<std::size_t>(shift)]) : y;
}

// The steps from the two anomalies to the position, each a function of the ones before, so that a batch
// of rows can take each step across all its lanes.
void radius(const Orbit& o, BodyPosition& b) { b.r = (1.0 - (std::cos(b.aex) * o.e)) * o.a; }

void true_anomaly(const Orbit& o, double pi, double dospi, BodyPosition& b) {
    b.f = std::acos(((o.p / b.r) - 1.0) / o.e);
    if (b.am > pi) {
        b.f = dospi - b.f;
    }
}

void position_in_plane(const BodyPosition& b, double& x, double& y, double& z) {
    x = std::cos(b.f) * b.r;
    y = std::sin(b.f) * b.r;
    z = 0.0;
}

// Position in the orbital plane from the reduced mean anomaly and the eccentric anomaly.
void plane_position(const Orbit& o, double pi, double dospi, BodyPosition& b, double& x, double& y, double& z) {
    radius(o, b);
    true_anomaly(o, pi, dospi, b);
    position_in_plane(b, x, y, z);
}

// The position in the plane turned to the ecliptic by -w, -ync and -od.
void ecliptic_position(const OrbitTurns& turns, BodyPosition& b) {
    double x, y, z;
    position_in_plane(b, x, y, z);
    double xp, yp, zp, xr, yr, zr;
    rotaz_cs(x, y, z, turns.w, xp, yp, zp);
    rotax_cs(xp, yp, zp, turns.ync, xr, yr, zr);
    rotaz_cs(xr, yr, zr, turns.od, b.xe, b.ye, b.ze);
}

}  // namespace

void kepler(double& exce, double& anomedia, double& anomex) {
    if constexpr (kLiteralPath) {
        kepler_literal(exce, anomedia, anomex);
    } else {
        kepler_fast(exce, anomedia, anomex);
    }
}

void kepler_literal(double& exce, double& anomedia, double& anomex) {
    double e = anomedia;
    for (int i = 0; i < kKeplerPasses; ++i) {
        e = (std::sin(e) * exce) + anomedia;
    }
    anomex = e;
}

void kepler_fast(double& exce, double& anomedia, double& anomex) {
    KeplerChain chain{exce, anomedia, anomedia, anomedia};
    for (int i = 1; i <= kKeplerPasses; ++i) {
        if (chain.pass(i, anomex)) {
            return;
        }
    }
    anomex = chain.e;
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

void rotax(double& xi, double& yi, double& zi, double& ang, double& xf, double& yf, double& zf) {
    yf = (std::cos(ang) * yi) + (std::sin(ang) * zi);
    zf = (std::cos(ang) * zi) - (std::sin(ang) * yi);
    xf = xi;
}

void rotaz(double& xi, double& yi, double& zi, double& ang, double& xf, double& yf, double& zf) {
    xf = (std::cos(ang) * xi) + (std::sin(ang) * yi);
    yf = (std::cos(ang) * yi) - (std::sin(ang) * xi);
    zf = zi;
}

AxisTurn axis_turn(double ang) { return AxisTurn{std::cos(ang), std::sin(ang)}; }

void rotax_cs(const double& xi, const double& yi, const double& zi, const AxisTurn& turn, double& xf, double& yf,
              double& zf) {
    yf = (turn.cosang * yi) + (turn.sinang * zi);
    zf = (turn.cosang * zi) - (turn.sinang * yi);
    xf = xi;
}

void rotaz_cs(const double& xi, const double& yi, const double& zi, const AxisTurn& turn, double& xf, double& yf,
              double& zf) {
    xf = (turn.cosang * xi) + (turn.sinang * yi);
    yf = (turn.cosang * yi) - (turn.sinang * xi);
    zf = zi;
}

OrbitTurns orbit_turns(const Orbit& orbit) {
    return OrbitTurns{axis_turn(-orbit.w), axis_turn(-orbit.ync), axis_turn(-orbit.od)};
}

TurnRange turn_range(int shift, double dospi) {
    const uint64_t d_significand = (std::bit_cast<uint64_t>(dospi) & kFractionBits) | kHiddenBit;
    TurnRange range{};
    range.m = static_cast<int64_t>(d_significand >> shift);
    const uint64_t rest = d_significand & ((uint64_t{1} << shift) - 1);  // f times 2^shift
    const uint64_t half = uint64_t{1} << (shift - 1);
    range.tie = rest == half;
    if (rest < half) {
        range.c = range.m;
    } else if (rest > half) {
        range.c = range.m + 1;
    } else {
        range.c = (range.m % 2 == 0) ? range.m : range.m + 1;
    }
    range.g = (rest != 0) ? 1 : 0;
    range.inverse = range.c > 0 ? 1.0 / static_cast<double>(range.c) : 0.0;
    return range;
}

int64_t quotient_of_steps(int64_t room, const TurnRange& range) {
    // room < 2^53 converts exactly, and the product is off by at most one either way: the checks make
    // it the exact quotient.
    auto quotient = static_cast<int64_t>(static_cast<double>(room) * range.inverse);
    while (quotient > 0 && quotient * range.c > room) {
        --quotient;
    }
    while ((quotient + 1) * range.c <= room) {
        ++quotient;
    }
    return quotient;
}

TurnSteps turn_steps(double dospi) {
    TurnSteps steps{};
    steps.dospi = dospi;
    for (int shift = 1; shift <= kMaxTurnShift; ++shift) {
        steps.ranges[static_cast<std::size_t>(shift)] = turn_range(shift, dospi);
    }
    return steps;
}

double reduce_mean_anomaly(double am, double dospi) {
    if constexpr (kLiteralPath) {
        return reduce_mean_anomaly_literal(am, dospi);
    } else {
        return reduce_mean_anomaly_fast(am, dospi);
    }
}

double reduce_mean_anomaly_literal(double am, double dospi) {
    if (std::fabs(am) > kMaxReducible) {
        return std::numeric_limits<double>::quiet_NaN();  // the steps would never end
    }
    // Rounded subtraction one turn at a time, not a remainder: the rounding of each step is part of the
    // result (a small negative value ends as exactly dospi, and dospi itself is kept).
    while (am > dospi) {
        am = am - dospi;
    }
    while (am < 0.0) {
        am = am + dospi;
    }
    return am;
}

namespace {

// The steps of the literal reduction, with skip(y) taking at once the steps that stay in y's range.
template <typename Skip>
double reduce_skipping(double am, double dospi, Skip skip) {
    if (std::fabs(am) > kMaxReducible) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    while (am > dospi) {
        am = skip(am);
        am = am - dospi;
    }
    // Rounding to nearest is symmetric, so adding dospi to -y skips like subtracting it from y. The skipped
    // values are far from zero, where the mirror would give -0.0 for the +0.0 of a sum; the last steps
    // are literal additions.
    while (am < 0.0) {
        am = -skip(-am);
        am = am + dospi;
    }
    return am;
}

}  // namespace

double reduce_mean_anomaly_fast(double am, double dospi) {
    return reduce_skipping(am, dospi, [dospi](double y) { return skip_turns(y, dospi); });
}

// The constants of each range looked up rather than formed.
double reduce_mean_anomaly_steps(double am, const TurnSteps& steps) {
    return reduce_skipping(am, steps.dospi, [&steps](double y) { return skip_turns(y, steps); });
}

void reduce_mean_anomaly_lanes(double* am, int lanes, const TurnSteps& steps) {
    const double dospi = steps.dospi;
    int open[kMaxKeplerLanes];  // the lanes still being reduced
    int open_count = 0;
    for (int lane = 0; lane < lanes; ++lane) {
        if (std::fabs(am[lane]) > kMaxReducible) {
            am[lane] = std::numeric_limits<double>::quiet_NaN();
        } else {
            open[open_count++] = lane;
        }
    }
    // The two loops of reduce_mean_anomaly_steps as one: a step down never leaves a value below zero and
    // a step up never one above dospi, so a lane takes steps of one kind only, in the same order.
    while (open_count > 0) {
        int still_open = 0;
        for (int k = 0; k < open_count; ++k) {
            double& y = am[open[k]];
            if (y > dospi) {
                y = skip_turns(y, steps);
                y = y - dospi;
            } else if (y < 0.0) {
                y = -skip_turns(-y, steps);
                y = y + dospi;
            } else {
                continue;  // reduced (or NaN)
            }
            open[still_open++] = open[k];
        }
        open_count = still_open;
    }
}

BodyPosition body_position(double tiempo, const Orbit& orbit, double pi, double dospi) {
    if constexpr (kLiteralPath) {
        return body_position_literal(tiempo, orbit, pi, dospi);
    } else {
        return body_position_fast(tiempo, orbit, orbit_turns(orbit), pi, dospi);
    }
}

BodyPosition body_position_literal(double tiempo, const Orbit& orbit, double pi, double dospi) {
    Orbit o = orbit;  // the routines take their arguments by reference
    BodyPosition b{};
    b.am = reduce_mean_anomaly_literal(((tiempo - o.t) * o.vn) + o.ame, dospi);
    kepler_literal(o.e, b.am, b.aex);
    double x, y, z;
    plane_position(o, pi, dospi, b, x, y, z);
    double minus_w = -o.w;
    double minus_ync = -o.ync;
    double minus_od = -o.od;
    double xp, yp, zp, xr, yr, zr;
    rotaz(x, y, z, minus_w, xp, yp, zp);
    rotax(xp, yp, zp, minus_ync, xr, yr, zr);
    rotaz(xr, yr, zr, minus_od, b.xe, b.ye, b.ze);
    return b;
}

BodyPosition body_position_fast(double tiempo, const Orbit& orbit, const OrbitTurns& turns, double pi,
                                double dospi) {
    Orbit o = orbit;
    double am = reduce_mean_anomaly_fast(unreduced_mean_anomaly(tiempo, o), dospi);
    double aex;
    kepler_fast(o.e, am, aex);
    return body_position_from_anomalies(o, turns, am, aex, pi, dospi);
}

double unreduced_mean_anomaly(double tiempo, const Orbit& orbit) {
    return ((tiempo - orbit.t) * orbit.vn) + orbit.ame;
}

BodyPosition body_position_from_anomalies(const Orbit& orbit, const OrbitTurns& turns, double am, double aex,
                                          double pi, double dospi) {
    BodyPosition b{};
    b.am = am;
    b.aex = aex;
    radius(orbit, b);
    true_anomaly(orbit, pi, dospi, b);
    ecliptic_position(turns, b);
    return b;
}

void body_positions_from_anomalies(const Orbit& orbit, const OrbitTurns& turns, const double* am,
                                   const double* aex, int lanes, double pi, double dospi, BodyPosition* b) {
    for (int k = 0; k < lanes; ++k) {
        b[k] = BodyPosition{};
        b[k].am = am[k];
        b[k].aex = aex[k];
        radius(orbit, b[k]);
    }
    for (int k = 0; k < lanes; ++k) {
        true_anomaly(orbit, pi, dospi, b[k]);
    }
    for (int k = 0; k < lanes; ++k) {
        ecliptic_position(turns, b[k]);
    }
}
