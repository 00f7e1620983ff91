"""The two-body orbits that follow the bodies most closely over the table's dates: what `datos` and `run`
give ephem unless --as-given.

Each body has a reference path (tracks.py): a planet ERFA's plan94, the Earth-Moon barycentre or the
Earth's centre ERFA's epv00 (with moon98), a minor planet or comet the integration of its elements with the
planets' pulls. Both orbits are fitted by least squares, each as its position and velocity in the middle
of the dates and its mass term m (which sets the mean motion apart from the axis), to their paths at
times spread evenly from the table's first date to its last: the fit depends on those two dates alone,
never on the step, so that a table at another step over the same dates holds the same orbits.

What is fitted is what the table shows, the direction from the observer to the target: one fit of both
orbits to the vectors between them, each relative to its length (the angle across it, and a tenth of the
error along it, so that Δ is kept within a few 1e-4 of itself without costing the place), together with the
observer's own heliocentric position relative to its distance, at OBSERVER_WEIGHT. Two separate fits
leave the observer's thousands of km in every place (Venus over a year: 20 arcsec); the joint fit puts
them where they cost least (2 arcsec). The observer is never let go further from its path than
OBSERVER_SLACK times its own best fit: a path no ellipse can follow (a fly-by bent by the Earth) would
drag it thousands of km; then the observer keeps its own fit and the target is fitted to the directions
from it.

Where a body has no reference over the dates (outside ERFA's spans, Pluto, a fit that fails), its
elements are used as given, as --as-given does, and the reason is said.
"""

import dataclasses
import math
from typing import Any, Callable, List, Optional, Sequence, Tuple

from . import elements
from .constants import AU_KM
from .elements import (BARYCENTRE, GEOCENTRE, GEOCENTRE_SOURCE, INTEGRATION, PLANET, PLANET_TABLE_SOURCE,
                       ElementsError, Fit, Orbit, Reference)

Array = Any  # numpy.ndarray
Warn = Callable[[str], None]

# Samples: one every SAMPLE_DAYS from the first date to the last, at least FEWEST_SAMPLES and at most
# MOST_SAMPLES (a span of 1000 days and more is sampled more thinly, which costs nothing of the places:
# they are measured against the reference at every row in any case).
SAMPLE_DAYS = 0.25
FEWEST_SAMPLES = 200
MOST_SAMPLES = 4000

# The weights of the fit (the module's notes), measured on a year of Venus, Mars and Jupiter from
# 2026-08-20: the observer's own path at 0.3 and the error along the line of sight at 0.1 leave 2.1, 0.8
# and 0.5 arcsec; at 1 and 1, 7.1, 3.2 and 1.3; the observer's at 0.1 gains a little more (1.1, 0.5, 0.3)
# but lets the observer go 13,000 km from its path.
OBSERVER_WEIGHT = 0.3
DISTANCE_WEIGHT = 0.1
OBSERVER_SLACK = 2.0

# The units of the fitted parameters, which keep them of one size: AU, AU a day over 0.02, m over 1e-4.
SPEED_UNIT = 0.02
MASS_UNIT = 1e-4

# What the fit of an impossible state (no ellipse) returns for every residual, so that the search turns
# back: far beyond any real residual.
NO_ORBIT = 1e3


class Body:
    """One body of the fit: its orbit as given, its reference, and where the reference puts it at the
    samples."""

    def __init__(self, orbit: Orbit, reference: Optional[Reference], track: Any, times: Array) -> None:
        self.orbit, self.reference, self.track = orbit, reference, track
        import numpy
        from . import twobody
        self.path = track.positions(times) if track is not None else twobody.positions(orbit, times)
        self.distance = numpy.linalg.norm(self.path, axis=1)[:, None]


def reference_for(orbit: Orbit) -> Reference:
    """The path a source's orbit is fitted to (tracks.track_of says whether there is one over the dates)."""
    if orbit.source.startswith(PLANET_TABLE_SOURCE):
        if orbit.name == "EM-Bary":
            return Reference(BARYCENTRE)
        return Reference(PLANET, planet=orbit.name)
    if orbit.source == GEOCENTRE_SOURCE:
        return Reference(GEOCENTRE)
    return Reference(INTEGRATION, elements=orbit.values())


def sample_times(first: float, last: float) -> Array:
    import numpy
    count = min(MOST_SAMPLES, max(FEWEST_SAMPLES, math.ceil((last - first) / SAMPLE_DAYS) + 1))
    return first + (last - first) * numpy.arange(count) / (count - 1)


