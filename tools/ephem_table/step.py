"""The step between rows, and the two-body problem scaled to it.

ephem writes one row a day of its own time unit. The two-body problem has the same motion in any unit
of time when lengths follow by Kepler's third law: with every time multiplied by s and every semi-major
axis by s^(2/3) (masses unchanged), the mean motion k sqrt(1 + m) / a^1.5 becomes n / s per unit of the
new time, so a row of ephem is 1/s day, every position is the true one times s^(2/3), and every angle
(right ascension, declination, elongation, phase angle, illuminated fraction) is the one of the real
geometry at that moment. The model stays what it is: geometric places, two bodies.

How the values are formed, so that the scaled run computes the real one as closely as doubles allow:
- s is the exact ratio of a day to the step (144 for 10m, 1/7 for 7d), kept as a fraction;
- times are counted from the start of the table: the start becomes 0 and each epoch s (epoch - start),
  formed exactly and rounded once. ephem's row k is then at time k exactly, and the differences of
  times it forms are s times the real ones, exact wherever s (epoch - start) is a double (whole and
  binary fractions of a day times a whole s); multiplying the Julian dates themselves would round
  twice as often, at numbers 1440 times larger;
- each semi-major axis is the double nearest to a s^(2/3), found from the exact cube a^3 s^2 (no
  rounded s^(2/3) multiplied in), so that the positions carry one rounding as the daily run's do.
Only a step whose factor s^(2/3) is a power of two (s = 8, 64, 512: 3h, 22.5m) scales the doubles
exactly; at other steps the scaled run rounds its positions at other places than the daily run, and
a printed ninth digit can differ by one unit where the formula is ill-conditioned (an arc cosine near
0 or 180 degrees).
"""

import math
import re
from array import array
from fractions import Fraction
from typing import NamedTuple, Sequence

from .row import ROW_LENGTH, Table

# A duration as --step takes it: a number of ASCII digits (the step is written into DATOS.DAT, which is
# ASCII) and a unit (m minutes, h hours, d days).
DURATION = re.compile(r"([0-9]+(?:\.[0-9]*)?|\.[0-9]+)([mhd])")
UNIT_DAYS = {"m": Fraction(1, 1440), "h": Fraction(1, 24), "d": Fraction(1)}
UNIT_NAMES = {"m": "min", "h": "h", "d": "d"}
DURATION_FORMS = "a number and m, h or d: 10m, 1h, 0.5d, 7d"
SHORTEST = Fraction(1, 1440)
LONGEST = Fraction(100)

# The digits of ZEPO.DAT's numbers: the real distances are given to as many.
TABLE_DIGITS = 9


class Step(NamedTuple):
    """The step between rows: its text as given ("10m") and its length in days, exact."""
    text: str
    days: Fraction

    @property
    def daily(self) -> bool:
        return self.days == 1

    @property
    def time_factor(self) -> Fraction:
        """s: the rows of ephem per day."""
        return 1 / self.days

    @property
    def length_factor(self) -> float:
        """s^(2/3), the double nearest to it."""
        return scaled_axis(1.0, self.time_factor)

    def words(self) -> str:
        """The step as people say it: "10 min", "1 h", "0.5 d"."""
        number, unit = self.text[:-1], self.text[-1]
        return f"{number} {UNIT_NAMES[unit]}"


DAILY = Step("1d", Fraction(1))


def parse_step(text: str) -> Step:
    """The step a duration gives; ValueError, with what is wrong, for any other text or a step outside
    one minute to 100 days."""
    found = DURATION.fullmatch(text.strip())
    if found is None:
        raise ValueError(f"{text!r} is no duration: give {DURATION_FORMS}")
    days = Fraction(found.group(1)) * UNIT_DAYS[found.group(2)]
    if not SHORTEST <= days <= LONGEST:
        raise ValueError(f"{text!r}: a step lies from 1 minute to 100 days")
    number = found.group(1).lstrip("0") or "0"
    if "." in number:
        number = number.rstrip("0").rstrip(".") or "0"
    return Step(("0" if number.startswith(".") else "") + number + found.group(2), days)


