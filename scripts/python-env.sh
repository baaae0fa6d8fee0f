# Sourced by the scripts. Picks the interpreter and the virtual environment
# made from it. PYTHON is a path to a CPython, or a version such as 3.13,
# found as the default 3.12 is: under $(pyenv root)/versions/X.Y.*, then as
# pythonX.Y on the path. The environment is .venv for 3.12 and .venv-X.Y for
# another version (VENV overrides it).

find_python() {
  local want=${PYTHON:-3.12} candidate
  if [[ ! $want =~ ^3\.[0-9]+$ ]]; then echo "$want"; return; fi
  if command -v pyenv >/dev/null 2>&1; then
    for candidate in "$(pyenv root)"/versions/"$want".*/bin/python"$want"; do
      [ -x "$candidate" ] && { echo "$candidate"; return; }
    done
  fi
  command -v "python$want" && return
  echo "CPython $want not found: install it or set PYTHON to its path" >&2
  return 1
}

PYTHON_BIN=$(find_python)
PYTHON_VERSION=$("$PYTHON_BIN" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
if [ "$PYTHON_VERSION" = 3.12 ]; then
  VENV=${VENV:-.venv}
else
  VENV=${VENV:-.venv-$PYTHON_VERSION}
fi
