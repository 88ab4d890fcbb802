"""Recipe parameters as read from data/, refusing keys the data lacks and noting keys read.

A recipe reads its parameters through `Params`: asking for a key that is not there fails
with the file and the key, and every key read is noted, so that after all rows are computed
a key (or a whole table) that no row read is reported as unused instead of silently ignored.
The last key read is kept too, so that a fault a recipe finds is reported at its line.

Defaults exist only where a data file states them: a top-level table `[defaults]` supplies
the keys that a top-level table of the same file leaves out. Recipes never default in code.
"""

from __future__ import annotations

import re
import tomllib
from collections.abc import Iterator, Mapping
from pathlib import Path

from catalogue_data import DataError

KeyPath = tuple[str, ...]
DEFAULTS = "defaults"


class MissingKey(DataError, KeyError):
    def __str__(self) -> str:
        return str(self.args[0])


class Trail:
    """Where the last key was read: the file (as data/...) and the key path inside it."""

    def __init__(self):
        self.where: str | None = None
        self.keys: KeyPath = ()

    def note(self, where: str, keys: KeyPath) -> None:
        self.where, self.keys = where, keys


def _dotted(path) -> str:
    return ".".join(str(p) if isinstance(p, str) else f"[{p}]" for p in path).replace(".[", "[")


class Params(Mapping):
    """A read-only TOML table; `used` collects the key paths read through it."""

    def __init__(self, values: dict, where: str, used: set, path: KeyPath = (),
                 prefix: KeyPath = (), defaults: dict | None = None, trail: Trail | None = None):
        self._values, self._where, self._used = values, where, used
        self._path, self._prefix, self._defaults = path, prefix, defaults
        self._trail = trail if trail is not None else Trail()

    def __getitem__(self, key):
        path = self._path + (key,)
        if key in self._values:
            value = self._values[key]
        elif self._defaults is not None and key in self._defaults:
            path, value = (DEFAULTS, key), self._defaults[key]
            self._used.add(self._prefix + (DEFAULTS,))
        elif not self._path:
            self._trail.note(self._where, ())
            raise MissingKey(f"there is no table [{key}]")
        else:
            self._trail.note(self._where, self._path)
            raise MissingKey(f"[{_dotted(self._path)}] has no key {key!r}")
        self._used.add(self._prefix + path)
        self._trail.note(self._where, path)
        if not self._path and isinstance(value, dict) and key != DEFAULTS:
            defaults = self._values.get(DEFAULTS)
            return Params(value, self._where, self._used, path, self._prefix, defaults,
                          self._trail)
        return _wrap(value, self._where, self._used, path, self._prefix, self._trail)

    def get(self, key, default=None):
        raise TypeError("a default belongs in the data file's [defaults] table, not in code")

    def __contains__(self, key) -> bool:
        return key in self._values or (self._defaults is not None and key in self._defaults)

    def __iter__(self) -> Iterator:
        return iter(self._values)

    def __len__(self) -> int:
        return len(self._values)


def _wrap(value, where: str, used: set, path: KeyPath, prefix: KeyPath, trail: Trail):
    if isinstance(value, dict):
        return Params(value, where, used, path, prefix, trail=trail)
    if isinstance(value, list):
        return [_wrap(v, where, used, path + (i,), prefix, trail) for i, v in enumerate(value)]
    return value


_HEADER = re.compile(r"\[\[?\s*([^\]]+?)\s*\]\]?")
_KEY = re.compile(r'((?:[A-Za-z0-9_-]+|"[^"]*")(?:\s*\.\s*(?:[A-Za-z0-9_-]+|"[^"]*"))*)\s*=')


def _key_parts(text: str) -> KeyPath:
    return tuple(part.strip().strip('"') for part in text.split("."))


def _nesting(text: str) -> int:
    """How many brackets a stretch of TOML leaves open (strings here hold no brackets)."""
    return text.count("[") + text.count("{") - text.count("]") - text.count("}")


