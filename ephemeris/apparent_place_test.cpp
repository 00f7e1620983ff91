#include "ephemeris/apparent_place.hpp"

#include <cmath>

#include <gtest/gtest.h>

#include "ephemeris/test_support.hpp"

namespace {

const double kPi = kModel.pi;
const double kDospi = kModel.dospi;
const double kObli = kModel.obli;

BodyPosition at(double x, double y, double z) {
    BodyPosition b{};
    b.xe = x;
    b.ye = y;
    b.ze = z;
    b.r = std::sqrt(((x * x) + (y * y)) + (z * z));
    return b;
}

// The literal place, checked against the production steps on a batch of one row.
ApparentPlace seen(const BodyPosition& target, const BodyPosition& observer) {
    const ApparentPlace literal = apparent_place(target, observer, kObli, kPi, kDospi);
    ApparentPlace production{};
    apparent_places(&target, &observer, 1, axis_turn(-kObli), kPi, kDospi, &production);
    EXPECT_SAME_BITS(production.delta, literal.delta, "delta");
    EXPECT_SAME_BITS(production.gdec, literal.gdec, "gdec");
    EXPECT_SAME_BITS(production.har, literal.har, "har");
    EXPECT_SAME_BITS(production.elong, literal.elong, "elong");
    EXPECT_SAME_BITS(production.afase, literal.afase, "afase");
    EXPECT_SAME_BITS(production.fase, literal.fase, "fase");
    return literal;
}

// Mars from the Earth at 2451545.0.
TEST(ApparentPlace, WorkedPassGivesTheKnownRow) {
    const BodyPosition target = body_position(2451545.0, mars(), kPi, kDospi);
    const ApparentPlace p = seen(target, body_position(2451545.0, earth(), kPi, kDospi));
    // Nine-digit values; the tolerance allows for the last bits of the host's elementary functions.
    EXPECT_NEAR(p.har, 22.0352961, 1e-7);
    EXPECT_NEAR(p.gdec, -13.1786492, 1e-7);
    EXPECT_NEAR(target.r, 1.39115922, 1e-8);
    EXPECT_NEAR(p.delta, 1.84956441, 1e-8);
    EXPECT_NEAR(p.elong, 47.6050457, 1e-7);
    EXPECT_NEAR(p.afase, 31.4665953, 1e-7);
    EXPECT_NEAR(p.fase, 0.926472324, 1e-9);
}

struct GeometryCase {
    const char* protects;
    BodyPosition target;
    double elong, afase, fase;
};

// The observer stands at (1, 0, 0): the Sun is behind it along -x.
TEST(ApparentPlace, ElongationAndPhaseInLineWithTheSun) {
    const BodyPosition observer = at(1.0, 0.0, 0.0);
    const GeometryCase cases[] = {
        {"opposition: target opposite the Sun, fully lit", at(2.0, 0.0, 0.0), 180.0, 0.0, 1.0},
        {"conjunction: target beyond the Sun, fully lit", at(-2.0, 0.0, 0.0), 0.0, 0.0, 1.0},
        {"inferior conjunction: target between, dark side towards us", at(0.5, 0.0, 0.0), 0.0, 180.0, 0.0},
    };
    for (const GeometryCase& c : cases) {
        const ApparentPlace p = seen(c.target, observer);
        EXPECT_EQ(p.elong, c.elong) << c.protects;
        EXPECT_EQ(p.afase, c.afase) << c.protects;
        EXPECT_EQ(p.fase, c.fase) << c.protects;
    }
}

TEST(ApparentPlace, QuadratureIsHalfLit) {
    // Target at (1, 1, 0): seen at 90 degrees from the Sun; at the target the angle is 45 degrees.
    const ApparentPlace p = seen(at(1.0, 1.0, 0.0), at(1.0, 0.0, 0.0));
    EXPECT_NEAR(p.elong, 90.0, 1e-12);
    EXPECT_NEAR(p.afase, 45.0, 1e-12);
    EXPECT_NEAR(p.fase, (1.0 + std::sqrt(0.5)) / 2.0, 1e-15);
}

TEST(ApparentPlace, TargetAtTheEquinoxOnTheEclipticIsAtTheOrigin) {
    const ApparentPlace p = seen(at(2.0, 0.0, 0.0), at(1.0, 0.0, 0.0));
    EXPECT_EQ(p.gdec, 0.0);
    EXPECT_EQ(p.har, 0.0);
    EXPECT_EQ(p.delta, 1.0);
}

TEST(ApparentPlace, BothBodiesAtOnePointGiveZeroDistanceAndNaN) {
    const ApparentPlace p = seen(at(1.0, 0.5, 0.25), at(1.0, 0.5, 0.25));
    EXPECT_EQ(p.delta, 0.0);
    for (const double value : {p.gdec, p.har, p.elong, p.afase, p.fase}) {
        EXPECT_TRUE(std::isnan(value)) << value;
    }
}

TEST(ApparentPlace, NegativeEquatorialYPutsTheRightAscensionPastTwelveHours) {
    const ApparentPlace p = seen(at(1.0, -1.0, 0.0), at(0.0, 0.0, 1.0));
    EXPECT_GT(p.har, 12.0);
    EXPECT_LT(p.har, 24.0);
    const ApparentPlace mirrored = seen(at(1.0, 1.0, 0.0), at(0.0, 0.0, 1.0));
    EXPECT_LT(mirrored.har, 12.0);
}

// Places where the described arc cosines or arc sine have no value because rounding alone put their
// argument just outside -1..1 (found by search; the quotient in brackets is the one that left the range),
// and one where the argument is far outside because the distance from the Sun disagrees with the vector.
TEST(ApparentPlace, RoundingOutsideTheBoundsKeepsThePlaceAndNothingElseIsClamped) {
    const BodyPosition sun_side = at(1.0, 0.0, 0.0);
    // (xf / delta) / cos(dec) = 1 + 2 ulp, yf = -1.4e-17: at 0 h, coming from 24 h.
    const ApparentPlace before_0h = seen(at(1.5675730206841174, -0.1015811420121223, -0.234299216900752), sun_side);
    EXPECT_GT(before_0h.har, 24.0 - 1e-12);
    EXPECT_LE(before_0h.har, 24.0);
    // The same quotient 1 + 4 ulp with yf = 0: at 0 h exactly.
    const ApparentPlace at_0h = seen(at(1.7912386248067675, -0.5626823351039785, -1.297839617347636), sun_side);
    EXPECT_EQ(at_0h.har, 0.0);
    // At the pole to rounding (zf / delta = 1, the quotient by cos(dec) 1.6e7): the direction of the
    // 1e-9 AU offset (1, 2) in the equator's plane.
    const ApparentPlace pole = seen(at(1.000000001, 0.3977771559876464, 0.9174820620450188), sun_side);
    EXPECT_EQ(pole.gdec, 90.0);
    EXPECT_NEAR(pole.har, std::atan2(2.0, 1.0) * 12.0 / kPi, 1e-6);
    // Opposition on a line through the Sun (the cosine of the elongation -1 - 2 ulp).
    const ApparentPlace opposition = seen(at(-0.09002579492489547, 0.8695875238693621, 0.28524967528919465),
                                          at(-0.056531837414321995, 0.5460588330035532, 0.17912297558038603));
    EXPECT_EQ(opposition.elong, 180.0);
    EXPECT_EQ(opposition.afase, 0.0);
    EXPECT_EQ(opposition.fase, 1.0);
    // A distance from the Sun 25 % short of the vector's length: the phase angle's cosine is 1.33.
    BodyPosition broken = at(2.0, 0.0, 0.0);
    broken.r = 1.5;
    EXPECT_TRUE(std::isnan(seen(broken, sun_side).afase));
}

}  // namespace
