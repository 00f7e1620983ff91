// The shortcuts of the computation against the literal steps, bit for bit.

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

#include "ephemeris/apparent_place.hpp"
#include "ephemeris/daily_row.hpp"
#include "ephemeris/orbit.hpp"

namespace {

const double kPi = std::atan(1.0) * 4.0;
const double kDospi = kPi + kPi;
const double kObli = (kPi * 23.439291) / 180.0;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }

// Exact agreement, NaN payload and the sign of zero included.
#define EXPECT_SAME_BITS(fast, literal, what) \
    EXPECT_EQ(bits(fast), bits(literal)) << (what) << ": fast " << (fast) << ", literal " << (literal)

double kepler_fast_of(double exce, double anomedia) {
    double anomex = 0.0;
    kepler_fast(exce, anomedia, anomex);
    return anomex;
}

double kepler_literal_of(double exce, double anomedia) {
    double anomex = 0.0;
    kepler_literal(exce, anomedia, anomex);
    return anomex;
}

// A double drawn uniformly from the doubles of [2^k, 2^(k+1)).
double in_binade(std::mt19937_64& random, int k) {
    const uint64_t mantissa = random() & ((uint64_t{1} << 52) - 1);
    return std::ldexp(std::bit_cast<double>((uint64_t{1023} << 52) | mantissa), k);
}

std::string where(double exce, double anomedia) {
    char text[80];
    std::snprintf(text, sizeof text, "exce %.17g anomedia %.17g", exce, anomedia);
    return text;
}

TEST(FastKepler, MatchesTheHundredPassesOnAMillionRandomOrbits) {
    // Eccentricities to 1.5 cover settling orbits, slow ones near 1 and the two-cycles and chaos above 1;
    // the fixed point and the two-cycle are reached after both an odd and an even number of passes.
    std::mt19937_64 random(20240607);
    std::uniform_real_distribution<double> eccentricity(0.0, 1.5);
    std::uniform_real_distribution<double> mean_anomaly(0.0, kDospi);
    int mismatches = 0;
    for (int i = 0; i < 1'000'000 && mismatches < 10; ++i) {
        const double exce = eccentricity(random);
        const double anomedia = mean_anomaly(random);
        const double fast = kepler_fast_of(exce, anomedia);
        const double literal = kepler_literal_of(exce, anomedia);
        if (bits(fast) != bits(literal)) {
            ++mismatches;
            ADD_FAILURE() << where(exce, anomedia) << ": fast " << fast << ", literal " << literal;
        }
    }
}

TEST(FastKepler, MatchesTheHundredPassesAtSpecialValues) {
    const double exces[] = {0.0, -0.0, 1e-300, 0.0167, 0.5, 0.9999999, 1.0, 1.0000001, 2.0, 7.5, 1e6, -0.5, -3.0,
                            kNaN, kInf, -kInf};
    const double anomalies[] = {0.0,   -0.0,        1e-310, 1e-17,  kPi,  kDospi, std::nextafter(kPi, 0.0),
                                -1e-17, -kDospi,    40.0,   -123.4, 1e15, 1e300,  kNaN, kInf, -kInf};
    for (const double exce : exces) {
        for (const double anomedia : anomalies) {
            EXPECT_SAME_BITS(kepler_fast_of(exce, anomedia), kepler_literal_of(exce, anomedia),
                             where(exce, anomedia));
        }
    }
}

TEST(FastKepler, LanesMatchTheHundredPassesEachOnItsOwn) {
    // Lanes that settle, cycle or never settle side by side, so that lanes leave the lockstep at
    // different passes and in every order; every lane count from 1 to 16.
    std::mt19937_64 random(99);
    std::uniform_real_distribution<double> eccentricity(0.0, 1.5);
    std::uniform_real_distribution<double> mean_anomaly(-1.0, 7.0);
    for (int round = 0; round < 20000; ++round) {
        const int lanes = 1 + (round % kMaxKeplerLanes);
        double exce[kMaxKeplerLanes], anomedia[kMaxKeplerLanes], anomex[kMaxKeplerLanes];
        for (int k = 0; k < lanes; ++k) {
            exce[k] = (round % 7 == 0 && k % 3 == 0) ? kNaN : eccentricity(random);
            anomedia[k] = mean_anomaly(random);
        }
        kepler_lanes(exce, anomedia, anomex, lanes);
        for (int k = 0; k < lanes; ++k) {
            ASSERT_EQ(bits(anomex[k]), bits(kepler_literal_of(exce[k], anomedia[k])))
                << "lane " << k << " of " << lanes << ": " << where(exce[k], anomedia[k]);
        }
    }
}

