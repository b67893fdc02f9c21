#!/usr/bin/env bash
# Runs every test of a build directory through ctest. The JACK tests run on a jackd of their
# own (dummy driver, a name of this run alone), started here for the length of the tests and
# stopped afterwards, also when tests fail or the run is interrupted. A server that was already
# running, the user's own, is never used: the tests write to whatever instrument answers.
# Then the JACK backend and end-to-end tests (label jack) run a second time through PipeWire's
# JACK library, on a private headless PipeWire started here the same way.
# Arguments after the build directory go to ctest in both passes (e.g. -L acceptance,
# -R e2e_tests).
set -uo pipefail
build=${1:?build directory}
shift
export QT_QPA_PLATFORM=offscreen

source "$(dirname "$0")/private-jackd.sh"
source "$(dirname "$0")/private-pipewire.sh"
trap 'stop_private_jackd; stop_private_pipewire' EXIT
trap 'exit 130' INT TERM

server="bankquill-test-$$"
if start_private_jackd "$server" "$build/jackd.log"; then
    echo "run-tests: started jackd $server (dummy driver)"
else
    # The JACK tests then fail and say why; they are never skipped.
    echo "run-tests: jackd $server did not answer within 10 s; see $build/jackd.log" >&2
fi
# The JACK tests refuse any server but this one.
export BQ_TEST_JACK_SERVER="$server"

ctest --test-dir "$build" --output-on-failure -j2 "$@"
status=$?
stop_private_jackd

# start_private_pipewire points BQ_TEST_JACK_SERVER at it. The acceptance tests stay on jackd.
if start_private_pipewire "$build/pipewire.log"; then
    echo "run-tests: started PipeWire $(pipewire --version | sed -n 's/.*libpipewire //p' |
        tail -1) in $private_pipewire_dir (dummy driver); the JACK tests again, through it"
else
    echo "run-tests: the private PipeWire did not answer within 10 s; see $build/pipewire.log" >&2
fi
# One test at a time: PipeWire runs a cycle without a client that is late for it, and the
# MIDI that client was to receive in it is gone; two test programs side by side on a small
# machine make their clients late far more often.
ctest --test-dir "$build" --output-on-failure -j1 -L jack -LE acceptance "$@"
pipewire_status=$?
[[ $status -ne 0 ]] && exit "$status"
exit "$pipewire_status"
