"""The two kinds of failure of ephem-table and their exit statuses.

Every failure is reported as one line on standard error. Its text names the file, line and field
where there is one.
"""


class DataError(Exception):
    """Bad data: a file that cannot be read or is malformed, elements ephem cannot compute, an output
    that cannot be written. Exit status 1."""


class UsageError(Exception):
    """A command line that cannot be carried out, elements and dates typed on it included. Exit
    status 2."""


DATA_STATUS = 1
USAGE_STATUS = 2