def parameters(where: Array, speed: Array, m: float) -> Array:
    import numpy
    return numpy.concatenate([where, speed / SPEED_UNIT, [m / MASS_UNIT]])


def orbit_of(x: Array, epoch: float) -> Orbit:
    """The orbit of the fitted parameters; ValueError for a state that is no ellipse."""
    from .twobody import elements_of
    return elements_of(x[:3], x[3:6] * SPEED_UNIT, epoch, float(x[6]) * MASS_UNIT)


def moved(x: Array, epoch: float, times: Array) -> Array:
    import numpy
    from .twobody import positions
    try:
        orbit = orbit_of(x, epoch)
    except ValueError:
        return numpy.full((len(times), 3), NO_ORBIT)
    if not -1.0 < orbit.m <= elements.LARGEST_MASS:
        return numpy.full((len(times), 3), NO_ORBIT)
    return positions(orbit, times)


def least_squares(residuals: Callable[[Array], Array], start: Array) -> Array:
    from scipy.optimize import least_squares as solve
    return solve(residuals, start, x_scale="jac", xtol=1e-15, ftol=1e-15, gtol=1e-15, max_nfev=200).x


def direction_residuals(target: Array, observer: Array, wanted: Array, length: Array) -> Array:
    """The error of the vectors from observer to target against the wanted ones, relative to their
    length: the part across the line of sight whole, the part along it at DISTANCE_WEIGHT."""
    import numpy
    error = (target - observer - wanted) / length
    sight = wanted / length
    along = numpy.sum(error * sight, axis=1)[:, None]
    return numpy.concatenate([(error - along * sight).ravel(), DISTANCE_WEIGHT * along.ravel()])


def start_of(body: Body, epoch: float) -> Array:
    """The parameters of the fit's first guess: the reference's osculating state in the middle of the
    dates, with no mass term."""
    where, speed = body.track.state_at(epoch)
    return parameters(where, speed, 0.0)


def fit_alone(body: Body, times: Array, epoch: float) -> Array:
    """The parameters of the orbit closest to the body's own path, relative to its distance."""
    return least_squares(lambda x: ((moved(x, epoch, times) - body.path) / body.distance).ravel(),
                         start_of(body, epoch))


def largest_km(body: Body, x: Array, times: Array, epoch: float) -> float:
    import numpy
    return float(numpy.max(numpy.linalg.norm(moved(x, epoch, times) - body.path, axis=1))) * AU_KM


def fit_pair(target: Body, observer: Body, times: Array, epoch: float) -> Tuple[Optional[Array], Optional[Array]]:
    """The parameters of the target's orbit and the observer's, each fitted as the module's notes say where
    it has a reference (else None)."""
    import numpy
    wanted = target.path - observer.path
    length = numpy.linalg.norm(wanted, axis=1)[:, None]
    if observer.track is None:
        return least_squares(lambda x: direction_residuals(moved(x, epoch, times), observer.path, wanted, length),
                             start_of(target, epoch)), None
    alone = fit_alone(observer, times, epoch)
    if target.track is None:
        return None, alone

    def joint(x: Array) -> Array:
        seen_from = moved(x[7:], epoch, times)
        own = OBSERVER_WEIGHT * (seen_from - observer.path) / observer.distance
        return numpy.concatenate([direction_residuals(moved(x[:7], epoch, times), seen_from, wanted, length),
                                  own.ravel()])
    both = least_squares(joint, numpy.concatenate([start_of(target, epoch), alone]))
    if largest_km(observer, both[7:], times, epoch) <= OBSERVER_SLACK * largest_km(observer, alone, times, epoch) + 1.0:
        return both[:7], both[7:]
    fixed = moved(alone, epoch, times)
    return least_squares(lambda x: direction_residuals(moved(x, epoch, times), fixed, wanted, length),
                         start_of(target, epoch)), alone


def largest_angle(target: Array, observer: Array, wanted: Array) -> float:
    """The largest angle between the vectors from observer to target and the wanted ones, radians."""
    from .twobody import angles
    return float(angles(target - observer, wanted).max())


