#include "ephemeris/kepler.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "ephemeris/test_support.hpp"

namespace {

const double kPi = kModel.pi;
const double kDospi = kModel.dospi;
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

double kepler_of(double exce, double anomedia) {
    double anomex = -1.0;
    kepler(exce, anomedia, anomex);
    return anomex;
}

std::string where(double exce, double anomedia) {
    char text[80];
    std::snprintf(text, sizeof text, "exce %.17g anomedia %.17g", exce, anomedia);
    return text;
}

// kepler_lanes over the given lanes against kepler on each lane alone.
void expect_lanes_match_kepler(const double* exce, const double* anomedia, int lanes) {
    double anomex[kMaxKeplerLanes];
    kepler_lanes(exce, anomedia, anomex, lanes);
    for (int k = 0; k < lanes; ++k) {
        EXPECT_SAME_BITS(
            anomex[k], kepler_of(exce[k], anomedia[k]),
            "lane " + std::to_string(k) + " of " + std::to_string(lanes) + ": " + where(exce[k], anomedia[k]));
    }
}

TEST(Kepler, ExactResultsAtZeroEccentricityAndZeroMeanAnomaly) {
    for (const double m : {0.0, 1e-300, 0.5, kPi, kDospi, 6.0, -3.0}) {
        EXPECT_EQ(kepler_of(0.0, m), m) << "zero eccentricity returns the mean anomaly, M=" << m;
    }
    EXPECT_EQ(kepler_of(0.9, 0.0), 0.0);
    EXPECT_TRUE(std::isnan(kepler_of(0.5, kNaN)));
}

TEST(Kepler, SolvesKeplersEquationForOrdinaryOrbits) {
    for (const double e : {0.0167, 0.0933941, 0.25, 0.6}) {
        for (const double m : {0.1, 1.0, 2.5, kPi, 4.0, 6.2}) {
            const double ex = kepler_of(e, m);
            EXPECT_NEAR(ex - (e * std::sin(ex)), m, 1e-14) << "e=" << e << " M=" << m;
        }
    }
}

// The described iteration alone: 100 passes from the mean anomaly.
double hundred_passes(double exce, double anomedia, double& before) {
    double e = anomedia;
    for (int i = 0; i < kKeplerPasses; ++i) {
        before = e;
        e = (std::sin(e) * exce) + anomedia;
    }
    return e;
}

// Where the 100 passes settle, and for anything that is not an ellipse, the 100th iterate is the result,
// bit for bit.
TEST(Kepler, KeepsTheHundredthIterateWhereThePassesSettleOrNoEllipseIsGiven) {
    std::mt19937_64 random(18);
    std::uniform_real_distribution<double> eccentricity(0.0, 0.7);
    std::uniform_real_distribution<double> mean_anomaly(0.0, kDospi);
    for (int k = 0; k < 20000; ++k) {
        const double exce = eccentricity(random), anomedia = mean_anomaly(random);
        double before;
        EXPECT_SAME_BITS(kepler_of(exce, anomedia), hundred_passes(exce, anomedia, before), where(exce, anomedia));
    }
    for (const double exce : {1.0, 1.2, -1.0, 7.5, kNaN, kInf}) {
        for (const double anomedia : {1e-3, 0.7, 3.0, 6.2, 40.0, -3.0}) {
            double before;
            EXPECT_SAME_BITS(kepler_of(exce, anomedia), hundred_passes(exce, anomedia, before), where(exce, anomedia));
        }
    }
}

// Near a parabola the iteration crawls: after 100 passes it is still moving. kepler then solves the
// equation until its residual is within the rounding of its own evaluation, checked here in long double
// (the root is then off by that rounding over the slope 1 - e cos E, the equation's own conditioning).
TEST(Kepler, SolvesTheEquationWhereThePassesHaveNotSettled) {
    const struct {
        double exce, anomedia;
    } cases[] = {
        {0.9546, 0.01},        {0.96714, 0.05},       {0.995086, 1e-4},
        {0.999176, 1e-6},      {0.999898, 6.2e-6},    {0.999898, 1e-12},
        {0.9999999, 3e-7},     {0.99, kDospi - 1e-3}, {0.999898, kDospi - 1e-9},
        {-0.9999, kPi - 1e-6}, {-0.9999, kPi + 1e-6},
    };
    for (const auto& c : cases) {
        double before;
        const double hundredth = hundred_passes(c.exce, c.anomedia, before);
        ASSERT_NE(hundredth, before) << "the passes settle: " << where(c.exce, c.anomedia);
        EXPECT_NE(kepler_of(c.exce, c.anomedia), hundredth) << where(c.exce, c.anomedia);
        const double e = kepler_of(c.exce, c.anomedia);
        const long double exce = c.exce, anomaly = e;
        const long double residual = (anomaly - (exce * std::sin(anomaly))) - c.anomedia;
        const double rounding = 0x1p-53 * ((2.0 * std::fabs(e)) + std::fabs(c.anomedia));
        EXPECT_LE(std::fabs(static_cast<double>(residual)), 4.0 * rounding)
            << where(c.exce, c.anomedia) << ": E " << e << " against the 100th iterate " << hundredth;
        EXPECT_SAME_BITS(e, kepler_solve(c.exce, c.anomedia), where(c.exce, c.anomedia));
    }
}

// Sixteen anomalies, one batch of lanes for each eccentricity: zeros of both signs, values next to pi,
// turns of both signs, huge and non-finite values.
TEST(KeplerLanes, MatchTheHundredPassesAtSpecialValues) {
    const double exces[] = {0.0, -0.0, 1e-300, 0.0167, 0.5,  0.9999999, 1.0,  1.0000001,
                            2.0, 7.5,  1e6,    -0.5,   -3.0, kNaN,      kInf, -kInf};
    const double anomalies[kMaxKeplerLanes] = {0.0,    -0.0,    1e-310, 1e-17,  kPi,  kDospi, std::nextafter(kPi, 0.0),
                                               -1e-17, -kDospi, 40.0,   -123.4, 1e15, 1e300,  kNaN,
                                               kInf,   -kInf};
    for (const double exce : exces) {
        double same[kMaxKeplerLanes];
        std::fill(same, same + kMaxKeplerLanes, exce);
        expect_lanes_match_kepler(same, anomalies, kMaxKeplerLanes);
    }
}

// Eccentricities to 1.5 cover settling orbits, slow ones near 1 and the two-cycles and chaos above 1;
// the fixed point and the two-cycle are reached after both an odd and an even number of passes. Lanes
// that settle, cycle or never settle stand side by side, so that lanes leave the lockstep at different
// passes and in every order; every lane count from 1 to 16.
// A hundred thousand orbits in the short set, a million in the long one (EPHEM_TEST_SET=long).
TEST(KeplerLanes, MatchTheHundredPassesOnRandomOrbits) {
    const char* set = std::getenv("EPHEM_TEST_SET");
    const int count = (set != nullptr && std::string(set) == "long") ? 1'000'000 : 100'000;
    std::mt19937_64 random(20240607);
    std::uniform_real_distribution<double> eccentricity(0.0, 1.5);
    std::uniform_real_distribution<double> mean_anomaly(-1.0, 7.0);
    int orbits = 0;
    for (int round = 0; orbits < count && !HasFailure(); ++round) {
        const int lanes = 1 + (round % kMaxKeplerLanes);
        double exce[kMaxKeplerLanes], anomedia[kMaxKeplerLanes];
        for (int k = 0; k < lanes; ++k) {
            exce[k] = (round % 7 == 0 && k % 3 == 0) ? kNaN : eccentricity(random);
            anomedia[k] = mean_anomaly(random);
        }
        expect_lanes_match_kepler(exce, anomedia, lanes);
        orbits += lanes;
    }
}

}  // namespace
