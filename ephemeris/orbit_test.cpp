#include "ephemeris/orbit.hpp"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

namespace {

const double kPi = std::atan(1.0) * 4.0;
const double kDospi = kPi + kPi;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

double radians(double degrees) { return (degrees * kPi) / 180.0; }

double kepler_of(double exce, double anomedia) {
    double anomex = -1.0;
    kepler(exce, anomedia, anomex);
    return anomex;
}

// An orbit record with its angles turned to radians and its orbit constants formed as the driver forms them.
Orbit orbit_of(double a, double e, double ync, double w, double od, double ame, double t, double asam) {
    const double vn = std::pow((1.0 + asam), 0.5) * (0.01720209895 / std::pow(a, 1.5));
    return Orbit{a, e, radians(ync), radians(w), radians(od), radians(ame), t, vn, (1.0 - (e * e)) * a};
}

Orbit earth() { return orbit_of(1.00000261, 0.01671123, -0.00001531, 102.93768193, 0.0, -2.47311027, 2451545.0, 0.0); }

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

TEST(Rotations, ZeroAngleGivesTheInputBack) {
    double x = 0.3, y = -1.25, z = 7.5, zero = 0.0, xf, yf, zf;
    rotax(x, y, z, zero, xf, yf, zf);
    EXPECT_EQ(xf, x);
    EXPECT_EQ(yf, y);
    EXPECT_EQ(zf, z);
    rotaz(x, y, z, zero, xf, yf, zf);
    EXPECT_EQ(xf, x);
    EXPECT_EQ(yf, y);
    EXPECT_EQ(zf, z);
}

// A positive angle turns the frame, so the vector turns the other way.
TEST(Rotations, QuarterTurnTurnsTheFrameInThePositiveSense) {
    double half_pi = kPi / 2.0, xf, yf, zf;
    double one = 1.0, nil = 0.0;
    rotaz(one, nil, nil, half_pi, xf, yf, zf);
    EXPECT_NEAR(xf, 0.0, 1e-16);
    EXPECT_EQ(yf, -1.0);
    EXPECT_EQ(zf, 0.0);
    rotax(nil, one, nil, half_pi, xf, yf, zf);
    EXPECT_EQ(xf, 0.0);
    EXPECT_NEAR(yf, 0.0, 1e-16);
    EXPECT_EQ(zf, -1.0);
}

struct ReductionCase {
    const char* protects;
    double am;
    double expected;
};

TEST(Reduction, StepsByWholeTurnsAndKeepsTheBoundaries) {
    const ReductionCase cases[] = {
        {"a value inside one turn is untouched", 1.0, 1.0},
        {"exactly pi is untouched", kPi, kPi},
        {"exactly two pi stays two pi, not zero", kDospi, kDospi},
        {"720 degrees ends on two pi after one step", radians(720.0), kDospi},
        {"zero stays zero", 0.0, 0.0},
        {"a tiny negative value rounds up to exactly two pi", -1e-17, kDospi},
        {"one negative turn and a bit", -kDospi - 1.0, (-kDospi - 1.0 + kDospi) + kDospi},
        {"three turns and a bit, by rounded subtractions", 3.0 * kDospi + 0.5,
         ((3.0 * kDospi + 0.5 - kDospi) - kDospi) - kDospi},
    };
    for (const ReductionCase& c : cases) {
        EXPECT_EQ(reduce_mean_anomaly(c.am, kDospi), c.expected) << c.protects;
    }
}

TEST(BodyPosition, WorkedPassPutsTheObserverWhereExpected) {
    const BodyPosition b = body_position(2451545.0, earth(), kPi, kDospi);
    EXPECT_NEAR(b.xe, -0.177171, 5e-7);
    EXPECT_NEAR(b.ye, 0.967214, 5e-7);
    EXPECT_NEAR(b.ze, -0.000000258, 5e-10);
    EXPECT_NEAR(std::sqrt(b.xe * b.xe + b.ye * b.ye + b.ze * b.ze), b.r, 1e-15);
}

TEST(BodyPosition, MeanAnomalyOfExactlyPiKeepsTheArcCosine) {
    const Orbit o = orbit_of(1.5, 0.2, 0.0, 0.0, 0.0, 180.0, 100.0, 0.0);
    const BodyPosition b = body_position(100.0, o, kPi, kDospi);
    EXPECT_EQ(b.am, kPi);
    EXPECT_LE(b.f, kPi);
    EXPECT_NEAR(b.f, kPi, 1e-7);
}

TEST(BodyPosition, MeanAnomalyOfTwoPiTakesTheOtherHalfOfTheOrbit) {
    const Orbit o = orbit_of(1.5, 0.2, 0.0, 0.0, 0.0, 360.0, 100.0, 0.0);
    const BodyPosition b = body_position(100.0, o, kPi, kDospi);
    EXPECT_EQ(b.am, kDospi);
    EXPECT_GT(b.f, kPi);
}

TEST(BodyPosition, MassOfMinusOneHoldsTheBodyStill) {
    const Orbit o = orbit_of(1.5, 0.1, 5.0, 10.0, 20.0, 30.0, 100.0, -1.0);
    EXPECT_EQ(o.vn, 0.0);
    const BodyPosition first = body_position(100.0, o, kPi, kDospi);
    const BodyPosition later = body_position(5000.0, o, kPi, kDospi);
    EXPECT_EQ(first.xe, later.xe);
    EXPECT_EQ(first.ye, later.ye);
    EXPECT_EQ(first.ze, later.ze);
}

// A semi-major axis of zero makes the mean motion infinite, a negative one makes it NaN: either way the
// mean anomaly, and with it the whole position, is NaN (and the reduction does not loop on it).
TEST(BodyPosition, ZeroOrNegativeSemiMajorAxisGivesNaN) {
    for (const double a : {0.0, -1.0}) {
        const BodyPosition b = body_position(101.0, orbit_of(a, 0.1, 5.0, 10.0, 20.0, 30.0, 100.0, 0.0), kPi, kDospi);
        EXPECT_TRUE(std::isnan(b.am)) << a;
        EXPECT_TRUE(std::isnan(b.xe)) << a;
        EXPECT_TRUE(std::isnan(b.r)) << a;
    }
}

}  // namespace
