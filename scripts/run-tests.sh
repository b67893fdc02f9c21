#!/usr/bin/env bash
# Runs every test of a build directory through ctest. The JACK tests need a server: when none
# answers, a jackd of our own with the dummy driver runs for the length of the tests and is
# stopped afterwards, also when tests fail or the run is interrupted.
set -uo pipefail
build=${1:?build directory}
export QT_QPA_PLATFORM=offscreen
export JACK_NO_AUDIO_RESERVATION=1  # the dummy driver needs no D-Bus device reservation
export JACK_NO_START_SERVER=1       # no client may start a server behind our back

source "$(dirname "$0")/jack-stale.sh"
jack_answers() { jack_lsp >/dev/null 2>&1; }

wait_gone() {
    for _ in $(seq 100); do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}

jackd_pid=""
server=""
stop_jackd() {
    [[ -n "$jackd_pid" ]] || return 0
    kill "$jackd_pid" 2>/dev/null
    if ! wait_gone "$jackd_pid"; then
        kill -9 "$jackd_pid" 2>/dev/null
        wait "$jackd_pid" 2>/dev/null
        # A killed server keeps its slot in JACK's shared registry of servers (only a few
        # exist) until a server of the same name starts; start one and stop it properly.
        jackd -n "$server" --no-realtime -d dummy >/dev/null 2>&1 &
        local reclaim=$!
        for _ in $(seq 50); do
            JACK_DEFAULT_SERVER="$server" jack_answers && break
            sleep 0.1
        done
        kill "$reclaim" 2>/dev/null
        wait_gone "$reclaim" || kill -9 "$reclaim" 2>/dev/null
    fi
    wait "$jackd_pid" 2>/dev/null
    jackd_pid=""
}
trap stop_jackd EXIT
trap 'exit 130' INT TERM

if jack_answers; then
    echo "run-tests: using the running JACK server ${JACK_DEFAULT_SERVER:-default}"
else
    # A name of its own, so that runs side by side never stop each other's server.
    # -S: the server waits for every client each cycle. Asynchronous mode skips a client that
    # is late, and its MIDI of that cycle is lost; late clients are common on a busy machine
    # without real-time scheduling.
    server="bankquill-test-$$"
    clear_stale_jack_shm
    mkdir -p "$build"
    jackd -n "$server" -S --no-realtime -d dummy -r 48000 -p 256 >"$build/jackd.log" 2>&1 &
    jackd_pid=$!
    export JACK_DEFAULT_SERVER="$server"
    ready=0
    for _ in $(seq 100); do
        if jack_answers; then
            ready=1
            break
        fi
        kill -0 "$jackd_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [[ $ready -eq 1 ]]; then
        echo "run-tests: started jackd $server (dummy driver)"
    else
        # The JACK tests then fail and say why; they are never skipped.
        echo "run-tests: jackd did not answer within 10 s; see $build/jackd.log" >&2
    fi
fi

ctest --test-dir "$build" --output-on-failure -j2
exit $?
