#!/usr/bin/env bash
# scripts/demo and scripts/setup as a newcomer meets them, with apt-get, dpkg-query, id and cmake
# replaced by stand-ins: the first run says what it does at every stage (packages, configure,
# the build's own progress lines) before the demo starts, and installs only what building pelor
# needs; the README's sample of a first run on a fresh machine is what the run prints; a later
# run skips what is done; and a user without root or sudo is told how to get on instead of
# meeting "sudo: command not found".
#   demo_script_test.sh SOURCE_DIR [NINJA BUILD_DIR]
# With NINJA and BUILD_DIR (a Ninja build), the README's count of build steps is checked too.
set -euo pipefail
src=$(cd "$1" && pwd)
ninja=${2:-}
build=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

repo=$work/repo
mkdir -p "$repo/scripts" "$work/bin"
cp "$src/scripts/demo" "$src/scripts/setup" "$src/scripts/install-packages.sh" "$repo/scripts/"

# Only these commands are on PATH: the real ones the scripts need, and the stand-ins.
for tool in bash dirname grep mktemp cat rm env mkdir touch chmod; do
  ln -s "$(command -v "$tool")" "$work/bin/$tool"
done
cat >"$work/bin/dpkg-query" <<'STUB'
#!/bin/bash
# Every package is installed but those named in STUB_MISSING (all: none is).
[ "${STUB_MISSING:-}" = all ] && exit 1
for p in ${STUB_MISSING:-}; do [ "$p" = "${@: -1}" ] && exit 1; done
printf 'install ok installed'
STUB
cat >"$work/bin/apt-get" <<'STUB'
#!/bin/bash
echo "apt-get $*" >>"$STUB_LOG"
STUB
cat >"$work/bin/id" <<'STUB'
#!/bin/bash
case "$1" in -u) echo "${STUB_UID:-0}" ;; -un) echo op ;; esac
STUB
cat >"$work/bin/cmake" <<'STUB'
#!/bin/bash
echo "cmake $*" >>"$STUB_LOG"
if [ "$1" = "--preset" ]; then
  mkdir -p build && touch build/CMakeCache.txt
elif [ "$1" = "--build" ]; then
  echo "[1/2] Building CXX object src/cli/main.cpp.o"
  echo "[2/2] Linking CXX executable pelor"
  printf '#!/bin/bash\necho "pelor $*"\n' >build/pelor
  chmod +x build/pelor
fi
STUB
# The stand-ins only: the links lead to the system's own programs.
chmod +x "$work/bin"/{dpkg-query,apt-get,id,cmake}
export STUB_LOG=$work/stub.log

failures=0
expect_lines() {  # expect_lines NAME OUTPUT PATTERN...: each pattern matches a line, in order
  local name=$1 output=$2 rest
  shift 2
  rest=$output
  for pattern in "$@"; do
    local line
    line=$(grep -n -m1 -E -- "$pattern" <<<"$rest" | cut -d: -f1 || true)
    if [ -z "$line" ]; then
      echo "FAIL $name: no line matching '$pattern' (in order) in:"
      echo "$output" | sed 's/^/    /'
      failures=$((failures + 1))
      return
    fi
    rest=$(tail -n +"$((line + 1))" <<<"$rest")
  done
  echo "ok   $name"
}

# First run: a package missing, nothing configured or built yet.
out=$(PATH=$work/bin STUB_MISSING=ninja-build "$repo/scripts/demo" -n 2 2>&1)
expect_lines "first run: a line per stage, then the build's progress, then the demo" "$out" \
  '^demo: checking the packages pelor needs' \
  '^setup: updating the package lists' \
  '^setup: installing 1 packages: ninja-build$' \
  '^setup: packages installed in [0-9]+ s$' \
  '^demo: configuring build/' \
  '^demo: building pelor \(the first build takes [0-9]+ to [0-9]+ minutes' \
  '^\[1/2\] Building' \
  '^\[2/2\] Linking CXX executable pelor$' \
  '^demo: ready after [0-9]+ s; starting the demo$' \
  '^pelor demo -n 2$'
if grep -q -- "--target pelor" "$STUB_LOG"; then
  echo "ok   only pelor is built before the demo"
