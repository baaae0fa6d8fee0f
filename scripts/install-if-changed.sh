# Sourced by the scripts that set up an environment. Installs distributions
# into the virtual environment $VENV (default .venv) only when something they
# are built from changed since the last install there, so that a second run
# of the test suite does not spend its time rebuilding.
#
# The record of each install is a stamp file in $VENV/.install-stamps holding
# a hash of its inputs. A new venv has no stamps, so it gets everything.
#
# Each piece of work is a stage: one line saying what it is and roughly how
# long it takes, then how it went. The tools' own output goes to a log in
# $VENV/.install-logs, shown only when the stage fails. A run with nothing to
# install prints nothing.

VENV=${VENV:-.venv}
_STAGES_RUN=0

# stage LABEL ESTIMATE COMMAND [ARG]...
# Runs COMMAND with its output in a log; on stderr, one line: the label, the
# estimate (how long it took on two shared cores), then "done" and the time
# it took, or "failed", the path of the log and its last lines. Returns the
# command's status.
stage() {
  local label=$1 estimate=$2; shift 2
  local logs="$VENV/.install-logs" slug start status=0
  slug=$(tr -cs 'A-Za-z0-9' '-' <<<"$label" | tr 'A-Z' 'a-z')
  mkdir -p "$logs"
  local log="$logs/${slug%-}.log"
  printf '%s (about %s) ... ' "$label" "$estimate" >&2
  start=$SECONDS
  _STAGES_RUN=$((_STAGES_RUN + 1))
  "$@" >"$log" 2>&1 || status=$?
  if [ "$status" -eq 0 ]; then
    printf 'done in %s\n' "$(_duration $((SECONDS - start)))" >&2
    return 0
  fi
  printf 'failed (status %d) after %s\n' "$status" "$(_duration $((SECONDS - start)))" >&2
  printf -- '--- last 40 lines of %s:\n' "$log" >&2
  tail -n 40 "$log" >&2
  return "$status"
}

# report_setup: the closing line of a set-up that ran any stage.
report_setup() {
  [ "$_STAGES_RUN" -eq 0 ] || echo "Set-up done: $VENV is ready ($(_duration "$SECONDS") in all)" >&2
}

_duration() {
  if [ "$1" -lt 60 ]; then echo "$1 s"; else echo "$(($1 / 60)) min $(($1 % 60)) s"; fi
}

# The folders of a distribution that no build reads.
_NOT_BUILT=(tests bench examples scripts docs)

