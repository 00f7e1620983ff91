#include "ephemeris/apparent_place.hpp"

#include <cmath>

ApparentPlace apparent_place(const BodyPosition& target, const BodyPosition& observer, double obli, double pi,
                             double dospi) {
    const double xe2 = target.xe, ye2 = target.ye, ze2 = target.ze, r2 = target.r;
    const double xe1 = observer.xe, ye1 = observer.ye, ze1 = observer.ze, r1 = observer.r;
    ApparentPlace place{};

    double xg = xe2 - xe1;
    double yg = ye2 - ye1;
    double zg = ze2 - ze1;
    place.delta = std::sqrt(((xg * xg) + (yg * yg)) + (zg * zg));

    double minus_obli = -obli;
    double xf, yf, zf;
    rotax(xg, yg, zg, minus_obli, xf, yf, zf);

    const double dec = std::asin(zf / place.delta);
    double ar = std::acos((xf / place.delta) / std::cos(dec));
    if (yf < 0.0) {
        ar = dospi - ar;
    }
    place.gdec = (dec * 180.0) / pi;
    place.har = ((ar * 180.0) / pi) / 15.0;

    // The observer's position vector points away from the Sun, hence the sign changed last.
    const double coselo = -((((xe1 * xg) + (ye1 * yg)) + (ze1 * zg)) / r1 / place.delta);
    place.elong = (std::acos(coselo) * 180.0) / pi;

    const double cafase = ((((xe2 * xg) + (ye2 * yg)) + (ze2 * zg)) / r2) / place.delta;
    place.afase = (std::acos(cafase) * 180.0) / pi;
    place.fase = (1.0 + cafase) / 2.0;
    return place;
}