def beats_as_given(target: Body, observer: Body, x_target: Array, x_observer: Optional[Array], times: Array,
                   epoch: float) -> Tuple[bool, float, float]:
    """Whether the fitted target comes closer to the reference place at its worst sample than the target as
    given, both seen from the fitted observer; and both largest angles (radians). A path no ellipse follows
    (a fly-by bent by the Earth's pull) can leave the fit worse there than elements that osculate at the
    fly-by."""
    from .twobody import positions
    seen_from = moved(x_observer, epoch, times) if x_observer is not None else observer.path
    wanted = target.path - observer.path
    fit_worst = largest_angle(moved(x_target, epoch, times), seen_from, wanted)
    given_worst = largest_angle(positions(target.orbit, times), seen_from, wanted)
    return fit_worst <= given_worst, fit_worst, given_worst


def fitted(body: Body, x: Optional[Array], epoch: float, first: float, last: float, what: str,
           warn: Warn) -> Orbit:
    """The body's fitted orbit, or its orbit as given when the fit is no orbit ephem can take."""
    if x is None or body.reference is None:
        return given(body.orbit)
    try:
        found = elements.check_orbit(orbit_of(x, epoch), what)
    except (ValueError, ElementsError) as error:
        warn(f"warning: {what}: the fit gives no orbit ephem can take ({error}): its elements are used as given")
        return given(body.orbit)
    return dataclasses.replace(body.orbit, a=found.a, e=found.e, i=found.i, w=found.w, om=found.om, M=found.M,
                               epoch=found.epoch, m=found.m, fit=Fit(body.reference, first, last))


def given(orbit: Orbit) -> Orbit:
    """An orbit as given; the Earth's centre, which has no elements to give, is the table's barycentre."""
    return elements.planet_orbit("emb", orbit.epoch) if orbit.source == GEOCENTRE_SOURCE else orbit


def body_of(orbit: Orbit, what: str, times: Array, first: float, last: float, warn: Warn) -> Body:
    """The body with its reference's track over the dates, or without one (and why said)."""
    from .tracks import Unavailable, track_of
    reference = reference_for(orbit)
    try:
        return Body(orbit, reference, track_of(reference, first, last), times)
    except Unavailable as error:
        why = str(error)
    except ValueError as error:  # an integration that fails (a step too small for the path)
        why = str(error)
    if orbit.source == GEOCENTRE_SOURCE:
        warn(f"{what}: the Earth's centre is fitted to ERFA's epv00, and {why}: the Earth-Moon barycentre of the "
             f"planetary table stands in for it")
        orbit = given(orbit)
    else:
        warn(f"{what}: {why}: its elements are used as given")
    return Body(orbit, None, None, times)


def fit_table(target: Orbit, observer: Orbit, first: float, last: float, warn: Warn) -> Tuple[Orbit, Orbit]:
    """The target's and observer's orbits fitted over the Julian dates first to last (TDB), as the
    module's notes say; where that cannot be, each as given (after a warning)."""
    missing = missing_modules()
    if missing:
        warn(f"warning: fitting the orbits needs python3-{' and python3-'.join(missing)}: the elements are used "
             f"as given")
        return given(target), given(observer)
    times = sample_times(first, last)
    epoch = (first + last) / 2.0
    label = target.name or "the target"
    bodies: List[Body] = [body_of(target, f"warning: {label}", times, first, last, warn),
                          body_of(observer, f"warning: the observer ({observer.name or 'elements'})", times, first,
                                  last, warn)]
    if bodies[0].track is None and bodies[1].track is None:
        return bodies[0].orbit, bodies[1].orbit
    try:
        x_target, x_observer = fit_pair(bodies[0], bodies[1], times, epoch)
    except (ValueError, ArithmeticError) as error:  # numpy's LinAlgError is a ValueError
        warn(f"warning: the fit failed ({error}): the elements are used as given")
        return given(bodies[0].orbit), given(bodies[1].orbit)
    if x_target is not None:
        better, fit_worst, given_worst = beats_as_given(bodies[0], bodies[1], x_target, x_observer, times, epoch)
        if not better:
            warn(f"warning: {label}: no two-body orbit follows its path over these dates (the closest one is "
                 f"{math.degrees(fit_worst):.3g} deg from it at worst): its elements are used as given "
                 f"({math.degrees(given_worst):.3g} deg at worst; model_error_arcsec tells each row)")
            x_target = None
    return (fitted(bodies[0], x_target, epoch, first, last, label, warn),
            fitted(bodies[1], x_observer, epoch, first, last, "the observer", warn))


def missing_modules(names: Sequence[str] = ("numpy", "scipy", "erfa")) -> List[str]:
    """Those of the modules the references and the fit need that this Python has not."""
    import importlib.util
    return [name for name in names if importlib.util.find_spec(name) is None]
