"""Tests of the CSV and of the texts of its values: sexagesimal angles and numbers."""

import csv
import io
import math
import unittest

from ephem_table import csvout
from ephem_table.row import Row


class SexagesimalTest(unittest.TestCase):
    def test_right_ascension(self):
        cases = [
            (22.0352961, "22:02:07.07"),
            (0.0, "00:00:00.00"),
            (12.5, "12:30:00.00"),
            (23.9999999999, "00:00:00.00"),  # rounds to 24 h, which is 0 h
            (24.0, "00:00:00.00"),           # ephem can write exactly 24
            (1.0 - 0.004 / 3600, "01:00:00.00"),  # 59.996 s carries into the minute and hour
            (math.nan, ""),
            (math.inf, ""),
        ]
        for hours, text in cases:
            with self.subTest(hours=hours):
                self.assertEqual(csvout.hours_hms(hours), text)

    def test_declination(self):
        cases = [
            (-13.1786492, "-13:10:43.1"),
            (5.5, "+05:30:00.0"),
            (90.0, "+90:00:00.0"),
            (-0.0, "+00:00:00.0"),
            (-0.00001, "+00:00:00.0"),        # rounds to zero: no minus before a zero
            (-0.0001, "-00:00:00.4"),
            (29.999999999, "+30:00:00.0"),    # carries through seconds and minutes
            (math.nan, ""),
            (-math.inf, ""),
            (1e300, ""),
        ]
        for degrees, text in cases:
            with self.subTest(degrees=degrees):
                self.assertEqual(csvout.degrees_dms(degrees), text)


class CsvTest(unittest.TestCase):
    def test_records_read_back_as_the_same_values(self):
        rows = [Row(2451545.0, 22.0352961, -13.1786492, 1.39115922, 1.84956441, 47.6050457, 31.4665953,
                    0.926472324),
                Row(2451546.0, math.nan, math.inf, 1.0, 0.0, -math.inf, 0.1 + 0.2, 1e-300)]
        out = io.StringIO()
        csvout.write_csv(rows, out)
        note, _, body = out.getvalue().partition("\n")
        self.assertTrue(note.startswith("# ") and "J2000" in note and "TDB" in note, note)
        self.assertNotIn(",", note)  # one cell
        records = list(csv.DictReader(io.StringIO(body)))
        self.assertEqual(tuple(records[0]), csvout.CSV_HEADER)
        self.assertEqual(len(records), 2)
        first = dict(zip(csvout.CSV_HEADER, body.splitlines()[1].split(",")))
        self.assertEqual((first["date_tdb"], first["ra_hms"], first["dec_dms"]),
                         ("2000-01-01 12:00:00", "22:02:07.07", "-13:10:43.1"))
        numeric = ("julian_date_tdb", "ra_hours", "dec_degrees", "sun_distance_au", "observer_distance_au",
                   "elongation_deg", "phase_angle_deg", "illuminated_fraction")
        for row, line in zip(rows, body.splitlines()[1:]):
            record = dict(zip(csvout.CSV_HEADER, line.split(",")))
            for field, value in zip(numeric, row):
                with self.subTest(field=field, value=value):
                    back = float(record[field])
                    self.assertTrue(back == value or (math.isnan(back) and math.isnan(value)))
        second = dict(zip(csvout.CSV_HEADER, body.splitlines()[2].split(",")))
        self.assertEqual((second["ra_hours"], second["ra_hms"], second["dec_degrees"], second["dec_dms"]),
                         ("NaN", "", "inf", ""))


if __name__ == "__main__":
    unittest.main()
