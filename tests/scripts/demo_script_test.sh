#!/usr/bin/env bash
# scripts/demo and scripts/setup as a newcomer meets them, with apt-get, dpkg-query, id and cmake
# replaced by stand-ins: the first run says what it does at every stage (packages, configure,
# the build's own progress lines) before the demo starts; a later run skips what is done; and a
# user without root or sudo is told how to get on instead of meeting "sudo: command not found".
#   demo_script_test.sh SOURCE_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
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
# Every package is installed but those named in STUB_MISSING.
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
chmod +x "$work/bin"/*
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
  '^demo: checking the packages the build needs' \
  '^setup: updating the package lists' \
  '^setup: installing 1 packages: ninja-build$' \
  '^setup: packages installed in [0-9]+ s$' \
  '^demo: configuring build/' \
  '^demo: building pelor \(the first build takes up to [0-9]+ minutes' \
  '^\[1/2\] Building' \
  '^\[2/2\] Linking CXX executable pelor$' \
  '^demo: ready after [0-9]+ s; starting the demo$' \
  '^pelor demo -n 2$'
if grep -q -- "--target pelor" "$STUB_LOG"; then
  echo "ok   only pelor is built before the demo"
else
  echo "FAIL the demo's build is not limited to pelor:"; cat "$STUB_LOG"; failures=$((failures + 1))
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
