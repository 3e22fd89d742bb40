# Sourced by the scripts that take something from the Debian archive besides installing packages
# (scripts/debian-source.sh: source packages for the Windows builds; scripts/package-check: the
# chroot's base system). The archive is reached only as this machine's apt reaches it: the URIs,
# suites, components and keys of its own configured sources (the one-line *.list format and the
# deb822 *.sources format), so a local mirror, a proxy or an offline copy serves these too. The
# repository names no archive.

# apt_source_files: this machine's source files as apt reads them, one a line (the main list,
# then the *.list and *.sources files of the parts folder, in apt's order).
apt_source_files() {
  local list="" parts=""
  eval "$(apt-config shell list Dir::Etc::SourceList/f parts Dir::Etc::SourceParts/d 2>/dev/null)"
  list=${list:-/etc/apt/sources.list}
  parts=${parts:-/etc/apt/sources.list.d/}
  [ -f "$list" ] && echo "$list"
  if [ -d "$parts" ]; then
    find "$parts" -maxdepth 1 -type f \( -name '*.list' -o -name '*.sources' \) | LC_ALL=C sort
  fi
  return 0
}

# apt_release_suites: the suites of this machine's release: its code name (from
# /etc/os-release), with -updates and -security; a release without a version number (testing or
# unstable) also under unstable's names. Empty when os-release names no release.
apt_release_suites() {
  local codename version
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}")
  version=$(. /etc/os-release 2>/dev/null && echo "${VERSION_ID:-}")
  [ -n "$codename" ] || return 0
  local suites="$codename $codename-updates $codename-security $codename/updates"
  [ -n "$version" ] || suites+=" sid unstable"
  echo "$suites"
}

