"""What the wheel installs beside the module for type checkers and for the
builds of sibling extensions."""

import pathlib
import subprocess
import sys

import pytest

import lumo_ui.fast.lmrendertex.lm_render_tex as module

PACKAGE_DIR = pathlib.Path(module.__file__).parent


@pytest.mark.parametrize(
    "name",
    [
        "lm_render_tex.pyi",
        "py.typed",
        "lm_render_tex.h",
        "lm_render_tex.pxd",
        "cmake/lm_render_tex-config.cmake",
        "cmake/lm_render_tex-config-version.cmake",
    ],
)
def test_file_is_installed_beside_the_module(name):
    assert (PACKAGE_DIR / name).is_file()


def test_package_directory_gets_no_init_because_the_library_owns_it():
    assert not (PACKAGE_DIR / "__init__.py").exists()


def test_cython_names_the_record_as_the_back_end_signatures_do(tmp_path):
    # The back-end's signature texts name the record by the struct Cython
    # derives from the declaration's place in the package.
    pytest.importorskip("Cython")
    source = tmp_path / "probe.pyx"
    source.write_text("from lumo_ui.fast.lmrendertex.lm_render_tex cimport LmRenderTexture\n"
                      "cdef LmRenderTexture target = None\n")
    subprocess.run([sys.executable, "-m", "cython", "-3", "-I", str(PACKAGE_DIR.parents[2]),
                    str(source)], check=True, capture_output=True)
    generated = (tmp_path / "probe.c").read_text()
    assert "struct __pyx_obj_7lumo_ui_4fast_11lmrendertex_13lm_render_tex_LmRenderTexture {" in generated
