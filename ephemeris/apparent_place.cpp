#include "ephemeris/apparent_place.hpp"

#include <cmath>

namespace {

// The observer-target vector in the ecliptic frame (xg, yg, zg) and in the equatorial frame (xf, yf, zf),
// and its length.
struct Sighting {
    double xg, yg, zg;
    double delta;
    double xf, yf, zf;
};

// The vector and its length; the passage to the equator is the caller's.
Sighting sighting(const BodyPosition& target, const BodyPosition& observer) {
    Sighting s{};
    s.xg = target.xe - observer.xe;
    s.yg = target.ye - observer.ye;
    s.zg = target.ze - observer.ze;
    s.delta = std::sqrt(((s.xg * s.xg) + (s.yg * s.yg)) + (s.zg * s.zg));
    return s;
}

// A cosine or sine that rounding has put just outside -1..1 is brought back to the bound. The operands are
// vectors and lengths that agree to a few roundings each (the dot product of two vectors over the product
// of their lengths, a coordinate over the vector's length), so rounding alone stays within 64 units of
// the last place of 1; anything farther out is a broken geometry and stays NaN under the arc cosine.
double within_bounds(double c) {
    constexpr double kSlack = 0x1p-47;  // 64 units of 2^-53
    if (std::fabs(c) > 1.0 && std::fabs(c) <= 1.0 + kSlack) {
        return std::copysign(1.0, c);
    }
    return c;
}

// The steps after the passage to the equator, each a function of the ones before; both forms take them
// in this order.
double declination(const Sighting& s) { return std::asin(within_bounds(s.zf / s.delta)); }

// A zero yf of either sign does not count as negative: the place is then near 0 h or 12 h, never 24 h.
// Where the described arc cosine has no value although the place has a direction (rounding near 0 h or
// 12 h, or a quotient by a tiny cos(dec) near a pole), the angle of (xf, yf) in the equator's plane; a
// place with no such direction (xf and yf both 0: at a pole, or no distance) has no right ascension.
double right_ascension(const Sighting& s, double dec, double dospi) {
    double ar = std::acos((s.xf / s.delta) / std::cos(dec));
    if (s.yf < 0.0) {
        ar = dospi - ar;
    }
    if (std::isnan(ar) && (s.xf != 0.0 || s.yf != 0.0)) {
        ar = std::atan2(s.yf + 0.0, s.xf);  // + 0.0 makes a zero yf positive, as the rule above takes it
        if (ar < 0.0) {
            ar = ar + dospi;
        }
    }
    return ar;
}

void equatorial_place(const Sighting& s, double dec, double pi, double dospi, ApparentPlace& place) {
    const double ar = right_ascension(s, dec, dospi);
    place.gdec = (dec * 180.0) / pi;
    place.har = ((ar * 180.0) / pi) / 15.0;
}

// The angle (degrees) whose cosine is c.
double degrees_of_arc_cosine(double c, double pi) { return (std::acos(c) * 180.0) / pi; }

void illumination(const BodyPosition& target, const BodyPosition& observer, const Sighting& s, double pi,
                  ApparentPlace& place) {
    const double xe2 = target.xe, ye2 = target.ye, ze2 = target.ze, r2 = target.r;
    const double xe1 = observer.xe, ye1 = observer.ye, ze1 = observer.ze, r1 = observer.r;
    const double xg = s.xg, yg = s.yg, zg = s.zg, delta = s.delta;
    place.delta = delta;

    // The observer's position vector points away from the Sun, hence the sign changed last.
    const double coselo = within_bounds(-((((xe1 * xg) + (ye1 * yg)) + (ze1 * zg)) / r1 / delta));
    place.elong = degrees_of_arc_cosine(coselo, pi);

    const double cafase = within_bounds(((((xe2 * xg) + (ye2 * yg)) + (ze2 * zg)) / r2) / delta);
    place.afase = degrees_of_arc_cosine(cafase, pi);
    // From the cosine, not from the angle; the cosine brought within bounds keeps it within 0..1.
    place.fase = (1.0 + cafase) / 2.0;
}

}  // namespace

ApparentPlace apparent_place(const BodyPosition& target, const BodyPosition& observer, double obli, double pi,
                             double dospi) {
    Sighting s = sighting(target, observer);
    double minus_obli = -obli;
    rotax(s.xg, s.yg, s.zg, minus_obli, s.xf, s.yf, s.zf);
    ApparentPlace place{};
    equatorial_place(s, declination(s), pi, dospi, place);
    illumination(target, observer, s, pi, place);
    return place;
}

void apparent_places(const BodyPosition* targets, const BodyPosition* observers, int count, const AxisTurn& equator,
                     double pi, double dospi, ApparentPlace* places) {
    Sighting sightings[kMaxPlaces];
    double dec[kMaxPlaces];
    for (int k = 0; k < count; ++k) {
        Sighting& s = sightings[k];
        s = sighting(targets[k], observers[k]);
        rotax_fixed(s.xg, s.yg, s.zg, equator, s.xf, s.yf, s.zf);
        dec[k] = declination(s);
        places[k] = ApparentPlace{};
    }
    for (int k = 0; k < count; ++k) {
        equatorial_place(sightings[k], dec[k], pi, dospi, places[k]);
    }
    for (int k = 0; k < count; ++k) {
        illumination(targets[k], observers[k], sightings[k], pi, places[k]);
    }
}
