"""The README's Python examples run as written, in order, and say what they claim."""

import re
from pathlib import Path

README = Path(__file__).resolve().parent.parent / "README.md"


def test_readme_examples_run():
    blocks = re.findall(r"```python\n(.*?)```", README.read_text(encoding="utf-8"), flags=re.S)
    assert len(blocks) >= 6
    namespace: dict = {}
    for block in blocks:
        exec(compile(block, str(README), "exec"), namespace)
    kinetra = namespace["kinetra"]
    assert namespace["pip_at"](0.5, 120.0) == 64 and namespace["seconds_at"](64, 120.0) == 0.5
    assert namespace["wobble"].sample(pip_count=4).x == -0.25
    assert namespace["library"].catalogue()[-1]["dimensions"] == 2
    assert namespace["take"].sample(65) == [0.2, 0.3]
    namespace["frame"]()  # the render loop's body runs
    assert kinetra.sample("lfo_breathe", 64).x == 0.8
