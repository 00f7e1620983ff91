"""How close each row is to where the bodies are: the model error of a table against the reference its orbits
were fitted to (or, for orbits as given, the one their sources have), and the warning about a close
approach, where the observer's place on the Earth matters.

The model error of a row is the angle between the row's place (its right ascension and declination as
ephem printed them) and the reference's: the reference target's position seen from the reference
observer's, both evaluated at the row's own time. It is the whole difference between the table and the
reference, the printed digits included, and so never understates it. It is split into the observer's part
(the reference target seen from the observer of DATOS.DAT instead of the reference observer) and the
target's (DATOS.DAT's target instead of the reference target, from DATOS.DAT's observer), which add up to
the whole within rounding; observer_error_km is the distance between DATOS.DAT's observer and the
reference observer. How good the reference itself is (ERFA's stated errors, the integration's tolerance)
is said beside it: the table's difference from the sky is at most the model error plus that.
"""

import math
from typing import Any, List, NamedTuple, Optional, Tuple

from .dates import calendar_date
from .csvout import bound_text
from .datos import Datos, reference_text
from .constants import AU_KM, MOON_SHARE
from .elements import BARYCENTRE, GEOCENTRE, INTEGRATION, Orbit, Reference
from .fitting import missing_modules
from .kepler import Orbiter
from .row import Table

Array = Any  # numpy.ndarray

# A table whose observer comes closer than this to the target is warned about.
CLOSE_AU = 0.01
# The Earth's equatorial radius, km (IAU 2015).
EARTH_RADIUS_KM = 6378.1
# The largest distance between the Earth's centre and the Earth-Moon barycentre (the Moon at its farthest,
# 406,700 km, times its share of the mass, 0.01215).
LARGEST_OFFSET_KM = 4942.0
# The rows whose model errors are computed at once: a bound on the memory a table of millions of rows takes.
BLOCK = 1 << 16
# The times at which the closest approach is first looked for, at most.
CLOSEST_SAMPLES = 200_000


class ModelErrors(NamedTuple):
    """The model error of every row (NAN for a row without a place) and the references it is measured
    against."""
    arcsec: Array
    observer_arcsec: Array
    target_arcsec: Array
    observer_km: Array
    target_reference: Reference
    observer_reference: Reference


def angles_arcsec(u: Array, v: Array) -> Array:
    """The angles between vectors, row by row, arcsec: accurate at 0 as well."""
    import numpy
    from .twobody import angles
    return numpy.degrees(angles(u, v)) * 3600.0


def reference_name(reference: Reference) -> str:
    """The reference in a few words, without a comma: as DATOS.DAT's notes name it, but an integration by
    its epoch's date rather than its elements."""
    if reference.kind != INTEGRATION:
        return reference_text(reference)
    epoch = reference.elements[6]
    return f"the integration of its elements of {calendar_date(epoch)[:16] or f'JD {epoch!r}'} with the planets' pulls"


