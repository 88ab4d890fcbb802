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
