#!/usr/bin/env bash
# A throwaway PostgreSQL cluster for the tests, on 127.0.0.1 only.
#   cluster.sh start BUILD_DIR   initdb (trust) into a fresh folder, start the
#                                server on a free port, publish the port as
#                                service "ravopg" in the Wine prefix
#   cluster.sh stop BUILD_DIR    stop that server and remove its folder
# What start made is written to BUILD_DIR/postgres-cluster.env, so stop ends
# that server and no other. Start fails loudly when PostgreSQL is missing.
set -u
action=${1:-}
build=${2:-}
[ -n "$action" ] && [ -n "$build" ] || { echo "usage: cluster.sh start|stop BUILD_DIR" >&2; exit 2; }
build=$(cd "$build" && pwd) || exit 2
state=$build/postgres-cluster.env
services=$build/wineprefix/drive_c/windows/system32/drivers/etc/services

say() { echo "postgres cluster: $*" >&2; }

# The newest installed server: Debian 12 ships 15, Debian 13 ships 17.
newest_bin() {
  local dir
  dir=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
  [ -n "$dir" ] && [ -x "$dir/pg_ctl" ] && [ -x "$dir/initdb" ] && echo "$dir"
}

# The server refuses to run as root: then it runs as the "postgres" user.
as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u postgres -- "$@"
  else
    "$@"
  fi
}

# True when something already listens on 127.0.0.1:port.
port_taken() {
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Replaces the "ravopg" line of the prefix's services file (CRLF, like the
# rest), under the lock the prefix script takes while it writes the file.
publish_port() {
  local port=$1
  [ -f "$services" ] || { say "no services file at $services (is the Wine prefix made?)"; return 1; }
  (
    flock -w 60 9 || { say "cannot lock the Wine prefix"; exit 1; }
    sed -i '/^ravopg[[:space:]]/d' "$services"
    [ -n "$port" ] && printf 'ravopg\t%d/tcp\r\n' "$port" >>"$services"
    exit 0
  ) 9>"$build/wineprefix.lock"
}

# True while the process is a live postgres (an ended one not yet reaped is not).
server_alive() {
  [ -n "$1" ] && [ "$(cat "/proc/$1/comm" 2>/dev/null)" = postgres ] &&
    ! grep -q '^[0-9]* ([^)]*) Z' "/proc/$1/stat" 2>/dev/null
}

stop_cluster() {
  [ -f "$state" ] || return 0
  local PG_BIN="" PG_DIR="" PG_PID=""
  # shellcheck disable=SC1090
  . "$state"
  if [ -n "$PG_DIR" ] && [ -f "$PG_DIR/data/postmaster.pid" ]; then
    as_owner timeout 40 "$PG_BIN/pg_ctl" stop -D "$PG_DIR/data" -m fast -w -t 30 >/dev/null 2>&1 ||
      as_owner timeout 20 "$PG_BIN/pg_ctl" stop -D "$PG_DIR/data" -m immediate -w -t 10 >/dev/null 2>&1 ||
      say "pg_ctl stop failed"
  fi
  # pg_ctl returns once the pid file is gone, a moment before the process
  # ends. Last resort: the postmaster this script started, by its own id.
  local i=0
  while server_alive "$PG_PID" && [ $i -lt 50 ]; do
    sleep 0.1; i=$((i + 1))
  done
  if server_alive "$PG_PID"; then
    say "server $PG_PID still running; killing it"
    kill -KILL "$PG_PID" 2>/dev/null
  fi
  case "$PG_DIR" in
    /tmp/ravopg.*) rm -rf "$PG_DIR" ;;
  esac
  publish_port "" 2>/dev/null
  rm -f "$state"
}

start_cluster() {
  local bin dir port tries=0
  bin=$(newest_bin) || { say "no PostgreSQL server under /usr/lib/postgresql/*/bin (install: bash scripts/install-deps.sh)"; return 1; }
  if [ "$(id -u)" -eq 0 ] && ! id postgres >/dev/null 2>&1; then
    say "running as root, but there is no 'postgres' user to run the server"
    return 1
  fi
  # A cluster left by an interrupted run of this build tree goes first.
  stop_cluster
  dir=$(mktemp -d /tmp/ravopg.XXXXXX) || return 1
  [ "$(id -u)" -eq 0 ] && chown postgres: "$dir"
  printf 'PG_BIN=%q\nPG_DIR=%q\nPG_PID=\n' "$bin" "$dir" >"$state"
  if ! as_owner timeout 120 "$bin/initdb" -D "$dir/data" -A trust -U ravo -E UTF8 --locale=C --no-sync \
    >"$dir/initdb.log" 2>&1; then
    say "initdb failed:"; cat "$dir/initdb.log" >&2
    return 1
  fi
  # Ports below the ravotest ranges (which start at 20000) and below Linux's
  # ephemeral range; a port another server took in the meantime is retried.
  while [ $tries -lt 8 ]; do
    tries=$((tries + 1))
    port=$((10000 + RANDOM % 10000))
    port_taken "$port" && continue
    if as_owner timeout 60 "$bin/pg_ctl" start -w -t 30 -D "$dir/data" -l "$dir/server.log" \
      -o "-c listen_addresses=127.0.0.1 -c port=$port -c unix_socket_directories=$dir -c fsync=off" \
      >/dev/null 2>&1; then
      local pid
      pid=$(head -n 1 "$dir/data/postmaster.pid")
      printf 'PG_BIN=%q\nPG_DIR=%q\nPG_PID=%q\nPG_PORT=%q\n' "$bin" "$dir" "$pid" "$port" >"$state"
      publish_port "$port" || return 1
      say "PostgreSQL $("$bin/postgres" --version | sed 's/^[^0-9]*\([0-9.]*\).*/\1/') on 127.0.0.1:$port (pid $pid, service ravopg)"
      return 0
    fi
    grep -q "could not bind\|already in use" "$dir/server.log" 2>/dev/null && continue
    break
  done
  say "the server did not start:"; tail -n 20 "$dir/server.log" >&2
  return 1
}

case "$action" in
  start) start_cluster || { stop_cluster; exit 1; } ;;
  stop) stop_cluster ;;
  *) echo "usage: cluster.sh start|stop BUILD_DIR" >&2; exit 2 ;;
esac
