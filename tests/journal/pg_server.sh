#!/bin/sh
# A throwaway PostgreSQL for the journal's server tests, as a CTest fixture:
#   pg_server.sh start DIR    a cluster in DIR (made by an unprivileged user:
#                             initdb refuses root), on a free port of
#                             127.0.0.1, TLS on with a certificate made here;
#                             writes DIR/port, DIR/root.crt and DIR/pgpass
#   pg_server.sh stop DIR     stops it (at once) and removes DIR
#   pg_server.sh pause DIR    stops it, keeping its files (a server restarted)
#   pg_server.sh resume DIR   starts it again on the same port
# Roles: pc1 and pc2 (the rights of server.sql's z58_journal, in database
# z58 whose tables server.sql made) and owner (owns database z58fresh, which
# has no tables: the program makes them).
set -eu
cmd=${1:?start|stop|pause|resume}
DIR=${2:?folder}
PGBIN=${Z58_PG_BIN:-/usr/lib/postgresql/15/bin}
SQL=${Z58_SERVER_SQL:-$(dirname "$0")/../../journal/sql/server.sql}
RUNAS=nobody

as_user() {
    if [ "$(id -u)" -eq 0 ]; then runuser -u "$RUNAS" -- "$@"; else "$@"; fi
}
ctl() { as_user "$PGBIN/pg_ctl" -D "$DIR/cluster" -l "$DIR/server.log" -w -t 60 "$@"; }
psql_admin() { as_user psql -X -q -v ON_ERROR_STOP=1 -h "$DIR/sock" -p "$(cat "$DIR/port")" -U admin "$@"; }

case "$cmd" in
start)
    [ -x "$PGBIN/initdb" ] || { echo "pg_server: $PGBIN/initdb missing (package postgresql-15)" >&2; exit 1; }
    rm -rf "$DIR"
    mkdir -p "$DIR/sock"
    # The port: one nobody answers on now.
    port=""
    for _ in $(seq 200); do
        p=$(( 20000 + $(od -An -tu2 -N2 /dev/urandom | tr -d ' ') % 30000 ))
        if ! (exec 3<>/dev/tcp/127.0.0.1/$p) 2>/dev/null; then port=$p; break; fi
    done
    [ -n "$port" ] || { echo "pg_server: no free port" >&2; exit 1; }
    echo "$port" > "$DIR/port"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost" \
        -addext "subjectAltName=DNS:localhost,IP:127.0.0.1" \
        -keyout "$DIR/server.key" -out "$DIR/root.crt" >/dev/null 2>&1
    cp "$DIR/root.crt" "$DIR/server.crt"
    echo admin-pw > "$DIR/adminpw"
    [ "$(id -u)" -eq 0 ] && chown -R "$RUNAS" "$DIR"
    chmod 600 "$DIR/server.key"
    as_user "$PGBIN/initdb" -D "$DIR/cluster" -U admin --pwfile="$DIR/adminpw" -A scram-sha-256 \
        --auth-local=trust -E UTF8 --locale=C.UTF-8 >"$DIR/initdb.log" 2>&1 ||
        { cat "$DIR/initdb.log" >&2; exit 1; }
    cat >> "$DIR/cluster/postgresql.conf" <<CONF
port = $port
listen_addresses = '127.0.0.1'
unix_socket_directories = '$DIR/sock'
ssl = on
ssl_cert_file = '$DIR/server.crt'
ssl_key_file = '$DIR/server.key'
max_connections = 120
fsync = off
CONF
    cat > "$DIR/cluster/pg_hba.conf" <<HBA
local all all trust
host all all 127.0.0.1/32 scram-sha-256
HBA
    ctl start >/dev/null
    psql_admin -d postgres <<PSQL
CREATE ROLE owner LOGIN PASSWORD 'owner-pw';
CREATE DATABASE z58;
CREATE DATABASE z58fresh OWNER owner;
PSQL
    psql_admin -d z58 -f - < "$SQL"
    psql_admin -d z58 <<PSQL
CREATE ROLE pc1 LOGIN PASSWORD 'pc1-pw' IN ROLE z58_journal;
CREATE ROLE pc2 LOGIN PASSWORD 'pc2-pw' IN ROLE z58_journal;
PSQL
    {
        echo "127.0.0.1:$port:*:pc1:pc1-pw"
        echo "127.0.0.1:$port:*:pc2:pc2-pw"
        echo "127.0.0.1:$port:*:owner:owner-pw"
        echo "localhost:$port:*:pc1:pc1-pw"
    } > "$DIR/pgpass"
    chmod 600 "$DIR/pgpass"
    [ "$(id -u)" -eq 0 ] && chown root "$DIR/pgpass"
    chmod 755 "$DIR"
    echo "pg_server: up on 127.0.0.1:$port ($DIR)"
    ;;
pause)
    ctl stop -m immediate >/dev/null
    ;;
resume)
    ctl start >/dev/null
    ;;
stop)
    [ -d "$DIR/cluster" ] && { ctl stop -m immediate >/dev/null 2>&1 || true; }
    rm -rf "$DIR"
    ;;
*)
    echo "usage: pg_server.sh start|stop|pause|resume DIR" >&2
    exit 2
    ;;
esac
