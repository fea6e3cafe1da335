#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests, from Debian's postgresql
# package: initdb and pg_ctl in a new temporary folder, as the postgres user
# when run as root (the server refuses root), listening on a socket in that
# folder only (no TCP), trusting whoever reaches the socket.
#   start STATE    makes and starts one; STATE gets the folder's path
#   stop STATE     stops it now (as a crash would) and removes the folder and STATE
#   pause STATE    stops it, keeping its data; resume STATE starts it again
# Where postgresql is not installed, start prints why and leaves no STATE
# (the tests skip), unless CI=true: then that is a failure.
set -euo pipefail
action=$1 state=$2
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

server() {
  local dir
  dir=$(cat "$state")
  as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -s "$@"
}

case $action in
start)
  rm -f "$state"
  if [ -z "$bin" ] || [ ! -x "$bin/initdb" ] || { [ "$(id -u)" -eq 0 ] && ! id postgres >/dev/null 2>&1; }; then
    echo "postgresql is not installed (apt-get install postgresql): the database tests skip"
    if [ "${CI:-}" = true ]; then
      echo "CI=true: the database tests must run"
      exit 1
    fi
    exit 0
  fi
  dir=$(mktemp -d /tmp/zelprog-pg.XXXXXX)
  [ "$(id -u)" -ne 0 ] || chown postgres: "$dir"
  if ! as_owner "$bin/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --locale=C --no-sync \
    >"$dir/initdb.log" 2>&1; then
    cat "$dir/initdb.log"
    rm -rf "$dir"
    exit 1
  fi
  cat >>"$dir/data/postgresql.conf" <<CONF
listen_addresses = ''
unix_socket_directories = '$dir'
fsync = off
max_connections = 50
CONF
  echo "$dir" >"$state"
  server start || { cat "$dir/server.log"; exit 1; }
  ;;
stop)
  [ -f "$state" ] || exit 0
  dir=$(cat "$state")
  server -m immediate stop || true
  rm -rf "$dir" "$state"
  ;;
pause) server -m fast stop ;;
resume) server start ;;
*)
  echo "usage: $0 start|stop|pause|resume STATE" >&2
  exit 2
  ;;
esac
