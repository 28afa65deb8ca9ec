"""A short seeded run of the lifecycle race harness
(bench/handoff_races.py): every return URL reaches exactly one Dart side
(or, longer than a hand-off record, is refused with its line), and no two
engines run at once."""

import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))

from handoff_races import run_races  # noqa: E402

# A chain of take-overs alone lives 40-56 s.
pytestmark = pytest.mark.timeout(600)


def test_every_url_reaches_exactly_one_dart_side(bundle_dir, wine, tmp_path):
    figures = run_races(bundle_dir, wine, tmp_path, seed=14, hand_offs=36,
                        kinds=("slow", "closing", "failing", "minimised",
                               "never-drawn", "stalling", "chain"),
                        bursts=(1, 2), span=4.0)
    print(figures.line())
    for failure in figures.failures:
        print("FAIL", failure)
    assert figures.failures == []
    assert figures.lost == figures.doubled == figures.overlaps == 0
    assert figures.delivered + figures.refused == figures.hand_offs
