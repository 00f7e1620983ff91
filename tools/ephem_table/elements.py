"""Orbital elements, in the form and order ephem reads them, from a planet of the table of approximate
elements or from elements given by name; the checks that keep ephem from computing NAN or nonsense.

Every orbit is checked before it is written (check_orbit): finite values, 0 < e < 1, and the physical
bounds below. Angles are degrees referred to the mean ecliptic and equinox of J2000; times are Julian
dates on the TDB scale.
"""

import dataclasses
import math
from typing import Dict, List, NamedTuple, Optional, Sequence, Tuple

from . import planets
from .constants import GAUSS_K
from .dates import LARGEST_JD, DateError, calendar_day, julian_date
from .errors import DataError

# The physical bounds of an orbit around the Sun:
# - its perihelion q = a (1 - e) no lower than the Sun's radius (0.00465 AU): a closer orbit passes
#   through the Sun (the closest sungrazing comets reach 0.005 AU);
# - its semi-major axis a no greater than 1,000,000 AU, past the Sun's sphere of influence (about
#   230,000 AU) beyond which nothing orbits the Sun; the period there is a billion years;
# - inclination from -180 to 180 degrees (the planetary table's Earth-Moon barycentre has a tiny
#   negative one), the node, the argument of perihelion and the mean anomaly within one turn either way
#   (-360 to 360 degrees): every orbit and every place on it is within them, and a larger value is a
#   slip (at 1e20 degrees adjacent doubles lie 16384 degrees apart: no place is left);
# - the mass term m from above -1 (the planetary table's rate of mean longitude may need a small
#   negative one) to 1: a body as heavy as the Sun is no body of the solar system.
SUN_RADIUS_AU = 0.00465
LARGEST_A_AU = 1e6
LARGEST_INCLINATION = 180.0
LARGEST_ANGLE = 360.0
LARGEST_MASS = 1.0


class ElementsError(DataError):
    """Elements that ephem cannot use, or a source line that fails its format; the text names the
    value."""


def finite_number(text: str, not_a_number: str, not_finite: str) -> float:
    """The number `text` reads as, refused with the first message if it is none, the second if it is
    infinite or NAN."""
    try:
        value = float(text)
    except ValueError:
        raise ElementsError(not_a_number) from None
    if not math.isfinite(value):
        raise ElementsError(not_finite)
    return value


class Photometry(NamedTuple):
    """The parameters of a body's visual magnitude, as its source gives them (see magnitudes.py):
    kind MINOR_PLANET with the absolute magnitude h and slope g of the H, G system; COMET with the
    absolute magnitude h and the slope g of m = H + 5 log10(delta) + 2.5 g log10(r); PLANET with the
    planet's name."""
    kind: str
    h: float = math.nan
    g: float = math.nan
    planet: str = ""


MINOR_PLANET, COMET, PLANET = "minor planet", "comet", "planet"

# The kinds of path a body's orbit is fitted to and measured against, besides a PLANET's (ERFA's places
# in references.py, the integration in integration.py).
GEOCENTRE, BARYCENTRE, INTEGRATION = "geocentre", "barycentre", "integration"


class Reference(NamedTuple):
    """Where a body really is: a PLANET of ERFA's plan94 (`planet` its name), the Earth's centre
    (GEOCENTRE) or the Earth-Moon barycentre (BARYCENTRE) from ERFA, or an INTEGRATION with the planets'
    pulls from `elements` (a e i w om M epoch m, osculating at their epoch)."""
    kind: str
    planet: str = ""
    elements: Tuple[float, ...] = ()


class Fit(NamedTuple):
    """How an orbit was made: fitted to the path of `reference` over the Julian dates first to last
    (TDB)."""
    reference: Reference
    first: float
    last: float

# The slope parameter of the H, G system when a source gives H alone.
DEFAULT_G = 0.15

# The slopes that published parameters use, by kind: the H, G system's G is fitted within -1 to 1 (the
# Minor Planet Center's lines keep to a few tenths around 0.15); a comet's slope G (2.5 G = K of the
# total magnitude's K log10(r)) from 0 to 20, K up to 50. A slope far outside gives magnitudes of no
# meaning (G = 1E308 made V -762).
SLOPE_BOUNDS = {"minor planet": (-1.0, 1.0), "comet": (0.0, 20.0)}


