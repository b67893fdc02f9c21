#pragma once

// The JACK tests search every MIDI output of the server they reach and write Combinations to
// whatever answers. On a musician's machine that could be a real Karma, so they run only on a
// server that the test command started for them (scripts/run-tests.sh names it in
// BQ_TEST_JACK_SERVER); any other server is refused before the first test opens a client.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace bq::test {

// Empty when the server that libjack will reach is the test command's own; else why not.
inline std::string PrivateJackServerProblem() {
    const char* own = std::getenv("BQ_TEST_JACK_SERVER");
    const char* chosen = std::getenv("JACK_DEFAULT_SERVER");
    if (own == nullptr || *own == '\0') {
        return "BQ_TEST_JACK_SERVER is not set: run these tests with scripts/run-tests.sh "
               "(make test), which starts a JACK server of their own";
    }
    if (chosen == nullptr || std::string(chosen) != own) {
        return std::string("JACK_DEFAULT_SERVER is not the test server ") + own +
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
