"""The version check, on a copy of the module built as if for another
interpreter version and put ahead of the installed one on the path."""

import json
import pathlib
import shutil
import subprocess
import sys

import pytest

from conftest import MODULE, run_python

ROOT = pathlib.Path(__file__).resolve().parent.parent


@pytest.fixture(scope="module")
def foreign_build(tmp_path_factory):
    if shutil.which("cmake") is None:
        pytest.skip("cmake is not available")
    build = tmp_path_factory.mktemp("build")
    subprocess.run(["cmake", "-S", str(ROOT), "-B", str(build), "-DCMAKE_BUILD_TYPE=Release",
                    "-DLMRT_COMPILED_VERSION=3.11", f"-DPython_EXECUTABLE={sys.executable}"],
                   check=True, capture_output=True)
    subprocess.run(["cmake", "--build", str(build), "-j2"], check=True, capture_output=True)
    package = build / "site" / "lumo_ui" / "fast" / "lmrendertex"
    package.mkdir(parents=True)
    for library in build.glob("lm_render_tex*.so"):
        shutil.copy(library, package)
    return build / "site"


PROBE = f"""
import json, warnings
with warnings.catch_warnings(record=True) as caught:
    warnings.simplefilter("always")
    import {MODULE} as module
print(json.dumps([module.__file__, [f"{{w.category.__name__}}: {{w.message}}" for w in caught]]))
"""


def test_other_runtime_version_warns_once(foreign_build):
    result = run_python(PROBE, env={"PYTHONPATH": str(foreign_build)})
    path, caught = json.loads(result.stdout)
    assert path.startswith(str(foreign_build))
    minor = sys.version_info.minor
    assert caught == [f"RuntimeWarning: compile time Python version 3.11 of module '{MODULE}' "
                      f"does not match runtime version 3.{minor}"]


def test_other_runtime_version_fails_when_warnings_are_errors(foreign_build):
    result = run_python(f"import {MODULE}", env={"PYTHONPATH": str(foreign_build),
                                                  "PYTHONWARNINGS": "error::RuntimeWarning"})
    assert result.returncode == 1
    assert "RuntimeWarning: compile time Python version 3.11" in result.stderr
