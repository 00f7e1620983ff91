#pragma once

#include "ephemeris/rotation.hpp"

// Where one body stands at one time by the two-body model, in the literal form (one body, one time,
// every step as written) and the production form (a batch of times of one body, each step across the
// batch).

// The orbit of one body with its angles in radians and its two orbit constants.
struct Orbit {
    double a;    // semi-major axis (AU)
    double e;    // eccentricity
    double ync;  // inclination (radians)
    double w;    // argument of perihelion (radians)
    double od;   // longitude of the ascending node (radians)
    double ame;  // mean anomaly at the epoch (radians)
    double t;    // epoch (days)
    double vn;   // mean motion (radians per day)
    double p;    // semi-latus rectum (AU)
    // Formed from the values above by make_orbit:
    bool ellipse;       // an orbit the model can place: every value finite, a > 0 and |e| < 1
    double acos_limit;  // the largest |cos f| whose arc cosine keeps the true anomaly within 0.005"
};

// The orbit of one body from its elements (angles in radians) and its two orbit constants, vn and p.
Orbit make_orbit(double a, double e, double ync, double w, double od, double ame, double t, double vn, double p);

// The three rotations that take an orbit's plane to the ecliptic, by -w, -ync and -od.
struct OrbitTurns {
    AxisTurn w;
    AxisTurn ync;
    AxisTurn od;
};

// Where one body stands at one time.
struct BodyPosition {
    double am;          // mean anomaly reduced to one turn (radians, 0 to 2 pi)
    double aex;         // eccentric anomaly (radians)
    double r;           // distance from the Sun (AU), from the eccentric anomaly
    double f;           // true anomaly (radians)
    double xe, ye, ze;  // heliocentric ecliptic position (AU)
};

// The mean anomaly at tiempo (days), before its reduction to one turn (radians); NaN for an orbit that is
// not an ellipse (a parabola or hyperbola, a semi-major axis of 0 or less, a value that is not finite).
// The model has no place for such a body: both forms give it a position of NaN values, r included.
double mean_anomaly(double tiempo, const Orbit& orbit);

// The literal position of one body at tiempo (days): the mean anomaly reduced one step at a time, 100
// passes of kepler, and the three rotations by rotaz, rotax and rotaz.
//   given:    tiempo (days), orbit, pi and dospi as formed by the driver
//   returned: the reduced mean anomaly, eccentric anomaly, radius, true anomaly and ecliptic position
BodyPosition body_position(double tiempo, const Orbit& orbit, double pi, double dospi);

// The production positions of one body at lanes times, from their reduced mean anomalies am[k] and
// eccentric anomalies aex[k] (radians), with the rotations of turns (the cosines and sines of -w, -ync
// and -od): b[k] has the bits of body_position at that time. Each step is taken across all the lanes
// before the next, so that their cosines and arc cosines do not wait for each other.
void body_positions(const Orbit& orbit, const OrbitTurns& turns, const double* am, const double* aex, int lanes,
                    double pi, double dospi, BodyPosition* b);
