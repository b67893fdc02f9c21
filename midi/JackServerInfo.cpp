#include "midi/JackServerInfo.h"

#include <charconv>
#include <tuple>

namespace bq::midi {
namespace {

// Reads "N.N.N" at the start of `text`; the third number may be missing ("1.4").
std::optional<JackServerVersion> ReadNumbers(std::string_view text) {
    JackServerVersion version;
    const char* p = text.data();
    const char* end = text.data() + text.size();
    auto number = [&](int* value) {
        const auto [next, error] = std::from_chars(p, end, *value);
        p = next;
        return error == std::errc() && *value >= 0;
    };
    auto dot = [&] {
        if (p == end || *p != '.') {
            return false;
        }
        ++p;
        return true;
    };
    if (!number(&version.major) || !dot() || !number(&version.minor)) {
        return std::nullopt;
    }
    if (dot() && !number(&version.micro)) {
        return std::nullopt;
    }
    return version;
}

std::string Dotted(const JackServerVersion& v) {
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.micro);
}

}  // namespace

std::optional<JackServerVersion> ParseJackVersion(std::string_view text) {
    constexpr std::string_view kPipeWire = "PipeWire";
    const std::size_t at = text.find(kPipeWire);
    if (at != std::string_view::npos) {
        std::string_view rest = text.substr(at + kPipeWire.size());
        while (!rest.empty() && rest.front() == ' ') {
            rest.remove_prefix(1);
        }
        auto version = ReadNumbers(rest);
        if (version) {
            version->pipeWire = true;
        }
        return version;
    }
    while (!text.empty() && text.front() == ' ') {
        text.remove_prefix(1);
    }
    return ReadNumbers(text);
}

bool DropsSplitSysEx(const JackServerVersion& v) {
    const auto number = std::tie(v.major, v.minor, v.micro);
    return v.pipeWire && number >= std::make_tuple(1, 4, 0) && number <= std::make_tuple(1, 6, 2);
}

std::string DescribeJackServer(std::string_view versionText, std::string_view serverName) {
    const auto version = ParseJackVersion(versionText);
    if (!version) {
        return "JACK (version \"" + std::string(versionText) + "\")";
    }
    if (version->pipeWire) {
        return "PipeWire " + Dotted(*version);
    }
    return "jackd (JACK " + Dotted(*version) + "), server " +
           std::string(serverName.empty() ? "default" : serverName);
}

std::string SplitSysExWarning(std::string_view versionText) {
    const auto version = ParseJackVersion(versionText);
    if (!version || !DropsSplitSysEx(*version)) {
        return {};
    }
    return "PipeWire " + Dotted(*version) +
           " drops SysEx messages split across JACK MIDI events, so bank dumps arrive cut "
           "short; PipeWire 1.6.3 or later, PipeWire before 1.4, and jackd carry them whole.";
}

}  // namespace bq::midi