# apt_source_entries MODE SUITES FILE...: reads apt source files and prints, for every entry
# (of type deb or deb-src, not disabled) whose suite is one of SUITES (a space-separated list):
#   MODE stanzas  a deb822 stanza of Types deb-src with the entry's URIs, those suites, its
#                 components and its other fields (Signed-By, a proxy's options...) as they are;
#                 the same stanza only once
#   MODE uris     the entry's URIs of type deb, one a line, first come first
# Files ending in .sources are read as deb822, any other as one-line entries.
apt_source_entries() {
  local mode=$1 suites=$2
  shift 2
  [ $# -gt 0 ] || return 0
  awk -v mode="$mode" -v suites="$suites" '
    BEGIN {
      n = split(suites, list, /[ \t]+/)
      for (i = 1; i <= n; i++) if (list[i] != "") wanted[list[i]] = 1
      # One-line options by their deb822 names.
      field["arch"] = "Architectures"; field["lang"] = "Languages"; field["target"] = "Targets"
      field["signed-by"] = "Signed-By"; field["trusted"] = "Trusted"
      field["check-valid-until"] = "Check-Valid-Until"; field["check-date"] = "Check-Date"
      field["pdiffs"] = "PDiffs"; field["by-hash"] = "By-Hash"; field["snapshot"] = "Snapshot"
    }
    function trim(s) { sub(/^[ \t]+/, "", s); sub(/[ \t]+$/, "", s); return s }
    # emit(TYPES, URIS, SUITES, COMPONENTS, EXTRA): one entry as read.
    function emit(types, uris, ssuites, comps, extra,    t, nt, s, ns, keep, u, nu, text, i) {
      nt = split(types, t, /[ \t]+/)
      src = 0; bin = 0
      for (i = 1; i <= nt; i++) { if (t[i] == "deb-src") src = 1; if (t[i] == "deb") bin = 1 }
      if (!src && !bin) return
      ns = split(ssuites, s, /[ \t]+/)
      keep = ""
      for (i = 1; i <= ns; i++) if (s[i] in wanted) keep = keep (keep == "" ? "" : " ") s[i]
      if (keep == "") return
      if (mode == "uris") {
        if (!bin) return
        nu = split(uris, u, /[ \t]+/)
        for (i = 1; i <= nu; i++) if (u[i] != "" && !(u[i] in seen)) { seen[u[i]] = 1; print u[i] }
        return
      }
      text = "Types: deb-src\nURIs: " uris "\nSuites: " keep "\n"
      if (comps != "") text = text "Components: " comps "\n"
      text = text extra
      if (text in seen) return
      seen[text] = 1
      printf "%s%s", (printed++ ? "\n" : ""), text
    }
    # A deb822 stanza gathered so far.
    function flush_stanza(    enabled) {
      if (nfields > 0) {
        enabled = tolower(trim(value["enabled"]))
        if (enabled != "no" && enabled != "false")
          emit(value["types"], value["uris"], value["suites"], value["components"], extra)
      }
      nfields = 0; extra = ""; current = ""
      delete value
    }
    FNR == 1 { if (nfields > 0) flush_stanza(); deb822 = FILENAME ~ /\.sources$/ }
    deb822 {
      if ($0 ~ /^#/) next
      if ($0 ~ /^[ \t]*$/) { flush_stanza(); next }
      if ($0 ~ /^[ \t]/) {
        # A continuation line (an inline key): belongs to the field before it.
        if (current == "extra") extra = extra $0 "\n"
        else if (current != "") value[current] = value[current] " " trim($0)
        next
      }
      colon = index($0, ":")
      if (colon == 0) next
      name = tolower(trim(substr($0, 1, colon - 1)))
      nfields++
      if (name == "types" || name == "uris" || name == "suites" || name == "components" ||
          name == "enabled") {
        value[name] = trim(substr($0, colon + 1))
        current = name
      } else {
        extra = extra $0 "\n"
        current = "extra"
      }
      next
    }
    {
      line = $0
      sub(/#.*/, "", line)
      line = trim(line)
      if (line == "") next
      type = line; sub(/[ \t].*/, "", type)
      rest = trim(substr(line, length(type) + 1))
      options = ""
      if (substr(rest, 1, 1) == "[") {
        close_at = index(rest, "]")
        if (close_at == 0) next
        options = substr(rest, 2, close_at - 2)
        rest = trim(substr(rest, close_at + 1))
      }
      nw = split(rest, w, /[ \t]+/)
      if (nw < 2) next
      comps = ""
      for (i = 3; i <= nw; i++) comps = comps (comps == "" ? "" : " ") w[i]
      fields = ""
      no = split(options, o, /[ \t]+/)
      for (i = 1; i <= no; i++) {
        eq = index(o[i], "=")
        if (eq == 0) continue
        key = substr(o[i], 1, eq - 1)
        op = ""
        if (key ~ /[+-]$/) { op = substr(key, length(key)); key = substr(key, 1, length(key) - 1) }
        name = (key in field) ? field[key] : key
        if (op == "+") name = name "-Add"
        if (op == "-") name = name "-Remove"
        val = substr(o[i], eq + 1)
        gsub(/,/, " ", val)
        fields = fields name ": " val "\n"
      }
      emit(type, w[1], w[2], comps, fields)
    }
    END { if (nfields > 0) flush_stanza() }
  ' "$@"
}

# apt_source_config SUITES OUT: writes OUT, a deb822 file of deb-src entries for SUITES from this
# machine's sources. Exit status 1, with what to configure, when the machine has none for them.
apt_source_config() {
  local suites=$1 out=$2
  local files=()
  mapfile -t files < <(apt_source_files)
  apt_source_entries stanzas "$suites" "${files[@]}" >"$out"
  if [ ! -s "$out" ]; then
    local release=${suites%% *}
    echo "this machine's apt has no package source for its release ($release) in" \
      "${files[*]:-/etc/apt/sources.list or /etc/apt/sources.list.d/}. Configure one, as for" \
      "installing packages: a line 'deb URI $release main' in /etc/apt/sources.list, or a file" \
      "/etc/apt/sources.list.d/NAME.sources with 'Types: deb', 'URIs: URI'," \
      "'Suites: $release', 'Components: main' and 'Signed-By: KEYRING', where URI is your" \
      "Debian mirror (a local mirror or a proxy will do)" >&2
    return 1
  fi
}
