#include "ephemeris/reduction.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ephemeris/test_support.hpp"

namespace {

const double kPi = kModel.pi;
const double kDospi = kModel.dospi;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const TurnSteps kSteps = turn_steps(kDospi);

// The production reduction of one value: a batch of one lane.
double counted(double am) {
    reduce_mean_anomaly_lanes(&am, 1, kSteps);
    return am;
}

// A double drawn uniformly from the doubles of [2^k, 2^(k+1)).
double in_binade(std::mt19937_64& random, int k) {
    const uint64_t mantissa = random() & ((uint64_t{1} << 52) - 1);
    return std::ldexp(std::bit_cast<double>((uint64_t{1023} << 52) | mantissa), k);
}

std::string where(double am) {
    char text[48];
    std::snprintf(text, sizeof text, "am %.17g", am);
    return text;
}

void expect_forms_agree(double am) { EXPECT_SAME_BITS(counted(am), reduce_mean_anomaly(am, kDospi), where(am)); }

struct ReductionCase {
    const char* protects;
    double am;
    double expected;
};

TEST(Reduction, StepsByWholeTurnsAndKeepsTheBoundaries) {
    const double beyond = std::nextafter(kMaxReducible, kInf);
    const ReductionCase cases[] = {
        {"a value inside one turn is untouched", 1.0, 1.0},
        {"exactly pi is untouched", kPi, kPi},
        {"exactly two pi stays two pi, not zero", kDospi, kDospi},
        {"720 degrees ends on two pi after one step", radians(720.0, kPi), kDospi},
        {"zero stays zero", 0.0, 0.0},
        {"a tiny negative value rounds up to exactly two pi", -1e-17, kDospi},
        {"one negative turn and a bit", -kDospi - 1.0, (-kDospi - 1.0 + kDospi) + kDospi},
        {"three turns and a bit, by rounded subtractions", 3.0 * kDospi + 0.5,
         ((3.0 * kDospi + 0.5 - kDospi) - kDospi) - kDospi},
        {"NaN passes unchanged", kNaN, kNaN},
        {"beyond 2^56 a step changes nothing: NaN rather than no end", beyond, kNaN},
        {"the same below", -beyond, kNaN},
        {"an infinity, from a zero semi-major axis", kInf, kNaN},
        {"a negative infinity", -kInf, kNaN},
    };
    for (const ReductionCase& c : cases) {
        EXPECT_SAME_BITS(reduce_mean_anomaly(c.am, kDospi), c.expected, c.protects);
        EXPECT_SAME_BITS(counted(c.am), c.expected, c.protects);
    }
    EXPECT_EQ(bits(beyond - kDospi), bits(beyond));
    EXPECT_LT(kMaxReducible - kDospi, kMaxReducible);
    EXPECT_FALSE(std::isnan(counted(kMaxReducible))) << "2^56 itself is reduced";
    EXPECT_FALSE(std::isnan(counted(-kMaxReducible))) << "2^56 itself is reduced";
}

TEST(ReductionLanes, MatchTheStepsAtEveryMagnitudeTheStepsCanFinish) {
    // Up to 2^24 the steps take milliseconds; fewer values are drawn where they take longer.
    std::mt19937_64 random(11);
    for (int k = -30; k <= 24; ++k) {
        const int count = std::clamp(1 << std::clamp(28 - k, 0, 30), 4, 300);
        for (int i = 0; i < count; ++i) {
            const double am = in_binade(random, k);
            expect_forms_agree(am);
            expect_forms_agree(-am);
        }
    }
}

TEST(ReductionLanes, MatchTheStepsAroundTheRangeBoundaries) {
    // Values at the edges of the exponent ranges, and values whose next step lands on an edge: there the
    // amount a step takes away changes. [64, 128) is the range where dospi falls half-way between two
    // doubles and the step rounds to even.
    std::vector<double> cases = {0.0, -0.0, 1e-300, -1e-300, 1e-17, -1e-17, kPi, kDospi, -kDospi, kDospi + kDospi};
    for (int k = 1; k <= 22; ++k) {
        const double edge = std::ldexp(1.0, k);
        for (const double base : {edge, edge + kDospi, edge - kDospi, edge + (3 * kDospi)}) {
            double am = base;
            for (int ulps = 0; ulps < 6; ++ulps) {
                cases.push_back(am);
                am = std::nextafter(am, 0.0);
            }
            am = base;
            for (int ulps = 0; ulps < 6; ++ulps) {
                cases.push_back(am);
                am = std::nextafter(am, kInf);
            }
        }
    }
    std::mt19937_64 random(3);
    for (int i = 0; i < 20000; ++i) {
        cases.push_back(in_binade(random, 6));
    }
    for (const double am : cases) {
        expect_forms_agree(am);
        expect_forms_agree(-am);
    }
}

// Where the steps take too long to finish, the production form is checked one step at a time: it gives
// the same value from am as from the result of the literal step from am. With the agreement below 2^24,
// that makes it equal to the steps for every value (by induction on the number of steps).
void expect_step_invariant(double am) {
    if (am >= 0.0 && am <= kDospi) {
        return;  // no step from there
    }
    const double stepped = am > kDospi ? am - kDospi : am + kDospi;
    EXPECT_SAME_BITS(counted(am), counted(stepped), where(am));
}

TEST(ReductionLanes, UnchangedByOneLiteralStepUpToTwoToThe56) {
    std::mt19937_64 random(5);
    for (int k = 3; k <= 55; ++k) {
        const double edge = std::ldexp(1.0, k);
        for (int i = 0; i < 2000; ++i) {
            const double am = in_binade(random, k);
            expect_step_invariant(am);
            expect_step_invariant(-am);
        }
        // The last values of the range above and the first values of this range.
        double below = edge, above = edge;
        for (int i = 0; i < 40; ++i) {
            below = std::nextafter(below, 0.0);
            expect_step_invariant(below);
            expect_step_invariant(-below);
            expect_step_invariant(above);
            expect_step_invariant(-above);
            above = std::nextafter(above, kInf);
        }
        // Values whose step crosses into the range below.
        std::uniform_real_distribution<double> near_edge(edge - (2 * kDospi), edge + (2 * kDospi));
        for (int i = 0; i < 200; ++i) {
            const double am = near_edge(random);
            expect_step_invariant(am);
            expect_step_invariant(-am);
        }
    }
    expect_step_invariant(kMaxReducible);
    expect_step_invariant(-kMaxReducible);
}

TEST(ReductionLanes, ResultIsInOneTurnAtEveryMagnitude) {
    std::mt19937_64 random(17);
    for (int k = -40; k <= 55; ++k) {
        for (int i = 0; i < 200; ++i) {
            for (const double am : {in_binade(random, k), -in_binade(random, k)}) {
                const double reduced = counted(am);
                EXPECT_TRUE(reduced >= 0.0 && reduced <= kDospi) << where(am) << " gives " << reduced;
            }
        }
    }
}

TEST(ReductionLanes, CountStepsWithoutADivisionExactly) {
    // Every range the reduction can meet, with rooms at, just below and just above a multiple of c,
    // where a prediction one too high or too low would show; and rooms drawn at random up to 2^53.
    std::mt19937_64 random(23);
    for (int shift = 1; shift <= kMaxTurnShift; ++shift) {
        const TurnRange& range = kSteps.ranges[static_cast<std::size_t>(shift)];
        if (range.c <= 0) {
            continue;
        }
        std::uniform_int_distribution<int64_t> multiple(0, (int64_t{1} << 53) / range.c);
        for (int i = 0; i < 20000; ++i) {
            const int64_t at = multiple(random) * range.c;
            for (const int64_t room : {at, at - 1, at + 1, static_cast<int64_t>(random() >> 11)}) {
                if (room >= 0 && room <= (int64_t{1} << 53)) {
                    ASSERT_EQ(quotient_of_steps(room, range), room / range.c) << "shift " << shift << " room " << room;
                }
            }
        }
    }
}

TEST(ReductionLanes, ManyLanesMatchOneLaneEach) {
    // Lanes of every count with magnitudes from 2^-40 to beyond 2^56 side by side, so that lanes finish
    // after different numbers of ranges; both signs, and the values that end at once or become NaN.
    const double special[] = {0.0, -0.0, kDospi, -1e-17, kNaN, kInf, -kInf, std::nextafter(kMaxReducible, kInf)};
    std::mt19937_64 random(29);
    for (int round = 0; round < 100000; ++round) {
        const int lanes = 1 + (round % kMaxReductionLanes);
        double am[kMaxReductionLanes], given[kMaxReductionLanes];
        for (int k = 0; k < lanes; ++k) {
            const int magnitude = static_cast<int>(random() % 98) - 40;
            given[k] = (random() % 16 == 0) ? special[random() % 8] : in_binade(random, magnitude);
            given[k] = (random() % 2 == 0) ? given[k] : -given[k];
            am[k] = given[k];
        }
        reduce_mean_anomaly_lanes(am, lanes, kSteps);
        for (int k = 0; k < lanes; ++k) {
            ASSERT_EQ(bits(am[k]), bits(counted(given[k])))
                << "lane " << k << " of " << lanes << ": " << where(given[k]);
        }
    }
}

}  // namespace
