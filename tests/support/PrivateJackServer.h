#pragma once

// The JACK tests search every MIDI output of the server they reach and write Combinations to
// whatever answers. On a musician's machine that could be a real Karma, so they run only on a
// server that the test command started for them, named in BQ_TEST_JACK_SERVER by
// scripts/run-tests.sh; any other server is refused before the first test opens a client.
//
// Two kinds: a jackd, by its name (JACK_DEFAULT_SERVER must name it, and jackd's libjack must
// be the one loaded), or a private PipeWire, as "pipewire:DIR" with DIR its runtime directory
// (PipeWire's libjack must be loaded, and PIPEWIRE_RUNTIME_DIR must be DIR; PipeWire's library
// pays no attention to JACK_DEFAULT_SERVER).

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <string_view>

#include "midi/JackMidiServices.h"
#include "midi/JackServerInfo.h"

namespace bq::test {

constexpr std::string_view kPipeWirePrefix = "pipewire:";

inline std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// Whether the tests run against the private PipeWire (else the private jackd).
inline bool TestServerIsPipeWire() {
    return Env("BQ_TEST_JACK_SERVER").rfind(kPipeWirePrefix, 0) == 0;
}

// Why a test that streams paced MIDI over many cycles runs on jackd only.
constexpr const char* kPacedStreamJackdOnly =
    "jackd only: paced MIDI over many cycles; PipeWire, unlike jackd -S, drops what a client "
    "that is late for a cycle was to receive in it, which on a busy machine happens every few "
    "hundred cycles (the unlimited-rate tests cover transfers through PipeWire)";
constexpr const char* kLongStreamJackdOnly =
    "jackd only: megabytes over hundreds of cycles; PipeWire drops what a client that is late "
    "for a cycle was to receive in it, so a stream this long loses a cycle's bytes now and then "
    "on a busy machine (a whole bank dump through PipeWire is covered)";

// Empty when the server that libjack will reach is the test command's own; else why not.
inline std::string PrivateJackServerProblem() {
    const std::string own = Env("BQ_TEST_JACK_SERVER");
    if (own.empty()) {
        return "BQ_TEST_JACK_SERVER is not set: run these tests with scripts/run-tests.sh "
               "(make test), which starts a JACK server of their own";
    }
    const auto library = midi::ParseJackVersion(midi::JackLibraryVersion());
    const bool pipeWireLibrary = library && library->pipeWire;
    if (TestServerIsPipeWire()) {
        const std::string dir = own.substr(kPipeWirePrefix.size());
        if (!pipeWireLibrary) {
            return "the tests are meant for the private PipeWire in " + dir +
                   ", but the JACK library loaded is not PipeWire's: refusing to reach "
                   "whatever jackd runs";
        }
        if (dir.empty() || Env("PIPEWIRE_RUNTIME_DIR") != dir) {
            return "PIPEWIRE_RUNTIME_DIR is not the test PipeWire's directory " + dir +
                   ": refusing to touch a PipeWire the tests did not start";
        }
        if (Env("PIPEWIRE_REMOTE").find('/') != std::string::npos) {
            return "PIPEWIRE_REMOTE names a socket path: refusing to touch a PipeWire the "
                   "tests did not start";
        }
        return {};
    }
    if (pipeWireLibrary) {
        return "the JACK library loaded is PipeWire's, which pays no attention to "
               "JACK_DEFAULT_SERVER: refusing to reach the user's PipeWire instead of the test "
               "server " +
               own;
    }
    if (Env("JACK_DEFAULT_SERVER") != own) {
        return "JACK_DEFAULT_SERVER is not the test server " + own +
               ": refusing to touch a server the tests did not start";
    }
    return {};
}

class PrivateJackServerGuard : public ::testing::Environment {
public:
    void SetUp() override {
        const std::string problem = PrivateJackServerProblem();
        ASSERT_TRUE(problem.empty()) << problem;
    }
};

}  // namespace bq::test
