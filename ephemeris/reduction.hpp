#pragma once

#include <array>
#include <cstdint>

// The reduction of a mean anomaly to one turn, in its two forms: the literal steps of dospi one at a
// time, and the production lanes that count the steps inside each binary exponent range instead of
// taking them, over a table formed once per run. Both give the same bits.

// A step of dospi no longer changes a magnitude above 2^56, so the steps would never end there: such a
// value, and an infinite one, becomes NaN in both forms. Every other value is reduced, 2^56 itself
// included.
inline constexpr double kMaxReducible = 0x1p56;

// Reduces a mean anomaly to 0..dospi by repeated rounded steps of dospi (dospi = pi + pi), one step at a
// time: the cost grows with the number of turns.
//   given: am (radians), dospi (radians)
//   returns: the reduced value; NaN stays NaN
double reduce_mean_anomaly(double am, double dospi);

// What the steps of dospi do to a value whose binary exponent is shift above dospi's (1 to
// kMaxTurnShift); see skip_in_range in reduction.cpp. In units of the value's last place: dospi is m
// plus a fraction, each step takes away c (when the fraction is exactly one half, c holds for an even
// value only), and g is 1 when the fraction is not zero. inverse is 1 / c, for predicting a count of
// steps.
struct TurnRange {
    int64_t m;
    int64_t c;
    int64_t g;
    bool tie;
    double inverse;
};
inline constexpr int kMaxTurnShift = 60;

// The ranges of one dospi, formed once per run.
struct TurnSteps {
    double dospi;
    std::array<TurnRange, kMaxTurnShift + 1> ranges;  // by shift; ranges[0] is not used
};
TurnSteps turn_steps(double dospi);

// room / range.c (room from 0 to 2^53, range.c at least 1) without a division.
int64_t quotient_of_steps(int64_t room, const TurnRange& range);

// am[k] = reduce_mean_anomaly(am[k], steps.dospi) for k below lanes (at most kMaxReductionLanes), bit for
// bit, at a cost independent of the number of turns, a range of each open value before the next range
// of any: the reductions of a batch of rows do not wait for each other.
inline constexpr int kMaxReductionLanes = 16;
void reduce_mean_anomaly_lanes(double* am, int lanes, const TurnSteps& steps);
