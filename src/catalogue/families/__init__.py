"""Recipe functions, one module per pattern family.

Every module in this package defines `RECIPES`, a dict from recipe name (the `recipe`
column of data/catalogue.tsv) to a pure function `(row, data) -> samples`: `row` is the
catalogue row, `data` the recipe's parameters (see catalogue_data.read_recipe_data), and
`samples` a list of `row.period_pips` tuples (x, y, z) of floats. Axes at or beyond the
row's dimensions must be exactly 0.0. The generator rounds every component to twelve
decimals, so a recipe returns its values unrounded unless its rule rounds them itself.
"""

from __future__ import annotations

import importlib
import pkgutil
from collections.abc import Callable

Recipe = Callable[..., list[tuple[float, float, float]]]


def load_recipes() -> dict[str, Recipe]:
    recipes: dict[str, Recipe] = {}
    for info in sorted(pkgutil.iter_modules(__path__), key=lambda m: m.name):
        if info.name.startswith("_"):
            continue
        module = importlib.import_module(f"{__name__}.{info.name}")
        for name, fn in module.RECIPES.items():
            if name in recipes:
                raise RuntimeError(f"recipe {name} is defined twice (second in {info.name})")
            recipes[name] = fn
    return recipes
