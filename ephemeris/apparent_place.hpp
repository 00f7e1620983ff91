#pragma once

#include "ephemeris/orbit.hpp"

// What the observer body sees of the target body: a purely geometric place (no light-time, aberration,
// precession or parallax), referred to the equator through a fixed obliquity.
struct ApparentPlace {
    double delta;  // observer-target distance (AU)
    double gdec;   // declination (degrees, -90 to 90)
    double har;    // right ascension (hours, 0 to 24)
    double elong;  // elongation: angle at the observer between Sun and target (degrees, 0 to 180)
    double afase;  // phase angle: angle at the target between Sun and observer (degrees, 0 to 180)
    double fase;   // illuminated fraction of the target's disc (0 to 1)
};

// Apparent place and illumination of the target.
//   given: target and observer positions (their r from the eccentric anomaly, not recomputed from
//          the vector), obli (radians), pi and dospi as formed by the driver
//   returns: the six observed quantities
// Nothing is clamped before acos or asin: a cosine that rounding puts outside -1..1 gives NaN, and two
// bodies at one point give a zero delta and NaN for everything else.
// The passage to the equator is rotax by -obli, its sine and cosine taken at every call.
ApparentPlace apparent_place(const BodyPosition& target, const BodyPosition& observer, double obli, double pi,
                             double dospi);

// The same bits with the cosine and sine of the passage formed once: equator = axis_turn(-obli).
ApparentPlace apparent_place_fast(const BodyPosition& target, const BodyPosition& observer, const AxisTurn& equator,
                                  double pi, double dospi);

// places[k] = apparent_place_fast(targets[k], observers[k], equator, pi, dospi) for count rows (at most
// kMaxPlaces), each step taken across the rows before the next.
inline constexpr int kMaxPlaces = 16;
void apparent_places_fast(const BodyPosition* targets, const BodyPosition* observers, int count,
                          const AxisTurn& equator, double pi, double dospi, ApparentPlace* places);
