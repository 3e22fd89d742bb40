# Sourced by scripts/windows and scripts/windows-e2e: one wine session for the Windows programs
# of build-win64. Without care every wine start costs seconds (wine's services inherit the
# caller's output pipe and the server lingers); the session makes it well under one:
# the prefix is made once, a persistent server runs for the whole session with its output
# away, and wineboot starts the services once.

export WINEPREFIX="${WINEPREFIX:-$PWD/build-win64/wineprefix}"
# What wine leaves outside its prefix stays in the build tree too, and goes at the session's
# end: the wine server's socket folder (made under TMPDIR) and the home folder its programs see.
PELOR_WINE_SCRATCH="${PELOR_WINE_SCRATCH:-$PWD/build-win64/wine-scratch}"
export PELOR_WINE_SCRATCH
export TMPDIR="$PELOR_WINE_SCRATCH/tmp"
export HOME="$PELOR_WINE_SCRATCH/home"
mkdir -p "$TMPDIR" "$HOME"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"  # no Mono or Gecko prompts

WINE64=""
WINESERVER=""
for candidate in /usr/lib/wine/wine64 /usr/lib64/wine/wine64 "$(command -v wine64 || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then WINE64=$candidate; break; fi
done
for candidate in /usr/lib/wine/wineserver64 /usr/lib64/wine/wineserver64 \
    "$(command -v wineserver64 || true)" "$(command -v wineserver || true)"; do
  if [ -n "$candidate" ] && [ -x "$candidate" ]; then WINESERVER=$candidate; break; fi
done
if [ -z "$WINE64" ] || [ -z "$WINESERVER" ]; then
  echo "windows: wine64 or wineserver not found (install wine and wine64)" >&2
  exit 1
fi

# wine_session_start [COMn=DEVICE ...]: makes the prefix if needed, registers the given COM
# ports (so that they are listed as wine's own; a dosdevices link alone can be opened but is
# not listed) and starts the persistent server and the services.
wine_session_start() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init >/dev/null 2>&1 </dev/null || true
    "$WINESERVER" -w
  fi
  if [ $# -gt 0 ]; then
    "$WINESERVER" -p >/dev/null 2>&1 </dev/null &
    local port
    for port in "$@"; do
      "$WINE64" reg add 'HKLM\Software\Wine\Ports' /v "${port%%=*}" /d "${port#*=}" /f \
        >/dev/null 2>&1 </dev/null
    done
    "$WINESERVER" -k >/dev/null 2>&1 || true
    "$WINESERVER" -w
  fi
  "$WINESERVER" -p >/dev/null 2>&1 </dev/null &
  wineboot >/dev/null 2>&1 </dev/null || true
}

wine_session_stop() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
  rm -rf "$PELOR_WINE_SCRATCH"
}

# wine_map_com N DEVICE: COMn opens DEVICE (a dosdevices link).
wine_map_com() {
  ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
}

# The Windows form of a path of this machine (wine's Z: drive is the root).
wine_path() {
  local path
  path=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
  printf 'Z:%s' "${path//\//\\}"
}

# wine_folder NAME: the folder of this machine behind %NAME% of wine's user (LOCALAPPDATA, where
# pelor keeps its results file; APPDATA, where libpq reads postgresql\pgpass.conf); empty when
# wine names none.
wine_folder() {
  local folder
  folder=$("$WINE64" cmd /c "echo %$1%" </dev/null 2>/dev/null | tr -d '\r')
  [ -n "$folder" ] && [ "$folder" != "%$1%" ] && "$WINE64" winepath -u "$folder" </dev/null 2>/dev/null
  return 0
}

wine_local_appdata() { wine_folder LOCALAPPDATA; }

# wine_pgpass URL PASSWORD: libpq of the Windows programs finds PASSWORD for the server of URL
# (postgresql://USER@HOST:PORT/DATABASE) in wine's %APPDATA%\postgresql\pgpass.conf, as a
# station keeps it. Exit status 1 when wine names no APPDATA folder.
wine_pgpass() {
  local appdata rest user host port db
  appdata=$(wine_folder APPDATA)
  [ -n "$appdata" ] || return 1
  rest=${1#*://}
  user=${rest%%@*}
  rest=${rest#*@}
  host=${rest%%:*}
  rest=${rest#*:}
  port=${rest%%/*}
  db=${rest#*/}
  mkdir -p "$appdata/postgresql"
  printf '%s:%s:%s:%s:%s\r\n' "$host" "$port" "$db" "$user" "$2" >"$appdata/postgresql/pgpass.conf"
}