def check_photometry(photometry: Photometry, where: str) -> Photometry:
    """Refuses a slope outside the bounds its kind publishes (SLOPE_BOUNDS); `where` names the source."""
    low, high = SLOPE_BOUNDS.get(photometry.kind, (-math.inf, math.inf))
    if not low <= photometry.g <= high and photometry.kind != PLANET:
        what = "the H, G system's slope G" if photometry.kind == MINOR_PLANET else "a comet's slope G"
        raise ElementsError(f"{where}: G = {photometry.g!r}: {what} lies from {low:g} to {high:g}")
    return photometry


@dataclasses.dataclass
class Orbit:
    """One body's elements as ephem reads them: a (AU), e, i, w (argument of perihelion), om (longitude
    of the ascending node), M (mean anomaly at the epoch), all angles in degrees, epoch (JD, TDB) and the
    mass term m (solar masses) of the mean motion k * sqrt(1 + m) / a**1.5."""
    a: float
    e: float
    i: float
    w: float
    om: float
    M: float
    epoch: float
    m: float = 0.0
    name: str = ""
    source: str = ""
    photometry: Optional[Photometry] = None
    fit: Optional[Fit] = None

    def values(self) -> Tuple[float, ...]:
        return (self.a, self.e, self.i, self.w, self.om, self.M, self.epoch, self.m)


ORBIT_FIELDS = ("a", "e", "i", "w", "om", "M", "epoch", "m")


def check_shape(orbit: Orbit, where: str) -> None:
    """Refuses values that are not finite, and an eccentricity that is no ellipse's."""
    for field, value in zip(ORBIT_FIELDS, orbit.values()):
        if not math.isfinite(value):
            raise ElementsError(f"{where}: {field} = {value} is not a finite number")
    if orbit.e < 0.0:
        raise ElementsError(f"{where}: e = {orbit.e!r} is negative")
    if orbit.e >= 1.0:
        raise ElementsError(f"{where}: e = {orbit.e!r}: ephem's model has only elliptic orbits "
                            f"(e < 1); parabolic and hyperbolic orbits cannot be computed")


def check_orbit(orbit: Orbit, where: str) -> Orbit:
    """Refuses an orbit that ephem's two-body formulas cannot handle or that is no orbit around the Sun
    (the bounds above); `where` names its source."""
    check_shape(orbit, where)
    if orbit.a <= 0.0:
        raise ElementsError(f"{where}: a = {orbit.a!r} AU: the semi-major axis must be positive")
    if orbit.a > LARGEST_A_AU:
        raise ElementsError(f"{where}: a = {orbit.a!r} AU: beyond {LARGEST_A_AU:,.0f} AU nothing orbits the "
                            f"Sun (its sphere of influence ends near 230,000 AU)")
    perihelion = orbit.a * (1.0 - orbit.e)
    if perihelion < SUN_RADIUS_AU:
        raise ElementsError(f"{where}: the perihelion distance q = a (1 - e) = {perihelion:.3g} AU is inside the "
                            f"Sun (radius {SUN_RADIUS_AU} AU)")
    if abs(orbit.i) > LARGEST_INCLINATION:
        raise ElementsError(f"{where}: i = {orbit.i!r}: an inclination lies from -180 to 180 degrees")
    for field, value in (("w", orbit.w), ("om", orbit.om), ("M", orbit.M)):
        if abs(value) > LARGEST_ANGLE:
            raise ElementsError(f"{where}: {field} = {value!r}: give the angle within one turn, from "
                                f"-360 to 360 degrees")
    if abs(orbit.epoch) >= LARGEST_JD:
        raise ElementsError(f"{where}: epoch = {orbit.epoch!r}: a Julian date must lie within "
                            f"{LARGEST_JD:.0e} either way")
    if orbit.m <= -1.0:
        raise ElementsError(f"{where}: m = {orbit.m!r}: the mass term must be above -1")
    if orbit.m > LARGEST_MASS:
        raise ElementsError(f"{where}: m = {orbit.m!r} solar masses: a body as heavy as the Sun is no "
                            f"body of the solar system (at most {LARGEST_MASS:g})")
    return orbit


# The planetary table ------------------------------------------------------------------------------

# The source of an orbit from the table, as DATOS.DAT's note says it.
PLANET_TABLE_SOURCE = "planetary table"

