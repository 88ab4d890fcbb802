"""Rules that the data states about itself beyond what a recipe needs in order to run.

A recipe fails on data it cannot use; these are the rules a data file's own words give (spans
that make up a turn, a tempo a score can mean) and that a recipe would otherwise compute past.
Each rule takes a row and the raw tables of its recipe's files, keyed by file stem ("" for a
recipe of one file), and yields (stem, key path, fault) for every fault it finds.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Iterator, Mapping
from fractions import Fraction

from catalogue_data import Row

Fault = tuple[str, tuple, str]

# A tempo a drum score can mean: the scores are club styles, from dub to footwork.
SCORE_BPM = (60, 200)
TURN_DEGREES = 360


def _number(value) -> bool:
    return isinstance(value, (int, float)) and not isinstance(value, bool) and math.isfinite(value)


def mechanism_spans(row: Row, files: Mapping) -> Iterator[Fault]:
    """Rise, dwell and fall are degrees of one cam turn; the closing dwell takes the rest."""
    table = files[""].get(row.name)
    if not isinstance(table, Mapping) or "rise" not in table:
        return
    spans = [table.get(k) for k in ("rise", "dwell", "fall")]
    for key, span in zip(("rise", "dwell", "fall"), spans):
        if not _number(span) or span <= 0:
            yield "", (row.name, key), f"{key} is {span!r}, not a positive span in degrees"
            return
    if sum(spans) >= TURN_DEGREES:
        yield "", (row.name, "fall"), (
            f"rise, dwell and fall span {sum(spans):g} degrees, leaving no closing dwell "
            f"in the turn of {TURN_DEGREES}")


def score_tempo(row: Row, files: Mapping) -> Iterator[Fault]:
    style = row.name.removeprefix("beat_").rpartition("_")[0]
    score = files.get(style)
    if not isinstance(score, Mapping) or "bpm" not in score:
        return
    bpm, (low, high) = score["bpm"], SCORE_BPM
    if not _number(bpm) or not low <= bpm <= high:
        yield style, ("bpm",), f"bpm is {bpm!r}, not a tempo from {low} to {high}"


def silhouette_harmonics(row: Row, files: Mapping) -> Iterator[Fault]:
    table = files[""].get(row.name)
    harmonics = table.get("harmonics") if isinstance(table, Mapping) else None
    if harmonics is None:
        return
    if (not isinstance(harmonics, list) or len(harmonics) != 3
            or not all(type(h) is int and h > 0 for h in harmonics)
            or not harmonics[0] < harmonics[1] < harmonics[2]):
        yield "", (row.name, "harmonics"), (
            f"harmonics are {harmonics!r}, not three whole numbers a < b < c")


# How an echo row's gaps run, by the word of its name.
ECHO_GAPS = {"regular": ("equal", lambda a, b: a == b), "shrinking": ("shrink", lambda a, b: a > b),
             "expanding": ("grow", lambda a, b: a < b)}


def echo_words(row: Row, files: Mapping) -> Iterator[Fault]:
    """Each echo is `decay` of the one before, and the gaps run as the row's name says."""
    table = files[""].get(row.name)
    if not isinstance(table, Mapping):
        return
    decay = table.get("decay")
    if not _number(decay) or not 0 < decay < 1:
        yield "", (row.name, "decay"), f"decay is {decay!r}: an echo is a share of the one before"
        return
    word = row.name.split("_")[1]
    if word in ECHO_GAPS:
        how, keeps = ECHO_GAPS[word]
        gaps = [_beats(g) for g in table.get("gaps", ())]
        if None not in gaps and not all(keeps(a, b) for a, b in zip(gaps, gaps[1:])):
            yield "", (row.name, "gaps"), f"the gaps of a {word} row {how} from echo to echo"


def _beats(value) -> Fraction | None:
    try:
        return Fraction(str(value))
    except (ValueError, ZeroDivisionError):
        return None  # the recipe reports a time it cannot read


def canon_entries(row: Row, files: Mapping) -> Iterator[Fault]:
    """The follower enters after the leader, a `close` entry before a `late` one."""
    key = row.name.rsplit("_", 1)[0]
    table = files[""].get(key)
    if not isinstance(table, Mapping):
        return
    close, late = _beats(table.get("close")), _beats(table.get("late"))
    if close is not None and late is not None and not 0 < close < late:
        yield "", (key, "close"), f"close is {close} and late {late} beats: 0 < close < late"


def triplet_answers(row: Row, files: Mapping) -> Iterator[Fault]:
    """An answer sits `offset` beats after its gap's slot, off the triplet grid."""
    key = row.name.rsplit("_", 1)[0]
    table = files[""].get(key)
    offset = _beats(table.get("offset")) if isinstance(table, Mapping) else None
    if offset is not None and (offset * 3).denominator == 1:
        yield "", (key, "offset"), f"offset {offset} lands on the triplet grid"


def sequence_lilt(row: Row, files: Mapping) -> Iterator[Fault]:
    """A lilt cycles through durations of more than one length."""
    kind = row.name.removeprefix("seq_").rsplit("_", 1)[0]
    table = files[""].get(kind)
    lilt = table.get("lilt") if isinstance(table, Mapping) else None
    if row.name.endswith("_lilt") and isinstance(lilt, list) and len(set(lilt)) < 2:
        yield "", (kind, "lilt"), f"lilt is {lilt!r}: a lilt has long and short durations"


RULES: dict[str, Callable[[Row, Mapping], Iterator[Fault]]] = {
    "canon": canon_entries,
    "triplet": triplet_answers,
    "seq": sequence_lilt,
    "echo": echo_words,
    "mech": mechanism_spans,
    "beat": score_tempo,
    "silhouette": silhouette_harmonics,
}
