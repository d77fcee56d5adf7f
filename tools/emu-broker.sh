#!/usr/bin/env bash
# Starts emulators for tests running under Wine, which cannot spawn a Linux
# program on a pseudo-terminal themselves (tests/support/EmulatorProcessWin32.h).
#   tools/emu-broker.sh FOLDER Z58EMU WINEPREFIX
# Watches FOLDER for req-ID (z58emu's arguments, one per line). Windows paths in
# them (C:\..., Z:\...) become the Linux paths Wine maps them to; --register COMn
# becomes the prefix's dosdevices/comn link to the emulator's line. Answers
# ready-ID, and stopped-ID once stop-ID asked for the end. Ends when FOLDER/quit
# appears or on SIGTERM or SIGINT, stopping what it started.
set -uo pipefail
DIR=${1:?folder} EMU=${2:?z58emu} PREFIX=${3:?wine prefix}
declare -A PIDS COMS PTYS
quit() { for id in "${!PIDS[@]}"; do stop "$id"; done; }
trap quit EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

linux_path() { # a Windows path as Wine's dosdevices map it
    local a=$1
    if [[ $a =~ ^([A-Za-z]):[\\/](.*)$ ]]; then
        local drive=${BASH_REMATCH[1],,} rest=${BASH_REMATCH[2]//\\//}
        printf '%s' "$(readlink -f "$PREFIX/dosdevices/$drive:")/$rest"
    else
        printf '%s' "$a"
    fi
}

start() { # start ID
    local id=$1 args=() com="" line
    while IFS= read -r line || [ -n "$line" ]; do args+=("$line"); done < "$DIR/req-$id"
    rm -f "$DIR/req-$id"
    local run=() i=0
    while [ $i -lt ${#args[@]} ]; do
        if [ "${args[$i]}" = --register ] && [ $((i + 1)) -lt ${#args[@]} ]; then
            com=${args[$((i + 1))],,}
            i=$((i + 2))
            continue
        fi
        run+=("$(linux_path "${args[$i]}")")
        i=$((i + 1))
    done
    "$EMU" "${run[@]}" > "$DIR/emu-$id.out" 2> "$DIR/emu-$id.err" &
    local pid=$!
    PIDS[$id]=$pid COMS[$id]="" PTYS[$id]="" # known at once: a signal may come while it starts
    for _ in $(seq 200); do grep -q READY "$DIR/emu-$id.out" 2>/dev/null && break; sleep 0.025; done
    if ! grep -q READY "$DIR/emu-$id.out" 2>/dev/null; then
        echo "FAILED $(head -c 300 "$DIR/emu-$id.err" | tr '\n' ' ')" > "$DIR/ready-$id.tmp"
        mv "$DIR/ready-$id.tmp" "$DIR/ready-$id"
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
        unset "PIDS[$id]"
        return
    fi
    local pty; pty=$(head -n 1 "$DIR/emu-$id.out" | cut -d' ' -f2)
    [ -n "$com" ] && ln -sfn "$pty" "$PREFIX/dosdevices/$com"
    COMS[$id]=$com PTYS[$id]=$pty
    echo "READY $pty" > "$DIR/ready-$id.tmp"
    mv "$DIR/ready-$id.tmp" "$DIR/ready-$id"
}

stop() { # stop ID
    local id=$1
    rm -f "$DIR/stop-$id"
    if [ -n "${PIDS[$id]:-}" ]; then
        kill "${PIDS[$id]}" 2>/dev/null
        wait "${PIDS[$id]}" 2>/dev/null
        local link="$PREFIX/dosdevices/${COMS[$id]}"
        [ -n "${COMS[$id]}" ] && [ "$(readlink "$link")" = "${PTYS[$id]}" ] && rm -f "$link"
        unset "PIDS[$id]"
    fi
    rm -f "$DIR/emu-$id.out" "$DIR/emu-$id.err"
    touch "$DIR/stopped-$id" 2>/dev/null
}

shopt -s nullglob
while [ ! -e "$DIR/quit" ]; do
    for f in "$DIR"/req-*; do [[ $f == *.tmp ]] || start "${f##*/req-}"; done
    for f in "$DIR"/stop-*; do stop "${f##*/stop-}"; done
    sleep 0.02
done
