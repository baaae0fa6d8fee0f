"""The set-up's install stamps (scripts/install-if-changed.sh): a
distribution is installed again exactly when a file its build reads changed.

Each test drives install_if_changed in a throw-away distribution, with a
stand-in for the environment's python that only notes that pip ran.
"""

import os
import pathlib
import subprocess

import pytest

SCRIPT = pathlib.Path(__file__).resolve().parents[1] / "install-if-changed.sh"

FILES = {
    "pyproject.toml": "[project]\nname = 'demo'\n",
    "src/demo.c": "int demo;\n",
    "tests/test_demo.py": "def test(): pass\n",
    "nested/pyproject.toml": "[project]\nname = 'nested'\n",
    "nested/nested.c": "int nested;\n",
}

# (what is done in the distribution's folder, whether it is installed again)
IN_A_CHECKOUT = [
    ("touch notes.txt", False),
    ("rm notes.txt", False),
    ("echo picture > frame.png", False),
    ("mkdir -p demo.egg-info build/x && touch demo.egg-info/PKG-INFO build/x/o", False),
    ("echo 'int new;' > src/untracked.c", False),
    ("echo '# more' >> tests/test_demo.py", False),
    ("echo 'int more;' >> nested/nested.c", False),
    ("echo 'int more;' >> src/demo.c", True),
    ("git mv src/demo.c src/renamed.c", True),
    ("git add src/untracked.c", True),
    ("rm src/untracked.c", True),
]

# Outside a checkout (an unpacked sdist) every file counts but build output.
OUTSIDE_A_CHECKOUT = [
    ("mkdir -p demo.egg-info build/x && touch demo.egg-info/PKG-INFO build/x/o", False),
    ("echo '# more' >> tests/test_demo.py", False),
    ("echo 'int more;' >> src/demo.c", True),
    ("touch notes.txt", True),
]


def sh(command, cwd, **env):
    return subprocess.run(["bash", "-c", command], cwd=cwd, capture_output=True, text=True,
                          env=dict(os.environ, **env))


@pytest.fixture
def distribution(tmp_path):
    """(its folder, install): install() runs install_if_changed there and
    returns (whether pip ran, what it printed)."""
    folder = tmp_path / "dist"
    for name, text in FILES.items():
        (folder / name).parent.mkdir(parents=True, exist_ok=True)
        (folder / name).write_text(text)
    venv = tmp_path / "venv"
    (venv / "bin").mkdir(parents=True)
    pip_log = tmp_path / "pip.log"
    (venv / "bin" / "python").write_text(f'#!/bin/sh\necho "$*" >> {pip_log}\n')
    (venv / "bin" / "python").chmod(0o755)

    def install():
        before = pip_log.read_text() if pip_log.exists() else ""
        done = sh(f'set -euo pipefail; source {SCRIPT}; install_if_changed --stage "Building demo" "1 s" .',
                  folder, VENV=str(venv))
        assert done.returncode == 0, done.stderr
        after = pip_log.read_text() if pip_log.exists() else ""
        return after != before, done.stdout + done.stderr

    return folder, install


def check_steps(folder, install, steps):
    ran, said = install()
    assert ran and said.startswith("Building demo (about 1 s) ... done in "), said
    assert install() == (False, ""), "a second run installs nothing and says nothing"
    for action, reinstalls in steps:
        done = sh(action, folder)
        assert done.returncode == 0, done.stderr
        ran, said = install()
        assert ran == reinstalls, action
        assert (said == "") == (not reinstalls), (action, said)


def test_only_the_files_git_tracks_count(distribution):
    folder, install = distribution
    git = "git -c user.name=t -c user.email=t@t"
    assert sh(f"git init -q && git add . && {git} commit -qm files", folder).returncode == 0
    check_steps(folder, install, IN_A_CHECKOUT)


def test_outside_a_checkout_every_file_counts_but_build_output(distribution):
    folder, install = distribution
    check_steps(folder, install, OUTSIDE_A_CHECKOUT)


def test_a_failing_stage_shows_the_end_of_its_log(distribution, tmp_path):
    folder, install = distribution
    (tmp_path / "venv" / "bin" / "python").write_text("#!/bin/sh\necho compiler says no\nexit 3\n")
    done = sh(f'source {SCRIPT}; install_if_changed --stage "Building demo" "1 s" .',
              folder, VENV=str(tmp_path / "venv"))
    assert done.returncode == 3
    assert not (tmp_path / "venv" / ".install-stamps").exists(), "a failed install is not recorded"
    log = tmp_path / "venv" / ".install-logs" / "building-demo.log"
    assert done.stderr.splitlines() == [
        "Building demo (about 1 s) ... failed (status 3) after 0 s",
        f"--- last 40 lines of {log}:",
        "compiler says no",
    ]