def line_of(path: Path, keys: KeyPath) -> int:
    """The line (from 1) of a TOML file that first writes the longest part of `keys` (a
    table named by a header such as [a.b] counts for a).

    Array indices in `keys` are skipped: an element is reported at its key's line.
    """
    names = tuple(k for k in keys if isinstance(k, str))
    table: KeyPath = ()
    best, depth, inside = 1, 0, 0
    for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), start=1):
        text = line.split("#", 1)[0].strip()
        if inside:  # the rest of a value written over several lines
            inside += _nesting(text)
            continue
        if not text:
            continue
        if header := _HEADER.fullmatch(text):
            table = _key_parts(header.group(1))
            found = table
        elif key := _KEY.match(text):
            found = table + _key_parts(key.group(1))
            rest = text[key.end():]
            inside = _nesting(rest)
            # An inline table names its keys on the same line.
            while len(found) < len(names) and re.search(
                    rf'[{{,]\s*"?{re.escape(names[len(found)])}"?\s*=', rest):
                found += (names[len(found)],)
        else:
            continue
        shared = next((i for i, (a, b) in enumerate(zip(found, names)) if a != b),
                      min(len(found), len(names)))
        if shared > depth:
            best, depth = number, shared
    return best


def key_paths(value, path: KeyPath = ()) -> Iterator[KeyPath]:
    """Every key path of a TOML value, tables inside arrays included."""
    if isinstance(value, dict):
        for key, v in value.items():
            yield path + (key,)
            yield from key_paths(v, path + (key,))
    elif isinstance(value, list):
        for i, v in enumerate(value):
            yield from key_paths(v, path + (i,))


class ParamFile:
    """The parameters of one recipe: one TOML file, or a folder of them keyed by file stem."""

    def __init__(self, data_dir: Path, name: str):
        self.used: set[KeyPath] = set()
        self.trail = Trail()
        self.name = name
        self.data_dir = data_dir
        path = data_dir / name
        if name.endswith("/"):
            if not path.is_dir():
                raise DataError(f"data/{name} is absent")
            self.files = {p.stem: (f"data/{name}{p.name}", _load(p)) for p in sorted(path.glob("*.toml"))}
            self.params = _Folder(self)
        else:
            if not path.is_file():
                raise DataError(f"data/{name} is absent")
            self.files = {"": (f"data/{name}", _load(path))}
            self.params = Params(self.files[""][1], f"data/{name}", self.used, trail=self.trail)

    def located(self, where: str, keys: KeyPath) -> str:
        """`data/FILE:LINE` of a key path in one of this recipe's files."""
        return f"{where}:{line_of(self.data_dir / where.removeprefix('data/'), keys)}"

    def unused(self) -> list[str]:
        """Where and what of every key that no row read, in file order."""
        out = []
        for stem, (where, values) in self.files.items():
            prefix = (stem,) if stem else ()
            if stem and prefix not in self.used:
                out.append(f"{where}:1: no row reads this file")
                continue
            for path in key_paths(values):
                if prefix + path not in self.used:
                    what = f"table [{path[0]}]" if len(path) == 1 else f"key {_dotted(path)}"
                    out.append(f"{self.located(where, path)}: {what} is read by no row")
        return out


class _Folder(Mapping):
    def __init__(self, owner: ParamFile):
        self._owner = owner

    def __getitem__(self, stem: str) -> Params:
        try:
            where, values = self._owner.files[stem]
        except KeyError:
            raise MissingKey(f"data/{self._owner.name}{stem}.toml is absent") from None
        used = self._owner.used
        used.add((stem,))
        self._owner.trail.note(where, ())
        return Params(values, where, used, prefix=(stem,), trail=self._owner.trail)

    def __contains__(self, stem) -> bool:
        return stem in self._owner.files

    def __iter__(self) -> Iterator[str]:
        return iter(self._owner.files)

    def __len__(self) -> int:
        return len(self._owner.files)


def _load(path: Path) -> dict:
    try:
        with path.open("rb") as f:
            return tomllib.load(f)
    except tomllib.TOMLDecodeError as exc:
        raise DataError(f"{path}: {exc}") from None
