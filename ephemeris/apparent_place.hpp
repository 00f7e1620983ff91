#pragma once

#include "ephemeris/position.hpp"
#include "ephemeris/rotation.hpp"

// What the observer body sees of the target body: a purely geometric place (no light-time, aberration,
// precession or parallax), referred to the equator through a fixed obliquity. In the literal form (one
// row, the passage to the equator by rotax) and the production form (a batch of rows, each step across
// the batch).
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
// A cosine or sine that rounding alone puts outside -1..1 is taken at the bound, and a right ascension
// whose arc cosine has no value comes from the angle of the place in the equator's plane; what has no
// answer stays NaN: two bodies at one point give a zero delta and NaN for everything else.
ApparentPlace apparent_place(const BodyPosition& target, const BodyPosition& observer, double obli, double pi,
                             double dospi);

// places[k] has the bits of apparent_place(targets[k], observers[k], obli, pi, dospi) for count rows (at
// most kMaxPlaces), with the cosine and sine of the passage to the equator formed once: equator =
// axis_turn(-obli).
inline constexpr int kMaxPlaces = 16;
void apparent_places(const BodyPosition* targets, const BodyPosition* observers, int count, const AxisTurn& equator,
                     double pi, double dospi, ApparentPlace* places);
