#pragma once

#include <cmath>

// The turns of the coordinate frame about the x and z axes: rotax and rotaz as described, taking every
// argument by reference, and the same rotation by a fixed angle whose cosine and sine are formed once.
// A positive angle turns the frame in the positive sense about the axis, so the vector turns the other
// way.

// The cosine and sine of a rotation angle.
struct AxisTurn {
    double cosang;
    double sinang;
};

inline AxisTurn axis_turn(double ang) { return AxisTurn{std::cos(ang), std::sin(ang)}; }

// The rotation about the x axis with the angle's cosine and sine given; both products are rounded
// before they are added or subtracted, and the results are formed in the order y, z, x.
//   given:    xi, yi, zi  vector in the old frame
//             turn        cosine and sine of the angle
//   returned: xf, yf, zf  the same vector in the turned frame (variables distinct from the inputs)
inline void rotax_fixed(const double& xi, const double& yi, const double& zi, const AxisTurn& turn, double& xf,
                        double& yf, double& zf) {
    yf = (turn.cosang * yi) + (turn.sinang * zi);
    zf = (turn.cosang * zi) - (turn.sinang * yi);
    xf = xi;
}

// The rotation about the z axis, arguments as for rotax_fixed; the results in the order x, y, z.
inline void rotaz_fixed(const double& xi, const double& yi, const double& zi, const AxisTurn& turn, double& xf,
                        double& yf, double& zf) {
    xf = (turn.cosang * xi) + (turn.sinang * yi);
    yf = (turn.cosang * yi) - (turn.sinang * xi);
    zf = zi;
}

// Rotates the coordinate frame by ang (radians) about the x axis: rotax_fixed with the cosine and sine
// of ang taken at the call.
void rotax(double& xi, double& yi, double& zi, double& ang, double& xf, double& yf, double& zf);

// Rotates the coordinate frame by ang (radians) about the z axis; arguments as for rotax.
void rotaz(double& xi, double& yi, double& zi, double& ang, double& xf, double& yf, double& zf);