def model_errors(table: Table, found: Optional[Datos], why: str) -> Tuple[Optional[ModelErrors], str]:
    """The model errors of the table's rows against the references of the DATOS.DAT that made it (found),
    or None and why there are none."""
    if found is None:
        return None, why
    if not len(table):
        return None, "the table has no rows"
    missing = missing_modules()
    if missing:
        return None, f"the references need python3-{' and python3-'.join(missing)}"
    import numpy
    from .references import ecliptic_of
    from .tracks import Unavailable, track_of
    from .twobody import positions
    (target_reference, target_why), (observer_reference, observer_why) = found.references()
    if target_reference is None:
        return None, f"the target has no reference: {target_why}"
    if observer_reference is None:
        return None, f"the observer has no reference: {observer_why}"
    times = numpy.asarray(table.column("jd_tdb"))
    usable = numpy.isfinite(times)
    if not usable.any():
        return None, "no row has a finite time"
    first, last = float(times[usable].min()), float(times[usable].max())
    real = found.real()
    try:
        Orbiter(real.target), Orbiter(real.observer)
        target_track = track_of(target_reference, first, last)
        observer_track = track_of(observer_reference, first, last)
    except Unavailable as error:
        return None, str(error)
    except ValueError as error:
        return None, f"the orbits of DATOS.DAT are no ellipses that the two-body model moves, or {error}"
    ra = numpy.radians(15.0 * numpy.asarray(table.column("ra_hours")))
    dec = numpy.radians(numpy.asarray(table.column("dec_deg")))
    placed = usable & numpy.isfinite(ra) & numpy.isfinite(dec)
    parts = numpy.full((4, len(times)), numpy.nan)
    with numpy.errstate(all="ignore"):
        for low in range(0, len(times), BLOCK):
            rows = slice(low, low + BLOCK)
            at = numpy.where(usable[rows], times[rows], first)
            target, observer = positions(real.target, at), positions(real.observer, at)
            target_ref, observer_ref = target_track.positions(at), observer_track.positions(at)
            row = ecliptic_of(numpy.stack([numpy.cos(dec[rows]) * numpy.cos(ra[rows]),
                                           numpy.cos(dec[rows]) * numpy.sin(ra[rows]), numpy.sin(dec[rows])], axis=-1))
            parts[0, rows] = numpy.where(placed[rows], angles_arcsec(row, target_ref - observer_ref), numpy.nan)
            parts[1, rows] = angles_arcsec(target_ref - observer_ref, target_ref - observer)
            parts[2, rows] = angles_arcsec(target_ref - observer, target - observer)
            parts[3, rows] = numpy.linalg.norm(observer - observer_ref, axis=1) * AU_KM
    parts[1:, ~usable] = numpy.nan
    return ModelErrors(parts[0], parts[1], parts[2], parts[3], target_reference, observer_reference), ""


def largest(values: Array) -> Tuple[int, float]:
    """The row of the largest finite value and the value, (-1, NAN) where none is finite."""
    import numpy
    finite = numpy.isfinite(values)
    if not finite.any():
        return -1, math.nan
    k = int(numpy.nanargmax(numpy.where(finite, values, -numpy.inf)))
    return k, float(values[k])


def arcsec_text(value: float) -> str:
    """An angle in arcsec rounded up, to a thousandth below 10, a tenth below 1000, whole above."""
    for below, digits in ((10.0, 3), (1000.0, 1)):
        if value < below:
            return f"{bound_text(value, digits)} arcsec"
    return f"{math.ceil(value):,} arcsec"


def km_text(value: float) -> str:
    """A distance in km rounded up, to a tenth below 100, whole above."""
    if value < 100.0:
        return f"{bound_text(value, 1)} km"
    return f"{math.ceil(value):,} km"


def summary_lines(table: Table, errors: Optional[ModelErrors], why: str) -> List[str]:
    """What `info` says of the model error: the largest and its date, split into observer and target,
    what the reference is and what it is good for; or why there is none."""
    from .tracks import good_for
    if errors is None:
        return [f"model error: none, {why}"]
    k, worst = largest(errors.arcsec)
    if k < 0:
        return ["model error: none, no row has a place on the sky"]
    lines = [f"model error: the rows against {reference_name(errors.target_reference)} seen from "
             f"{reference_name(errors.observer_reference)}",
             f"  largest {arcsec_text(worst)} on {calendar_date(table[k].jd_tdb)} TDB (there the observer's part "
             f"{arcsec_text(errors.observer_arcsec[k])} and the target's {arcsec_text(errors.target_arcsec[k])})"]
    ko, observer_worst = largest(errors.observer_arcsec)
    kt, target_worst = largest(errors.target_arcsec)
    _, km = largest(errors.observer_km)
    lines.append(f"  observer: at most {arcsec_text(observer_worst)} on {calendar_date(table[ko].jd_tdb)} TDB, "
                 f"{km_text(km)} from its reference at most")
    lines.append(f"  target: at most {arcsec_text(target_worst)} on {calendar_date(table[kt].jd_tdb)} TDB")
    lines.append(f"  the references themselves: {good_for(errors.target_reference)}; "
                 f"{good_for(errors.observer_reference)}")
    return lines


def csv_note(errors: Optional[ModelErrors], why: str) -> str:
    """What the CSV's comment line says of model_error_arcsec and observer_error_km, without a comma."""
    from .tracks import good_for
    if errors is None:
        return f"model_error_arcsec and observer_error_km: empty: {why.replace(',', '')}"
    return (f"model_error_arcsec: the angle between the row's place and that of "
            f"{reference_name(errors.target_reference)} seen from {reference_name(errors.observer_reference)} at "
            f"the row's time; observer_error_km: the observer's distance from its reference; the references "
            f"themselves: {good_for(errors.target_reference)} and {good_for(errors.observer_reference)}")


