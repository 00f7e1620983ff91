"""The model error drawn: a panel of each row's angle from the reference place against the date, with the
observer's and the target's parts (accuracy.py), on a logarithmic scale where they span several orders.

`draw_model_error` draws on the matplotlib axes it is given, and nothing else: the figure places the
panel where it likes, with its time axis shared with the others.
"""

from typing import Any, Callable, Tuple

from .accuracy import ModelErrors
from .elements import BARYCENTRE, GEOCENTRE, PLANET, Reference

Array = Any  # numpy.ndarray

# Values spanning more than this factor are drawn on a logarithmic scale.
WIDE_ERRORS = 30.0


def short_name(reference: Reference) -> str:
    """The reference in a word or two, for a title that fits the panel (info and the CSV name it whole)."""
    if reference.kind == PLANET:
        return f"ERFA's {reference.planet}"
    return {GEOCENTRE: "ERFA's Earth", BARYCENTRE: "ERFA's Earth-Moon barycentre"}.get(reference.kind,
                                                                                      "the integration")


def draw_model_error(axis: Any, x: Array, errors: ModelErrors,
                     decimate: Callable[[Array, Array], Tuple[Array, Array]]) -> None:
    """The panel on `axis`: the model error of every row (x the rows' abscissae) and its two parts, drawn
    through `decimate` (x, values -> the points to draw); the title names the references."""
    import numpy
    curves = [(errors.arcsec, "the row", {"color": "black", "linewidth": 1.4}),
              (errors.observer_arcsec, "the observer's part", {"color": "tab:blue", "linestyle": "--"}),
              (errors.target_arcsec, "the target's part", {"color": "tab:red", "linestyle": ":"})]
    drawn = []
    for values, label, style in curves:
        values = numpy.asarray(values, dtype=float)
        if numpy.isfinite(values).any():
            axis.plot(*decimate(x, values), label=label, **style)
            drawn.append(values[numpy.isfinite(values) & (values > 0.0)])
    shown = numpy.concatenate(drawn) if drawn else numpy.array([])
    if len(shown) and shown.max() > WIDE_ERRORS * shown.min():
        axis.set_yscale("log", nonpositive="mask")
    else:
        axis.set_ylim(bottom=0.0)
    axis.set_ylabel("arcsec")
    axis.set_title(f"model error: each row against {short_name(errors.target_reference)} seen from "
                   f"{short_name(errors.observer_reference)}", fontsize=10)
    axis.grid(True, alpha=0.3)
    axis.legend(loc="best", fontsize=7)
