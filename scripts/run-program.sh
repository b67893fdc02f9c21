#!/usr/bin/env bash
# Starts the desktop program of a build (what `make run` shows).
#
# With a JACK server already running (a real set-up) the program starts alone and finds the
# instrument on that server. Without one, a demo rig comes first: a jackd of our own with the
# dummy driver and a bankquill-virtual-karma on it, filled from the demo PCG file and sending at
# MIDI cable speed, so that View > Workstation finds an instrument. Both are stopped when the
# program exits, also on Ctrl+C or when this script is stopped. Without a display the program
# runs on a virtual X display through xvfb-run, and the script says so.
set -uo pipefail
build=${1:?build directory}
program="$build/app/bankquill"
karma="$build/tools/virtual-karma-jack/bankquill-virtual-karma"
info="$build/tools/bankquill-jack-info"
demo="$build/tools/demo.pcg"
logs="$build/run-logs"

export JACK_NO_AUDIO_RESERVATION=1  # the dummy driver needs no D-Bus device reservation
export JACK_NO_START_SERVER=1       # no client may start a server behind our back

[[ -x "$program" ]] || { echo "run-program: $program is not built" >&2; exit 1; }

source "$(dirname "$0")/jack-stale.sh"
jack_answers() { jack_lsp >/dev/null 2>&1; }

# A child that has ended stays a zombie until it is waited for: that counts as gone.
gone() {
    local state
    state=$(ps -o stat= -p "$1" 2>/dev/null) || return 0
    [[ $state == Z* ]]
}

wait_gone() {
    for _ in $(seq "${2:-50}"); do
        gone "$1" && return 0
        sleep 0.1
    done
    return 1
}

