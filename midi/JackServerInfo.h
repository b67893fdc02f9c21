#pragma once

// Which JACK server a client has reached, from the text of jack_get_version_string(): jackd's
// library names its own version ("1.9.21"), PipeWire's JACK library the PipeWire version
// ("3.0.0.0 (using PipeWire 0.3.65)"). Pure functions: callers read the text (and the server
// name) at connection.

#include <optional>
#include <string>
#include <string_view>

namespace bq::midi {

struct JackServerVersion {
    bool pipeWire = false;  // PipeWire's JACK library rather than jackd's
    int major = 0;          // PipeWire's version there, else the JACK library's
    int minor = 0;
    int micro = 0;
};

// nullopt when the text names no version.
std::optional<JackServerVersion> ParseJackVersion(std::string_view text);

// PipeWire 1.4.0 to 1.6.2 turn every JACK MIDI event into MIDI 2.0 packets and drop an event
// that does not begin with F0: a SysEx message split across events keeps only its first event.
bool DropsSplitSysEx(const JackServerVersion& version);

// For people: "PipeWire 0.3.65", or "jackd (JACK 1.9.21), server default" with the server name
// that jackd's library uses (JACK_DEFAULT_SERVER, else "default"); the raw text when it cannot
// be read.
std::string DescribeJackServer(std::string_view versionText, std::string_view serverName);

// One line for a program that sends SysEx longer than one event, on a server that drops it;
// empty elsewhere.
std::string SplitSysExWarning(std::string_view versionText);

}  // namespace bq::midi
