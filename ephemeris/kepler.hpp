#pragma once

// Kepler's equation, in its two forms: the literal 100 passes and the production lanes that stop once
// the 100th iterate is known. Both take the same step, and both finish the same way where the passes
// have not settled.

// The number of passes of Kepler's iteration.
inline constexpr int kKeplerPasses = 100;

// Solves Kepler's equation by 100 passes of e = sin(e) exce + anomedia from the mean anomaly.
//   given:    exce      eccentricity
//             anomedia  mean anomaly (radians, 0 to 2 pi as the reduction leaves it)
//   returned: anomex    eccentric anomaly (radians)
// Where the 100th iterate has settled (it repeats the 99th or the 98th: a fixed point or a two-cycle),
// it is the result. Where it has not (eccentricities near 1, near perihelion), an ellipse's
// equation is solved to the end by kepler_solve; for any other input (|exce| >= 1, an anomaly outside
// 0..2 pi or not finite) the 100th iterate is returned as it is.
void kepler(double& exce, double& anomedia, double& anomex);

// The eccentric anomaly of up to kMaxKeplerLanes independent chains, bit for bit that of kepler for
// each lane, without the passes that cannot change the 100th iterate: each iterate is a fixed function
// of the one before, so once an iterate repeats its predecessor (a fixed point) or the iterate two
// passes back (a two-cycle), every later iterate is known. The chains advance pass by pass together: a
// sine costs far less while others are in flight than while the next pass waits for it.
//   given:    exce[k], anomedia[k] for k below lanes
//   returned: anomex[k]
inline constexpr int kMaxKeplerLanes = 16;
void kepler_lanes(const double* exce, const double* anomedia, double* anomex, int lanes);

// The root of E - exce sin E = anomedia for 0 < |exce| < 1 and 0 <= anomedia <= 2 pi, by Newton's
// method from a start beyond the root on the side where the steps cannot overshoot it, until the
// residual is within the rounding of its own evaluation. Deterministic: the same inputs give the same
// bits, whichever form asks.
//   given:   exce (eccentricity), anomedia (radians)
//   returns: the eccentric anomaly (radians)
double kepler_solve(double exce, double anomedia);
