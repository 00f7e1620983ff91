#include "ephemeris/position.hpp"

#include <cmath>

#include "ephemeris/kepler.hpp"
#include "ephemeris/reduction.hpp"

namespace {

// The steps from the two anomalies to the position, each a function of the ones before; both forms take
// them in this order.
void radius(const Orbit& o, BodyPosition& b) { b.r = (1.0 - (std::cos(b.aex) * o.e)) * o.a; }

// The arc cosine's argument is not limited to -1..1: rounding can put it just outside at perihelion or
// aphelion, and the true anomaly is then NaN.
void true_anomaly(const Orbit& o, double pi, double dospi, BodyPosition& b) {
    b.f = std::acos(((o.p / b.r) - 1.0) / o.e);
    if (b.am > pi) {
        b.f = dospi - b.f;
    }
}

void position_in_plane(const BodyPosition& b, double& x, double& y, double& z) {
    x = std::cos(b.f) * b.r;
    y = std::sin(b.f) * b.r;
    z = 0.0;
}

// The position in the plane turned to the ecliptic by -w, -ync and -od, one rotation after another.
void ecliptic_position(const OrbitTurns& turns, BodyPosition& b) {
    double x, y, z;
    position_in_plane(b, x, y, z);
    double xp, yp, zp, xr, yr, zr;
    rotaz_fixed(x, y, z, turns.w, xp, yp, zp);
    rotax_fixed(xp, yp, zp, turns.ync, xr, yr, zr);
    rotaz_fixed(xr, yr, zr, turns.od, b.xe, b.ye, b.ze);
}

}  // namespace

double mean_anomaly(double tiempo, const Orbit& orbit) { return ((tiempo - orbit.t) * orbit.vn) + orbit.ame; }

BodyPosition body_position(double tiempo, const Orbit& orbit, double pi, double dospi) {
    Orbit o = orbit;  // kepler takes its arguments by reference
    BodyPosition b{};
    b.am = reduce_mean_anomaly(mean_anomaly(tiempo, o), dospi);
    kepler(o.e, b.am, b.aex);
    radius(o, b);
    true_anomaly(o, pi, dospi, b);
    double x, y, z;
    position_in_plane(b, x, y, z);
    double minus_w = -o.w;
    double minus_ync = -o.ync;
    double minus_od = -o.od;
    double xp, yp, zp, xr, yr, zr;
    rotaz(x, y, z, minus_w, xp, yp, zp);
    rotax(xp, yp, zp, minus_ync, xr, yr, zr);
    rotaz(xr, yr, zr, minus_od, b.xe, b.ye, b.ze);
    return b;
}

void body_positions(const Orbit& orbit, const OrbitTurns& turns, const double* am, const double* aex, int lanes,
                    double pi, double dospi, BodyPosition* b) {
    for (int k = 0; k < lanes; ++k) {
        b[k] = BodyPosition{};
        b[k].am = am[k];
        b[k].aex = aex[k];
        radius(orbit, b[k]);
    }
    for (int k = 0; k < lanes; ++k) {
        true_anomaly(orbit, pi, dospi, b[k]);
    }
    for (int k = 0; k < lanes; ++k) {
        ecliptic_position(turns, b[k]);
    }
}
