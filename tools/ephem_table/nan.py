"""Which rows of a table hold NAN, in which fields, and the cases in which ephem writes it."""

import math
from typing import TYPE_CHECKING, List, Optional

from .dates import calendar_day
from .row import FIELD_NAMES, Row, Table

if TYPE_CHECKING:
    from .datos import Datos

# The cases in which ephem writes NAN, as the README and ephem(1) list them.
NAN_CAUSES = ("an orbit in DATOS.DAT that is no ellipse: an eccentricity of 1 or more, a semi-major axis of 0 "
              "or less, a mass below -1, a value that is not a finite number",
              "target and observer at one point (observer distance 0)",
              "a target exactly at a celestial pole (no right ascension)")


class NanSummary:
    """Which rows of a table hold a NAN, and in which fields."""

    def __init__(self, table: Table) -> None:
        self.total = len(table)
        self.rows: List[int] = []
        fields = set()
        self.first_time: Optional[float] = None
        values = table.values
        # A NAN anywhere makes the sum NAN: the rows are looked at one by one only then.
        if math.isnan(sum(values)):
            for index, row in enumerate(table):
                nan_fields = [f for f, v in zip(Row._fields, row) if math.isnan(v)]
                if nan_fields:
                    self.rows.append(index)
                    fields.update(nan_fields)
                    if self.first_time is None:
                        self.first_time = row.jd_tdb
        self.fields = [f for f in Row._fields if f in fields]

    def __bool__(self) -> bool:
        return bool(self.rows)

    def where(self) -> str:
        fields = ", ".join(FIELD_NAMES[f] for f in self.fields)
        first = self.first_time if self.first_time is not None else math.nan
        when = calendar_day(first) or f"JD {first}"
        return f"in {fields}; first on {when}"

    def message(self, name: str) -> str:
        return (f"{name}: {len(self.rows)} of {self.total} rows hold NAN ({self.where()}); "
                f"likely causes: {'; '.join(NAN_CAUSES)}")


def datos_causes(found: "Datos") -> List[str]:
    """The values of DATOS.DAT that make ephem write NAN: an orbit that is no ellipse, named by its value
    ("the target's e = 1.2 in DATOS.DAT: ephem computes ellipses only (e below 1)"); [] when they are all
    ellipses."""
    causes = []
    for which, orbit in (("target", found.target), ("observer", found.observer)):
        if not orbit.e < 1.0:
            causes.append(f"the {which}'s e = {orbit.e!r}: ephem computes ellipses only (e from 0 to below 1); "
                          f"every value that depends on the {which} is NAN")
        elif not orbit.a > 0.0:
            causes.append(f"the {which}'s a = {orbit.a!r}: a semi-major axis must be above 0")
        elif not orbit.m >= -1.0:
            causes.append(f"the {which}'s m = {orbit.m!r}: a mass must be at least -1")
        elif not all(math.isfinite(v) for v in orbit.values()):
            causes.append(f"the {which}'s orbit holds a value that is not a finite number")
    return causes
