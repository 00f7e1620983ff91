#include "ephemeris/position.hpp"

#include <cmath>

#include <gtest/gtest.h>

#include "ephemeris/kepler.hpp"
#include "ephemeris/reduction.hpp"
#include "ephemeris/rotation.hpp"
#include "ephemeris/rows.hpp"
#include "ephemeris/test_support.hpp"

namespace {

const double kPi = kModel.pi;
const double kDospi = kModel.dospi;

// The literal position, checked against the production steps on a batch of one lane.
BodyPosition position_at(double tiempo, const Orbit& orbit) {
    const BodyPosition literal = body_position(tiempo, orbit, kPi, kDospi);
    const RunGeometry run = run_geometry(orbit, orbit, kModel.obli, kPi, kDospi);
    double am = mean_anomaly(tiempo, orbit);
    reduce_mean_anomaly_lanes(&am, 1, run.steps);
    double aex;
    kepler_lanes(&orbit.e, &am, &aex, 1);
    BodyPosition production{};
    body_positions(orbit, run.target_turns, &am, &aex, 1, kPi, kDospi, &production);
    EXPECT_SAME_BITS(production.am, literal.am, "am");
    EXPECT_SAME_BITS(production.aex, literal.aex, "aex");
    EXPECT_SAME_BITS(production.r, literal.r, "r");
    EXPECT_SAME_BITS(production.f, literal.f, "f");
    EXPECT_SAME_BITS(production.xe, literal.xe, "xe");
    EXPECT_SAME_BITS(production.ye, literal.ye, "ye");
    EXPECT_SAME_BITS(production.ze, literal.ze, "ze");
    return literal;
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

TEST(BodyPosition, WorkedPassPutsTheObserverWhereExpected) {
    const BodyPosition b = position_at(2451545.0, earth());
    EXPECT_NEAR(b.xe, -0.177171, 5e-7);
    EXPECT_NEAR(b.ye, 0.967214, 5e-7);
    EXPECT_NEAR(b.ze, -0.000000258, 5e-10);
    EXPECT_NEAR(std::sqrt(b.xe * b.xe + b.ye * b.ye + b.ze * b.ze), b.r, 1e-15);
}

TEST(BodyPosition, MeanAnomalyOfExactlyPiKeepsTheArcCosine) {
    const BodyPosition b = position_at(100.0, orbit_of(1.5, 0.2, 0.0, 0.0, 0.0, 180.0, 100.0));
    EXPECT_EQ(b.am, kPi);
    EXPECT_LE(b.f, kPi);
    EXPECT_NEAR(b.f, kPi, 1e-7);
}

TEST(BodyPosition, MeanAnomalyOfTwoPiTakesTheOtherHalfOfTheOrbit) {
    const BodyPosition b = position_at(100.0, orbit_of(1.5, 0.2, 0.0, 0.0, 0.0, 360.0, 100.0));
    EXPECT_EQ(b.am, kDospi);
    EXPECT_GT(b.f, kPi);
}

TEST(BodyPosition, MassOfMinusOneHoldsTheBodyStill) {
    const Orbit o = orbit_of(1.5, 0.1, 5.0, 10.0, 20.0, 30.0, 100.0, -1.0);
    EXPECT_EQ(o.vn, 0.0);
    const BodyPosition first = position_at(100.0, o);
    const BodyPosition later = position_at(5000.0, o);
    EXPECT_EQ(first.xe, later.xe);
    EXPECT_EQ(first.ye, later.ye);
    EXPECT_EQ(first.ze, later.ze);
}

// The model has a place only for an ellipse: a parabola or hyperbola, a semi-major axis of 0 or less (an
// infinite or NaN mean motion), a mass below -1 or any value that is not finite gives a body with no
// mean anomaly and no position, its distance from the Sun included (and the reduction does not loop).
TEST(BodyPosition, OrbitsThatAreNoEllipseHaveNoPosition) {
    const double nan = std::nan(""), inf = HUGE_VAL;
    const struct {
        const char* what;
        Orbit orbit;
    } cases[] = {
        {"a = 0", orbit_of(0.0, 0.1, 5.0, 10.0, 20.0, 30.0, 100.0)},
        {"a < 0", orbit_of(-1.0, 0.1, 5.0, 10.0, 20.0, 30.0, 100.0)},
        {"a infinite", orbit_of(inf, 0.1, 5.0, 10.0, 20.0, 30.0, 100.0)},
        {"e = 1", orbit_of(1.5, 1.0, 5.0, 10.0, 20.0, 30.0, 100.0)},
        {"e = 1.2", orbit_of(1.5, 1.2, 5.0, 10.0, 20.0, 30.0, 100.0)},
        {"e = -1", orbit_of(1.5, -1.0, 5.0, 10.0, 20.0, 30.0, 100.0)},
        {"e NaN", orbit_of(1.5, nan, 5.0, 10.0, 20.0, 30.0, 100.0)},
        {"node infinite", orbit_of(1.5, 0.1, 5.0, 10.0, inf, 30.0, 100.0)},
        {"mass below -1", orbit_of(1.5, 0.1, 5.0, 10.0, 20.0, 30.0, 100.0, -2.0)},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(c.orbit.ellipse) << c.what;
        const BodyPosition b = position_at(101.0, c.orbit);
        for (const double value : {b.am, b.aex, b.r, b.f, b.xe, b.ye, b.ze}) {
            EXPECT_TRUE(std::isnan(value)) << c.what << ": " << value;
        }
    }
}

// Where the described arc cosine has no value or is off (a circle, 0 / 0; a row exactly at perihelion,
// whose argument rounding puts on either side of 1; an eccentricity so small that the argument's rounding
// is most of it), the true anomaly comes from the eccentric anomaly: exactly 0 at perihelion, the mean
// anomaly itself on a circle, and M + 2 e sin M to first order on a nearly circular orbit.
TEST(BodyPosition, CirclesNearCirclesAndPerihelionRowsHaveTheirPlace) {
    for (const double e : {0.0933941, 0.2, 0.5, 0.9, 0.99, 0.999898}) {
        const BodyPosition b = position_at(100.0, orbit_of(1.5, e, 5.0, 10.0, 20.0, 0.0, 100.0));
        EXPECT_EQ(b.f, 0.0) << "perihelion, e " << e;
        EXPECT_EQ(b.r, (1.0 - e) * 1.5) << "perihelion, e " << e;
    }
    for (const double e : {0.0, 1e-12, 1e-9, -1e-9}) {
        const BodyPosition b = position_at(117.0, orbit_of(1.5, e, 5.0, 10.0, 20.0, 30.0, 100.0));
        ASSERT_TRUE(std::isfinite(b.f)) << e;
        EXPECT_NEAR(b.f, b.am + (2.0 * e * std::sin(b.am)), 4e-16) << e;
        EXPECT_NEAR(std::sqrt(((b.xe * b.xe) + (b.ye * b.ye)) + (b.ze * b.ze)), b.r, 1e-15) << e;
    }
}

}  // namespace