TEST(FastKepler, BuildChoiceIsExact) {
    double exce = 0.0933941, anomedia = 2.5, anomex = 0.0;
    kepler(exce, anomedia, anomex);
    EXPECT_SAME_BITS(anomex, kepler_literal_of(exce, anomedia), "kepler");
}

TEST(FastRotation, PrecomputedCosineAndSineGiveTheSameBits) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> coordinate(-40.0, 40.0);
    std::uniform_real_distribution<double> angle(-7.0, 7.0);
    for (int i = 0; i < 20000; ++i) {
        double xi = coordinate(random), yi = coordinate(random), zi = coordinate(random);
        double ang = (i == 0) ? 0.0 : angle(random);
        const AxisTurn turn = axis_turn(ang);
        double xf, yf, zf, xc, yc, zc;
        rotax(xi, yi, zi, ang, xf, yf, zf);
        rotax_cs(xi, yi, zi, turn, xc, yc, zc);
        EXPECT_SAME_BITS(xc, xf, "rotax x");
        EXPECT_SAME_BITS(yc, yf, "rotax y");
        EXPECT_SAME_BITS(zc, zf, "rotax z");
        rotaz(xi, yi, zi, ang, xf, yf, zf);
        rotaz_cs(xi, yi, zi, turn, xc, yc, zc);
        EXPECT_SAME_BITS(xc, xf, "rotaz x");
        EXPECT_SAME_BITS(yc, yf, "rotaz y");
        EXPECT_SAME_BITS(zc, zf, "rotaz z");
    }
}

const TurnSteps kSteps = turn_steps(kDospi);

// The reduction by per-call constants and by the run's table both against the literal steps.
void expect_reductions_agree(double am) {
    const double literal = reduce_mean_anomaly_literal(am, kDospi);
    EXPECT_SAME_BITS(reduce_mean_anomaly_fast(am, kDospi), literal, where(0.0, am));
    EXPECT_SAME_BITS(reduce_mean_anomaly_steps(am, kSteps), literal, where(0.0, am));
}

TEST(FastReduction, MatchesTheStepsAtEveryMagnitudeTheStepsCanFinish) {
    // Up to 2^24 the steps take milliseconds; fewer values are drawn where they take longer.
    std::mt19937_64 random(11);
    for (int k = -30; k <= 24; ++k) {
        const int count = std::clamp(1 << std::clamp(28 - k, 0, 30), 4, 300);
        for (int i = 0; i < count; ++i) {
            const double am = in_binade(random, k);
            expect_reductions_agree(am);
            expect_reductions_agree(-am);
        }
    }
}

TEST(FastReduction, MatchesTheStepsAroundTheRangeBoundaries) {
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
    for (const double am : cases) {
        expect_reductions_agree(am);
        expect_reductions_agree(-am);
    }
    std::mt19937_64 random(3);
    for (int i = 0; i < 20000; ++i) {
        const double am = in_binade(random, 6);
        expect_reductions_agree(am);
        expect_reductions_agree(-am);
    }
}

// Where the steps take too long to finish, the fast reduction is checked one step at a time: it gives
// the same value from am as from the result of the literal step from am. With the agreement below 2^24,
// that makes it equal to the steps for every value (by induction on the number of steps).
void expect_step_invariant(double am) {
    if (am >= 0.0 && am <= kDospi) {
        return;  // no step from there
    }
    const double stepped = am > kDospi ? am - kDospi : am + kDospi;
    const double fast = reduce_mean_anomaly_fast(am, kDospi);
    EXPECT_SAME_BITS(fast, reduce_mean_anomaly_fast(stepped, kDospi), where(stepped, am));
    EXPECT_SAME_BITS(reduce_mean_anomaly_steps(am, kSteps), fast, where(stepped, am));
}

