#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for the tests: its own data folder and
# port on 127.0.0.1, run as an unprivileged user (PostgreSQL refuses root),
# with a role that logs in with a password over TCP so that the tests can
# try a wrong one. Where openssl is at hand the server also speaks TLS with
# a self-signed certificate, so that clients can be tried with
# sslmode=require (KV20_TEST_DB_SSL=1); plain connections are still taken.
#
#   source scripts/test-db.sh; kv20_test_db_start DIR   # exports KV20_TEST_DB_URL, PGPASSWORD, KV20_TEST_DB_SSL
#   kv20_test_db_stop DIR
#
# The tests that need a server skip when KV20_TEST_DB_URL is not set.

kv20_pg_bin() {
  local bin
  for bin in /usr/lib/postgresql/*/bin; do
    [ -x "$bin/pg_ctl" ] && { echo "$bin"; return 0; }
  done
  return 1
}

# Runs a command as the cluster's owner: nobody when we are root.
kv20_as_owner() {
  if [ "$(id -u)" = 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

kv20_free_port() {
  local port
  for port in $(seq 55432 55532); do
    if ! (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  return 1
}

kv20_test_db_start() {
  local dir=$1 bin port
  bin=$(kv20_pg_bin) || { echo "PostgreSQL server binaries not found" >&2; return 1; }
  rm -rf "$dir"
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  # The parent folders must let the owner reach its data folder.
  [ "$(id -u)" = 0 ] && chown nobody "$dir" && chmod 755 "$dir"
  port=$(kv20_free_port) || { echo "no free port for the test cluster" >&2; return 1; }
  local password
  password=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
  printf '%s\n' "$password" >"$dir/pwfile"
  [ "$(id -u)" = 0 ] && chown nobody "$dir/pwfile"
  local tls=()
  export KV20_TEST_DB_SSL=0
  if command -v openssl >/dev/null \
    && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 7 -subj /CN=127.0.0.1 \
      -keyout "$dir/server.key" -out "$dir/server.crt" >"$dir/openssl.log" 2>&1; then
    # The server refuses a key that others may read.
    chmod 600 "$dir/server.key"
    [ "$(id -u)" = 0 ] && chown nobody "$dir/server.key"
    tls=(-c ssl=on -c "ssl_cert_file=$dir/server.crt" -c "ssl_key_file=$dir/server.key")
    KV20_TEST_DB_SSL=1
  fi
  kv20_as_owner "$bin/initdb" -D "$dir/data" -U kv20_admin -A scram-sha-256 --pwfile="$dir/pwfile" \
    -E UTF8 --no-locale >"$dir/initdb.log" 2>&1 || { cat "$dir/initdb.log" >&2; return 1; }
  kv20_as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off ${tls[*]}" start >/dev/null \
    || { cat "$dir/server.log" >&2; return 1; }
  echo "$port" >"$dir/port"
  export PGPASSWORD=$password
  export KV20_TEST_DB_URL="postgresql://kv20_admin@127.0.0.1:$port/postgres"
  echo "test cluster on 127.0.0.1:$port ($dir)"
}

kv20_test_db_stop() {
  local dir=$1 bin
  bin=$(kv20_pg_bin) || return 0
  [ -d "$dir/data" ] && kv20_as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate stop >/dev/null 2>&1
  rm -rf "$dir"
}

# The server of a running test cluster stopped as an administrator stops it
# (connections ended, data kept), and started again with the options of its
# last start, which pg_ctl keeps in postmaster.opts: the database going away
# and coming back under the tests.
kv20_test_db_server_stop() {
  local bin
  bin=$(kv20_pg_bin) || return 1
  kv20_as_owner "$bin/pg_ctl" -D "$1/data" -m fast -w -t 60 stop >/dev/null
}

kv20_test_db_server_start() {
  local bin
  bin=$(kv20_pg_bin) || return 1
  kv20_as_owner "$bin/pg_ctl" -D "$1/data" -l "$1/server.log" -w -t 60 restart >/dev/null 2>&1
}
