# Sourced by the scripts that install Debian packages (setup, windows, package, package-check).
# install_packages WHO PACKAGE...: installs those of the packages that are missing, as root or
# through sudo, with a line per stage and its time; quiet when nothing is missing. Without root
# and without sudo it says what to do instead of failing on a missing command.

# as_root COMMAND...: runs COMMAND as root (directly, or through sudo).
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  else
    sudo "$@"
  fi
}

# need_root WHO WHAT: exits with a message when neither root nor sudo can do WHAT.
need_root() {
  if [ "$(id -u)" -ne 0 ] && ! command -v sudo >/dev/null 2>&1; then
    echo "$1: $2 needs root, and sudo is not installed: run this script as root" \
      "(su -c $0), or install sudo first (as root: apt-get install sudo; adduser $(id -un) sudo;" \
      "then log in again)" >&2
    exit 1
  fi
}

install_packages() {
  local who=$1
  shift
  local missing=() p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      missing+=("$p")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  need_root "$who" "installing ${missing[*]}"
  local started=$SECONDS
  echo "$who: updating the package lists (apt-get update)"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  echo "$who: installing ${#missing[@]} packages: ${missing[*]}"
  echo "$who: (on a fresh machine this takes a few minutes; nothing is shown meanwhile)"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  echo "$who: packages installed in $((SECONDS - started)) s"
}
