# Sourced by scripts/windows: SQLite for the Windows builds, from Debian's own source package.
# Debian ships no SQLite built for MinGW, so the setup fetches the source package of the
# machine's Debian release with apt (through a private apt configuration: the machine's own
# sources are neither read nor changed), unpacks it with Debian's patches (dpkg-source), and
# makes the single-file sqlite3.c with Debian's tclsh. The cross builds compile that file
# themselves (src/results/CMakeLists.txt, PELOR_SQLITE_AMALGAMATION_DIR).
#
# Kept in build-win-deps/sqlite/ (sqlite3.c, sqlite3.h, and the source package's version in
# VERSION): later runs use it without asking the archive anything. Remove the folder to fetch
# again. PELOR_DEBIAN_MIRROR names another Debian archive (default http://deb.debian.org/debian).
#
# Needs tcl, dpkg-dev, debian-archive-keyring, xz-utils, make and gcc (scripts/windows installs
# them).

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
  local mirror=${PELOR_DEBIAN_MIRROR:-http://deb.debian.org/debian}
  local keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  local suite
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -z "$suite" ]; then
    echo "windows: /etc/os-release names no Debian release (VERSION_CODENAME); SQLite's" \
      "source package is taken from Debian's archive for it" >&2
    return 1
  fi
  rm -rf "$work"
  mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/src" "$work/build"
  {
    printf 'Types: deb-src\nURIs: %s\nSuites: %s %s-updates\nComponents: main\nSigned-By: %s\n' \
      "$mirror" "$suite" "$suite" "$keyring"
    # The security archive sits beside the main one on deb.debian.org; a release under
    # development (sid) has none.
    if [ "$suite" != sid ] && [ -z "${PELOR_DEBIAN_MIRROR:-}" ]; then
      printf '\nTypes: deb-src\nURIs: http://deb.debian.org/debian-security\n'
      printf 'Suites: %s-security\nComponents: main\nSigned-By: %s\n' "$suite" "$keyring"
    fi
  } >"$work/apt/debian-source.sources"
  : >"$work/apt/none.list"
  local apt_options=(
    -o "Dir::Etc::SourceList=$work/apt/none.list" -o "Dir::Etc::SourceParts=$work/apt"
    -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache"
  )
  # apt drops root to its _apt user for downloads, which may not reach a folder under the
  # build tree.
  [ "$(id -u)" -eq 0 ] && apt_options+=(-o "APT::Sandbox::User=root")
  echo "windows: fetching Debian's sqlite3 source package ($suite, $mirror)"
  # A suite that is missing (no -updates or -security for every release) is no failure as
  # long as the release's own list came.
  apt-get "${apt_options[@]}" update -qq >"$work/fetch.log" 2>&1 || true
  if ! grep -q . <(find "$work/apt/lists" -name "*_dists_${suite}_main_source_Sources*") ||
      ! (cd "$work/src" && apt-get "${apt_options[@]}" source --download-only -qq sqlite3) \
        >>"$work/fetch.log" 2>&1; then
    sed 's/^/  /' "$work/fetch.log" >&2
    echo "windows: cannot fetch the sqlite3 source package from $mirror ($suite): the" \
      "Windows builds need it for their results file. Is the archive reachable from here" \
      "(a proxy in /etc/apt/apt.conf.d is used)? PELOR_DEBIAN_MIRROR names another mirror." >&2
    return 1
  fi
  local dsc
  dsc=$(find "$work/src" -maxdepth 1 -name 'sqlite3_*.dsc' | head -n 1)
  # Debian's patches are applied as it builds its own library.
  if ! dpkg-source -x "$dsc" "$work/src/sqlite3" >>"$work/fetch.log" 2>&1; then
    sed 's/^/  /' "$work/fetch.log" >&2
    echo "windows: cannot unpack $dsc" >&2
    return 1
  fi
  echo "windows: making sqlite3.c from $(basename "$dsc" .dsc)"
  if ! (cd "$work/build" && ../src/sqlite3/configure --disable-tcl --disable-readline &&
      make sqlite3.c) >"$work/build.log" 2>&1; then
    tail -n 30 "$work/build.log" | sed 's/^/  /' >&2
    echo "windows: cannot make sqlite3.c (the whole log: $work/build.log)" >&2
    return 1
  fi
  # Into place as a whole: an interrupted run leaves no half folder that looks finished.
  rm -rf "$out.new"
  mkdir -p "$out.new"
  cp "$work/build/sqlite3.c" "$work/build/sqlite3.h" "$out.new/"
  basename "$dsc" .dsc | sed 's/^sqlite3_//' >"$out.new/VERSION"
  rm -rf "$out"
  mv "$out.new" "$out"
  rm -rf "$work"
  echo "windows: SQLite $(cat "$out/VERSION") ready in $((SECONDS - started)) s ($out)"
}
