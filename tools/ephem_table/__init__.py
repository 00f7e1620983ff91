"""ephem-table, the companion of ephem: writes its input DATOS.DAT from the sources users have and
turns its table ZEPO.DAT into CSV, a picture or a summary.

Modules: table (reading ZEPO.DAT, dates, CSV), planets (the table of approximate planetary elements),
elements (orbits from a planet, an MPC line or named elements), datos (writing DATOS.DAT), events,
plot, cli (the command line).
"""
