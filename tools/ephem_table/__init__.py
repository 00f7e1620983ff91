"""ephem-table, the companion of ephem: writes its input DATOS.DAT from the sources users have and
turns its table ZEPO.DAT into CSV, a picture or a summary.

Modules, from the ground up: errors (the two kinds of failure), dates (Julian dates and the calendar,
TDB), timescales (UTC from TDB), row (the row of the table with named fields, and a table of rows),
files (bounded reading, careful writing), table (reading ZEPO.DAT), nan (rows holding NAN and why),
csvout (the CSV and the texts of values), planets (the table of approximate planetary elements),
elements (orbits and their checks), mpc (orbits from the Minor Planet Center's formats), datos
(DATOS.DAT written and read), events, plot, run (ephem found and run in a folder), cli (the command
line).
"""

# The version of ephem-table, which ships with ephem and has its number (CMakeLists.txt's project()).
__version__ = "1.0"
