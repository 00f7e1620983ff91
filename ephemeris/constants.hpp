#pragma once

#include <cmath>

// The constants of the model, the same for every run, and the formulas of the orbit constants that a run
// forms once from each orbit's elements.

// Formed in this order, each from the ones before.
struct ModelConstants {
    double gauss;  // Gaussian gravitational constant: lengths in AU, times in days, masses in solar masses
    double pi;     // the double nearest to pi
    double dospi;  // two pi
    double obli;   // obliquity of the ecliptic, 23.439291 degrees (radians); fixed, not a function of time
};

inline ModelConstants model_constants() {
    ModelConstants c{};
    c.gauss = 0.01720209895;
    c.pi = std::atan(1.0) * 4.0;
    c.dospi = c.pi + c.pi;
    c.obli = (c.pi * 23.439291) / 180.0;
    return c;
}

// An angle of the input (degrees) in radians.
inline double radians(double degrees, double pi) { return (degrees * pi) / 180.0; }

// Mean motion (radians per day) from the semi-major axis a (AU) and the mass asam (solar masses): the
// quotient is formed first, then scaled by the mass term, both powers by pow.
inline double mean_motion(double gauss, double a, double asam) {
    return std::pow((1.0 + asam), 0.5) * (gauss / std::pow(a, 1.5));
}

// Semi-latus rectum (AU) from the eccentricity e and the semi-major axis a (AU).
inline double semi_latus_rectum(double e, double a) { return (1.0 - (e * e)) * a; }
