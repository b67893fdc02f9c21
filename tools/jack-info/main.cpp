// bankquill-jack-info: prints one line naming the JACK server that a JACK program started the
// same way would reach, "PipeWire 0.3.65" or "jackd (JACK 1.9.21), server default", and exits
// with 0; without a server it says so and exits with 1. It never starts a server.

#include <jack/jack.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "midi/JackServerInfo.h"
#include "tools/cli/CommandLine.h"

namespace {

enum Id { kHelp };

// Its text says all there is: --help is the only option, and not listed.
const bq::cli::Program kCommandLine = {
    "bankquill-jack-info",
    "Usage: bankquill-jack-info\n",
    "Names the JACK server this environment reaches: jackd or PipeWire, and its version.\n"
    "Through PipeWire: pw-jack bankquill-jack-info\n",
    0,
    {{kHelp, "help", 0, false, nullptr, nullptr}},
    "",
    bq::cli::Complete::Nothing,
};

}  // namespace

int main(int argc, char** argv) {
    if (bq::cli::PrintDocumentation(kCommandLine, argc, argv)) {
        return 0;
    }
    bq::cli::Parsed parsed;
    const bool parsedWell = bq::cli::Parse(kCommandLine, argc, argv, &parsed);
    if (!parsedWell || !parsed.operands.empty() || !parsed.options.empty()) {
        const bool help = parsedWell && parsed.operands.empty();
        std::fputs(bq::cli::HelpText(kCommandLine).c_str(), help ? stdout : stderr);
        return help ? 0 : 2;
    }
    // libjack's complaints when no server runs would only repeat ours.
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    jack_status_t status{};
    jack_client_t* client = jack_client_open("bankquill-jack-info", JackNoStartServer, &status);
    if (client == nullptr) {
        std::puts("no JACK server is running");
        return 1;
    }
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    std::printf(
        "%s, %u frames at %u Hz\n",
        bq::midi::DescribeJackServer(jack_get_version_string(), server ? server : "").c_str(),
        jack_get_buffer_size(client), jack_get_sample_rate(client));
    jack_client_close(client);
    return 0;
}
