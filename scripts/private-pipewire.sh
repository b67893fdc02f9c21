# Sourced by the scripts that run tests and benchmarks through PipeWire: a PipeWire of their own,
# headless, with only PipeWire's dummy driver (no sound card, no MIDI device, no session
# manager), in a runtime directory and a D-Bus session of its own, so that programs run through
# PipeWire's JACK library reach it and nothing of the user's session.
#   start_private_pipewire LOG   starts it and exports what JACK programs need to reach it
#                                (PipeWire's libjack first on LD_LIBRARY_PATH, as pw-jack does);
#                                false if it never answers
#   stop_private_pipewire        stops it and its D-Bus daemon and removes its directory
#
# Tests know it by BQ_TEST_JACK_SERVER=pipewire:DIR: they refuse to run unless PipeWire's client
# library will look in DIR, the private runtime directory.

private_pipewire_dir=""
private_pipewire_pid=""
private_pipewire_dbus_pid=""

# PipeWire has no synchronous mode like jackd -S: a cycle goes on without a client that is
# late, and the MIDI that the client was to pass on in it is lost. Under load that happens
# often with threads of ordinary priority, so its threads get real-time priority where the
# user may have it (module-rt: root, the audio group's limits, or RTKit), and the quantum is
# PipeWire's usual 1024 frames at 48 kHz (21 ms), which leaves more room than 256.
private_pipewire_conf() {
    cat <<'EOF'
context.properties = {
    core.daemon = true
    core.name = pipewire-0
    default.clock.rate = 48000
    default.clock.quantum = 1024
    default.clock.min-quantum = 1024
    default.clock.max-quantum = 1024
    mem.allow-mlock = false
}
context.spa-libs = {
    support.* = support/libspa-support
}
context.modules = [
    { name = libpipewire-module-rt flags = [ ifexists nofail ] }
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
]
context.objects = [
    { factory = metadata args = { metadata.name = default } }
    { factory = spa-node-factory
        args = {
            factory.name = support.node.driver
            node.name = Dummy-Driver
            node.group = pipewire.dummy
            priority.driver = 20000
        }
    }
    { factory = spa-node-factory
        args = {
            factory.name = support.node.driver
            node.name = Freewheel-Driver
            node.group = pipewire.freewheel
            node.freewheel = true
            priority.driver = 19000
        }
    }
]
EOF
}

private_pipewire_wait_gone() {
    for _ in $(seq 100); do
        kill -0 "$1" 2>/dev/null || return 0
        sleep 0.1
    done
    return 1
}

start_private_pipewire() {
    local log=$1
    mkdir -p "$(dirname "$log")"
    # Short: the socket's path must fit in a socket address.
    private_pipewire_dir=$(mktemp -d /tmp/bankquill-pw.XXXXXX) || return 1
    chmod 700 "$private_pipewire_dir"
    mkdir -p "$private_pipewire_dir/config"
    private_pipewire_conf >"$private_pipewire_dir/pipewire.conf"

    export XDG_RUNTIME_DIR="$private_pipewire_dir"
    export PIPEWIRE_RUNTIME_DIR="$private_pipewire_dir"
    export XDG_CONFIG_HOME="$private_pipewire_dir/config"  # no user configuration is read
    unset PIPEWIRE_REMOTE JACK_DEFAULT_SERVER
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$private_pipewire_dir/bus"
    dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" \
        >"$log.dbus" 2>&1 &
    private_pipewire_dbus_pid=$!
    for _ in $(seq 50); do
        [[ -S "$private_pipewire_dir/bus" ]] && break
        sleep 0.1
    done

    pipewire -c "$private_pipewire_dir/pipewire.conf" >"$log" 2>&1 &
    private_pipewire_pid=$!
    # What pw-jack does: PipeWire's JACK library before jackd's.
    export LD_LIBRARY_PATH='/usr/${LIB}/pipewire-0.3/jack'"${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
    export BQ_TEST_JACK_SERVER="pipewire:$private_pipewire_dir"
    for _ in $(seq 100); do
        jack_lsp >/dev/null 2>&1 && return 0
        kill -0 "$private_pipewire_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

stop_private_pipewire() {
    local pid
    for pid in "$private_pipewire_pid" "$private_pipewire_dbus_pid"; do
        [[ -n "$pid" ]] || continue
        kill "$pid" 2>/dev/null
        private_pipewire_wait_gone "$pid" || kill -9 "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    private_pipewire_pid=""
    private_pipewire_dbus_pid=""
    [[ -n "$private_pipewire_dir" ]] && rm -rf "$private_pipewire_dir"
    private_pipewire_dir=""
    return 0
}
