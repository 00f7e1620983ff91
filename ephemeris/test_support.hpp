#pragma once

#include <bit>
#include <cstdint>

#include "ephemeris/constants.hpp"
#include "ephemeris/position.hpp"

// What the tests and benchmarks of the computation share: the model's constants, orbits formed from
// elements in degrees as the driver forms them, and exact comparison.

inline const ModelConstants kModel = model_constants();

inline Orbit orbit_of(double a, double e, double ync, double w, double od, double ame, double t, double asam = 0.0) {
    const double pi = kModel.pi;
    return make_orbit(a, e, radians(ync, pi), radians(w, pi), radians(od, pi), radians(ame, pi), t,
                      mean_motion(kModel.gauss, a, asam), semi_latus_rectum(e, a));
}

// Mars and the Earth-Moon barycentre by their J2000 mean elements (the shipped example), and a comet of
// eccentricity 0.967 on a retrograde orbit.
inline Orbit mars() {
    return orbit_of(1.52371034, 0.0933941, 1.84969142, 286.4968315, 49.55953891, 19.3903, 2451545.0);
}
inline Orbit earth() {
    return orbit_of(1.00000261, 0.01671123, -0.00001531, 102.93768193, 0.0, -2.47311027, 2451545.0);
}
inline Orbit comet() { return orbit_of(17.834, 0.96714, 162.26, 111.33, 58.42, 38.38, 2446467.4); }

inline uint64_t bits(double x) { return std::bit_cast<uint64_t>(x); }

// Exact agreement of the production form with the literal one, NaN payload and the sign of zero included.
#define EXPECT_SAME_BITS(production, literal, what) \
    EXPECT_EQ(bits(production), bits(literal)) << (what) << ": " << (production) << " against " << (literal)