def planet_orbit(name: str, jd: float) -> Orbit:
    """The elements of a planet (or the Earth-Moon barycentre) from the table of approximate elements,
    at the Julian date jd, with the epoch jd.

    The table gives the mean longitude L, the longitude of perihelion varpi and the node Omega; ephem
    takes w = varpi - Omega and M = L - varpi. The mass term m is set so that ephem's mean motion
    k * sqrt(1 + m) / a**1.5 equals the table's rate of L: the rows then follow the table's mean
    longitude, not Kepler's law for a lone body, which drifts from it by 3 to 50 arcsec a year. It is
    no mass (a few 1e-5, and below 0 where the table's a has shrunk, before 2000 for the Earth-Moon
    barycentre)."""
    body = planets.find(name)
    if body is None:
        raise ElementsError(f"{name!r} is not a planet of the table ({', '.join(planets.NAMES)})")
    if not planets.FIRST_JD <= jd < planets.END_JD:
        raise ElementsError(f"JD {jd!r} is outside the planetary table's span, 1800-01-01 to 2050-12-31; "
                            f"give the elements of {body.name} for that date instead")
    t = (jd - 2451545.0) / 36525.0
    a, e, i, mean_longitude, varpi, node = (v + r * t for v, r in zip(body.values, body.rates))
    mean_motion = math.radians(body.rates[3] / 36525.0)
    mass_term = (mean_motion * a ** 1.5 / GAUSS_K) ** 2 - 1.0
    orbit = Orbit(a=a, e=e, i=i, w=(varpi - node) % 360.0, om=node % 360.0,
                  M=reduce_degrees(mean_longitude - varpi), epoch=jd, m=mass_term, name=body.name,
                  source=f"{PLANET_TABLE_SOURCE} at JD {jd!r}", photometry=Photometry(PLANET, planet=body.name))
    return check_orbit(orbit, body.name)


# The source of the Earth's centre, which the planetary table does not hold: its orbit is fitted to ERFA's
# Earth (fitting.py), and stands in the table's Earth-Moon barycentre until it is.
GEOCENTRE_SOURCE = "the Earth's centre"
GEOCENTRE_NAMES = ("geocentre", "geocenter")


def geocentre_orbit(jd: float) -> Orbit:
    """The Earth's centre, with the elements of the Earth-Moon barycentre from the table at jd for a start."""
    barycentre = planet_orbit("emb", jd)
    return dataclasses.replace(barycentre, name="Earth", source=GEOCENTRE_SOURCE, photometry=None)


def reduce_degrees(angle: float) -> float:
    """An angle moved by whole turns into -180 to 180 degrees."""
    return angle - 360.0 * math.floor((angle + 180.0) / 360.0)


def planet_span_warning(orbit: Orbit, start: float, rows: int, step_days: float = 1.0) -> Optional[str]:
    """A warning when a planet's rows (step_days apart) run past the end of the table of approximate
    elements."""
    last = start + (rows - 1) * step_days
    if not orbit.source.startswith(PLANET_TABLE_SOURCE) or last < planets.END_JD:
        return None
    return (f"the rows run to {calendar_day(last)}, past the planetary table's span (1800-2050): beyond it "
            f"the elements of the start date are carried on by two-body motion, and the table's stated "
            f"errors no longer hold")


# Two-body drift ---------------------------------------------------------------------------------

# Rows farther than this from the epoch of a body's elements are warned about. Against an integration
# with the planets' pulls (Mercury to Neptune from ERFA's plan94), a two-body orbit from osculating
# elements drifts, seen from the Earth, by at most: Ceres 0.2' within a year of its epoch, 4.7' within
# two, 9' within three; an orbit of the Hilda group 0.8', 2.7', 5.2'; a near-Earth orbit 1.4', 2.7',
# 4.4' (and degrees after a close approach to the Earth). Two years keep the drift within a few
# arcminutes, the field of a finder; the Minor Planet Center renews its epochs every 200 days, so that
# its current elements are always well inside.
DRIFT_YEARS = 2.0
JULIAN_YEAR = 365.25


def epoch_warning(orbit: Orbit, start: float, rows: int, step_days: float = 1.0) -> Optional[str]:
    """A warning when rows (step_days apart) lie more than DRIFT_YEARS from the epoch of elements from an
    orbit listing or typed in (the planets' mean elements are taken at the start date, and their table has its own
    span)."""
    if orbit.source.startswith(PLANET_TABLE_SOURCE):
        return None
    farthest = max(abs(start - orbit.epoch), abs(start + (rows - 1) * step_days - orbit.epoch)) / JULIAN_YEAR
    if farthest <= DRIFT_YEARS:
        return None
    return (f"rows lie up to {farthest:.1f} years from the epoch of the elements "
            f"({calendar_day(orbit.epoch) or orbit.epoch}): two-body motion leaves out the planets' pulls, "
            f"which move an orbit by arcminutes within {DRIFT_YEARS:g} years and more beyond; take elements "
            f"with an epoch nearer the dates")


