"""Follow a few motions through two bars of house music and draw them as text.

Each line is one sixteenth note (16 pips); each column shows where one axis of a motion sits
in [-1, 1]: the kick-led bounce drops on every kick, the snare side-step swings on the claps.
"""

import kinetra

LANES = [("bounce", 0), ("circle", 0), ("beat_house_classic_bounce", 1),
         ("beat_house_classic_step", 0), ("lfo_breathe", 0)]
WIDTH = 17


def lane(value: float) -> str:
    cells = [" "] * WIDTH
    cells[WIDTH // 2] = "|"
    cells[round((value + 1) / 2 * (WIDTH - 1))] = "o"
    return "".join(cells)


def main() -> None:
    print(f"{kinetra.__doc__}: {kinetra.PIPS_PER_BEAT} pips to the beat\n")
    titles = [f"{name.removeprefix('beat_house_classic_')} {'xyz'[axis]}" for name, axis in LANES]
    print("  pip  beat  " + " ".join(f"{t:^{WIDTH}}" for t in titles))
    sixteenth = kinetra.PIPS_PER_BEAT // 4
    for pip in range(0, 8 * kinetra.PIPS_PER_BEAT, sixteenth):
        beat = f"{pip // kinetra.PIPS_PER_BEAT + 1}.{pip % kinetra.PIPS_PER_BEAT // sixteenth + 1}"
        cells = [lane(kinetra.sample(name, pip).as_tuple()[axis]) for name, axis in LANES]
        print(f"{pip:5}  {beat:4}  " + " ".join(cells))
    print("\nThe same calls, as numbers:")
    for pip in (0, 64, 128, 192):
        x, y, z = kinetra.sample("beat_house_classic_bounce", pip).as_tuple()
        print(f"  beat_house_classic_bounce at pip {pip:3}: ({x:+.3f}, {y:+.3f}, {z:+.3f})")
    print(f"\n{len(kinetra.catalogue())} default patterns; kinetra.catalogue() lists them all.")


if __name__ == "__main__":
    main()
