"""Recipe functions, one module per kind of motion; src/catalogue/recipes.py lists them all.

A recipe is a pure function `(row, params) -> samples`: `row` is the catalogue row, `params`
the parameters read from the recipe's data file (see params.Params), and `samples` a list of
`row.period_pips` tuples (x, y, z) of floats. Axes at or beyond the row's dimensions must be
exactly 0.0. The generator rounds every component to twelve decimals, so a recipe returns its
values unrounded unless its rule rounds them itself.
"""
