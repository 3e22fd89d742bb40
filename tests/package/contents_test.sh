#!/usr/bin/env bash
# The Debian package's control fields and file list, as dpkg-deb reads them.
# Usage: tests/package/contents_test.sh build/pelor_VERSION_ARCH.deb
set -uo pipefail
deb=${1:?usage: $0 PACKAGE.deb}
passed=0
failed=0
check() {  # check NAME COMMAND...: one case, passed when COMMAND succeeds
  local name=$1
  shift
  if "$@"; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED: $name" >&2
  fi
}

field() { dpkg-deb -f "$deb" "$1"; }
has_field() {
  [ "$(field "$1")" = "$2" ] || { echo "  $1 is '$(field "$1")', want '$2'" >&2; false; }
}
maintainer_has_address() { field Maintainer | grep -q '^[^<]\+ <[^>@]\+@[^>]\+>$'; }
summary_names_handsets() { field Description | head -1 | grep -q 'handsets'; }
has_long_description() { [ "$(field Description | wc -l)" -gt 3 ]; }
depends_on() {  # the package names in Depends, without versions
  field Depends | tr ',' '\n' | sed 's/(.*)//; s/|.*//; s/ //g' | grep -qx "$1" ||
    { echo "  Depends lacks $1: $(field Depends)" >&2; false; }
}

listing=$(dpkg-deb -c "$deb")
paths=$(awk '{ print $6 }' <<<"$listing" | sed 's|^\./|/|; s|/$||' | grep -v '^$')
ships() { grep -qx "$1" <<<"$paths" || { echo "  missing $1" >&2; false; }; }
nothing_outside_usr() { ! grep -v '^/usr\(/\|$\)' <<<"$paths"; }
nothing_under_usr_local() { ! grep '^/usr/local' <<<"$paths"; }
all_owned_by_root() { ! awk '{ print $2 }' <<<"$listing" | grep -vx root/root; }
mode_of() { awk -v p=".$1" '$6 == p { print $1 }' <<<"$listing"; }
has_mode() { [ "$(mode_of "$1")" = "$2" ] || { echo "  $1 is $(mode_of "$1"), want $2" >&2; false; }; }
member() { dpkg-deb --fsys-tarfile "$deb" | tar -xOf - ".$1"; }
control_member() { dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - "./$1"; }
executable_script() { dpkg-deb --ctrl-tarfile "$deb" | tar -tvf - "./$1" | grep -q '^-rwxr-xr-x'; }
reloads_udev() { control_member "$1" | grep -q 'udevadm control --reload-rules'; }
rule_says() {
  member /usr/lib/udev/rules.d/70-pelor.rules | grep -v '^#' | grep -qF -- "$1" ||
    { echo "  the udev rule lacks $1" >&2; false; }
}
desktop_says() { member /usr/share/applications/pelor-station.desktop | grep -qx "$1"; }
desktop_validates() {
  local tmp ok=0
  tmp=$(mktemp -d)
  member /usr/share/applications/pelor-station.desktop >"$tmp/pelor-station.desktop"
  desktop-file-validate "$tmp/pelor-station.desktop" || ok=1
  rm -rf "$tmp"
  return $ok
}
icon_is_svg() { member /usr/share/icons/hicolor/scalable/apps/pelor-station.svg | grep -q '<svg '; }
man_page() {  # man_page PAGE TITLE: gzipped, and the page's title line names TITLE
  member "/usr/share/man/man1/$1.1.gz" | gzip -dc | head -1 | grep -qF ".TH $2 1" ||
    { echo "  $1.1.gz is not a gzipped page titled $2" >&2; false; }
}
copyright_says() { member /usr/share/doc/pelor/copyright | grep -qF "$1"; }

# Control fields.
check "package name" has_field Package pelor
check "version" has_field Version 1.3.0
check "section" has_field Section electronics
check "priority" has_field Priority optional
check "architecture" has_field Architecture "$(dpkg --print-architecture)"
check "maintainer with an address" maintainer_has_address
check "description summary" summary_names_handsets
check "description body" has_long_description
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6; do
  check "depends on $lib" depends_on "$lib"
