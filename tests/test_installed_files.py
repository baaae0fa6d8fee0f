"""What the wheel installs beside the module for type checkers and for the
builds of sibling extensions."""

import pathlib

import pytest

import lumo_ui.fast.lmrendertex.lm_render_tex as module

PACKAGE_DIR = pathlib.Path(module.__file__).parent


@pytest.mark.parametrize(
    "name",
    [
        "lm_render_tex.pyi",
        "py.typed",
        "lm_render_tex.h",
        "cmake/lm_render_tex-config.cmake",
        "cmake/lm_render_tex-config-version.cmake",
    ],
)
def test_file_is_installed_beside_the_module(name):
    assert (PACKAGE_DIR / name).is_file()


def test_package_directory_gets_no_init_because_the_library_owns_it():
    assert not (PACKAGE_DIR / "__init__.py").exists()
