#include "ephemeris/position.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "ephemeris/kepler.hpp"
#include "ephemeris/reduction.hpp"

namespace {

// The steps from the two anomalies to the position, each a function of the ones before; both forms take
// them in this order.
void radius(const Orbit& o, BodyPosition& b) { b.r = (1.0 - (std::cos(b.aex) * o.e)) * o.a; }

// 0.005" in radians: how far the described arc cosine may stray before the true anomaly is taken from
// the eccentric anomaly instead.
constexpr double kTrueAnomalyTolerance = 2.4240684e-8;

// The largest |cos f| at which the described arc cosine is kept. Its argument x = ((p / r) - 1) / e is
// cos f, and to first order its rounding error is at most
//   dx = u ((1 + |e|) (e^2 / (1 - e^2) + 3 |e| / (1 - |e|) + 5) / |e| + 2),  u = 2^-53:
// the subtraction in p = (1 - e e) a keeps the e e product's error, e^2 u / (1 - e^2) relative; the one
// in r = (1 - cos(E) e) a keeps those of the cosine and the product, up to 3 |e| u / (1 - |e|) near
// perihelion; every other operation is one rounding, and p / r is at most 1 + |e|. The arc cosine turns
// dx into an error of dx / sqrt(1 - x^2) in the angle, which passes the tolerance near an apsis, and
// everywhere once |e| is below about 2.3e-8 (the limit is then -1).
double acos_limit(double e) {
    const double u = 0x1p-53;
    const double ae = std::fabs(e);
    const double dx = u * ((((1.0 + ae) * (((e * e) / (1.0 - (e * e))) + ((3.0 * ae) / (1.0 - ae)) + 5.0)) / ae) + 2.0);
    const double q = dx / kTrueAnomalyTolerance;
    return (q < 1.0) ? std::sqrt(1.0 - (q * q)) : -1.0;
}

// The true anomaly from the eccentric anomaly (radians, 0 to 2 pi), well conditioned on the whole ellipse
// and for every e, 0 included.
double true_anomaly_of(double e, double aex, double dospi) {
    const double f = std::atan2(std::sqrt(1.0 - (e * e)) * std::sin(aex), std::cos(aex) - e);
    return (f < 0.0) ? (f + dospi) : f;
}

// The described arc cosine, with the half-orbit rule, wherever its argument is within acos_limit; where
// rounding would put it outside -1..1, where e is 0 (0 / 0), and where the arc cosine would amplify the
// rounding past the tolerance, the same angle from the eccentric anomaly.
void true_anomaly(const Orbit& o, double pi, double dospi, BodyPosition& b) {
    const double x = ((o.p / b.r) - 1.0) / o.e;
    if (std::fabs(x) <= o.acos_limit) {
        b.f = std::acos(x);
        if (b.am > pi) {
            b.f = dospi - b.f;
        }
    } else {
        b.f = true_anomaly_of(o.e, b.aex, dospi);
    }
}

// A body that is not on an ellipse has no place in the model: every value NaN, always the same NaN, so
// that both forms write the same bits.
BodyPosition no_position() {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    return BodyPosition{nan, nan, nan, nan, nan, nan, nan};
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

Orbit make_orbit(double a, double e, double ync, double w, double od, double ame, double t, double vn, double p) {
    const bool finite = std::isfinite(a) && std::isfinite(e) && std::isfinite(ync) && std::isfinite(w) &&
                        std::isfinite(od) && std::isfinite(ame) && std::isfinite(t) && std::isfinite(vn) &&
                        std::isfinite(p);
    const bool ellipse = finite && a > 0.0 && std::fabs(e) < 1.0;
    return Orbit{a, e, ync, w, od, ame, t, vn, p, ellipse, ellipse ? acos_limit(e) : -1.0};
}

double mean_anomaly(double tiempo, const Orbit& orbit) {
    // NaN passes the reduction and Kepler's iteration at once: a body with no place costs nothing.
    return orbit.ellipse ? ((tiempo - orbit.t) * orbit.vn) + orbit.ame : std::numeric_limits<double>::quiet_NaN();
}

BodyPosition body_position(double tiempo, const Orbit& orbit, double pi, double dospi) {
    if (!orbit.ellipse) {
        return no_position();
    }
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
    if (!orbit.ellipse) {
        std::fill(b, b + lanes, no_position());
        return;
    }
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
