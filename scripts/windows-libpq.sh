# Sourced by scripts/windows: the PostgreSQL client library (libpq) for the Windows builds, from
# Debian's own source package. Debian ships no libpq built for MinGW, so the setup fetches the
# source package that builds libpq5 on this machine's release with apt, through the machine's
# own package sources (scripts/debian-source.sh), unpacks it with Debian's patches, and for each
# Windows target (x86_64 and i686) runs PostgreSQL's configure for MinGW and compiles libpq and
# the frontend parts of src/port and src/common it uses; nothing of the server. The two targets
# are made at the same time (configure is most of the work).
#
# The library is static, so pelor.exe and pelor-station.exe stay single files. It speaks
# without TLS (Debian has no TLS library for MinGW): SCRAM-SHA-256 logins work without it, and
# libpq itself refuses a connection that asks for TLS (sslmode=require, verify-ca, verify-full).
# Compiled at -O1 without debug information, as SQLite is: a row per job needs no more speed.
#
# Kept in build-win-deps/libpq/ (TARGET/include with libpq-fe.h and the headers it includes,
# TARGET/lib/libpq.a, and the source package's version in VERSION): later runs use it without
# asking the archive anything or compiling again. Remove the folder to make it again.
#
# Needs dpkg-dev, xz-utils, bzip2, make, perl and the mingw-w64 C compilers (scripts/windows
# installs them).

# shellcheck source=scripts/debian-source.sh
source "$(dirname "${BASH_SOURCE[0]}")/debian-source.sh"

# The client library's own files (src/interfaces/libpq); the rest comes from libpgport.a and
# libpgcommon.a, their frontend builds. The version resource of the DLL is left out: the
# programs have their own.
libpq_objects=(fe-auth-scram.o fe-auth.o fe-connect.o fe-exec.o fe-lobj.o fe-misc.o fe-print.o
  fe-protocol3.o fe-secure.o fe-trace.o legacy-pqsignal.o libpq-events.o pqexpbuffer.o win32.o
  pthread-win32.o)

# libpq_target TRIPLE SOURCE BUILD OUT: configures and compiles for one target in BUILD, and
# puts include/ and lib/libpq.a into OUT. Its output goes to BUILD/build.log.
libpq_target() {
  local triple=$1 source=$2 build=$3 out=$4
  local cc=$triple-gcc-posix ar=$triple-ar objcopy=$triple-objcopy nm=$triple-nm
  mkdir -p "$build" "$out/include" "$out/lib"
  (
    set -e
    cd "$build"
    "$source/configure" --host="$triple" CC="$cc" CFLAGS="-O1 -g0" \
      --without-readline --without-zlib --without-icu --without-gssapi --without-ldap \
      --disable-nls
    make -C src/backend generated-headers
    make -C src/port libpgport.a
    make -C src/common libpgcommon.a
    make -C src/interfaces/libpq "${libpq_objects[@]}"
    # libpq brings its own small pthread functions for Windows (a mutex over a critical
    # section); the programs use MinGW's winpthreads. Renamed, each keeps its own.
    cd src/interfaces/libpq
    "$nm" --defined-only pthread-win32.o | awk '$2 == "T" {
      renamed = $3; sub(/pthread_/, "pq_win32_pthread_", renamed); print $3, renamed }' \
      >pthread-names
    for object in "${libpq_objects[@]}"; do
      "$objcopy" --redefine-syms=pthread-names "$object" "renamed-$object"
    done
    # One archive: the linker takes from it only what the programs use.
    rm -f libpq.a
    {
      echo "CREATE libpq.a"
      for object in "${libpq_objects[@]}"; do echo "ADDMOD renamed-$object"; done
      echo "ADDLIB ../../common/libpgcommon.a"
      echo "ADDLIB ../../port/libpgport.a"
      echo "SAVE"
      echo "END"
    } | "$ar" -M
    "$ar" s libpq.a
    mv libpq.a "$out/lib/libpq.a"
  ) >"$build/build.log" 2>&1 || return 1
  cp "$source/src/interfaces/libpq/libpq-fe.h" "$source/src/include/postgres_ext.h" \
    "$build/src/include/pg_config_ext.h" "$out/include/"
}

# libpq_for_windows DIR: makes DIR/x86_64 and DIR/i686 unless they are there; a line per step
# and its time when it works, the reason and exit status 1 when it cannot.
libpq_for_windows() {
  local out
  out=$(realpath -m "$1")
  local targets=(x86_64 i686)
  local ready=1 target
  for target in "${targets[@]}"; do
    [ -s "$out/$target/lib/libpq.a" ] && [ -s "$out/$target/include/libpq-fe.h" ] || ready=0
  done
  if [ "$ready" = 1 ] && [ -s "$out/VERSION" ]; then
    return 0
  fi
  local started=$SECONDS
  local work=$out.work
  rm -rf "$work" "$out.new"
  local name
  name=$(debian_source_unpack windows libpq5 "$work") || return 1
  echo "windows: compiling libpq from $name for ${targets[*]} (configure, then the client" \
    "library only)"
  local pids=() failed=0
  for target in "${targets[@]}"; do
    libpq_target "$target-w64-mingw32" "$work/src/tree" "$work/$target" "$out.new/$target" &
    pids+=($!)
  done
  local i
  for i in "${!targets[@]}"; do
    if ! wait "${pids[$i]}"; then
      tail -n 30 "$work/${targets[$i]}/build.log" | sed 's/^/  /' >&2
      echo "windows: cannot compile libpq for ${targets[$i]} (the whole log:" \
        "$work/${targets[$i]}/build.log)" >&2
      failed=1
    fi
  done
  [ "$failed" = 0 ] || return 1
  echo "${name#*_}" >"$out.new/VERSION"
  # Into place as a whole: an interrupted run leaves no half folder that looks finished.
  rm -rf "$out"
  mv "$out.new" "$out"
  rm -rf "$work"
  echo "windows: libpq $(cat "$out/VERSION") ready in $((SECONDS - started)) s ($out:" \
    "$(du -k "$out/x86_64/lib/libpq.a" | cut -f1) KiB x86_64," \
    "$(du -k "$out/i686/lib/libpq.a" | cut -f1) KiB i686)"
}
