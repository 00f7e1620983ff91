#pragma once

// Kepler's equation, in its two forms: the literal 100 passes and the production lanes that stop once
// the 100th iterate is known. Both take the same step.

// The number of passes of Kepler's iteration.
inline constexpr int kKeplerPasses = 100;

// Solves Kepler's equation by 100 fixed iterations from the mean anomaly.
//   given:    exce      eccentricity
//             anomedia  mean anomaly (radians)
//   returned: anomex    eccentric anomaly (radians)
// There is no convergence test: for eccentricities near or above 1 the 100th iterate is returned as it is.
void kepler(double& exce, double& anomedia, double& anomex);

// The 100th iterate of up to kMaxKeplerLanes independent chains, bit for bit that of kepler for each
// lane, without the passes that cannot change it: each iterate is a fixed function of the one before,
// so once an iterate repeats its predecessor (a fixed point) or the iterate two passes back (a
// two-cycle), every later iterate is known. The chains advance pass by pass together: a sine costs far
// less while others are in flight than while the next pass waits for it.
//   given:    exce[k], anomedia[k] for k below lanes
//   returned: anomex[k]
inline constexpr int kMaxKeplerLanes = 16;
void kepler_lanes(const double* exce, const double* anomedia, double* anomex, int lanes);
