#include "ephemeris/apparent_place.hpp"

#include <cmath>

namespace {

// Everything after the passage to the equator; xg, yg, zg is the observer-target vector in the ecliptic
// frame and xf, yf, zf the same vector in the equatorial frame.
ApparentPlace observed(const BodyPosition& target, const BodyPosition& observer, double xg, double yg, double zg,
                       double delta, double xf, double yf, double zf, double pi, double dospi) {
    const double xe2 = target.xe, ye2 = target.ye, ze2 = target.ze, r2 = target.r;
    const double xe1 = observer.xe, ye1 = observer.ye, ze1 = observer.ze, r1 = observer.r;
    ApparentPlace place{};
    place.delta = delta;

    const double dec = std::asin(zf / delta);
    double ar = std::acos((xf / delta) / std::cos(dec));
    if (yf < 0.0) {
        ar = dospi - ar;
    }
    place.gdec = (dec * 180.0) / pi;
    place.har = ((ar * 180.0) / pi) / 15.0;

    // The observer's position vector points away from the Sun, hence the sign changed last.
    const double coselo = -((((xe1 * xg) + (ye1 * yg)) + (ze1 * zg)) / r1 / delta);
    place.elong = (std::acos(coselo) * 180.0) / pi;

    const double cafase = ((((xe2 * xg) + (ye2 * yg)) + (ze2 * zg)) / r2) / delta;
    place.afase = (std::acos(cafase) * 180.0) / pi;
    place.fase = (1.0 + cafase) / 2.0;
    return place;
}

double distance(double xg, double yg, double zg) { return std::sqrt(((xg * xg) + (yg * yg)) + (zg * zg)); }

}  // namespace

ApparentPlace apparent_place(const BodyPosition& target, const BodyPosition& observer, double obli, double pi,
                             double dospi) {
    double xg = target.xe - observer.xe;
    double yg = target.ye - observer.ye;
    double zg = target.ze - observer.ze;
    const double delta = distance(xg, yg, zg);
    double minus_obli = -obli;
    double xf, yf, zf;
    rotax(xg, yg, zg, minus_obli, xf, yf, zf);
    return observed(target, observer, xg, yg, zg, delta, xf, yf, zf, pi, dospi);
}

ApparentPlace apparent_place_fast(const BodyPosition& target, const BodyPosition& observer, const AxisTurn& equator,
                                  double pi, double dospi) {
    const double xg = target.xe - observer.xe;
    const double yg = target.ye - observer.ye;
    const double zg = target.ze - observer.ze;
    const double delta = distance(xg, yg, zg);
    double xf, yf, zf;
    rotax_cs(xg, yg, zg, equator, xf, yf, zf);
    return observed(target, observer, xg, yg, zg, delta, xf, yf, zf, pi, dospi);
}
