"""The row of ephem's table, with named fields, and a table of rows held by column.

A row is what ephem writes for one time: the Julian date (on the scale of the epochs in DATOS.DAT,
TDB), the geometric right ascension and declination referred to the mean equator and equinox of
J2000, the distances from the Sun and from the observer, the elongation, the phase angle and the
illuminated fraction. NAN and INF values are kept as they are.
"""

from array import array
from typing import Iterable, Iterator, List, Literal, NamedTuple, Optional, Sequence


class Row(NamedTuple):
    jd_tdb: float
    ra_hours: float
    dec_deg: float
    sun_distance_au: float
    observer_distance_au: float
    elongation_deg: float
    phase_angle_deg: float
    illuminated_fraction: float


# The name of a field of a row, checked where it is written.
Field = Literal["jd_tdb", "ra_hours", "dec_deg", "sun_distance_au", "observer_distance_au", "elongation_deg",
                "phase_angle_deg", "illuminated_fraction"]

ROW_LENGTH = len(Row._fields)

# What each field holds, for messages.
FIELD_NAMES = {"jd_tdb": "time", "ra_hours": "right ascension", "dec_deg": "declination",
               "sun_distance_au": "Sun distance", "observer_distance_au": "observer distance",
               "elongation_deg": "elongation", "phase_angle_deg": "phase angle",
               "illuminated_fraction": "illuminated fraction"}


class Table:
    """The rows of a table in their order, held as one array of doubles (eight a row), so that a table
    of millions of rows takes 64 bytes a row; `notes` are what reading it found worth saying (a torn
    last row dropped, a table still being written)."""

    def __init__(self, name: str, values: Optional["array[float]"] = None,
                 notes: Sequence[str] = ()) -> None:
        self.name = name
        self.values: "array[float]" = values if values is not None else array("d")
        if len(self.values) % ROW_LENGTH:
            raise ValueError("a table holds whole rows")
        self.notes: List[str] = list(notes)

    @classmethod
    def of_rows(cls, name: str, rows: Iterable[Sequence[float]]) -> "Table":
        table = cls(name)
        for row in rows:
            if len(row) != ROW_LENGTH:
                raise ValueError("a row has eight values")
            table.values.extend(row)
        return table

    def __len__(self) -> int:
        return len(self.values) // ROW_LENGTH

    def __getitem__(self, index: int) -> Row:
        if index < 0:
            index += len(self)
        if not 0 <= index < len(self):
            raise IndexError(index)
        return Row._make(self.values[ROW_LENGTH * index:ROW_LENGTH * (index + 1)])

    def __iter__(self) -> Iterator[Row]:
        values = self.values
        for start in range(0, len(values), ROW_LENGTH):
            yield Row._make(values[start:start + ROW_LENGTH])

    def column(self, field: Field) -> "array[float]":
        """The values of one field, a row each."""
        return self.values[Row._fields.index(field)::ROW_LENGTH]
