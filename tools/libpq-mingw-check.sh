#!/usr/bin/env bash
# Proves the libpq for mingw (tools/libpq-mingw.sh, with tools/openssl-mingw.sh)
# as the Windows build uses it: a small program found through
# cmake/z58-libpq.cmake with the project's mingw toolchain and -DZ58_PQ_ROOT,
# cross-built, checked to import no libpq, OpenSSL or compiler runtime DLL, and
# run under Wine in a throwaway prefix against a throwaway PostgreSQL server on
# 127.0.0.1 (TLS with a self-signed certificate made here, scram-sha-256, no
# unencrypted connections). The same program built natively through the same
# CMake file (Debian's libpq-dev) runs against it too. Prints what happened and
# how long each step took.
#
#   tools/libpq-mingw-check.sh [SOURCE FOLDER]
set -euo pipefail
ROOT=$(cd "${1:-$(dirname "$0")/..}" && pwd)
log() { echo "libpq-check: $*" >&2; }
fail() { log "FAILED: $*"; exit 1; }

PG_BIN=/usr/lib/postgresql/15/bin
# The server runs as this unprivileged user (PostgreSQL refuses to run as root).
PG_USER=nobody

times=()
timed() { # timed LABEL COMMAND...: runs it, keeps its time for the summary
    local label=$1 t0=$SECONDS
    shift
    "$@"
    times+=("$label $((SECONDS - t0)) s")
}

if [ ! -x "$PG_BIN/postgres" ]; then
    log "installing postgresql-15 for the test server"
    apt-get install -y postgresql-15 >&2
fi
for tool in runuser openssl wine wineserver cmake x86_64-w64-mingw32-objdump; do
    command -v "$tool" >/dev/null || fail "$tool is missing"
done

build_openssl() { OPENSSL=$("$ROOT/tools/openssl-mingw.sh"); }
build_libpq() { LIBPQ=$("$ROOT/tools/libpq-mingw.sh"); }
timed "OpenSSL for mingw:" build_openssl
timed "libpq for mingw:" build_libpq
log "OpenSSL: $OPENSSL"
log "libpq: $LIBPQ"

WORK=$(mktemp -d /tmp/z58-libpq-check.XXXXXX)
# The server's user must reach its folder inside, and start from a folder it
# may enter.
chmod 711 "$WORK"
cd "$WORK"
PGDATA="$WORK/pg/data"
export WINEPREFIX="$WORK/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
cleanup() {
    # Only this test's server is stopped: by its data folder, then by the pid
    # it wrote there if it did not go.
    if [ -f "$PGDATA/postmaster.pid" ]; then
        runuser -u "$PG_USER" -- "$PG_BIN/pg_ctl" -D "$PGDATA" -m immediate -w -t 30 stop >/dev/null 2>&1 || true
        pid=$(head -n 1 "$PGDATA/postmaster.pid" 2>/dev/null || true)
        if [ -n "$pid" ] && tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$PGDATA"; then
            kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    # Only this prefix's Wine server (and the Wine processes under it).
    [ -d "$WINEPREFIX" ] && { wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true; }
    rm -rf "$WORK"
}
trap cleanup EXIT

cross_build() {
    cmake -S "$ROOT/tests/windows/libpq_check" -B "$WORK/build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" -DZ58_PQ_ROOT="$LIBPQ" >"$WORK/configure.log" 2>&1 ||
        { cat "$WORK/configure.log" >&2; exit 1; }
    cmake --build "$WORK/build" -j2 >"$WORK/build.log" 2>&1 || { cat "$WORK/build.log" >&2; exit 1; }
}
native_build() {
    cmake -S "$ROOT/tests/windows/libpq_check" -B "$WORK/native" -DCMAKE_BUILD_TYPE=Release \
        >"$WORK/native-configure.log" 2>&1 || { cat "$WORK/native-configure.log" >&2; exit 1; }
    cmake --build "$WORK/native" -j2 >"$WORK/native-build.log" 2>&1 || { cat "$WORK/native-build.log" >&2; exit 1; }
}
timed "check program, cross build:" cross_build
timed "check program, native build:" native_build
EXE="$WORK/build/libpq_check.exe"
# The cross build must have linked the prefix's static libraries.
cat "$WORK/build/CMakeFiles/libpq_check.dir/link.txt" "$WORK/build/CMakeFiles/libpq_check.dir/"*.rsp 2>/dev/null |
    grep -qF "$LIBPQ/lib/libpq.a" ||
    fail "the program was not linked with $LIBPQ/lib/libpq.a"

dlls=$(x86_64-w64-mingw32-objdump -p "$EXE" | sed -nE 's/^[[:space:]]*DLL Name: //p' | sort -u)
log "imports: $(echo "$dlls" | tr '\n' ' ')"
if echo "$dlls" | grep -qiE 'libpq|libssl|libcrypto|libeay|ssleay|libstdc|libgcc|libwinpthread'; then
    fail "the program needs a DLL beside it"
fi

