# Sourced by the scripts that start a private jackd.
# With no JACK server left on the machine, what JACK keeps in shared memory is stale: a server
# that was killed keeps its slot in the registry of servers, which has only a few, and once it
# is full no server starts. Clear it then; never while any server runs.
clear_stale_jack_shm() {
    if pgrep -x jackd >/dev/null 2>&1 || pgrep -x jackdbus >/dev/null 2>&1; then
        return 0
    fi
    rm -rf /dev/shm/jack-shm-registry /dev/shm/jack-[0-9]* /dev/shm/jack_* 2>/dev/null || true
}
