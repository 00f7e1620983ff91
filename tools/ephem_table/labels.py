"""Labels that never overlap: the room a panel has left for text, in pixels, and the placing of a label
at the first of its spots where it covers no line, marker, tick label, legend or other label.

Labels go where they cover nothing, by the extents the renderer gives their text; those that find no
room are left out, the first, last and middle ones tried first (spread) so that those left are spread
evenly.
"""

import math
from typing import Any, Callable, Iterable, List, Sequence, Tuple, TypeVar

DPI = 100
LABEL_SIZE = 7  # points
LABEL_PAD = 2.0  # pixels kept free around a label

Array = Any  # a numpy array of doubles
Box = Tuple[float, float, float, float]  # left, bottom, right, top, in pixels
Spot = Tuple[float, float, str, str]  # a label's anchor in pixels, and its alignments there
T = TypeVar("T")


def spread(items: Sequence[T]) -> List[T]:
    """The items in the order labels are tried: the first, then the middle, then the quarters and so
    on, so that those that find room are spread evenly when not all do."""
    def level(i: int) -> int:
        return 64 if i == 0 else (i & -i).bit_length()
    return [items[i] for i in sorted(range(len(items)), key=lambda i: (-level(i), i))]



def crosses(segments: Array, box: Box) -> bool:
    """Whether any segment (x0, y0, x1, y1 a row, pixels) meets the box: none does when each lies beyond
    one side of the box, or has all four corners on one side of its line."""
    import numpy
    left, bottom, right, top = box
    x0, y0, x1, y1 = segments[:, 0], segments[:, 1], segments[:, 2], segments[:, 3]
    near = ~((numpy.maximum(x0, x1) < left) | (numpy.minimum(x0, x1) > right) |
             (numpy.maximum(y0, y1) < bottom) | (numpy.minimum(y0, y1) > top))
    if not near.any():
        return False
    x0, y0, x1, y1 = x0[near], y0[near], x1[near], y1[near]
    dx, dy = x1 - x0, y1 - y0
    sides = numpy.stack([dx * (cy - y0) - dy * (cx - x0)
                         for cx, cy in ((left, bottom), (left, top), (right, bottom), (right, top))])
    apart = (sides > 0).all(axis=0) | (sides < 0).all(axis=0)
    return bool((~apart).any())


def extents(bbox: Any) -> Box:
    left, bottom, right, top = bbox.extents
    return float(left), float(bottom), float(right), float(top)


class Room:
    """The space of a panel left for labels, in pixels: inside `frame`, off every line segment, marker,
    tick label, legend and label placed before."""

    def __init__(self, frame: Box) -> None:
        import numpy
        self.frame = frame
        self.boxes: List[Box] = []
        self.pieces: List[Array] = [numpy.empty((0, 4))]

    @classmethod
    def of(cls, axes: Sequence[Any], renderer: Any) -> "Room":
        """The room of the first axes, with the lines, markers, legends and tick labels of all."""
        import numpy
        room = cls(extents(axes[0].bbox))
        for axis in axes:
            for line in axis.get_lines():
                points = line.get_transform().transform(numpy.asarray(line.get_xydata(), dtype=float))
                if line.get_linestyle() not in ("None", "", " "):
                    room.add_line(points)
                if line.get_marker() not in ("None", "", " ", None) and len(points) <= 5000:
                    r = line.get_markersize() * DPI / 144.0 + 1.0
                    room.boxes.extend((x - r, y - r, x + r, y + r) for x, y in points
                                      if math.isfinite(x) and math.isfinite(y))
            legend = axis.get_legend()
            texts = axis.get_xticklabels() + axis.get_yticklabels()
            for artist in texts + ([legend] if legend is not None else []):
                if artist.get_visible() and (artist is legend or artist.get_text()):
                    room.boxes.append(extents(artist.get_window_extent(renderer)))
        return room

    def add_line(self, points: Array) -> None:
        """A polyline (n rows of x, y); a row holding NAN breaks it."""
        import numpy
        segments = numpy.concatenate([points[:-1], points[1:]], axis=1)
        self.pieces.append(segments[numpy.isfinite(segments).all(axis=1)])

    def free(self, box: Box, lines: bool = True) -> bool:
        """Whether the box is in the frame and off every box (and, unless `lines` is false, every line)."""
        left, bottom, right, top = box
        f_left, f_bottom, f_right, f_top = self.frame
        if left < f_left or bottom < f_bottom or right > f_right or top > f_top:
            return False
        if any(left < r and l < right and bottom < t and b < top for l, b, r, t in self.boxes):
            return False
        if not lines:
            return True
        if len(self.pieces) > 1:
            import numpy
            self.pieces = [numpy.concatenate(self.pieces)]
        return not crosses(self.pieces[0], box)


def place_label(axis: Any, room: Room, renderer: Any, text: str, spots: Callable[[float, float], Iterable[Spot]],
                **style: Any) -> bool:
    """Writes `text` at the first of its spots (given its width and height in pixels) where it fits in
    the room and takes that space; False, and nothing written, when none has room."""
    label = axis.annotate(text, (0.0, 0.0), xycoords="axes fraction", fontsize=LABEL_SIZE, **style)
    extent = label.get_window_extent(renderer)
    width, height = extent.width, extent.height
    for x, y, ha, va in spots(width, height):
        left = x if ha == "left" else x - width if ha == "right" else x - width / 2.0
        bottom = y if va == "bottom" else y - height if va == "top" else y - height / 2.0
        box = (left - LABEL_PAD, bottom - LABEL_PAD, left + width + LABEL_PAD, bottom + height + LABEL_PAD)
        if room.free(box):
            room.boxes.append(box)
            label.xy = label.xyann = tuple(axis.transAxes.inverted().transform((x, y)))
            label.set_horizontalalignment(ha)
            label.set_verticalalignment(va)
            return True
    label.remove()
    return False


def around(x: float, y: float, d: float) -> Callable[[float, float], Iterable[Spot]]:
    """Spots for the label of a point: above, below and beside it, `d` pixels off, clear of its marker."""
    def spots(width: float, height: float) -> Iterable[Spot]:
        return [(x + d, y + d, "left", "bottom"), (x - d, y + d, "right", "bottom"),
                (x + d, y - d, "left", "top"), (x - d, y - d, "right", "top"),
                (x + 1.5 * d, y, "left", "center"), (x - 1.5 * d, y, "right", "center"),
                (x, y + 1.5 * d, "center", "bottom"), (x, y - 1.5 * d, "center", "top")]
    return spots


def along(x: float, top: float, bottom: float) -> Callable[[float, float], Iterable[Spot]]:
    """Spots for the label of a vertical line: beside it, from the top down."""
    def spots(width: float, height: float) -> Iterable[Spot]:
        y = top - 3.0
        while y - height > bottom:
            yield (x + 3.0, y, "left", "top")
            yield (x - 3.0, y, "right", "top")
            y -= height + 1.0
    return spots


def pin_legend(axis: Any, renderer: Any, **style: Any) -> None:
    """The legend drawn where matplotlib's "best" puts it now, kept there whatever is drawn later."""
    box = axis.get_legend().get_window_extent(renderer)
    x, y = axis.transAxes.inverted().transform((box.x0, box.y0))
    axis.legend(loc=(float(x), float(y)), **style)

