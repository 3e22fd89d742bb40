#!/usr/bin/env bash
# Both programs print one version, the project's, with the same source revision; and the window
# started where no display can be opened says so in one line and exits 3, instead of the
# toolkit's own error, while --help and --version need no display at all (and --help fits an
# 80-column terminal).
#   version_and_display_test.sh BUILD_DIR PROJECT_VERSION
set -euo pipefail
build=$1
version=$2
fail() { echo "FAIL: $*" >&2; exit 1; }

cli=$("$build/pelor" --version)
[[ $cli == "pelor $version"* ]] || fail "pelor --version says '$cli'"
[ -x "$build/pelor-station" ] || { echo "no window built: pelor only"; exit 0; }

headless=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
station=$("${headless[@]}" "$build/pelor-station" --version)
[ "${station#pelor-station }" = "${cli#pelor }" ] || fail "'$station' and '$cli' differ"
help=$("${headless[@]}" "$build/pelor-station" --help)
grep -q -- "--version" <<<"$help" || fail "--help"
wide=$(awk 'length($0) > 80' <<<"$help")
[ -z "$wide" ] || fail "--help has lines wider than an 80-column terminal: $wide"

check_no_display() {  # $1: what the environment lacks; the rest: the environment
  local what=$1 status=0 err
  shift
  err=$("$@" "$build/pelor-station" 2>&1 >/dev/null) || status=$?
  [ "$status" -eq 3 ] || fail "$what: exit status $status, not 3: $err"
  [ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] || fail "$what: more than one line: $err"
  [[ $err == "pelor-station: no display can be opened here"*"pelor"* ]] || fail "$what: '$err'"
}
check_no_display "no DISPLAY" "${headless[@]}"
# A display that nobody serves (a stale DISPLAY of an ended session).
check_no_display "dead DISPLAY" "${headless[@]}" DISPLAY=:97
echo "version and display: ok"
