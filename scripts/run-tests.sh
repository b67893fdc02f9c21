#!/usr/bin/env bash
# Runs every test of a build directory through ctest. The JACK tests run on a jackd of their
# own (dummy driver, a name of this run alone), started here for the length of the tests and
# stopped afterwards, also when tests fail or the run is interrupted. A server that was already
# running, the user's own, is never used: the tests write to whatever instrument answers.
# Arguments after the build directory go to ctest (e.g. -L acceptance, -R e2e_tests).
set -uo pipefail
build=${1:?build directory}
shift
export QT_QPA_PLATFORM=offscreen

source "$(dirname "$0")/private-jackd.sh"
trap stop_private_jackd EXIT
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
exit $?
