# Sourced by scripts/windows: SQLite for the Windows builds, from Debian's own source package.
# Debian ships no SQLite built for MinGW, so the setup fetches the sqlite3 source package of the
# machine's Debian release with apt, through the machine's own package sources
# (scripts/debian-source.sh), unpacks it with Debian's patches (dpkg-source), and makes the
# single-file sqlite3.c with Debian's tclsh. The cross builds compile that file themselves
# (src/results/CMakeLists.txt, PELOR_SQLITE_AMALGAMATION_DIR).
#
# Kept in build-win-deps/sqlite/ (sqlite3.c, sqlite3.h, and the source package's version in
# VERSION): later runs use it without asking the archive anything. Remove the folder to fetch
# again.
#
# Needs tcl, dpkg-dev, xz-utils, make and gcc (scripts/windows installs them).

# shellcheck source=scripts/debian-source.sh
source "$(dirname "${BASH_SOURCE[0]}")/debian-source.sh"

# sqlite_amalgamation DIR: makes DIR/sqlite3.c and DIR/sqlite3.h unless they are there; a line
# per step and its time when it works, the reason and exit status 1 when it cannot.
sqlite_amalgamation() {
  local out
  out=$(realpath -m "$1")
  if [ -s "$out/sqlite3.c" ] && [ -s "$out/sqlite3.h" ] && [ -s "$out/VERSION" ]; then
    return 0
  fi
  local started=$SECONDS
  local work=$out.work
  rm -rf "$work"
  local name
  name=$(debian_source_unpack windows sqlite3 "$work") || return 1
  echo "windows: making sqlite3.c from $name"
  mkdir -p "$work/build"
  if ! (cd "$work/build" && ../src/tree/configure --disable-tcl --disable-readline &&
      make sqlite3.c) >"$work/build.log" 2>&1; then
    tail -n 30 "$work/build.log" | sed 's/^/  /' >&2
    echo "windows: cannot make sqlite3.c (the whole log: $work/build.log)" >&2
    return 1
  fi
  # Into place as a whole: an interrupted run leaves no half folder that looks finished.
  rm -rf "$out.new"
  mkdir -p "$out.new"
  cp "$work/build/sqlite3.c" "$work/build/sqlite3.h" "$out.new/"
  echo "${name#sqlite3_}" >"$out.new/VERSION"
  rm -rf "$out"
  mv "$out.new" "$out"
  rm -rf "$work"
  echo "windows: SQLite $(cat "$out/VERSION") ready in $((SECONDS - started)) s ($out)"
}