start_server() {
    mkdir -p "$WORK/pg"
    # A certificate for the name localhost only, so verify-full against the
    # address must fail; and another one the server's is not signed by.
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -addext subjectAltName=DNS:localhost \
        -keyout "$WORK/pg/server.key" -out "$WORK/pg/server.crt" >/dev/null 2>&1
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost -addext subjectAltName=DNS:localhost \
        -keyout "$WORK/pg/other.key" -out "$WORK/pg/other.crt" >/dev/null 2>&1
    ADMIN_PASSWORD=$(openssl rand -hex 16)
    PASSWORD=$(openssl rand -hex 16)
    printf '%s\n' "$ADMIN_PASSWORD" > "$WORK/pg/admin.pw"
    chmod 600 "$WORK/pg/server.key" "$WORK/pg/admin.pw"
    chown -R "$PG_USER" "$WORK/pg"
    runuser -u "$PG_USER" -- "$PG_BIN/initdb" -D "$PGDATA" -U z58admin --pwfile="$WORK/pg/admin.pw" \
        --auth=scram-sha-256 -E UTF8 --locale=C.UTF-8 >"$WORK/initdb.log" 2>&1 ||
        { cat "$WORK/initdb.log" >&2; exit 1; }
    # Only TLS connections over TCP, only with a scram-sha-256 password.
    cat > "$PGDATA/pg_hba.conf" <<'EOF'
hostssl all all 127.0.0.1/32 scram-sha-256
EOF
    # A free port: the first from a random start nobody listens on.
    PORT=
    for try in $(seq 0 99); do
        p=$(( 20000 + (RANDOM + try) % 20000 ))
        if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then PORT=$p; break; fi
    done
    [ -n "$PORT" ] || fail "no free port on 127.0.0.1"
    cat >> "$PGDATA/postgresql.conf" <<EOF
listen_addresses = '127.0.0.1'
port = $PORT
unix_socket_directories = ''
ssl = on
ssl_cert_file = '$WORK/pg/server.crt'
ssl_key_file = '$WORK/pg/server.key'
password_encryption = 'scram-sha-256'
log_connections = on
EOF
    runuser -u "$PG_USER" -- "$PG_BIN/pg_ctl" -D "$PGDATA" -l "$WORK/pg/server.log" -w -t 60 start >/dev/null ||
        { cat "$WORK/pg/server.log" >&2; fail "the server did not start"; }
    PGPASSWORD=$ADMIN_PASSWORD "$PG_BIN/psql" -X -q -v ON_ERROR_STOP=1 \
        "host=127.0.0.1 port=$PORT user=z58admin dbname=postgres sslmode=require" \
        -c "CREATE ROLE z58journal LOGIN PASSWORD '$PASSWORD'" -c "CREATE DATABASE z58journal OWNER z58journal" >&2
}
timed "test server (certificates, initdb, start):" start_server
log "server on 127.0.0.1:$PORT, $(runuser -u "$PG_USER" -- "$PG_BIN/postgres" --version)"

winpath() { echo "Z:$1"; } # forward slashes: a conninfo value takes \ as an escape
BASE="hostaddr=127.0.0.1 port=$PORT user=z58journal dbname=z58journal connect_timeout=20"
GOOD="$BASE password=$PASSWORD"

unset DISPLAY
failures=0
run() { # run WHERE ARGS...: the program, under Wine or natively
    local where=$1 out
    shift
    if [ "$where" = wine ]; then
        out=$(wine "$EXE" "$@" 2>"$WORK/wine.err") || {
            grep -v '^wine: ' "$WORK/wine.err" >&2 || true
            log "FAILED under Wine: $*"
            failures=$((failures + 1))
            return 0
        }
    else
        out=$("$WORK/native/libpq_check" "$@") || { log "FAILED natively: $*"; failures=$((failures + 1)); return 0; }
    fi
    while IFS= read -r line; do echo "  $line"; done <<<"$out"
}
checks() { # checks WHERE ROOTCERT OTHERCERT
    local where=$1 root=$2 other=$3
    echo "$where: sslmode=require"
    run "$where" connect "$GOOD host=localhost sslmode=require"
    echo "$where: sslmode=verify-full, host=localhost, the server's certificate as sslrootcert"
    run "$where" connect "$GOOD host=localhost sslmode=verify-full sslrootcert=$root"
    echo "$where: refused without TLS"
    run "$where" refused "$GOOD host=localhost sslmode=disable" "no encryption"
    echo "$where: refused with a wrong password"
    run "$where" refused "$BASE password=wrong$PASSWORD host=localhost sslmode=require" "password authentication failed"
    echo "$where: refused when the certificate is not signed by sslrootcert"
    run "$where" refused "$GOOD host=localhost sslmode=verify-full sslrootcert=$other" "certificate verify failed"
    echo "$where: refused when the certificate does not name the host"
    run "$where" refused "$GOOD host=127.0.0.1 sslmode=verify-full sslrootcert=$root" "does not match host name"
}
log "running under Wine (a fresh prefix: the first start takes a while)"
timed "checks under Wine:" checks wine "$(winpath "$WORK/pg/server.crt")" "$(winpath "$WORK/pg/other.crt")"
timed "checks natively:" checks native "$WORK/pg/server.crt" "$WORK/pg/other.crt"

# The server's side: every session it authenticated was by scram-sha-256.
methods=$(sed -nE 's/.*connection authenticated: .* method=([^ ]+).*/\1/p' "$WORK/pg/server.log" | sort | uniq -c)
echo "server authentications: $(echo "$methods" | xargs)"
echo "$methods" | grep -qv 'scram-sha-256' && { log "FAILED: a session was authenticated otherwise"; failures=$((failures + 1)); }

echo "times:"
printf '  %s\n' "${times[@]}"
[ "$failures" -eq 0 ] || fail "$failures check(s)"
log "ok"
