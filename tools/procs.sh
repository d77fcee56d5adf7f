# Processes the scripts start, and a check that a run leaves none of them behind.
# Sourced by ./run and the tools/*.sh scripts (bash).
#
# Starting: procs_start and procs_start_ready record the pid in PROCS_STARTED and
# procs_stop ends them all; call them only in the script's main shell. Inside
# $( ) or ( ) the pid would go into the subshell's copy of the array and no trap
# of the script would ever stop the process, so both refuse there.
#
# Checking: ./run exports a fresh Z58_RUN_TAG. Every process started under it
# inherits the tag in its environment, even one whose parent is gone (reparented
# to init), so after a stage every live process carrying the tag, other than the
# checking shell and its ancestors, was left behind. The scan uses only bash
# builtins: it must not start processes it would then find.

PROCS_STARTED=()
PROCS_READY=

procs_tag() { # a new tag for this run, exported to everything it starts
    local uuid
    read -r uuid < /proc/sys/kernel/random/uuid
    export Z58_RUN_TAG="$uuid"
}

procs_main_shell() { # procs_main_shell WHAT: refuses inside a subshell
    [ "$BASHPID" = "$$" ] && return 0
    echo "$1: called in a subshell, where the pid would be lost; start processes in the script's main shell" >&2
    return 1
}

procs_start() { # procs_start COMMAND...: in the background; redirect around the call
    procs_main_shell procs_start || return 1
    "$@" &
    PROCS_STARTED+=($!)
}

# procs_start_ready PATTERN OUT ERR COMMAND...
# Starts COMMAND with stdout to OUT and stderr to ERR and waits for a line of OUT
# matching PATTERN (extended regex); PROCS_READY is that line. Fails, with the
# program's own error output, when it ends first or is not ready in
# ${PROCS_READY_TIMEOUT:-10} seconds (it is stopped then).
procs_start_ready() {
    procs_main_shell procs_start_ready || return 1
    local pattern=$1 out=$2 err=$3 line i
    shift 3
    : > "$out" && : > "$err" || return 1 # before the read below: the child opens them later
    "$@" > "$out" 2> "$err" &
    local pid=$!
    PROCS_STARTED+=($pid)
    PROCS_READY=
    for ((i = 0; i < ${PROCS_READY_TIMEOUT:-10} * 20; i++)); do
        while IFS= read -r line; do
            if [[ $line =~ $pattern ]]; then
                PROCS_READY=$line
                return 0
            fi
        done < "$out"
        if ! procs_running "$pid"; then
            echo "$1 ended before it was ready: $(procs_head "$err")" >&2
            procs_stop_pid "$pid"
            return 1
        fi
        sleep 0.05
    done
    echo "$1 was not ready in ${PROCS_READY_TIMEOUT:-10} s: $(procs_head "$err")" >&2
    procs_stop_pid "$pid"
    return 1
}

procs_head() { # the first lines of a file, on one line
    local line n=0 text=""
    while IFS= read -r line && [ $n -lt 5 ]; do text+="$line "; n=$((n + 1)); done < "$1"
    printf '%s' "$text"
}

procs_running() { # procs_running PID: alive and not a zombie
    local stat
    { read -r stat < "/proc/$1/stat"; } 2>/dev/null || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ]
}

procs_child() { # procs_child PID: still running as a child of this shell
    local stat
    { read -r stat < "/proc/$1/stat"; } 2>/dev/null || return 1
    stat=${stat##*) }
    [ "${stat%% *}" != Z ] || return 1
    stat=${stat#* }
    [ "${stat%% *}" = "$$" ]
}

# procs_stop_pid PID... : SIGTERM, up to 5 s to end, then SIGKILL; reaps them.
# Bash reaps an ended child by itself, and its pid may then be another
# process's: only pids that are still children of this shell are signalled.
procs_stop_pid() {
    [ $# -gt 0 ] || return 0
    local p i alive=()
    for p in "$@"; do procs_child "$p" && alive+=("$p"); done
    [ ${#alive[@]} -eq 0 ] || kill -TERM "${alive[@]}" 2>/dev/null || true
    for ((i = 0; i < 100 && ${#alive[@]} > 0; i++)); do
        sleep 0.05
        alive=()
        for p in "$@"; do procs_child "$p" && alive+=("$p"); done
    done
    [ ${#alive[@]} -eq 0 ] || kill -KILL "${alive[@]}" 2>/dev/null || true
    wait "$@" 2>/dev/null || true
    local keep=()
    for p in "${PROCS_STARTED[@]}"; do [[ " $* " == *" $p "* ]] || keep+=("$p"); done
    PROCS_STARTED=("${keep[@]}")
    return 0
}

procs_stop() { procs_stop_pid "${PROCS_STARTED[@]}"; } # everything procs_start started

# procs_left: PROCS_LEFT gets "PID COMMAND LINE" for every live process carrying
# this run's tag, but the calling shell and its ancestors.
procs_left() {
    PROCS_LEFT=()
    local tag="Z58_RUN_TAG=${Z58_RUN_TAG:?procs_left: no run tag}" stat p d var found arg cmd
    local -A self=()
    p=$BASHPID
    while [ "${p:-0}" -gt 1 ]; do
        self[$p]=1
        { read -r stat < "/proc/$p/stat"; } 2>/dev/null || break
        stat=${stat##*) }
        stat=${stat#* }
        p=${stat%% *}
    done
    for d in /proc/[0-9]*; do
        p=${d#/proc/}
        [ -z "${self[$p]:-}" ] || continue
        found=
        { while IFS= read -r -d '' var; do
              [ "$var" = "$tag" ] && { found=1; break; }
          done < "$d/environ"; } 2>/dev/null || true
        [ -n "$found" ] && procs_running "$p" || continue
        cmd=
        { while IFS= read -r -d '' arg || [ -n "$arg" ]; do cmd+="$arg "; done < "$d/cmdline"; } 2>/dev/null || true
        PROCS_LEFT+=("$p ${cmd% }")
    done
    return 0
}

# procs_check STAGE: fails when processes of this run are still alive after
# STAGE, naming each by pid and command line, and then ends them (by pid, only
# those carrying the tag). What a stage stopped last may take a moment to go:
# ${PROCS_CHECK_WAIT:-5} seconds are allowed for that.
procs_check() {
    local stage=$1 i l pids signal
    procs_left
    for ((i = 0; i < ${PROCS_CHECK_WAIT:-5} * 10 && ${#PROCS_LEFT[@]} > 0; i++)); do
        sleep 0.1
        procs_left
    done
    [ ${#PROCS_LEFT[@]} -eq 0 ] && return 0
    echo "!! still running after $stage, started by this run:" >&2
    for l in "${PROCS_LEFT[@]}"; do echo "!!   $l" >&2; done
    for signal in TERM KILL; do
        pids=()
        for l in "${PROCS_LEFT[@]}"; do pids+=("${l%% *}"); done
        [ ${#pids[@]} -eq 0 ] && break
        kill -"$signal" "${pids[@]}" 2>/dev/null || true
        for ((i = 0; i < 50; i++)); do
            procs_left
            [ ${#PROCS_LEFT[@]} -eq 0 ] && break
            sleep 0.1
        done
    done
    return 1
}
