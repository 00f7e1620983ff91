#pragma once

// Two-body orbit position: Kepler's equation and the two axis rotations.
// Every argument is passed by reference and the results come back through the output arguments, so a
// caller reads each call exactly as the formula on paper.

// Solves Kepler's equation by 100 fixed iterations from the mean anomaly.
//   given:    exce      eccentricity
//             anomedia  mean anomaly (radians)
//   returned: anomex    eccentric anomaly (radians)
// There is no convergence test: for eccentricities near or above 1 the 100th iterate is returned as it is.
void kepler(double& exce, double& anomedia, double& anomex);

// Rotates the coordinate frame by ang about the x axis.
//   given:    xi, yi, zi  vector in the old frame
//             ang         angle (radians)
//   returned: xf, yf, zf  the same vector in the turned frame
// The outputs must be variables distinct from the inputs.
void rotax(double& xi, double& yi, double& zi, double& ang, double& xf, double& yf, double& zf);

// Rotates the coordinate frame by ang about the z axis; arguments as for rotax.
void rotaz(double& xi, double& yi, double& zi, double& ang, double& xf, double& yf, double& zf);

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

// Where one body stands at one time.
struct BodyPosition {
    double am;    // mean anomaly reduced to one turn (radians, 0 to 2 pi)
    double aex;   // eccentric anomaly (radians)
    double r;     // distance from the Sun (AU), from the eccentric anomaly
    double f;     // true anomaly (radians)
    double xe, ye, ze;  // heliocentric ecliptic position (AU)
};

// Reduces a mean anomaly to 0..dospi by repeated rounded steps of dospi.
//   given: am (radians), dospi (radians)
//   returns: the reduced value; NaN stays NaN
// A step no longer changes a value from 2^56 on, and far below that the steps take too long, so a value
// that is not finite or whose magnitude exceeds kMaxReducible becomes NaN instead of looping.
inline constexpr double kMaxReducible = 1.0e9;
double reduce_mean_anomaly(double am, double dospi);

// Position of one body at tiempo (days) by the two-body model.
//   given:    tiempo (days), orbit, pi and dospi as formed by the driver
//   returned: the reduced mean anomaly, eccentric anomaly, radius, true anomaly and ecliptic position
BodyPosition body_position(double tiempo, const Orbit& orbit, double pi, double dospi);
