# Sourced by scripts/bootstrap and scripts/sanitize. Installs distributions
# into the virtual environment $VENV (default .venv) only when something they
# are built from changed since the last install there, so that a second run
# of the test suite does not spend its time rebuilding.
#
# The record of each install is a stamp file in $VENV/.install-stamps holding
# a hash of its inputs. A new venv has no stamps, so it gets everything.

VENV=${VENV:-.venv}

# Prints the hash of everything under DIR that a build of it can read:
# every file except build output, hidden entries, tests, benchmarks,
# examples, scripts, and nested distributions (installed on their own).
_source_hash() {
  local dir=$1 skip=(-name '.*' -o -name build -o -name __pycache__) nested=() path
  while IFS= read -r path; do
    nested+=(-o -path "$path")
  done < <(find "$dir" -mindepth 1 \( "${skip[@]}" \) -prune \
             -o -mindepth 2 -name pyproject.toml -printf '%h\n')
  find "$dir" -mindepth 1 \( "${skip[@]}" -o -path "$dir/tests" -o -path "$dir/bench" \
       -o -path "$dir/examples" -o -path "$dir/scripts" "${nested[@]}" \) -prune \
       -o -type f -print0 | sort -z | xargs -0 sha256sum | sha256sum | cut -d' ' -f1
}

# install_if_changed [--also FILE]... DIR [PIP_ARGS]...
# Runs `pip install PIP_ARGS DIR` unless DIR's sources, the pip arguments,
# the build-related environment and each FILE (an input from elsewhere, such
# as a header the build compiles against) are the same as at the last
# install into $VENV.
install_if_changed() {
  local also=()
  while [ "${1:-}" = --also ]; do also+=("$2"); shift 2; done
  local dir=$1; shift
  local name
  name=$(realpath --relative-to=. "$dir")
  local stamp="$VENV/.install-stamps/dist-${name//\//_}"
  local inputs
  inputs=$(
    printf '%s\n' "$@"
    env | grep -E '^(LMRT_|CMAKE_|CC=|CXX=|CFLAGS=|CXXFLAGS=|LDFLAGS=)' | sort
    _source_hash "$dir"
    [ ${#also[@]} -eq 0 ] || sha256sum "${also[@]}"
  )
  local want
  want=$(sha256sum <<<"$inputs" | cut -d' ' -f1)
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then return 0; fi
  rm -f "$stamp"
  "$VENV/bin/python" -m pip install --quiet "$@" "$dir"
  mkdir -p "$(dirname "$stamp")"
  echo "$want" >"$stamp"
}

# install_tools_if_changed REQUIREMENT...
# Installs the named tools unless this same list was installed before.
install_tools_if_changed() {
  local stamp="$VENV/.install-stamps/tools" want
  want=$(printf '%s\n' "$@" | sha256sum | cut -d' ' -f1)
  if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then return 0; fi
  "$VENV/bin/python" -m pip install --quiet "$@"
  mkdir -p "$(dirname "$stamp")"
  echo "$want" >"$stamp"
}

# install_tools [REQUIREMENT]...
# What every test environment needs, and the given extras: pytest,
# Hypothesis (for the state-machine tests), and the builders of the test
# siblings, which are built without build isolation.
install_tools() {
  install_tools_if_changed pytest 'hypothesis>=6,<7' scikit-build-core cmake ninja 'cython>=3,<4' "$@"
}

# install_platforms
# Both platforms, then the lumo_ui modules that choose between them (after
# the recording platform, which no longer owns those files).
install_platforms() {
  install_if_changed ./platforms/recording
  install_if_changed ./platforms/raylib
  install_if_changed ./platforms/select
}

# install_test_client [PIP_ARGS]...
# The test siblings, compiled against the module's installed declarations
# (the C one against the header and package config, the Cython one against
# the .pxd and the platform's value-type .pxd files), so install those first;
# without build isolation so that their builds see them.
install_test_client() {
  local declarations=() file
  for file in src/lumo_ui/fast/lmrendertex/lm_render_tex.{h,pxd} \
              cmake/lm_render_tex-config.cmake platforms/recording/pxd/lumo_ui/fast/*/*.pxd; do
    declarations+=(--also "$file")
  done
  install_if_changed "${declarations[@]}" ./tests/native_client --no-build-isolation "$@"
  install_if_changed "${declarations[@]}" ./tests/cython_client --no-build-isolation "$@"
}
