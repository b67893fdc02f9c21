# Sourced by the scripts that run tests and benchmarks: a jackd of their own with the dummy
# driver, under a name nobody else uses, so that they never reach a musician's server (and the
# instrument on it), whatever JACK_DEFAULT_SERVER said before.
#   start_private_jackd NAME LOG   starts it, exports JACK_DEFAULT_SERVER; false if it never answers
#   stop_private_jackd             stops it (also when it hangs) and gives back its registry slot
source "$(dirname "${BASH_SOURCE[0]}")/jack-stale.sh"

private_jackd_pid=""
private_jackd_name=""

private_jackd_answers() { JACK_DEFAULT_SERVER="$private_jackd_name" jack_lsp >/dev/null 2>&1; }

private_jackd_wait_gone() {
    for _ in $(seq 100); do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}

start_private_jackd() {
    private_jackd_name=$1
    local log=$2
    export JACK_NO_AUDIO_RESERVATION=1  # the dummy driver needs no D-Bus device reservation
    export JACK_NO_START_SERVER=1       # no client may start a server behind our back
    clear_stale_jack_shm
    mkdir -p "$(dirname "$log")"
    # -S: the server waits for every client each cycle. Asynchronous mode skips a client that
    # is late, and its MIDI of that cycle is lost; late clients are common on a busy machine
    # without real-time scheduling.
    jackd -n "$private_jackd_name" -S --no-realtime -d dummy -r 48000 -p 256 >"$log" 2>&1 &
    private_jackd_pid=$!
    export JACK_DEFAULT_SERVER="$private_jackd_name"
    for _ in $(seq 100); do
        private_jackd_answers && return 0
        kill -0 "$private_jackd_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

stop_private_jackd() {
    [[ -n "$private_jackd_pid" ]] || return 0
    kill "$private_jackd_pid" 2>/dev/null
    if ! private_jackd_wait_gone "$private_jackd_pid"; then
        kill -9 "$private_jackd_pid" 2>/dev/null
        wait "$private_jackd_pid" 2>/dev/null
        # A killed server keeps its slot in JACK's shared registry of servers (only a few
        # exist) until a server of the same name starts; start one and stop it properly.
        jackd -n "$private_jackd_name" --no-realtime -d dummy >/dev/null 2>&1 &
        local reclaim=$!
        for _ in $(seq 50); do
            private_jackd_answers && break
            sleep 0.1
        done
        kill "$reclaim" 2>/dev/null
        private_jackd_wait_gone "$reclaim" || kill -9 "$reclaim" 2>/dev/null
    fi
    wait "$private_jackd_pid" 2>/dev/null
    private_jackd_pid=""
    # Clients still connected when it stopped leave semaphores named after it.
    rm -f /dev/shm/jack_sem.*_"${private_jackd_name}"_* 2>/dev/null
    return 0
}
