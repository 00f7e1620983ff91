#include "ephemeris/orbit.hpp"

#include <cmath>

void kepler(double& exce, double& anomedia, double& anomex) {
    double e = anomedia;
    for (int i = 0; i < 100; ++i) {
        e = (std::sin(e) * exce) + anomedia;
    }
    anomex = e;
}

void rotax(double& xi, double& yi, double& zi, double& ang, double& xf, double& yf, double& zf) {
    yf = (std::cos(ang) * yi) + (std::sin(ang) * zi);
    zf = (std::cos(ang) * zi) - (std::sin(ang) * yi);
    xf = xi;
}

void rotaz(double& xi, double& yi, double& zi, double& ang, double& xf, double& yf, double& zf) {
    xf = (std::cos(ang) * xi) + (std::sin(ang) * yi);
    yf = (std::cos(ang) * yi) - (std::sin(ang) * xi);
    zf = zi;
}

double reduce_mean_anomaly(double am, double dospi) {
    if (!(std::fabs(am) <= kMaxReducible)) {
        return std::nan("");
    }
    // Rounded subtraction one turn at a time, not a remainder: the rounding of each step is part of the
    // result (a small negative value ends as exactly dospi, and dospi itself is kept).
    while (am > dospi) {
        am = am - dospi;
    }
    while (am < 0.0) {
        am = am + dospi;
    }
    return am;
}

BodyPosition body_position(double tiempo, const Orbit& orbit, double pi, double dospi) {
    Orbit o = orbit;  // the rotations take their angles by reference
    BodyPosition b{};
    b.am = reduce_mean_anomaly(((tiempo - o.t) * o.vn) + o.ame, dospi);
    kepler(o.e, b.am, b.aex);
    b.r = (1.0 - (std::cos(b.aex) * o.e)) * o.a;
    b.f = std::acos(((o.p / b.r) - 1.0) / o.e);
    if (b.am > pi) {
        b.f = dospi - b.f;
    }
    double x = std::cos(b.f) * b.r;
    double y = std::sin(b.f) * b.r;
    double z = 0.0;
    double minus_w = -o.w;
    double minus_ync = -o.ync;
    double minus_od = -o.od;
    double xp, yp, zp, xr, yr, zr;
    rotaz(x, y, z, minus_w, xp, yp, zp);
    rotax(xp, yp, zp, minus_ync, xr, yr, zr);
    rotaz(xr, yr, zr, minus_od, b.xe, b.ye, b.ze);
    return b;
}
