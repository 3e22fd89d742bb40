# Sourced by the scripts that test job records against a real PostgreSQL server
# (scripts/test-results-pg, scripts/windows-e2e, scripts/windows-ui): a throw-away cluster in a
# folder of its own, run by an unprivileged user (the server will not run as root, and CI runs
# as root), stopped and removed by pg_test_server_remove.
#
# pg_test_server_start WORK MODE: makes and starts the cluster in WORK (an empty folder).
#   MODE socket  only a Unix socket in WORK; logins trusted.
#   MODE tcp     also 127.0.0.1 (nothing else), on a free port picked now: other servers run on
#                this machine too; logins over TCP with role pelor's password (scram-sha-256).
# Sets PG_TEST_URL (the URL a station is given: postgresql://pelor@127.0.0.1:PORT/pelor for tcp,
# the socket's for socket; the password is not in it), PG_TEST_PORT, PG_TEST_PASSWORD (tcp),
# PG_TEST_SOCKET_URL (for the test's own reading, over the socket), PG_TEST_CTL (WORK/pgctl
# start|stop) and PG_TEST_PSQL (psql over the socket as pelor). Exit status 1 with the reason
# on stderr when it cannot.
#
# Needs the Debian packages postgresql and postgresql-common (scripts/setup installs them).

pg_test_server_start() {
  local work=$1 mode=$2
  local pgbin
  pgbin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  if [ -z "$pgbin" ] || [ ! -x "$pgbin/initdb" ]; then
    echo "no PostgreSQL server (install postgresql: scripts/setup)" >&2
    return 1
  fi
  chmod 755 "$work"
  local runas=()
  if [ "$(id -u)" -eq 0 ]; then
    local owner=nobody
    getent passwd postgres >/dev/null && owner=postgres
    chown "$owner" "$work"
    runas=(runuser -u "$owner" --)
  fi
  local initdb_options=(-U pelor -A trust -E UTF8 --no-sync)
  if [ "$mode" = tcp ]; then
    PG_TEST_PASSWORD=$(head -c 18 /dev/urandom | base64 | tr -d '+/=')
    printf '%s\n' "$PG_TEST_PASSWORD" >"$work/password"
    chmod 644 "$work/password"
    initdb_options=(-U pelor --auth-local=trust --auth-host=scram-sha-256
      --pwfile="$work/password" -E UTF8 --no-sync)
  fi
  (cd "$work" && "${runas[@]}" "$pgbin/initdb" -D "$work/data" "${initdb_options[@]}" \
    >"$work/initdb.log" 2>&1) || { cat "$work/initdb.log" >&2; return 1; }
  rm -f "$work/password"

  local listen="listen_addresses="
  local tries=1
  [ "$mode" = tcp ] && tries=20
  local try
  for ((try = 0; try < tries; try++)); do
    PG_TEST_PORT=5432
    if [ "$mode" = tcp ]; then
      listen="listen_addresses=127.0.0.1"
      # A port nothing listens on now; should another server take it first, the start fails
      # and the next try picks another.
      PG_TEST_PORT=$((20000 + RANDOM % 40000))
      ss -Htln 2>/dev/null | awk '{ print $4 }' | grep -q ":$PG_TEST_PORT\$" && continue
    fi
    # The cluster's control, for the tests that stop the server and start it again.
    cat >"$work/pgctl" <<CTL
#!/bin/sh
cd "$work" || exit 1
case "\$1" in
  start) exec ${runas[*]} "$pgbin/pg_ctl" -D "$work/data" -l "$work/server.log" -w -t 30 \
           -o "-k $work -p $PG_TEST_PORT -c $listen -c fsync=off" start ;;
  stop) exec ${runas[*]} "$pgbin/pg_ctl" -D "$work/data" -m fast -w -t 30 stop ;;
  *) echo "usage: \$0 start|stop" >&2; exit 2 ;;
esac
CTL
    chmod 755 "$work/pgctl"
    if "$work/pgctl" start >/dev/null 2>&1; then
      break
    fi
    PG_TEST_PORT=""
  done
  if [ -z "${PG_TEST_PORT:-}" ]; then
    tail -n 20 "$work/server.log" >&2 2>/dev/null || true
    echo "the PostgreSQL server did not start" >&2
    return 1
  fi
  PG_TEST_CTL=$work/pgctl
  PG_TEST_SOCKET_URL="postgresql://pelor@/postgres?host=$work&port=$PG_TEST_PORT"
  PG_TEST_PSQL="$pgbin/psql -X -q -v ON_ERROR_STOP=1 -h $work -p $PG_TEST_PORT -U pelor"
  PG_TEST_VERSION=$("$pgbin/postgres" --version | awk '{ print $3 }')
  if [ "$mode" = tcp ]; then
    $PG_TEST_PSQL -d postgres -c "CREATE DATABASE pelor" >/dev/null || return 1
    PG_TEST_URL="postgresql://pelor@127.0.0.1:$PG_TEST_PORT/pelor"
  else
    PG_TEST_URL=$PG_TEST_SOCKET_URL
  fi
}

# pg_test_server_remove WORK: stops the server (if it runs) and removes WORK.
pg_test_server_remove() {
  [ -x "$1/pgctl" ] && "$1/pgctl" stop >/dev/null 2>&1
  rm -rf "$1"
}
