#!/bin/sh
# A throwaway PostgreSQL for the journal's server tests, as a CTest fixture:
#   pg_server.sh start DIR    a cluster in DIR (made by an unprivileged user:
#                             initdb refuses root), on a free port of
#                             127.0.0.1, TLS on with a certificate made here;
#                             writes DIR/port, DIR/root.crt, DIR/pgpass and
#                             DIR/other.crt (another server's certificate)
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
# The server's own files live in a folder of /tmp the unprivileged user can
# reach (DIR may sit below a folder only root may enter); DIR says where.
server_dir() { cat "$DIR/server-dir"; }
ctl() { as_user "$PGBIN/pg_ctl" -D "$(server_dir)/cluster" -l "$(server_dir)/server.log" -w -t 60 "$@"; }
psql_admin() { as_user psql -X -q -v ON_ERROR_STOP=1 -h "$(server_dir)/sock" -p "$(cat "$DIR/port")" -U admin "$@"; }

case "$cmd" in
start)
    [ -x "$PGBIN/initdb" ] || { echo "pg_server: $PGBIN/initdb missing (package postgresql-15)" >&2; exit 1; }
    [ -f "$DIR/server-dir" ] && "$0" stop "$DIR" 2>/dev/null
    rm -rf "$DIR"
    mkdir -p "$DIR"
    S=$(mktemp -d /tmp/z58-pg.XXXXXX)
    chmod 755 "$S"
    echo "$S" > "$DIR/server-dir"
    mkdir -p "$S/sock"
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
        -keyout "$S/server.key" -out "$S/server.crt" >/dev/null 2>&1
    cp "$S/server.crt" "$DIR/root.crt"
    # Some other server's, for a client that must refuse this one.
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=localhost" \
        -keyout "$DIR/other.key" -out "$DIR/other.crt" >/dev/null 2>&1
    echo admin-pw > "$S/adminpw"
    [ "$(id -u)" -eq 0 ] && chown -R "$RUNAS" "$S"
    chmod 600 "$S/server.key"
    as_user "$PGBIN/initdb" -D "$S/cluster" -U admin --pwfile="$S/adminpw" -A scram-sha-256 \
        --auth-local=trust -E UTF8 --locale=C.UTF-8 >"$DIR/initdb.log" 2>&1 ||
        { cat "$DIR/initdb.log" >&2; exit 1; }
    cat >> "$S/cluster/postgresql.conf" <<CONF
port = $port
listen_addresses = '127.0.0.1'
unix_socket_directories = '$S/sock'
ssl = on
ssl_cert_file = '$S/server.crt'
ssl_key_file = '$S/server.key'
max_connections = 120
fsync = off
CONF
    cat > "$S/cluster/pg_hba.conf" <<HBA
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
    echo "pg_server: up on 127.0.0.1:$port ($DIR)"
    ;;
pause)
    ctl stop -m immediate >/dev/null
    ;;
resume)
    ctl start >/dev/null
    ;;
stop)
    if [ -f "$DIR/server-dir" ]; then
        ctl stop -m immediate >/dev/null 2>&1 || true
        rm -rf "$(server_dir)"
    fi
    rm -rf "$DIR"
    ;;
*)
    echo "usage: pg_server.sh start|stop|pause|resume DIR" >&2
    exit 2
    ;;
esac