def same_body(target: Orbit, observer: Orbit) -> bool:
    """Whether the two orbits are one: every row would be NAN, the distance between them being 0."""
    return target.values() == observer.values() and (target.source == GEOCENTRE_SOURCE) == \
        (observer.source == GEOCENTRE_SOURCE)


# Elements by name ---------------------------------------------------------------------------------

def element_words(words: Sequence[str]) -> List[str]:
    """The words of a source with elements given as one quoted word ("a=1 e=0.5 ...") split into one
    word each, so that elements are taken in either form."""
    split: List[str] = []
    for word in words:
        parts = word.split()
        split.extend(parts if len(parts) > 1 and all("=" in part for part in parts) else [word])
    return split


ELEMENT_KEYS = {"a", "e", "i", "om", "w", "M", "epoch", "q", "T", "m", "H", "G"}


def named_orbit(words: Sequence[str], name: str = "") -> Orbit:
    """The elements given as words key=value: a e i om w M epoch, or q T in place of a M epoch; m (the
    mass, default 0) may be added, and H (with G, default 0.15) for the magnitude by the H, G system.
    Dates may be calendar dates or Julian dates."""
    given: Dict[str, float] = {}
    for word in words:
        key, sep, value = word.partition("=")
        if not sep or key not in ELEMENT_KEYS:
            raise ElementsError(f"{word!r} is not an element: give a= e= i= om= w= M= epoch= "
                                f"(or q= T= in place of a= M= epoch=)")
        if key in given:
            raise ElementsError(f"{key}= is given twice")
        if key in ("epoch", "T"):
            try:
                given[key] = julian_date(value, f"{key}=")
            except DateError as error:
                raise ElementsError(str(error)) from None
        else:
            try:
                given[key] = float(value)
            except ValueError:
                raise ElementsError(f"{key}={value!r} is not a number (write a decimal point, not a "
                                    f"comma)") from None
    needed: Tuple[str, ...]
    clash: Tuple[str, ...]
    if "q" in given or "T" in given:
        needed, clash = ("q", "e", "i", "om", "w", "T"), ("a", "M", "epoch")
    else:
        needed, clash = ("a", "e", "i", "om", "w", "M", "epoch"), ("q", "T")
    both = [k for k in clash if k in given]
    if both:
        raise ElementsError(f"{' '.join(k + '=' for k in both)} cannot be given with "
                            f"{'q= T=' if 'q' in needed else 'a= M= epoch='}")
    missing = [k for k in needed if k not in given]
    if missing:
        raise ElementsError(f"missing {' '.join(k + '=' for k in missing)}")
    if "q" in given:
        orbit = perihelion_orbit(given["q"], given["e"], given["i"], given["om"], given["w"], given["T"],
                                 "elements")
    else:
        orbit = Orbit(a=given["a"], e=given["e"], i=given["i"], w=given["w"], om=given["om"],
                      M=given["M"], epoch=given["epoch"])
    if "G" in given and "H" not in given:
        raise ElementsError("G= needs H=: the slope parameter goes with an absolute magnitude")
    for key in ("H", "G"):
        if not math.isfinite(given.get(key, 0.0)):
            raise ElementsError(f"{key}={given[key]!r} is not a finite number")
    if "H" in given:
        orbit.photometry = check_photometry(Photometry(MINOR_PLANET, given["H"], given.get("G", DEFAULT_G)),
                                            "elements")
    orbit.m = given.get("m", 0.0)
    if orbit.m < 0.0:
        raise ElementsError(f"elements: m = {orbit.m!r}: a mass cannot be negative")
    orbit.name = name
    orbit.source = "elements " + " ".join(words)
    return check_orbit(orbit, "elements")


def perihelion_orbit(q: float, e: float, i: float, om: float, w: float, perihelion_time: float,
                     where: str) -> Orbit:
    """An orbit given by its perihelion distance q (AU) and time T: a = q / (1 - e), and the mean anomaly
    is 0 at T, which becomes the epoch."""
    if not q > 0.0:
        raise ElementsError(f"{where}: q = {q!r} AU: the perihelion distance must be positive")
    check_shape(Orbit(a=q, e=e, i=i, w=w, om=om, M=0.0, epoch=perihelion_time), where)
    return check_orbit(Orbit(a=q / (1.0 - e), e=e, i=i, w=w, om=om, M=0.0, epoch=perihelion_time), where)
