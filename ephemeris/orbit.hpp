#pragma once

#include <array>
#include <cstdint>

// Two-body orbit position: Kepler's equation and the two axis rotations.
// Every argument is passed by reference and the results come back through the output arguments, so a
// caller reads each call exactly as the formula on paper.
//
// Each costly step exists twice: a literal form that carries out every pass as written, and a fast form
// that skips work whose outcome is already known and gives the same bits. A build with EPHEM_LITERAL
// defined runs the literal forms everywhere; it is the reference the fast forms are measured against.

#ifdef EPHEM_LITERAL
inline constexpr bool kLiteralPath = true;
#else
inline constexpr bool kLiteralPath = false;
#endif

// The number of passes of Kepler's iteration.
inline constexpr int kKeplerPasses = 100;

// Solves Kepler's equation by 100 fixed iterations from the mean anomaly.
//   given:    exce      eccentricity
//             anomedia  mean anomaly (radians)
//   returned: anomex    eccentric anomaly (radians)
// There is no convergence test: for eccentricities near or above 1 the 100th iterate is returned as it is.
// The fast or the literal form, as the build chooses.
void kepler(double& exce, double& anomedia, double& anomex);

// The 100 passes, one after another.
void kepler_literal(double& exce, double& anomedia, double& anomex);

// The 100th iterate without the passes that cannot change it: each iterate is a fixed function of the
// one before, so once an iterate repeats its predecessor (a fixed point) or the iterate two passes back
// (a two-cycle), every later iterate is known. Bit for bit the result of kepler_literal.
void kepler_fast(double& exce, double& anomedia, double& anomex);

// kepler_fast on up to kMaxKeplerLanes independent chains at once, pass by pass: a sine costs far less
// while others are in flight than while the next pass waits for it. Lane k gives the bits of
// kepler_fast(exce[k], anomedia[k], anomex[k]).
inline constexpr int kMaxKeplerLanes = 16;
void kepler_lanes(const double* exce, const double* anomedia, double* anomex, int lanes);

// Rotates the coordinate frame by ang about the x axis.
//   given:    xi, yi, zi  vector in the old frame
//             ang         angle (radians)
//   returned: xf, yf, zf  the same vector in the turned frame
// The outputs must be variables distinct from the inputs.
void rotax(double& xi, double& yi, double& zi, double& ang, double& xf, double& yf, double& zf);

// Rotates the coordinate frame by ang about the z axis; arguments as for rotax.
void rotaz(double& xi, double& yi, double& zi, double& ang, double& xf, double& yf, double& zf);

// The cosine and sine of a fixed rotation angle, formed once and used for every row.
struct AxisTurn {
    double cosang;
    double sinang;
};
AxisTurn axis_turn(double ang);

// rotax and rotaz with the cosine and sine of the angle given: the same products in the same order, so
// the same bits as rotax(..., ang, ...) and rotaz(..., ang, ...) with turn = axis_turn(ang).
void rotax_cs(const double& xi, const double& yi, const double& zi, const AxisTurn& turn, double& xf, double& yf,
              double& zf);
void rotaz_cs(const double& xi, const double& yi, const double& zi, const AxisTurn& turn, double& xf, double& yf,
              double& zf);

// The orbit of one body with its angles in radians and its two orbit constants.
struct Orbit {
    double a;     // semi-major axis (AU)
    double e;     // eccentricity
    double ync;   // inclination (radians)
    double w;     // argument of perihelion (radians)
    double od;    // longitude of the ascending node (radians)
    double ame;   // mean anomaly at the epoch (radians)
    double t;     // epoch (days)
    double vn;    // mean motion (radians per day)
    double p;     // semi-latus rectum (AU)
};

// The three rotations that take an orbit's plane to the ecliptic, by -w, -ync and -od.
struct OrbitTurns {
    AxisTurn w;
    AxisTurn ync;
    AxisTurn od;
};
OrbitTurns orbit_turns(const Orbit& orbit);