# Prints, NUL-separated, the files under DIR (relative to it) that a build of
# it reads: the files git tracks there, less hidden entries, the folders in
# _NOT_BUILT and nested distributions (installed on their own). Untracked
# files, such as a picture the example wrote or a build's own output, are not
# inputs; a new source file counts once git tracks it. Outside a git
# checkout (an unpacked sdist, say) every file there counts, less hidden
# entries, build output and egg-info.
# Runs on every set-up, so it stays in the shell (few processes).
_build_inputs() {
  local dir=$1 path prefix files=() nested=()
  mapfile -d '' files < <(git -C "$dir" ls-files -z 2>/dev/null)
  if [ ${#files[@]} -eq 0 ]; then
    mapfile -d '' files < <(cd "$dir" && find . -mindepth 1 \( -name '.*' -o -name build \
      -o -name dist -o -name __pycache__ -o -name '*.egg-info' \) -prune -o -type f -printf '%P\0' \
      | sort -z)
  fi
  for path in "${files[@]}"; do
    [[ $path == */pyproject.toml ]] && nested+=("${path%pyproject.toml}")
  done
  for path in "${files[@]}"; do
    [[ /$path == */.* ]] && continue
    [[ $path == */* && " ${_NOT_BUILT[*]} " == *" ${path%%/*} "* ]] && continue
    for prefix in "${nested[@]}"; do
      [[ $path == "$prefix"* ]] && continue 2
    done
    # A tracked file deleted from the working tree is no longer read.
    [ -f "$dir/$path" ] && printf '%s\0' "$path"
  done
}

# Prints, one line each, the build-related environment variables.
_build_environment() {
  local name found=()
  for name in $(compgen -e); do
    [[ $name =~ ^(LMRT_.*|CMAKE_.*|CC|CXX|CFLAGS|CXXFLAGS|LDFLAGS)$ ]] && found+=("$name=${!name}")
  done
  [ ${#found[@]} -eq 0 ] || printf '%s\n' "${found[@]}" | sort
}

# install_if_changed [--also FILE]... [--stage LABEL ESTIMATE] DIR [PIP_ARGS]...
# Runs `pip install PIP_ARGS DIR`, as a stage named LABEL (see stage), unless
# DIR's build inputs (their names and contents), the pip arguments, the
# build-related environment and each FILE (an input from elsewhere, such as a
# header the build compiles against) are the same as at the last install into
# $VENV.
install_if_changed() {
  local also=() label estimate
  while [ "${1:-}" = --also ]; do also+=("$2"); shift 2; done
  if [ "${1:-}" = --stage ]; then label=$2 estimate=$3; shift 3; fi
  local dir=$1; shift
  local name=${dir#./}
  label=${label:-"Installing $name"} estimate=${estimate:-"a minute"}
  local inputs
  inputs=$(
    printf '%s\n' "$@"
    _build_environment
    _build_inputs "$dir" | (cd "$dir" && xargs -0 -r sha256sum)
    [ ${#also[@]} -eq 0 ] || sha256sum "${also[@]}"
  )
  _run_unless_stamped "dist-${name//\//_}" "$inputs" \
    "$label" "$estimate" "$VENV/bin/python" -m pip install "$@" "$dir"
}

# _run_unless_stamped STAMP INPUTS LABEL ESTIMATE COMMAND [ARG]...
# Runs COMMAND as a stage (see stage) unless the stamp file STAMP in
# $VENV/.install-stamps holds the hash of INPUTS; records the hash once the
# command succeeded, so a failed install is tried again next time.
_run_unless_stamped() {
  local stamp="$VENV/.install-stamps/$1" want have=
  want=$(sha256sum <<<"$2")
  want=${want%% *}
  shift 2
  [ -f "$stamp" ] && read -r have <"$stamp"
  [ "$have" = "$want" ] && return 0
  rm -f "$stamp"
  stage "$@" || return
  mkdir -p "$(dirname "$stamp")"
  echo "$want" >"$stamp"
}

# make_venv: creates $VENV from $PYTHON_BIN (see python-env.sh), as a
# stage, unless it exists.
make_venv() {
  [ -x "$VENV/bin/python" ] && return 0
  stage "Making the environment $VENV with CPython $PYTHON_VERSION" "10 s" _new_venv
}

_new_venv() {
  "$PYTHON_BIN" -m venv "$VENV" && "$VENV/bin/python" -m pip install --upgrade pip
}

# install_tools_if_changed LABEL ESTIMATE REQUIREMENT...
# Installs the named tools, as a stage, unless this same list was installed
# before.
install_tools_if_changed() {
  local label=$1 estimate=$2; shift 2
  _run_unless_stamped tools "$(printf '%s\n' "$@")" \
    "$label" "$estimate" "$VENV/bin/python" -m pip install "$@"
}

# install_tools [REQUIREMENT]...
# What every test environment needs, and the given extras: pytest,
# Hypothesis (for the state-machine tests), and the builders of the test
# siblings, which are built without build isolation.
install_tools() {
  install_tools_if_changed "Installing the test tools: pytest, Hypothesis, CMake, Ninja, Cython${1:+, ${*%%[<>=]*}}" \
    "30 s" pytest 'hypothesis>=6,<7' scikit-build-core cmake ninja 'cython>=3,<4' "$@"
}

# install_platforms
# Both platforms, then the lumo_ui modules that choose between them (after
# the recording platform, which no longer owns those files).
install_platforms() {
  install_if_changed --stage "Building the recording platform: stand-ins with a call log" "15 s" \
    ./platforms/recording
  install_if_changed --stage "Building the raylib platform, with raylib 6 from PyPI" "20 s" \
    ./platforms/raylib
  install_if_changed --stage "Installing the platform selector: the lumo_ui modules" "5 s" \
    ./platforms/select
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
  install_if_changed "${declarations[@]}" --stage "Building the C test sibling against the installed header" \
    "10 s" ./tests/native_client --no-build-isolation "$@"
  install_if_changed "${declarations[@]}" --stage "Building the Cython test sibling against the installed .pxd" \
    "20 s" ./tests/cython_client --no-build-isolation "$@"
}
