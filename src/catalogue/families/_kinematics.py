"""Planar linkage geometry shared by the mechanism and arm studies."""

from __future__ import annotations

import math


def circle_meet(a, ra, b, rb, side):
    """The meeting point of the circles about a (radius ra) and b (radius rb).

    `side` (+1 or -1) picks the point left or right of the line from a to b, which keeps
    one assembly of a linkage over the whole cycle.
    """
    dx, dy = b[0] - a[0], b[1] - a[1]
    d2 = dx * dx + dy * dy
    d = math.sqrt(d2)
    along = (ra * ra - rb * rb + d2) / (2 * d)
    h2 = ra * ra - along * along
    if h2 < 0:
        raise ValueError(f"the links cannot meet: |ab| = {d}, radii {ra} and {rb}")
    h = side * math.sqrt(h2)
    return (a[0] + (along * dx - h * dy) / d, a[1] + (along * dy + h * dx) / d)


def link_point(a, b, along, across):
    """A point fixed to the link a-b, `along` it and `across` to its left, in link lengths."""
    dx, dy = b[0] - a[0], b[1] - a[1]
    return (a[0] + along * dx - across * dy, a[1] + along * dy + across * dx)


def centred(samples):
    """The samples moved so that each axis's range is centred on zero."""
    mids = [0.5 * (max(s[i] for s in samples) + min(s[i] for s in samples)) for i in range(3)]
    return [tuple(v - m for v, m in zip(s, mids)) for s in samples]
