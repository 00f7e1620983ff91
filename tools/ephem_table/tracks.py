"""The reference path of one body between two dates, ERFA's places or the integration, read alike: where
the body is at any time within them, and its position and velocity at one time.

A reference holds only within its span (plan94 1000-3000, epv00 1900-2100, the integration where the
planets' places hold); outside it there is no track, and the caller says why and falls back.
"""

from typing import Any, Protocol, Tuple

from . import integration, references
from .elements import INTEGRATION, PLANET, Orbit, Reference

Array = Any  # numpy.ndarray


class Track(Protocol):
    def positions(self, times: Array) -> Array:
        """Heliocentric ecliptic positions (AU), one row of three a time."""

    def state_at(self, t: float) -> Tuple[Array, Array]:
        """The heliocentric ecliptic position (AU) and velocity (AU/day) at one time."""


class Unavailable(ValueError):
    """No track of that reference over those dates; the text says why."""


class ErfaTrack:
    def __init__(self, reference: Reference) -> None:
        self.reference = reference

    def positions(self, times: Array) -> Array:
        return references.erfa_positions(self.reference, times)

    def state_at(self, t: float) -> Tuple[Array, Array]:
        where, speed = references.erfa_states(self.reference, [t])
        return where[0], speed[0]


def track_of(reference: Reference, first: float, last: float) -> Track:
    """The track of the reference from the Julian date first to last (TDB); Unavailable, with the
    reason, where it has none."""
    if reference.kind == INTEGRATION:
        a, e, i, w, om, mean_anomaly, epoch, m = reference.elements
        orbit = Orbit(a=a, e=e, i=i, w=w, om=om, M=mean_anomaly, epoch=epoch, m=m)
        try:
            return integration.integrate(orbit, first, last)
        except integration.OutsideSpan:
            raise Unavailable("the integration needs the planets' places of plan94, 1000-3000, from the epoch of "
                              "the elements through the dates") from None
    if reference.kind == PLANET and reference.planet not in references.PLAN94_NUMBERS:
        raise Unavailable(f"ERFA's plan94 has no {reference.planet}")
    low, high = references.span_of(reference)
    if not (low <= first and last <= high):
        name = "plan94" if reference.kind == PLANET else "epv00"
        raise Unavailable(f"the dates run outside ERFA's {name} span, {references.years(low, high)}")
    return ErfaTrack(reference)


def good_for(reference: Reference) -> str:
    """What the reference itself is good for, in words without a comma."""
    if reference.kind == INTEGRATION:
        return integration.GOOD_FOR
    return references.description(reference)
