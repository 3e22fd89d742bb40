#!/usr/bin/env bash
# scripts/check-archive-addresses: a package archive's address anywhere in a repository fails the
# check, naming file and line; addresses that lead elsewhere, and archive names that are not an
# address's path, pass. The archive paths are put together here at run time, so that this file
# holds none itself.
#   archive_address_check_test.sh SOURCE_DIR
set -euo pipefail
src=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

d=deb
u=ubu
failures=0

# verdict TEXT: "refused" or "passed", for a repository of one file holding TEXT.
verdict() {
  rm -rf "$work/repo"
  mkdir -p "$work/repo/scripts"
  printf '%s\n' "$1" >"$work/repo/scripts/file.sh"
  if "$src/scripts/check-archive-addresses" "$work/repo" >"$work/out" 2>&1; then
    echo passed
  else
    echo refused
  fi
}

while IFS='|' read -r expected text; do
  [ -n "$expected" ] || continue
  text=${text//DEB/${d}ian}
  text=${text//UBU/${u}ntu}
  got=$(verdict "$text")
  if [ "$got" = "$expected" ]; then
    echo "ok   $expected: $text"
  else
    echo "FAIL $text: $got, not $expected"
    sed 's/^/    /' "$work/out"
    failures=$((failures + 1))
  fi
done <<'EOF'
refused|mirror=http://deb.example.org/DEB
refused|  local mirror=${MIRROR:-http://deb.example.org/DEB}
refused|printf 'URIs: http://deb.example.org/DEB-security\n'
refused|deb https://archive.example.com/UBU-ports/ jammy main
refused|see <https://mirror.example.net/pub/linux/DEB/dists/>
refused|"http://snapshot.example.org/archive/DEB/20250520T000000Z"
refused|URL: HTTP://MIRROR.EXAMPLE/DEB
passed|https://www.example.org/DEB-policy-notes
passed|http://example.com/pool-a/dists/bookworm
passed|the DEB archive of this machine's apt sources
passed|Homepage: https://www.example.org/docs/DEButils.html
passed|file:/srv/mirror/DEB
EOF

# The finding names the file and the line.
got=$(verdict "$(printf 'one\ntwo http://deb.example.org/%s three' "${d}ian")")
if [ "$got" = refused ] && grep -q "scripts/file.sh:2:" "$work/out"; then
  echo "ok   the finding names file and line"
else
  echo "FAIL the finding does not name scripts/file.sh:2:"
  sed 's/^/    /' "$work/out"
  failures=$((failures + 1))
fi

# This repository holds none.
if "$src/scripts/check-archive-addresses" "$src" >"$work/out" 2>&1; then
  echo "ok   this repository names no archive"
else
  echo "FAIL this repository names an archive:"
  sed 's/^/    /' "$work/out"
  failures=$((failures + 1))
fi

[ "$failures" -eq 0 ]
