#!/usr/bin/env bash
# scripts/apt-sources.sh: the private apt configuration made from a machine's own sources, in
# both formats, for its release only; apt itself must read what it writes; a machine without a
# source for its release is told what to configure; and the chroot's mirror is the machine's.
#   apt_sources_test.sh SOURCE_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# shellcheck source=scripts/apt-sources.sh
source "$src/scripts/apt-sources.sh"

failures=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then
    echo "ok   $1"
  else
    echo "FAIL $1"
    diff <(echo "$2") <(echo "$3") | sed 's/^/    /' || true
    failures=$((failures + 1))
  fi
}

suites="bookworm bookworm-updates bookworm-security bookworm/updates"

# deb822: several suites of which some are the release's, a disabled entry, another release,
# both types in one entry, an inline key (continuation lines kept as they are), and options.
cat >"$work/machine.sources" <<'EOF'
# the machine's mirror
Types: deb
URIs: http://mirror.example/pool-a
Suites: bookworm bookworm-updates bookworm-backports
Components: main contrib
Signed-By: /usr/share/keyrings/archive.gpg

Types: deb deb-src
URIs: http://security.example/pool-b
Suites: bookworm-security
Components: main
Check-Valid-Until: no

Enabled: no
Types: deb
URIs: http://disabled.example/pool-c
Suites: bookworm
Components: main

Types: deb
URIs: http://next.example/pool-d
Suites: trixie
Components: main

Types: deb
URIs: http://inline.example/pool-e
Suites: bookworm
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mQINBGPL0BUBEADmW5NdOOHwPIJlgPu6JDcKw/NZJPEpvcmQtZQKN1gYdpAmBqKd
 -----END PGP PUBLIC KEY BLOCK-----
EOF
check "deb822: deb-src for the release's suites, with their keys and options" "Types: deb-src
URIs: http://mirror.example/pool-a
Suites: bookworm bookworm-updates
Components: main contrib
Signed-By: /usr/share/keyrings/archive.gpg

Types: deb-src
URIs: http://security.example/pool-b
Suites: bookworm-security
Components: main
Check-Valid-Until: no

Types: deb-src
URIs: http://inline.example/pool-e
Suites: bookworm
Components: main
Signed-By:
 -----BEGIN PGP PUBLIC KEY BLOCK-----
 .
 mQINBGPL0BUBEADmW5NdOOHwPIJlgPu6JDcKw/NZJPEpvcmQtZQKN1gYdpAmBqKd
 -----END PGP PUBLIC KEY BLOCK-----" "$(apt_source_entries stanzas "$suites" "$work/machine.sources")"

# One-line format: options in brackets (spaced or not), comments, the same source as deb and
# deb-src (once), a flat repository and another release (neither taken).
cat >"$work/machine.list" <<'EOF'
# comment line
deb [arch=amd64 signed-by=/usr/share/keyrings/archive.gpg] http://mirror.example/pool-a bookworm main non-free-firmware # inline comment
deb-src [ arch=amd64 signed-by=/usr/share/keyrings/archive.gpg ] http://mirror.example/pool-a bookworm main non-free-firmware
deb http://security.example/pool-b bookworm/updates main
deb [trusted=yes] file:/srv/local ./
deb http://next.example/pool-d trixie main
EOF
check "one-line: options as deb822 fields, each source once" "Types: deb-src
URIs: http://mirror.example/pool-a
Suites: bookworm
Components: main non-free-firmware
Architectures: amd64
Signed-By: /usr/share/keyrings/archive.gpg

Types: deb-src
URIs: http://security.example/pool-b
Suites: bookworm/updates
Components: main" "$(apt_source_entries stanzas "$suites" "$work/machine.list")"

# The chroot's mirror (scripts/package-check): deb entries offering exactly that suite, the
# first one first; a deb-src-only source is no mirror for a base system.
cat >"$work/src-only.list" <<'EOF'
deb-src http://sources-only.example/pool-f bookworm main
EOF
check "the mirror of a suite: its deb URIs, first come first" "http://mirror.example/pool-a
http://inline.example/pool-e" "$(apt_source_entries uris bookworm "$work/src-only.list" \
  "$work/machine.sources" "$work/machine.list")"

# apt reads what is written: the source indexes of every entry, without fetching anything.
mkdir -p "$work/apt/parts" "$work/apt/lists/partial" "$work/apt/cache"
apt_source_entries stanzas "$suites" "$work/machine.sources" "$work/machine.list" \
  >"$work/apt/parts/made.sources"
: >"$work/apt/none.list"
indexes=$(apt-get -o "Dir::Etc::SourceList=$work/apt/none.list" \
  -o "Dir::Etc::SourceParts=$work/apt/parts" -o "Dir::State::Lists=$work/apt/lists" \
  -o "Dir::Cache=$work/apt/cache" update --print-uris 2>&1 |
  grep -oE "'[^']+/dists/[^']+/Sources[^']*'" | sed -E "s/'//g; s/\.(xz|gz|bz2|lzma|zst)$//" |
  sort -u || true)
check "apt reads the made configuration as the source indexes of each entry" \
  "http://inline.example/pool-e/dists/bookworm/main/source/Sources
http://mirror.example/pool-a/dists/bookworm-updates/contrib/source/Sources
http://mirror.example/pool-a/dists/bookworm-updates/main/source/Sources
http://mirror.example/pool-a/dists/bookworm/contrib/source/Sources
http://mirror.example/pool-a/dists/bookworm/main/source/Sources
http://mirror.example/pool-a/dists/bookworm/non-free-firmware/source/Sources
http://security.example/pool-b/dists/bookworm-security/main/source/Sources
http://security.example/pool-b/dists/bookworm/updates/main/source/Sources" "$indexes"

# A machine with no source for its release: stop, saying what to configure.
status=0
message=$(apt_source_files() { echo "$work/src-only.list"; }
  apt_source_config "trixie trixie-updates" "$work/none.sources" 2>&1) || status=$?
if [ "$status" -eq 1 ] && [ ! -s "$work/none.sources" ] &&
    grep -q "no package source for its release (trixie) in $work/src-only.list" <<<"$message" &&
    grep -q "Configure one" <<<"$message" && grep -q "Suites: trixie" <<<"$message"; then
  echo "ok   no source for the release: exit 1 and what to configure"
else
  echo "FAIL no source for the release (status $status): $message"
  failures=$((failures + 1))
fi

# The machine's own list of files: apt's main list, then the parts folder's *.list and *.sources
# in order, nothing else there.
mkdir -p "$work/etc/parts"
touch "$work/etc/main.list" "$work/etc/parts/b.sources" "$work/etc/parts/a.list" \
  "$work/etc/parts/c.list.disabled" "$work/etc/parts/d.sources.save"
files=$(apt-config() { command apt-config -o "Dir::Etc::SourceList=$work/etc/main.list" \
    -o "Dir::Etc::SourceParts=$work/etc/parts" "$@"; }
  apt_source_files)
check "the files apt reads, in its order" "$work/etc/main.list
$work/etc/parts/a.list
$work/etc/parts/b.sources" "$files"

[ "$failures" -eq 0 ]