def scaled_axis(a: float, s: Fraction) -> float:
    """The double nearest to a s^(2/3), for a positive a: the one whose interval of roundings holds the
    cube root of a^3 s^2, tested exactly on the cubes of the interval's ends."""
    x = a * math.pow(float(s), 2.0 / 3.0)
    if not (a > 0.0 and math.isfinite(x)):
        return x  # no orbit's axis: nothing to round better
    cube = Fraction(a) ** 3 * s * s
    while True:
        above, below = math.nextafter(x, math.inf), math.nextafter(x, 0.0)
        if ((Fraction(x) + Fraction(above)) / 2) ** 3 < cube:
            x = above
        elif ((Fraction(x) + Fraction(below)) / 2) ** 3 > cube:
            x = below
        else:
            return x


def scaled_time(jd: float, origin: float, s: Fraction) -> float:
    """The time of ephem's scaled run at a Julian date: s (jd - origin), rounded once."""
    if not (math.isfinite(jd) and math.isfinite(origin)):
        return (jd - origin) * float(s)
    return float((Fraction(jd) - Fraction(origin)) * s)


def real_time(time: float, origin: float, s: Fraction) -> float:
    """The Julian date of a time of the scaled run: origin + time / s, rounded once."""
    if not (math.isfinite(time) and math.isfinite(origin)):
        return origin + time / float(s)
    return float(Fraction(origin) + Fraction(time) / s)


def real_distance(distance: float, factor: float) -> float:
    """A distance of the scaled run over the length factor, to the digits of the table (NAN and INF as
    they are)."""
    if not math.isfinite(distance):
        return distance
    return float(f"{distance / factor:.{TABLE_DIGITS}g}")


def real_table(table: Table, step: Step, origin: float, start: float) -> Table:
    """The table of a scaled run, in real dates and distances: row k at the Julian date of time
    start + k, the time ephem gave it (each date rounded once from the exact sum), r and Delta over the
    length factor to the table's nine digits, the angles as they are."""
    factor = step.length_factor
    # origin + (start + k) / s = (base + k n) / d, with one exact fraction for the first row.
    first = Fraction(origin) + Fraction(start) * step.days
    base, denominator = first.numerator * step.days.denominator, first.denominator * step.days.denominator
    per_row = step.days.numerator * first.denominator
    values = array("d", table.values)
    for k in range(len(table)):
        at = ROW_LENGTH * k
        values[at] = (base + k * per_row) / denominator
        values[at + 3] = real_distance(values[at + 3], factor)
        values[at + 4] = real_distance(values[at + 4], factor)
    return Table(table.name, values, table.notes)


def scaled_note(step: Step) -> str:
    """What the companion makes of a scaled run's table, in words without a comma (for the CSV's
    comment line too)."""
    return (f"rows every {step.words()}: ZEPO.DAT's time column counts the steps from the start and its "
            f"distances are {step.length_factor:.9g} times the real ones ({step.time_factor}^(2/3): the "
            f"two-body problem scaled by Kepler's third law); the dates here are the start plus the steps "
            f"and the distances ZEPO.DAT's over the factor to its nine significant digits; the angles are "
            f"as it prints them")


# How far apart a place of the table and the same place computed from its DATOS.DAT may lie, as a share of
# the distance, and still be one: the table's nine digits (a unit of the ninth in a right ascension of
# 22 h is 1.3E-8 of the distance), with room for the rounding of both computations.
PLACE_RESOLUTION = 1e-7


def offset_in_steps(seen: Sequence[float], before: Sequence[float], at: Sequence[float], after: Sequence[float],
                    distance: float) -> float:
    """How many steps from `at` the place `seen` lies along the motion through the places `before`,
    `at` and `after`, one step apart (vectors of the body from the observer, at `distance`): 0 where
    `seen` is `at` to the table's resolution. A table whose first row is half a step or more from the
    start its DATOS.DAT states is another table: the scaled time column starts at 0 whatever the start
    was, so only the places can tell."""
    error = [s - a for s, a in zip(seen, at)]
    motion = [(b - a) / 2.0 for a, b in zip(before, after)]
    speed = math.sqrt(sum(m * m for m in motion))
    if math.sqrt(sum(e * e for e in error)) <= PLACE_RESOLUTION * distance or not speed > 0.0:
        return 0.0
    return sum(e * m for e, m in zip(error, motion)) / (speed * speed)


def counts_steps(table: Table) -> bool:
    """Whether the table's times count rows from 0, as ephem writes the table of a scaled run: the
    first row at time 0 (a daily table would start on -4712-01-01 at noon)."""
    return len(table) > 0 and table[0].jd_tdb == 0.0
