"""What the repository promises a maintainer: the README shows the methods'
parameters and defaults as the module does, its layout names every source
file, and a failing comparison of call logs shows what differs."""

import ast
import inspect
import pathlib
import re

import pytest
from conftest import explain_call_logs

from lumo_ui.fast.lmrendertex.lm_render_tex import LmRenderTexture

ROOT = pathlib.Path(__file__).resolve().parents[1]
SOURCES = ROOT / "src" / "lmrendertex"


def readme_section(title):
    readme = (ROOT / "README.md").read_text()
    return readme.split(f"\n## {title}\n", 1)[1].split("\n## ", 1)[0]


def shown_calls():
    """The calls of methods in the first column of the README's API table."""
    rows = [line for line in readme_section("API at a glance").splitlines() if line.startswith("| `")]
    for row in rows:
        for code in re.findall(r"`([^`]+)`", row.split(" | ")[0]):
            try:
                call = ast.parse(code, mode="eval").body
            except SyntaxError:
                continue
            name = getattr(call, "func", None)
            name = getattr(name, "attr", None) or getattr(name, "id", None)
            if isinstance(call, ast.Call) and name in vars(LmRenderTexture):
                yield pytest.param(name, call, id=name)


@pytest.mark.parametrize("name, call", list(shown_calls()))
def test_api_table_shows_parameters_and_constant_defaults_as_introspection_does(name, call):
    parameters = inspect.signature(getattr(LmRenderTexture, name)).parameters
    parameters = {key: value for key, value in parameters.items() if key != "self"}
    assert [arg.id for arg in call.args] + [keyword.arg for keyword in call.keywords] == list(parameters)
    for keyword in call.keywords:
        assert parameters[keyword.arg].default is not inspect.Parameter.empty
        if isinstance(keyword.value, ast.Constant):
            assert parameters[keyword.arg].default == keyword.value.value


def layout_rows():
    section = readme_section("Layout")
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
