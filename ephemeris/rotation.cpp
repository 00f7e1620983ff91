#include "ephemeris/rotation.hpp"

void rotax(double& xi, double& yi, double& zi, double& ang, double& xf, double& yf, double& zf) {
    rotax_fixed(xi, yi, zi, axis_turn(ang), xf, yf, zf);
}

void rotaz(double& xi, double& yi, double& zi, double& ang, double& xf, double& yf, double& zf) {
    rotaz_fixed(xi, yi, zi, axis_turn(ang), xf, yf, zf);
}