# The close approach -----------------------------------------------------------------------------------

def observer_kind(observer: Orbit) -> str:
    """GEOCENTRE, BARYCENTRE, or "" for another observer."""
    from .fitting import reference_for
    reference = observer.fit.reference if observer.fit is not None else reference_for(observer)
    if reference.kind in (GEOCENTRE, BARYCENTRE):
        return reference.kind
    return ""


def closest_approach(target: Orbit, observer: Orbit, first: float, last: float) -> Tuple[float, float]:
    """The time (JD) and distance (AU) of the smallest distance between the orbits from first to last."""
    import numpy
    from .twobody import positions

    def distances(times: Array) -> Array:
        return numpy.linalg.norm(positions(target, times) - positions(observer, times), axis=1)
    count = min(CLOSEST_SAMPLES, max(2, int(last - first) * 24 + 2))
    times = numpy.linspace(first, last, count)
    k = int(numpy.argmin(distances(times)))
    low, high = times[max(k - 1, 0)], times[min(k + 1, count - 1)]
    # The distance has one minimum between the samples next to the smallest: golden section finds it.
    ratio = (math.sqrt(5.0) - 1.0) / 2.0
    for _ in range(80):
        a, b = high - ratio * (high - low), low + ratio * (high - low)
        da, db = distances(numpy.array([a, b]))
        if da < db:
            high = b
        else:
            low = a
    when = (low + high) / 2.0
    return when, float(distances(numpy.array([when]))[0])


def angle_text(radians: float) -> str:
    degrees = math.degrees(radians)
    if degrees >= 1.0:
        return f"{degrees:.1f} deg"
    if degrees * 60.0 >= 1.0:
        return f"{degrees * 60.0:.1f} arcmin"
    return f"{degrees * 3600.0:.1f} arcsec"


def barycentre_offset_km(jd: float) -> Tuple[float, bool]:
    """The distance between the Earth's centre and the Earth-Moon barycentre at jd (ERFA's Moon), or the
    largest it can be; and whether it is the one of that date."""
    from .references import EPV00_SPAN, moon_states
    if not (not missing_modules(("erfa",)) and EPV00_SPAN[0] <= jd <= EPV00_SPAN[1]):
        return LARGEST_OFFSET_KM, False
    import numpy
    moon, _ = moon_states([jd])
    return float(numpy.linalg.norm(moon[0])) * MOON_SHARE * AU_KM, True


def close_approach_warning(target: Orbit, observer: Orbit, first: float, last: float) -> Optional[str]:
    """A warning with figures when the target comes within CLOSE_AU of an observer that is the Earth's
    centre or the Earth-Moon barycentre: how far the places of the barycentre and of the Earth's surface
    move it, as angles at the closest approach."""
    kind = observer_kind(observer)
    if not kind or missing_modules(("numpy",)):
        return None
    when, distance = closest_approach(target, observer, first, last)
    if not distance < CLOSE_AU:
        return None
    from .events import au_text
    km = distance * AU_KM
    surface = angle_text(math.asin(min(1.0, EARTH_RADIUS_KM / km)))
    inside = f", inside the Earth's radius ({EARTH_RADIUS_KM:,.0f} km)" if km <= EARTH_RADIUS_KM else ""
    text = f"the target passes {au_text(distance)} from the observer on {calendar_date(when)[:16]} TDB{inside}: "
    if kind == GEOCENTRE:
        return (text + f"the observer is the Earth's centre, and a place on the Earth's surface sees the target up "
                f"to {surface} from there (the Earth's radius over the distance)")
    offset, of_date = barycentre_offset_km(when)
    return (text + f"the observer is the Earth-Moon barycentre, {'' if of_date else 'up to '}{offset:,.0f} km from the "
            f"Earth's centre, which moves the place by up to {angle_text(math.asin(min(1.0, offset / km)))}, and a "
            f"place on the Earth's surface sees the target up to {surface} from the Earth's centre (the Earth's "
            f"radius over the distance); --observer geocentre puts the observer at the Earth's centre")