done
# Every library the programs load comes from a package it depends on.
package_of_library() {  # the Debian package that holds the shared library SONAME
  local path
  path=$(ldconfig -p | awk -v so="$1" '$1 == so { print $NF; exit }')
  [ -n "$path" ] || return 1
  { dpkg -S "$path" 2>/dev/null || dpkg -S "$(realpath "$path")" 2>/dev/null ||
    dpkg -S "${path#/usr}" 2>/dev/null || dpkg -S "/usr$path" 2>/dev/null; } |
    head -1 | cut -d: -f1
}
declares_what_it_links() {
  local tmp so pkg ok=0
  tmp=$(mktemp -d)
  dpkg-deb -x "$deb" "$tmp"
  for so in $(readelf -d "$tmp/usr/bin/pelor" "$tmp/usr/bin/pelor-station" |
    sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p' | sort -u); do
    pkg=$(package_of_library "$so") || { echo "  no package holds $so" >&2; ok=1; continue; }
    depends_on "$pkg" || ok=1
  done
  rm -rf "$tmp"
  return $ok
}
if command -v readelf >/dev/null 2>&1; then
  check "depends on the package of every library it links" declares_what_it_links
fi

# Files: where they go, owned by root, with the modes dpkg expects.
for p in /usr/bin/pelor /usr/bin/pelor-station \
  /usr/lib/udev/rules.d/70-pelor.rules \
  /usr/share/applications/pelor-station.desktop \
  /usr/share/icons/hicolor/scalable/apps/pelor-station.svg \
  /usr/share/man/man1/pelor.1.gz /usr/share/man/man1/pelor-station.1.gz \
  /usr/share/doc/pelor/README.md /usr/share/doc/pelor/copyright; do
  check "ships $p" ships "$p"
done
check "nothing outside /usr" nothing_outside_usr
check "nothing under /usr/local" nothing_under_usr_local
check "all owned by root" all_owned_by_root
check "command executable" has_mode /usr/bin/pelor -rwxr-xr-x
check "window executable" has_mode /usr/bin/pelor-station -rwxr-xr-x
check "rule not executable" has_mode /usr/lib/udev/rules.d/70-pelor.rules -rw-r--r--
check "copyright readable" has_mode /usr/share/doc/pelor/copyright -rw-r--r--

# Maintainer scripts: udev reloads its rules on install and removal.
check "postinst executable" executable_script postinst
check "postrm executable" executable_script postrm
check "postinst reloads udev" reloads_udev postinst
check "postrm reloads udev" reloads_udev postrm

# The udev rule: USB serial ttys only, access for the user at the screen, ModemManager away.
check "rule: tty only" rule_says 'SUBSYSTEM!="tty", GOTO="pelor_end"'
check "rule: USB bus only" rule_says 'ENV{ID_BUS}!="usb", GOTO="pelor_end"'
check "rule: ttyUSB and ttyACM only" rule_says 'KERNEL!="ttyUSB[0-9]*|ttyACM[0-9]*", GOTO="pelor_end"'
check "rule: uaccess" rule_says 'TAG+="uaccess"'
check "rule: ModemManager ignores" rule_says 'ENV{ID_MM_DEVICE_IGNORE}="1"'
check "rule: its label" rule_says 'LABEL="pelor_end"'

# Desktop entry, icon, man pages and copyright are well formed.
check "desktop: runs the window" desktop_says 'Exec=pelor-station'
check "desktop: its icon" desktop_says 'Icon=pelor-station'
if command -v desktop-file-validate >/dev/null 2>&1; then
  check "desktop: validates" desktop_validates
fi
check "icon is SVG" icon_is_svg
check "man page pelor" man_page pelor PELOR
check "man page pelor-station" man_page pelor-station 'PELOR\-STATION'
check "copyright text" copyright_says 'Copyright 2026 the pelor authors. All rights reserved.'

echo "package contents: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
