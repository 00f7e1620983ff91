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

// The steps after the passage to the equator. Each is a function of the ones before, so that a batch of
// rows can take each across the batch.
double declination(const Sighting& s) { return std::asin(s.zf / s.delta); }

void equatorial_place(const Sighting& s, double dec, double pi, double dospi, ApparentPlace& place) {
    double ar = std::acos((s.xf / s.delta) / std::cos(dec));
    if (s.yf < 0.0) {
        ar = dospi - ar;
    }
    place.gdec = (dec * 180.0) / pi;
    place.har = ((ar * 180.0) / pi) / 15.0;
}

void illumination(const BodyPosition& target, const BodyPosition& observer, const Sighting& s, double pi,
                  ApparentPlace& place) {
    const double xe2 = target.xe, ye2 = target.ye, ze2 = target.ze, r2 = target.r;
    const double xe1 = observer.xe, ye1 = observer.ye, ze1 = observer.ze, r1 = observer.r;
    const double xg = s.xg, yg = s.yg, zg = s.zg, delta = s.delta;
    place.delta = delta;

    // The observer's position vector points away from the Sun, hence the sign changed last.
    const double coselo = -((((xe1 * xg) + (ye1 * yg)) + (ze1 * zg)) / r1 / delta);
    place.elong = (std::acos(coselo) * 180.0) / pi;

    const double cafase = ((((xe2 * xg) + (ye2 * yg)) + (ze2 * zg)) / r2) / delta;
    place.afase = (std::acos(cafase) * 180.0) / pi;
    place.fase = (1.0 + cafase) / 2.0;
}

ApparentPlace observed(const BodyPosition& target, const BodyPosition& observer, const Sighting& s, double pi,
                       double dospi) {
    ApparentPlace place{};
    equatorial_place(s, declination(s), pi, dospi, place);
    illumination(target, observer, s, pi, place);
    return place;
}

double distance(double xg, double yg, double zg) { return std::sqrt(((xg * xg) + (yg * yg)) + (zg * zg)); }

Sighting sighting_fast(const BodyPosition& target, const BodyPosition& observer, const AxisTurn& equator) {
    Sighting s{};
    s.xg = target.xe - observer.xe;
    s.yg = target.ye - observer.ye;
    s.zg = target.ze - observer.ze;
    s.delta = distance(s.xg, s.yg, s.zg);
    rotax_cs(s.xg, s.yg, s.zg, equator, s.xf, s.yf, s.zf);
    return s;
}

}  // namespace

ApparentPlace apparent_place(const BodyPosition& target, const BodyPosition& observer, double obli, double pi,
                             double dospi) {
    Sighting s{};
    s.xg = target.xe - observer.xe;
    s.yg = target.ye - observer.ye;
    s.zg = target.ze - observer.ze;
    s.delta = distance(s.xg, s.yg, s.zg);
    double minus_obli = -obli;
    rotax(s.xg, s.yg, s.zg, minus_obli, s.xf, s.yf, s.zf);
    return observed(target, observer, s, pi, dospi);
}

ApparentPlace apparent_place_fast(const BodyPosition& target, const BodyPosition& observer, const AxisTurn& equator,
                                  double pi, double dospi) {
    return observed(target, observer, sighting_fast(target, observer, equator), pi, dospi);
}

void apparent_places_fast(const BodyPosition* targets, const BodyPosition* observers, int count,
                          const AxisTurn& equator, double pi, double dospi, ApparentPlace* places) {
    Sighting sightings[kMaxPlaces];
    double dec[kMaxPlaces];
    for (int k = 0; k < count; ++k) {
        sightings[k] = sighting_fast(targets[k], observers[k], equator);
        dec[k] = declination(sightings[k]);
        places[k] = ApparentPlace{};
    }
    for (int k = 0; k < count; ++k) {
        equatorial_place(sightings[k], dec[k], pi, dospi, places[k]);
    }
    for (int k = 0; k < count; ++k) {
        illumination(targets[k], observers[k], sightings[k], pi, places[k]);
    }
}
