#!/usr/bin/env bash
# The leftover check of tools/procs.sh against scripts that start z58emu:
# the way tools/package.sh once did it (inside $( ) and ( ), so its EXIT trap
# killed nothing) is caught and named, and the mended way leaves nothing, also
# when a step in a subshell fails or the script is interrupted.
#   procs_test.sh TOOLS/PROCS.SH Z58EMU
set -uo pipefail
PROCS=${1:?procs.sh} EMU=${2:?z58emu}
. "$PROCS"
WORK=$(mktemp -d)
trap 'procs_stop; rm -rf "$WORK"' EXIT
export PROCS_CHECK_WAIT=1
fail=0
problem() {
    echo "FAILED: $*"
    fail=1
}

# A script as the old package.sh was: emulator() records the pid in the array
# of the subshell it runs in.
cat > "$WORK/old.sh" <<'EOF'
set -euo pipefail
EMU=$1 WORK=$2 HOW=$3
pids=()
trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done' EXIT
emulator() {
    "$EMU" --settings-text 'AutoStart=99\n' > "$WORK/$HOW.out" 2> /dev/null &
    pids+=($!)
    for _ in $(seq 100); do grep -q READY "$WORK/$HOW.out" 2>/dev/null && break; sleep 0.05; done
    cut -d' ' -f2 "$WORK/$HOW.out"
}
case $HOW in
substitution) pty=$(emulator); [ -e "$pty" ] ;;
subshell) ( emulator > /dev/null ) ;;
esac
EOF

# The same with tools/procs.sh: started in the main shell, stopped by the trap
# whatever happens after.
cat > "$WORK/mended.sh" <<'EOF'
set -euo pipefail
PROCS=$1 EMU=$2 WORK=$3 HOW=$4
. "$PROCS"
trap procs_stop EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
procs_start_ready '^READY ' "$WORK/$HOW.out" "$WORK/$HOW.err" "$EMU" --settings-text 'AutoStart=99\n'
pty=${PROCS_READY#READY }
[ -e "$pty" ]
case $HOW in
fails) ( ln -sfn "$pty" "$WORK/com7"; false; echo not reached ) ;;
interrupted) echo started > "$WORK/started"; sleep 60 ;;
killed) procs_start sleep 60; echo started > "$WORK/started"; wait ;;
refused) pid=$(procs_start sleep 60) ;;
esac
EOF

left_check() { # left_check HOW: the check's verdict and what it said
    CHECK_OUT=$(procs_check "$1" 2>&1)
}