# Ends a process (or, with a leading "-", a process group) politely, then for sure.
stop() {
    local target=$1 pid=${1#-}
    gone "$pid" && { wait "$pid" 2>/dev/null; return 0; }
    kill -TERM -- "$target" 2>/dev/null
    if ! wait_gone "$pid" 50; then
        kill -KILL -- "$target" 2>/dev/null
    fi
    wait "$pid" 2>/dev/null
    return 0
}

# Ends the program started below: the program itself first, so that xvfb-run, seeing it gone,
# stops its X server and removes its files; then whatever is left of its process group.
stop_program() {
    local pid exe
    exe=$(readlink -f "$program")
    for pid in $(pgrep -g "$program_pid"); do
        [[ "$(readlink -f "/proc/$pid/exe" 2>/dev/null)" == "$exe" ]] && kill -TERM "$pid" 2>/dev/null
    done
    wait_gone "$program_pid" 50
    stop "-$program_pid"
}

program_pid=""
karma_pid=""
jackd_pid=""
server=""

stop_jackd() {
    [[ -n "$jackd_pid" ]] || return 0
    kill -TERM "$jackd_pid" 2>/dev/null
    # A client that was killed holds it for about 6 s before it lets go.
    if ! wait_gone "$jackd_pid" 100; then
        kill -KILL "$jackd_pid" 2>/dev/null
        wait "$jackd_pid" 2>/dev/null
        # A killed server keeps its slot in JACK's shared registry of servers (only a few
        # exist) until a server of the same name starts; start one and stop it properly.
        jackd -n "$server" --no-realtime -d dummy >/dev/null 2>&1 &
        local reclaim=$!
        for _ in $(seq 50); do
            jack_answers && break
            sleep 0.1
        done
        kill "$reclaim" 2>/dev/null
        wait_gone "$reclaim" || kill -KILL "$reclaim" 2>/dev/null
        wait "$reclaim" 2>/dev/null
    fi
    wait "$jackd_pid" 2>/dev/null
    jackd_pid=""
    # Clients still connected when the server stopped leave their semaphores behind; they
    # carry the server's name, which is ours alone.
    rm -f /dev/shm/jack_sem.*_"${server}"_*
}

cleanup() {
    trap '' INT TERM HUP
    if [[ -n "$program_pid" && -n "$server" ]]; then
        # A client that is killed cannot say goodbye: the server waits some seconds for it.
        echo "run-program: stopping Bankquill, the virtual Karma and the demo JACK server..."
    fi
    # Clients before the server: a server stopped under connected clients keeps its entry in
    # JACK's registry of servers, of which only a few exist.
    [[ -n "$program_pid" ]] && stop_program
    [[ -n "$karma_pid" ]] && stop "$karma_pid"
    stop_jackd
    if [[ -n "$server" ]]; then
        echo "run-program: stopped the virtual Karma and the demo JACK server."
    fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP  # the terminal went away

demo_rig() {
    [[ -x "$karma" ]] || { echo "run-program: $karma is not built" >&2; return 1; }
    [[ -f "$demo" ]] || { echo "run-program: $demo is not built" >&2; return 1; }
    mkdir -p "$logs"
    # A server name of our own, so that a second `make run` or a test run never stops this one.
    # -S: the server waits for every client each cycle; in asynchronous mode a late client's
    # MIDI of that cycle is lost, and late clients are common without real-time scheduling.
    server="bankquill-demo-$$"
    clear_stale_jack_shm
    export JACK_DEFAULT_SERVER="$server"  # for the virtual Karma and the program alike
    jackd -n "$server" -S --no-realtime -d dummy -r 48000 -p 256 >"$logs/jackd.log" 2>&1 &
    jackd_pid=$!
    local ready=0
    for _ in $(seq 100); do
        jack_answers && { ready=1; break; }
        gone "$jackd_pid" && break
        sleep 0.1
    done
    if [[ $ready -ne 1 ]]; then
        echo "run-program: jackd did not start; see $logs/jackd.log" >&2
        if grep -q "Too many servers" "$logs/jackd.log"; then
            echo "run-program: JACK's registry of servers is full of servers that were killed;" >&2
            echo "  each entry is freed when a server of the same name starts and stops again." >&2
        fi
        return 1
    fi

    # A session of its own: Ctrl+C in the terminal reaches only this script, which stops
    # everything in order.
    setsid "$karma" --pcg "$demo" >"$logs/virtual-karma.log" 2>&1 &
    karma_pid=$!
    local ports=""
    for _ in $(seq 100); do
        ports=$(sed -n 's/^ready: //p' "$logs/virtual-karma.log")
        [[ -n "$ports" ]] && break
        gone "$karma_pid" && break
        sleep 0.1
    done
    if [[ -z "$ports" ]]; then
        echo "run-program: the virtual Karma did not start; see $logs/virtual-karma.log" >&2
        return 1
    fi
    echo "No JACK server was running, so a demo rig was started:"
    echo "  - jackd with the dummy driver, server name $server"
    echo "  - bankquill-virtual-karma on the ports ${ports/ / and },"
    echo "    its memory filled from $demo, sending at MIDI cable speed"
    echo "  (their output goes to $logs/)"
    echo "In Bankquill, View > Workstation finds it. Both stop when Bankquill exits."
}

if jack_answers; then
    # Names jackd or PipeWire (through pw-jack, or as the system's libjack) and its version.
    about=$("$info" 2>/dev/null) || about="JACK server ${JACK_DEFAULT_SERVER:-default}"
    if [[ $about == PipeWire* ]]; then
        echo "The JACK server is PipeWire: $about. Starting Bankquill alone;"
    else
        echo "A JACK server is running: $about. Starting Bankquill alone;"
    fi
    echo "View > Workstation searches that server's MIDI ports for the Karma."
else
    if [[ -S "${PIPEWIRE_RUNTIME_DIR:-${XDG_RUNTIME_DIR:-/nonexistent}}/pipewire-0" ]]; then
        echo "PipeWire runs in this session, but this is not its JACK library;"
        echo "\`pw-jack make run\` uses PipeWire instead of the demo rig below."
    fi
    demo_rig || exit 1
fi
if [[ -f "$demo" ]]; then
    echo "A demo PCG file to open with File > Open: $demo"
fi

# Its own process group, so that stopping it also stops xvfb-run's X server.
if [[ -n "${DISPLAY:-}" || -n "${WAYLAND_DISPLAY:-}" ]]; then
    echo "Starting Bankquill."
    setsid "$program" &
else
    echo "No display found: starting Bankquill under xvfb-run on a virtual X display, where its"
    echo "window cannot be seen. Stop it with Ctrl+C (scripts/screenshot.sh shows what it looks like)."
    setsid xvfb-run -a "$program" &
fi
program_pid=$!
status=0
wait "$program_pid" || status=$?
program_pid=""
exit "$status"
