#include "ephemeris/reduction.hpp"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

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

double skip_turns(double y, const TurnSteps& steps) {
    const int shift = exponent_of(y) - exponent_of(steps.dospi);
    return can_skip(shift, steps.dospi) ? skip_in_range(y, steps.ranges[static_cast<std::size_t>(shift)]) : y;
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

}  // namespace

double reduce_mean_anomaly(double am, double dospi) {
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

TurnSteps turn_steps(double dospi) {
    TurnSteps steps{};
    steps.dospi = dospi;
    for (int shift = 1; shift <= kMaxTurnShift; ++shift) {
        steps.ranges[static_cast<std::size_t>(shift)] = turn_range(shift, dospi);
    }
    return steps;
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

void reduce_mean_anomaly_lanes(double* am, int lanes, const TurnSteps& steps) {
    const double dospi = steps.dospi;
    int open[kMaxReductionLanes];  // the lanes still being reduced
    int open_count = 0;
    for (int lane = 0; lane < lanes; ++lane) {
        if (std::fabs(am[lane]) > kMaxReducible) {
            am[lane] = std::numeric_limits<double>::quiet_NaN();
        } else {
            open[open_count++] = lane;
        }
    }
    // The two loops of the literal steps as one: a step down never leaves a value below zero and a step
    // up never one above dospi, so a lane takes steps of one kind only, in the same order. Rounding to
    // nearest is symmetric, so adding dospi to -y skips like subtracting it from y; the skipped values
    // are far from zero, where the mirror would give -0.0 for the +0.0 of a sum, and the last steps are
    // literal.
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
