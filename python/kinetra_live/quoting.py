"""Echoing what we were given in an error message, safely: quoted and cut."""

from __future__ import annotations

ECHO_LIMIT = 40


def quoted(value: object, limit: int = ECHO_LIMIT) -> str:
    """`repr` of at most `limit` characters of the text: newlines and terminal escapes come
    out escaped, and a long value is cut with an ellipsis, so a message stays one short line."""
    text = value if isinstance(value, str) else str(value)
    if len(text) > limit:
        return repr(text[:limit]) + "…"
    return repr(text)


def one_line(text: str, limit: int = 120) -> str:
    """An error's own text as one line: control characters escaped, cut with an ellipsis."""
    cut = len(text) > limit
    shown = "".join(c if c.isprintable() else repr(c)[1:-1] for c in text[:limit])
    return shown + ("…" if cut else "")