// Where one body stands at one time.
struct BodyPosition {
    double am;    // mean anomaly reduced to one turn (radians, 0 to 2 pi)
    double aex;   // eccentric anomaly (radians)
    double r;     // distance from the Sun (AU), from the eccentric anomaly
    double f;     // true anomaly (radians)
    double xe, ye, ze;  // heliocentric ecliptic position (AU)
};

// Reduces a mean anomaly to 0..dospi by repeated rounded steps of dospi (dospi = pi + pi).
//   given: am (radians), dospi (radians)
//   returns: the reduced value; NaN stays NaN
// A step of dospi no longer changes a magnitude above 2^56, so the steps would never end there: such a
// value, and an infinite one, becomes NaN. Every other value is reduced, 2^56 itself included.
inline constexpr double kMaxReducible = 0x1p56;
double reduce_mean_anomaly(double am, double dospi);

// What the steps of dospi do to a value whose binary exponent is shift above dospi's (1 to
// kMaxTurnShift); see skip_turns in orbit.cpp. In units of the value's last place: dospi is m plus a
// fraction, each step takes away c (when the fraction is exactly one half, c holds for an even value
// only), and g is 1 when the fraction is not zero. inverse is 1 / c, for predicting a count of steps.
struct TurnRange {
    int64_t m;
    int64_t c;
    int64_t g;
    bool tie;
    double inverse;
};
inline constexpr int kMaxTurnShift = 60;
TurnRange turn_range(int shift, double dospi);

// room / range.c (room from 0 to 2^53, range.c at least 1) without a division.
int64_t quotient_of_steps(int64_t room, const TurnRange& range);

// The ranges of one dospi, formed once per run.
struct TurnSteps {
    double dospi;
    std::array<TurnRange, kMaxTurnShift + 1> ranges;  // by shift; ranges[0] is not used
};
TurnSteps turn_steps(double dospi);

// reduce_mean_anomaly_fast(am, steps.dospi), bit for bit, with the constants of each range looked up.
double reduce_mean_anomaly_steps(double am, const TurnSteps& steps);

// reduce_mean_anomaly_steps on up to kMaxKeplerLanes values at once, in place, a range of each open
// value before the next range of any: the reductions of a batch of rows do not wait for each other.
void reduce_mean_anomaly_lanes(double* am, int lanes, const TurnSteps& steps);

// One step of dospi at a time: the cost grows with the number of turns.
double reduce_mean_anomaly_literal(double am, double dospi);

// The same value at a cost independent of the number of turns: the steps inside one binary exponent
// range all take away the same amount, so they are counted instead of taken.
double reduce_mean_anomaly_fast(double am, double dospi);

// Position of one body at tiempo (days) by the two-body model.
//   given:    tiempo (days), orbit, pi and dospi as formed by the driver
//   returned: the reduced mean anomaly, eccentric anomaly, radius, true anomaly and ecliptic position
// The fast or the literal form, as the build chooses.
BodyPosition body_position(double tiempo, const Orbit& orbit, double pi, double dospi);

// Every step as written: the literal reduction, 100 passes of kepler, sine and cosine in each rotation.
BodyPosition body_position_literal(double tiempo, const Orbit& orbit, double pi, double dospi);

// The same bits with the fast reduction and kepler and the rotations of turns = orbit_turns(orbit).
BodyPosition body_position_fast(double tiempo, const Orbit& orbit, const OrbitTurns& turns, double pi,
                                double dospi);

// body_position_fast in its stages, so that a batch of rows can take each stage across the batch: the
// mean anomaly at tiempo (days) before its reduction, then the reduction and kepler, then the position
// from the two anomalies (radians).
double unreduced_mean_anomaly(double tiempo, const Orbit& orbit);
BodyPosition body_position_from_anomalies(const Orbit& orbit, const OrbitTurns& turns, double am, double aex,
                                          double pi, double dospi);
// b[k] = body_position_from_anomalies(orbit, turns, am[k], aex[k], pi, dospi) for lanes lanes of one
// orbit, each step taken across all the lanes before the next.
void body_positions_from_anomalies(const Orbit& orbit, const OrbitTurns& turns, const double* am,
                                   const double* aex, int lanes, double pi, double dospi, BodyPosition* b);