for how in substitution subshell; do
    procs_tag
    bash "$WORK/old.sh" "$EMU" "$WORK" "$how" || problem "old pattern ($how): the script itself failed"
    if left_check "$how"; then
        problem "old pattern ($how): the emulator left running was not found"
    else
        grep -E '^!!   [0-9]+ ' <<< "$CHECK_OUT" | grep -qF "$EMU --settings-text AutoStart=99\\n" ||
            problem "old pattern ($how): the report does not name the emulator by pid and command line: $CHECK_OUT"
    fi
    procs_left
    [ ${#PROCS_LEFT[@]} -eq 0 ] || problem "old pattern ($how): the check did not end what it found: ${PROCS_LEFT[*]}"
done

procs_tag
if bash "$WORK/mended.sh" "$PROCS" "$EMU" "$WORK" fails; then
    problem "mended: the failing step did not fail the script"
fi
[ -L "$WORK/com7" ] || problem "mended: the subshell did not run"
left_check "a failed subshell step" || problem "mended, failing step: $CHECK_OUT"

# Interrupted as Ctrl-C does: SIGINT to the script's process group, with a
# foreground child running. Job control gives the script a group of its own
# (without it a background job ignores SIGINT).
set -m
for signal in INT TERM; do
    procs_tag
    rm -f "$WORK/started"
    bash "$WORK/mended.sh" "$PROCS" "$EMU" "$WORK" interrupted 2> "$WORK/interrupted.err" &
    script=$!
    for _ in $(seq 200); do [ -e "$WORK/started" ] && break; sleep 0.05; done
    [ -e "$WORK/started" ] || problem "mended, SIG$signal: the script did not get going"
    kill -"$signal" -- "-$script"
    wait "$script"
    status=$?
    [ "$status" -eq $((128 + $(kill -l "$signal"))) ] || problem "mended, SIG$signal: exit status $status"
    left_check "SIG$signal" || problem "mended, SIG$signal: $CHECK_OUT"
done
set +m

# SIGTERM to the script alone, as a time limit may send it: its trap still ends
# both processes it started (the emulator gets no signal of its own here).
procs_tag
rm -f "$WORK/started"
bash "$WORK/mended.sh" "$PROCS" "$EMU" "$WORK" killed &
script=$!
for _ in $(seq 200); do [ -e "$WORK/started" ] && break; sleep 0.05; done
kill -TERM "$script"
wait "$script"
status=$?
[ "$status" -eq 143 ] || problem "mended, SIGTERM to the script: exit status $status"
left_check "SIGTERM to the script" || problem "mended, SIGTERM to the script: $CHECK_OUT"

procs_tag
bash "$WORK/mended.sh" "$PROCS" "$EMU" "$WORK" refused 2> "$WORK/refused.err" &&
    problem "procs_start in \$( ) was not refused"
grep -q "procs_start: called in a subshell" "$WORK/refused.err" || problem "refusal: $(cat "$WORK/refused.err")"
left_check "a refused start" || problem "refused start: $CHECK_OUT"

# An emulator that cannot start: its own message, and nothing waits 10 s.
procs_tag
start=$SECONDS
if procs_start_ready '^READY ' "$WORK/bad.out" "$WORK/bad.err" "$EMU" --settings "$WORK/none.txt" 2> "$WORK/bad.msg"; then
    problem "an emulator that cannot start was taken as ready"
fi
grep -qF "ended before it was ready: z58emu: cannot read $WORK/none.txt" "$WORK/bad.msg" || problem "bad start: $(cat "$WORK/bad.msg")"
[ $((SECONDS - start)) -lt 5 ] || problem "a failed start was waited out"
[ ${#PROCS_STARTED[@]} -eq 0 ] || problem "a failed start stays recorded: ${PROCS_STARTED[*]}"

# The emulator broker of the Windows stage, stopped with SIGTERM as the stage's
# trap does: it stops the emulators it started and drops their COM links.
procs_tag
mkdir -p "$WORK/broker" "$WORK/prefix/dosdevices"
procs_start "$(dirname "$PROCS")/emu-broker.sh" "$WORK/broker" "$EMU" "$WORK/prefix"
broker=${PROCS_STARTED[-1]}
printf '%s\n' --register COM9 --serial 9 > "$WORK/broker/req-1.tmp"
mv "$WORK/broker/req-1.tmp" "$WORK/broker/req-1"
for _ in $(seq 200); do [ -e "$WORK/broker/ready-1" ] && break; sleep 0.05; done
answer=$(cat "$WORK/broker/ready-1" 2>/dev/null)
[[ $answer == "READY /dev/pts/"* ]] || problem "broker: no emulator: $answer"
[ "$(readlink "$WORK/prefix/dosdevices/com9")" = "${answer#READY }" ] || problem "broker: no COM link to ${answer#READY }"
procs_stop_pid "$broker"
left_check "the broker" || problem "broker stopped with SIGTERM: $CHECK_OUT"
[ ! -e "$WORK/prefix/dosdevices/com9" ] || problem "broker stopped with SIGTERM: its COM link stays"

# The checking shell and its ancestors carry the tag too and are never reported;
# a sibling started beside them is.
procs_tag
bash -c '. "$1"; bash -c ". \"\$1\"; procs_check nested" _ "$1"' _ "$PROCS" > "$WORK/nested.out" 2>&1 ||
    problem "the check reported its own shell or ancestors: $(cat "$WORK/nested.out")"
bash -c 'sleep 60 & bash -c ". \"\$1\"; procs_check beside" _ "$1"; r=$?; kill $!; exit $r' _ "$PROCS" > "$WORK/sibling.out" 2>&1 &&
    problem "a process beside the checking shell was not reported"
grep -qE '^!!   [0-9]+ sleep 60$' "$WORK/sibling.out" || problem "sibling: $(cat "$WORK/sibling.out")"
left_check "the nested checks" || problem "nested checks: $CHECK_OUT"

[ "$fail" -eq 0 ] && echo "ok"
exit "$fail"
