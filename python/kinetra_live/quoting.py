"""Echoing what a user gave in an error message: one line, cut short, nothing the terminal
would act on."""

from __future__ import annotations

QUOTE_LIMIT = 40       # characters of an echoed string
MESSAGE_LIMIT = 500    # characters of a whole message
BIG_INT_BITS = 256     # longer integers are described, not printed


def one_line(text: str, limit: int = MESSAGE_LIMIT) -> str:
    """`text` with every character that is not printable escaped (newlines, terminal escapes,
    line separators, direction overrides), cut to `limit` characters."""
    clean = "".join(c if c.isprintable() else repr(c)[1:-1] for c in text[:limit + 1])
    return clean if len(clean) <= limit else clean[:limit - 1] + "…"


def quote(value: object, limit: int = QUOTE_LIMIT) -> str:
    """A short, safe rendering of a value read from a file: a string as its repr, cut; a
    number as itself unless it is huge; anything else by its kind."""
    if isinstance(value, str):
        if len(value) <= limit:
            return repr(value)
        cut = repr(value[:limit])
        return cut[:-1] + "…" + cut[-1]
    if value is None or isinstance(value, (bool, float)):
        return repr(value)
    if isinstance(value, int):
        if value.bit_length() > BIG_INT_BITS:
            # str() of a long integer is itself refused over 4,300 digits, and slow below that
            return f"an integer of about {int(value.bit_length() * 0.30103) + 1} digits"
        return str(value)
    if isinstance(value, list):
        return "an array"
    if isinstance(value, dict):
        return "a table"
    return f"a {type(value).__name__}"