TEST(FastReduction, UnchangedByOneLiteralStepUpToTwoToThe56) {
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
    const double top = kMaxReducible;
    expect_step_invariant(top);
    expect_step_invariant(-top);
}

TEST(FastReduction, CountsStepsWithoutADivisionExactly) {
    // Every range the reduction can meet, with rooms at, just below and just above a multiple of c,
    // where a prediction one too high or too low would show; and rooms drawn at random up to 2^53.
    std::mt19937_64 random(23);
    for (int shift = 1; shift <= kMaxTurnShift; ++shift) {
        const TurnRange range = turn_range(shift, kDospi);
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

TEST(FastReduction, LanesMatchOneValueAtATime) {
    // Lanes of every count with magnitudes from 2^-40 to beyond 2^56 side by side, so that lanes finish
    // after different numbers of ranges; both signs, and the values that end at once or become NaN.
    const double special[] = {0.0, -0.0, kDospi, -1e-17, kNaN, kInf, -kInf, std::nextafter(kMaxReducible, kInf)};
    std::mt19937_64 random(29);
    for (int round = 0; round < 100000; ++round) {
        const int lanes = 1 + (round % kMaxKeplerLanes);
        double am[kMaxKeplerLanes], given[kMaxKeplerLanes];
        for (int k = 0; k < lanes; ++k) {
            const int magnitude = static_cast<int>(random() % 98) - 40;
            given[k] = (random() % 16 == 0) ? special[random() % 8] : in_binade(random, magnitude);
            given[k] = (random() % 2 == 0) ? given[k] : -given[k];
            am[k] = given[k];
        }
        reduce_mean_anomaly_lanes(am, lanes, kSteps);
        for (int k = 0; k < lanes; ++k) {
            ASSERT_EQ(bits(am[k]), bits(reduce_mean_anomaly_steps(given[k], kSteps)))
                << "lane " << k << " of " << lanes << ": " << where(0.0, given[k]);
        }
    }
}

TEST(FastReduction, ResultIsInOneTurnAtEveryMagnitude) {
    std::mt19937_64 random(17);
    for (int k = -40; k <= 55; ++k) {
        for (int i = 0; i < 200; ++i) {
            for (const double am : {in_binade(random, k), -in_binade(random, k)}) {
                const double reduced = reduce_mean_anomaly_fast(am, kDospi);
                EXPECT_TRUE(reduced >= 0.0 && reduced <= kDospi) << where(reduced, am);
            }
        }
    }
}

TEST(FastReduction, EndsWhereTheStepsWouldNever) {
    // From just above 2^56 a step of dospi rounds back to the value itself; 2^56 is still reduced. A NaN
    // stays NaN.
    const double beyond = std::nextafter(kMaxReducible, kInf);
    for (const double am : {beyond, -beyond, 1e300, -1e300, kInf, -kInf, kNaN}) {
        EXPECT_TRUE(std::isnan(reduce_mean_anomaly_fast(am, kDospi))) << am;
        EXPECT_TRUE(std::isnan(reduce_mean_anomaly_literal(am, kDospi))) << am;
        EXPECT_TRUE(std::isnan(reduce_mean_anomaly(am, kDospi))) << am;
        EXPECT_TRUE(std::isnan(reduce_mean_anomaly_steps(am, kSteps))) << am;
    }
    EXPECT_EQ(bits(beyond - kDospi), bits(beyond));
    EXPECT_LT(kMaxReducible - kDospi, kMaxReducible);
    EXPECT_FALSE(std::isnan(reduce_mean_anomaly_fast(kMaxReducible, kDospi)));
    EXPECT_FALSE(std::isnan(reduce_mean_anomaly_fast(-kMaxReducible, kDospi)));
    EXPECT_SAME_BITS(reduce_mean_anomaly_fast(kNaN, kDospi), kNaN, "NaN passes unchanged");
}

Orbit orbit_of(double a, double e, double ync, double w, double od, double ame, double t) {
    const auto rad = [](double degrees) { return (degrees * kPi) / 180.0; };
    const double vn = std::pow(1.0, 0.5) * (0.01720209895 / std::pow(a, 1.5));
    return Orbit{a, e, rad(ync), rad(w), rad(od), rad(ame), t, vn, (1.0 - (e * e)) * a};
}

// The driver's row computed both ways for one pair of orbits over a span of days.
void expect_same_row(const DailyRow& fast, const DailyRow& lit, const std::string& at) {
    EXPECT_SAME_BITS(fast.tiempo, lit.tiempo, at);
    EXPECT_SAME_BITS(fast.r2, lit.r2, at);
    EXPECT_SAME_BITS(fast.har, lit.har, at);
    EXPECT_SAME_BITS(fast.gdec, lit.gdec, at);
    EXPECT_SAME_BITS(fast.delta, lit.delta, at);
    EXPECT_SAME_BITS(fast.elong, lit.elong, at);
    EXPECT_SAME_BITS(fast.afase, lit.afase, at);
    EXPECT_SAME_BITS(fast.fase, lit.fase, at);
}

void expect_rows_agree(const Orbit& target, const Orbit& observer, double tini, int rows) {
    const RunGeometry run = run_geometry(target, observer, kObli, kPi, kDospi);
    const OrbitTurns turns1 = orbit_turns(observer);
    double tiempo = tini - 1.0;
    for (int pass = 0; pass < rows; ++pass) {
        tiempo = tiempo + 1.0;
        const DailyRow lit = daily_row_literal(run, tiempo);
        const DailyRow fast = daily_row_fast(run, tiempo);
        const std::string at = "tiempo " + std::to_string(tiempo);
        expect_same_row(fast, lit, at);
        const BodyPosition lit1 = body_position_literal(tiempo, observer, kPi, kDospi);
        const BodyPosition fast1 = body_position_fast(tiempo, observer, turns1, kPi, kDospi);
        EXPECT_SAME_BITS(fast1.xe, lit1.xe, at);
        EXPECT_SAME_BITS(fast1.ye, lit1.ye, at);
        EXPECT_SAME_BITS(fast1.ze, lit1.ze, at);
        const BodyPosition lit2 = body_position_literal(tiempo, target, kPi, kDospi);
        const BodyPosition chosen = body_position(tiempo, target, kPi, kDospi);
        EXPECT_SAME_BITS(chosen.xe, lit2.xe, at);
    }
    // The same days in batches of every size, as the driver forms them.
    tiempo = tini - 1.0;
    for (int pass = 0, count = 1; pass < rows; pass += count, count = 1 + (count % kBatchRows)) {
        double tiempos[kBatchRows];
        DailyRow batch[kBatchRows], chosen[kBatchRows];
        for (int k = 0; k < count; ++k) {
            tiempo = tiempo + 1.0;
            tiempos[k] = tiempo;
        }
        daily_rows_fast(run, tiempos, count, batch);
        daily_rows(run, tiempos, count, chosen);
        for (int k = 0; k < count; ++k) {
            const DailyRow lit = daily_row_literal(run, tiempos[k]);
            const std::string at = "batch of " + std::to_string(count) + ", tiempo " + std::to_string(tiempos[k]);
            expect_same_row(batch[k], lit, at);
            expect_same_row(chosen[k], lit, at);
        }
    }
}

TEST(FastRow, MatchesTheLiteralRowsNearAndFarFromTheEpoch) {
    const Orbit mars = orbit_of(1.52371034, 0.0933941, 1.84969142, 286.4968315, 49.55953891, 19.3903, 2451545.0);
    const Orbit earth = orbit_of(1.00000261, 0.01671123, -0.00001531, 102.93768193, 0.0, -2.47311027, 2451545.0);
    const Orbit comet = orbit_of(17.834, 0.96714, 162.26, 111.33, 58.42, 38.38, 2446467.4);
    const Orbit open = orbit_of(1.52371034, 1.37, 1.84969142, 286.4968315, 49.55953891, 19.3903, 2451545.0);
    expect_rows_agree(mars, earth, 2451545.0, 800);
    expect_rows_agree(mars, earth, 2451545.0 + 1e6, 50);
    expect_rows_agree(mars, earth, 2451545.0 - 1e6, 50);
    expect_rows_agree(comet, earth, 2446400.0, 800);
    expect_rows_agree(open, earth, 2451545.0, 200);
}

}  // namespace
