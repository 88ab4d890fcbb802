"""Follow a few motions through one bar of music and draw them as text.

Each line is one sixteenth note (16 pips); each column block shows where a motion's x (and
y, where it has one) sits in [-1, 1].
"""

import kinetra

MOTIONS = ["bounce", "circle", "single_paradiddle", "lfo_breathe"]
WIDTH = 21


def lane(value: float) -> str:
    cells = [" "] * WIDTH
    cells[WIDTH // 2] = "|"
    cells[round((value + 1) / 2 * (WIDTH - 1))] = "o"
    return "".join(cells)


def main() -> None:
    print(f"{kinetra.__doc__}: {kinetra.PIPS_PER_BEAT} pips to the beat\n")
    print("pip   beat " + " ".join(f"{m[:WIDTH]:^{WIDTH}}" for m in MOTIONS))
    for pip in range(0, 4 * kinetra.PIPS_PER_BEAT + 1, 16):
        beat = f"{pip // kinetra.PIPS_PER_BEAT + 1}.{pip % kinetra.PIPS_PER_BEAT // 16 + 1}"
        x_lanes = [lane(kinetra.sample(m, pip).x) for m in MOTIONS]
        print(f"{pip:4}  {beat:4} " + " ".join(x_lanes))
    print("\nA sampled default at the same pips, as numbers:")
    for pip in (0, 64, 128, 192):
        x, y, z = kinetra.sample("lfo_breathe", pip).as_tuple()
        print(f"  lfo_breathe at pip {pip:3}: ({x:+.3f}, {y:+.3f}, {z:+.3f})")
    print(f"\n{len(kinetra.catalogue())} default patterns; try kinetra.catalogue() to browse them.")


if __name__ == "__main__":
    main()
