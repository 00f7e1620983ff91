"""Tests of the model error's panel: drawn on the axes it is given, its scale by the spread of the values, and
placed by the figure of a table when the model errors are known."""

import importlib.util
import math
import unittest

from testing import TestCase
from ephem_table.elements import BARYCENTRE, PLANET, Reference

HAVE_MATPLOTLIB = importlib.util.find_spec("matplotlib") is not None


def errors(total, observer, target):
    import numpy
    from ephem_table.accuracy import ModelErrors
    return ModelErrors(numpy.array(total), numpy.array(observer), numpy.array(target), numpy.zeros(len(total)),
                       Reference(PLANET, planet="Mars"), Reference(BARYCENTRE))


@unittest.skipUnless(HAVE_MATPLOTLIB, "matplotlib is not installed")
class ModelErrorPanelTest(TestCase):
    def test_the_panel_on_its_own_axes(self):
        import numpy
        from matplotlib.figure import Figure
        from ephem_table.plot_accuracy import draw_model_error
        x = numpy.arange(5.0)
        cases = [
            # (the row's, the observer's and the target's parts; the scale; the curves drawn)
            (([0.2, 0.5, 0.7, 0.4, 0.3], [1.0, 2.0, 3.0, 2.0, 1.0], [1.1, 2.2, 3.1, 2.1, 1.2]), "linear",
             ["the row", "the observer's part", "the target's part"]),
            # A fly-by: from a hundredth of an arcsec to degrees.
            (([0.01, 3.0, 40000.0, 2.0, 0.02], [0.01, 0.1, 9.0, 0.1, 0.01], [0.02, 3.0, 40000.0, 2.0, 0.02]), "log",
             ["the row", "the observer's part", "the target's part"]),
            # Rows without a place leave their part out: no curve of NAN values.
            (([math.nan] * 5, [1.0, 2.0, 3.0, 2.0, 1.0], [1.0] * 5), "linear", ["the observer's part",
                                                                               "the target's part"]),
        ]
        for parts, scale, labels in cases:
            with self.subTest(scale=scale, labels=labels):
                axis = Figure().add_subplot()
                draw_model_error(axis, x, errors(*parts), lambda a, b: (a, b))
                self.assertEqual(axis.get_yscale(), scale)
                self.assertEqual([line.get_label() for line in axis.get_lines()], labels)
                self.assertEqual(axis.get_title(), "model error: each row against ERFA's Mars seen from ERFA's "
                                                   "Earth-Moon barycentre")
                if scale == "linear":
                    self.assertEqual(axis.get_ylim()[0], 0.0)

    def test_the_figure_of_a_table_has_the_panel_when_the_errors_are_known(self):
        from ephem_table import plot
        from ephem_table.row import Table
        rows = Table.of_rows("rows", [(2461041.5 + k, 10.0 + 0.01 * k, 5.0, 1.5, 1.0, 90.0, 30.0, 0.9)
                                      for k in range(20)])
        for known in (False, True):
            with self.subTest(known=known):
                model = errors([0.1] * 20, [0.2] * 20, [0.3] * 20) if known else None
                fig = plot.figure(rows, "title", model=model)
                panels = [a for a in fig.axes if a.get_title().startswith("model error: ")]
                self.assertEqual(len(panels), int(known))


if __name__ == "__main__":
    unittest.main()