else
  echo "FAIL the demo's build is not limited to pelor:"; cat "$STUB_LOG"; failures=$((failures + 1))
fi

# A fresh machine: nothing installed. The demo asks for what building pelor needs, and for no
# window toolkit, test framework or database server.
rm -rf "$repo/build"
: >"$STUB_LOG"
fresh=$(PATH=$work/bin STUB_MISSING=all "$repo/scripts/demo" 2>&1)
install=$(grep "install" "$STUB_LOG" || true)
if grep -q "g++" <<<"$install" && ! grep -qE "postgresql|qt6|gtest|gmock|googletest|benchmark" <<<"$install"; then
  echo "ok   on a fresh machine the demo installs what pelor needs and nothing more"
else
  echo "FAIL the demo's packages on a fresh machine: $install"; failures=$((failures + 1))
fi

# The README's sample of that first run: each of its lines is a line of the run, in order, times
# in seconds and build step numbers aside (the stand-in build has two steps).
sample=$(awk '/^```/ { if (inside) { if (first ~ /^demo: /) { printf "%s", block; exit } inside = 0 }
                       else { inside = 1; block = ""; first = "" } next }
              inside { if (first == "") first = $0; block = block $0 "\n" }' "$src/README.md")
normalise() { sed -E 's/[0-9]+ s\b/N s/g; s/^\[[0-9]+\/[0-9]+\]/[N\/N]/'; }
if [ -z "$sample" ]; then
  echo "FAIL README.md has no sample of the demo's first run"; failures=$((failures + 1))
else
  rest=$(normalise <<<"$fresh")
  missing=""
  while IFS= read -r line; do
    at=$(grep -nxF -m1 -- "$line" <<<"$rest" | cut -d: -f1 || true)
    if [ -z "$at" ]; then missing=$line; break; fi
    rest=$(tail -n +"$((at + 1))" <<<"$rest")
  done < <(normalise <<<"$sample")
  if [ -z "$missing" ]; then
    echo "ok   the README's first run is what the demo prints"
  else
    echo "FAIL the README's first run has a line the demo does not print (in order): $missing"
    echo "$fresh" | sed 's/^/    /'
    failures=$((failures + 1))
  fi
  # Its build steps: what building pelor alone runs, counted in the real build's graph.
  if [ -n "$ninja" ] && [ -f "$build/build.ninja" ]; then
    steps=$(cd "$build" && "$ninja" -t commands pelor | wc -l)
    if grep -qx "\[$steps/$steps\] Linking CXX executable pelor" <<<"$sample"; then
      echo "ok   the README counts the $steps steps of building pelor"
    else
      echo "FAIL building pelor takes $steps steps: make the README's sample say" \
        "[$steps/$steps] instead of:"
      grep '^\[' <<<"$sample" | sed 's/^/    /'
      failures=$((failures + 1))
    fi
  fi
fi

# Second run: the packages are there and build/ is configured.
: >"$STUB_LOG"
out=$(PATH=$work/bin "$repo/scripts/demo" 2>&1)
expect_lines "second run: straight to the build and the demo" "$out" \
  '^demo: checking the packages' '^demo: building pelor' '^demo: ready after' '^pelor demo$'
if grep -qE '^(setup: |demo: configuring)' <<<"$out" || grep -q -- "--preset" "$STUB_LOG"; then
  echo "FAIL second run installs or configures again:"; echo "$out"; failures=$((failures + 1))
fi

# A user without root and without sudo.
: >"$STUB_LOG"
status=0
out=$(PATH=$work/bin STUB_UID=1000 STUB_MISSING="cmake g++" "$repo/scripts/setup" 2>&1) || status=$?
if [ "$status" -ne 0 ] && grep -q "needs root, and sudo is not installed: run this script as root" <<<"$out" &&
  grep -q "install sudo first" <<<"$out" && ! grep -q "apt-get" "$STUB_LOG"; then
  echo "ok   without root or sudo, setup says how to get on"
else
  echo "FAIL without root or sudo (status $status):"; echo "$out"; failures=$((failures + 1))
fi

[ "$failures" -eq 0 ]
