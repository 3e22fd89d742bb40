# Sourced by scripts/windows-sqlite.sh and scripts/windows-libpq.sh: a Debian source package of
# this machine's release, fetched with apt and unpacked with Debian's patches, for the libraries
# that Debian does not build for MinGW.
#
# apt runs with a private configuration in the work folder: deb-src entries made from this
# machine's own sources (scripts/apt-sources.sh: the same mirrors, suites, components and keys),
# its own package lists and cache. The machine's apt state is neither read beyond its source
# files nor changed; its apt.conf (a proxy, say) applies as always.
#
# Needs dpkg-dev (dpkg-source) and xz-utils; the archive's keyring where the sources name one.

# shellcheck source=scripts/apt-sources.sh
source "$(dirname "${BASH_SOURCE[0]}")/apt-sources.sh"

# debian_source_unpack WHO PACKAGE WORK: fetches the source package that builds PACKAGE (a binary
# or a source package's name) into WORK/src and unpacks it into WORK/src/tree; prints the .dsc's
# name (NAME_VERSION) on stdout. The fetch's output is in WORK/fetch.log, shown on failure.
# Exit status 1 with the reason on stderr when it cannot.
debian_source_unpack() {
  local who=$1 package=$2 work=$3
  local suites
  suites=$(apt_release_suites)
  if [ -z "$suites" ]; then
    echo "$who: /etc/os-release names no Debian release (VERSION_CODENAME); the source of" \
      "$package is taken from the archive for it" >&2
    return 1
  fi
  mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/src"
  local why
  if ! why=$(apt_source_config "$suites" "$work/apt/machine-source.sources" 2>&1); then
    echo "$who: cannot fetch the source of $package: $why" >&2
    return 1
  fi
  : >"$work/apt/none.list"
  local apt_options=(
    -o "Dir::Etc::SourceList=$work/apt/none.list" -o "Dir::Etc::SourceParts=$work/apt"
    -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache"
  )
  # apt drops root to its _apt user for downloads, which may not reach a folder under the
  # build tree.
  [ "$(id -u)" -eq 0 ] && apt_options+=(-o "APT::Sandbox::User=root")
  local release=${suites%% *}
  local uris
  uris=$(awk '/^URIs:/ { $1 = ""; print }' "$work/apt/machine-source.sources" | xargs)
  echo "$who: fetching Debian's source of $package ($release, from $uris)" >&2
  # A suite that is missing (not every release has -updates or -security) is no failure as
  # long as the release's own list came.
  apt-get "${apt_options[@]}" update -qq >"$work/fetch.log" 2>&1 || true
  # The version this machine has installed first (the one its own builds use), then the others
  # from the newest down: a mirror may list a version whose files it does not (yet) hold.
  local source="" versions=() version fetched=0
  if grep -q . <(find "$work/apt/lists" -name "*_dists_${release}_*Sources*"); then
    source=$(apt-cache "${apt_options[@]}" showsrc "$package" 2>/dev/null |
      awk '/^Package:/ { print $2; exit }')
    mapfile -t versions < <({
      dpkg-query -W -f '${source:Version}\n' "$package" 2>/dev/null || true
      apt-cache "${apt_options[@]}" showsrc "$package" 2>/dev/null |
        awk -v p="$source" '/^Package:/ { mine = $2 == p } mine && /^Version:/ { print $2 }' |
        sort -rVu
    } | awk 'NF && !seen[$0]++')
  fi
  for version in "${versions[@]}"; do
    find "$work/src" -maxdepth 1 -type f -delete
    if (cd "$work/src" && apt-get "${apt_options[@]}" source --download-only -qq \
        "$source=$version") >>"$work/fetch.log" 2>&1; then
      fetched=1
      break
    fi
  done
  if [ "$fetched" = 0 ]; then
    sed 's/^/  /' "$work/fetch.log" >&2
    echo "$who: cannot fetch the source of $package for $release from $uris (the sources" \
      "configured for this machine's apt, with deb-src added). Is the archive reachable from" \
      "here (a proxy in /etc/apt/apt.conf.d is used)?" >&2
    return 1
  fi
  local dsc
  dsc=$(find "$work/src" -maxdepth 1 -name '*.dsc' | head -n 1)
  # Debian's patches are applied as it builds its own packages.
  rm -rf "$work/src/tree"
  if ! dpkg-source -x "$dsc" "$work/src/tree" >>"$work/fetch.log" 2>&1; then
    sed 's/^/  /' "$work/fetch.log" >&2
    echo "$who: cannot unpack $dsc" >&2
    return 1
  fi
  basename "$dsc" .dsc
}
