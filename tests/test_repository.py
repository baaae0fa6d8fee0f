"""What the repository promises a maintainer: the README's layout names every
source file, and a failing comparison of call logs shows what differs."""

import pathlib
import re

import pytest
from conftest import explain_call_logs

ROOT = pathlib.Path(__file__).resolve().parents[1]
SOURCES = ROOT / "src" / "lmrendertex"


def layout_rows():
    readme = (ROOT / "README.md").read_text()
    section = readme.split("\n## Layout\n", 1)[1].split("\n## ", 1)[0]
    return [line for line in section.splitlines() if line.startswith("| `src/lmrendertex/")]


def test_layout_names_every_source_file():
    # A row names its file and, in backquotes, the header that goes with it.
    pattern = re.compile(r"`(?:src/lmrendertex/)?(\w+\.[ch]pp)`")
    named = {name for row in layout_rows() for name in pattern.findall(row)}
    assert named == {path.name for path in SOURCES.iterdir()}


ENTRY = ("c_draw_texture_vec", "texture", (1, 2), (255, 255, 255, 255), 1)


@pytest.mark.parametrize("left, right, first_line", [
    ([ENTRY], [ENTRY[:4] + (0,)], "call logs differ at entry 0: 'c_draw_texture_vec', argument 4: 1 != 0"),
    ([("end_texture_mode",)], [("end_blend_mode",)],
     "call logs differ at entry 0: 'end_texture_mode' != 'end_blend_mode'"),
    ([ENTRY], [ENTRY[:3]], "call logs differ at entry 0: 'c_draw_texture_vec', 4 != 2 arguments"),
    ([ENTRY], [ENTRY, ("end_texture_mode",)],
     "call logs of 1 and 2 entries agree up to entry 1, which only the right has: ('end_texture_mode',)"),
])
def test_call_log_comparison_leads_with_the_difference(left, right, first_line):
    assert explain_call_logs(left, right)[0] == first_line
