// bankquill-virtual-karma: the virtual Karma workstation as a JACK client, with one MIDI input
// and one MIDI output port, for the demo, the end-to-end tests and trying the program without
// an instrument.
//
// Threads: JACK's process thread only moves bytes between the ports and two rings, and wakes
// the main thread when it has moved some. The main thread assembles received SysEx messages,
// lets the virtual Karma answer them, and feeds the answers into the output ring at the chosen
// byte rate; with nothing to send it sleeps until woken.

#include <jack/jack.h>
#include <jack/ringbuffer.h>
#include <semaphore.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "midi/JackRingIO.h"
#include "midi/JackServerInfo.h"
#include "model/Result.h"
#include "tools/cli/CommandLine.h"
#include "tools/virtual-karma/VirtualKarma.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kClientName = "virtual-karma";
constexpr std::size_t kRingBytes = 1u << 20;
// A received message without F7 is not kept beyond this.
constexpr std::size_t kMaxMessage = 4u << 20;

enum Id {
    kPcg,
    kChannel,
    kRate,
    kReceiveRate,
    kMemoryOut,
    kFailWrites,
    kFailWritesAfter,
    kErrorWrites,
    kSilent,
    kRefuseDumps,
    kPauseAfter,
    kStray,
    kHelp
};

const bq::cli::Program kCommandLine = {
    "bankquill-virtual-karma",
    "Usage: bankquill-virtual-karma [OPTION]...\n",
    "A virtual Korg Karma workstation on JACK MIDI: JACK client \"virtual-karma\" with the\n"
    "ports midi_in and midi_out. Answers Identity Requests, bank and Combination dump\n"
    "requests and Combination and Program writes. Ends on SIGINT or SIGTERM.\n"
    "\n",
    29,
    {
        {kPcg, "pcg", 0, true, "FILE", "fill its memory from a PCG file", "a file",
         bq::cli::Complete::PcgFiles},
        {kChannel, "channel", 0, true, "G", "global channel 0-15 (default 0)",
         "a channel from 0 to 15"},
        {kRate, "rate", 0, true, "BYTES_PER_SECOND",
         "how fast it sends (default 3125, a MIDI cable;\n"
         "0: as fast as JACK takes it)",
         "a number of bytes per second (0: unlimited)"},
        {kReceiveRate, "receive-rate", 0, true, "BYTES_PER_SECOND",
         "take each message only once a cable of this rate\n"
         "would have carried it in, as a Karma on a MIDI\n"
         "cable does (3125); default 0: at once",
         "a number of bytes per second (0: unlimited)"},
        {kMemoryOut, "memory-out", 0, true, "FILE", "write its memory to FILE when it exits",
         "a file", bq::cli::Complete::Files},
        {kFailWrites, "fail-writes", 0, false, nullptr, "answer every write with a Failed Reply"},
        {kFailWritesAfter, "fail-writes-after", 0, true, "N",
         "store the first N writes, then answer every\nwrite with a Failed Reply",
         "a number of writes"},
        {kErrorWrites, "error-writes", 0, true, "CODE",
         "answer every write with an Error Reply of CODE", "an error code from 0 to 127"},
        {kSilent, "silent", 0, false, nullptr, "answer nothing but Identity Requests"},
        {kRefuseDumps, "refuse-dumps", 0, false, nullptr,
         "answer dump requests with a Failed Reply"},
        {kPauseAfter, "pause-after", 0, true, "BYTES:MILLISECONDS",
         "pause a dump for MILLISECONDS after BYTES bytes", "BYTES:MILLISECONDS"},
        {kStray, "stray", 0, true, "HEXBYTES",
         "send these bytes before every reply (e.g. \"F0 43 10 F7\")", "hexadecimal bytes"},
        {kHelp, "help", 0, false, nullptr, "show this text"},
    },
    "",
    bq::cli::Complete::Nothing,
};

struct Options {
    std::string pcg;
    std::uint8_t channel = 0;
    std::uint32_t rate = 3125;
    std::uint32_t receiveRate = 0;
    std::string memoryOut;
    bq::VirtualKarma::Faults faults;
};

bool ParseNumber(const char* text, unsigned long max, unsigned long* value) {
    if (text == nullptr || *text == '\0' || *text == '-') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long parsed = std::strtoul(text, &end, 0);
    if (errno != 0 || *end != '\0' || parsed > max) {
        return false;
    }
    *value = parsed;
    return true;
}

// "F0 42 30 F7", "F04230F7" or "f0,42,30,f7".
bool ParseHex(const char* text, std::vector<std::uint8_t>* bytes) {
    std::string digits;
    for (const char* p = text; *p != '\0'; ++p) {
        if (std::isxdigit(static_cast<unsigned char>(*p))) {
            digits += *p;
        } else if (*p != ' ' && *p != ',' && *p != ':') {
            return false;
        }
    }
    if (digits.empty() || digits.size() % 2 != 0) {
        return false;
    }
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        bytes->push_back(static_cast<std::uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    }
    return true;
}

// 0: run; 1: stop with success (help); 2: bad usage.
int ParseOptions(int argc, char** argv, Options* options) {
    auto fail = [](const std::string& message) {
        std::fprintf(stderr, "bankquill-virtual-karma: %s\n%s", message.c_str(),
                     bq::cli::HelpText(kCommandLine).c_str());
        return 2;
    };
    bq::cli::Parsed parsed;
    if (!bq::cli::Parse(kCommandLine, argc, argv, &parsed)) {
        return fail(parsed.error);
    }
    if (!parsed.operands.empty()) {
        return fail("unknown option " + parsed.operands.front());
    }
    for (const bq::cli::Given& given : parsed.options) {
        const char* value = given.value.c_str();
        const std::string needs = bq::cli::Needs(kCommandLine, given.id, given.typed);
        unsigned long number = 0;
        switch (given.id) {
            case kHelp:
                std::fputs(bq::cli::HelpText(kCommandLine).c_str(), stdout);
                return 1;
            case kPcg:
                options->pcg = given.value;
                break;
            case kChannel:
                if (!ParseNumber(value, 15, &number)) {
                    return fail(needs);
                }
                options->channel = static_cast<std::uint8_t>(number);
                break;
            case kRate:
            case kReceiveRate:
                if (!ParseNumber(value, 100000000, &number)) {
                    return fail(needs);
                }
                (given.id == kRate ? options->rate : options->receiveRate) =
                    static_cast<std::uint32_t>(number);
                break;
            case kMemoryOut:
                options->memoryOut = given.value;
                break;
            case kFailWrites:
                options->faults.failWrites = true;
                break;
            case kFailWritesAfter:
                if (!ParseNumber(value, 1u << 30, &number)) {
                    return fail(needs);
                }
                options->faults.failAfterWrites = number;
                break;
            case kErrorWrites:
                if (!ParseNumber(value, 127, &number)) {
                    return fail(needs);
                }
                options->faults.errorWrites = true;
                options->faults.errorCode = static_cast<std::uint8_t>(number);
                break;
            case kSilent:
                options->faults.silent = true;
                break;
            case kRefuseDumps:
                options->faults.refuseDumps = true;
                break;
            case kPauseAfter: {
                const char* colon = std::strchr(value, ':');
                unsigned long bytes = 0;
                unsigned long ms = 0;
                if (colon == nullptr ||
                    !ParseNumber(std::string(value, colon).c_str(), 1u << 30, &bytes) ||
                    !ParseNumber(colon + 1, 3600000, &ms)) {
                    return fail(needs);
                }
                options->faults.pauseDumps = true;
                options->faults.pauseAfterBytes = bytes;
                options->faults.pauseMs = static_cast<std::uint32_t>(ms);
                break;
            }
            case kStray: {
                std::vector<std::uint8_t> stray;
                if (!ParseHex(value, &stray)) {
                    return fail(needs);
                }
                options->faults.stray = std::move(stray);
                break;
            }
        }
    }
    return 0;
}

std::atomic<bool> g_stop{false};
// Wakes the main thread: posted by the process callback, the shutdown callbacks and the signal
// handler (sem_post is safe in all three).
sem_t g_wake;

extern "C" void OnSignal(int) {
    g_stop.store(true);
    sem_post(&g_wake);
}

// Sleeps until woken, or for at most `limit`.
void WaitForWake(std::optional<std::chrono::microseconds> limit) {
    if (!limit) {
        sem_wait(&g_wake);  // a signal ends it too (EINTR); the caller looks at g_stop
    } else {
        timespec deadline{};
        clock_gettime(CLOCK_MONOTONIC, &deadline);
        const long long ns = deadline.tv_nsec + limit->count() * 1000LL;
        deadline.tv_sec += static_cast<time_t>(ns / 1000000000LL);
        deadline.tv_nsec = static_cast<long>(ns % 1000000000LL);
        sem_clockwait(&g_wake, CLOCK_MONOTONIC, &deadline);
    }
    // What woke it is looked at as a whole: the posts that came meanwhile ask for nothing more.
    while (sem_trywait(&g_wake) == 0) {
    }
}

// What the process callback touches; the rings are made before the client is activated.
struct Ports {
    jack_port_t* in = nullptr;
    jack_port_t* out = nullptr;
    jack_ringbuffer_t* received = nullptr;
    jack_ringbuffer_t* toSend = nullptr;
    bool lost = false;  // process thread only
    std::atomic<bool> gone{false};
};

// JACK's real-time thread: ring copies only, and a wake-up when there is something to read or
// room to write.
int Process(jack_nframes_t frames, void* arg) {
    auto* ports = static_cast<Ports*>(arg);
    bq::midi::JackEventsToRing(jack_port_get_buffer(ports->in, frames), ports->received,
                               &ports->lost);
    void* out = jack_port_get_buffer(ports->out, frames);
    jack_midi_clear_buffer(out);
    const std::size_t sent = bq::midi::JackRingToEvents(ports->toSend, out);
    if (sent != 0 || jack_ringbuffer_read_space(ports->received) != 0) {
        sem_post(&g_wake);
    }
    return 0;
}

void OnShutdown(jack_status_t, const char*, void* arg) {
    static_cast<Ports*>(arg)->gone.store(true);
    sem_post(&g_wake);
}

// PipeWire's JACK library calls only this one when its server ends; jackd's only the other.
void OnPlainShutdown(void* arg) {
    static_cast<Ports*>(arg)->gone.store(true);
    sem_post(&g_wake);
}

// Received bytes to complete SysEx messages, across events and cycles.
class Assembler {
public:
    // Calls `complete` for each message that ends in `bytes`.
    template <typename F>
    void Feed(const std::uint8_t* bytes, std::size_t count, F&& complete) {
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint8_t byte = bytes[i];
            if (byte >= 0xF8) {
                continue;  // real-time
            }
            if (byte == 0xF0) {
                m_message.assign(1, byte);
                m_inside = true;
            } else if (!m_inside) {
                continue;
            } else if ((byte & 0x80) != 0 && byte != 0xF7) {
                m_inside = false;  // broken message
                m_message.clear();
            } else {
                m_message.push_back(byte);
                if (byte == 0xF7) {
                    m_inside = false;
                    complete(m_message);
                    m_message.clear();
                } else if (m_message.size() > kMaxMessage) {
                    m_inside = false;
                    m_message.clear();
                }
            }
        }
    }

private:
    std::vector<std::uint8_t> m_message;
    bool m_inside = false;
};

// Answers waiting to go out, paced at the byte rate from the start of each run.
class Sender {
public:
    explicit Sender(std::uint32_t rate) : m_rate(rate) {}

    void Add(bq::midi::MidiTimedBytes run) { m_runs.push_back(std::move(run)); }

    // Writes what is due into the ring. Returns how long it may sleep before more is due, or
    // nullopt when only a wake-up can bring more to do (a request; room in a full ring, which
    // the process callback makes and says so).
    std::optional<std::chrono::microseconds> Feed(jack_ringbuffer_t* ring) {
        using std::chrono::microseconds;
        const Clock::time_point now = Clock::now();
        while (!m_runs.empty()) {
            auto& run = m_runs.front();
            if (!m_started) {
                m_start = std::max(now, m_previousEnd + std::chrono::milliseconds(run.delayMs));
                m_started = true;
                m_offset = 0;
            }
            if (now < m_start) {
                return std::chrono::ceil<microseconds>(m_start - now);
            }
            std::size_t due = run.bytes.size();
            if (m_rate != 0) {
                const auto us = std::chrono::duration_cast<microseconds>(now - m_start).count();
                due = std::min<std::size_t>(due, static_cast<std::uint64_t>(us) * m_rate / 1000000);
            }
            if (due > m_offset) {
                const std::size_t size =
                    std::min(due - m_offset, jack_ringbuffer_write_space(ring));
                jack_ringbuffer_write(
                    ring, reinterpret_cast<const char*>(run.bytes.data() + m_offset), size);
                m_offset += size;
            }
            if (m_offset < run.bytes.size()) {
                if (m_offset < due) {
                    return std::nullopt;  // the ring is full
                }
                // Paced: more is due within a millisecond; the last bytes exactly when due.
                const auto last =
                    m_start + microseconds((static_cast<std::uint64_t>(run.bytes.size()) * 1000000 +
                                            m_rate - 1) /
                                           m_rate);
                return std::clamp(std::chrono::ceil<microseconds>(last - now), microseconds(1),
                                  microseconds(std::chrono::milliseconds(1)));
            }
            m_previousEnd = now;
            m_runs.pop_front();
            m_started = false;
        }
        return std::nullopt;
    }

private:
    std::uint32_t m_rate;
    std::deque<bq::midi::MidiTimedBytes> m_runs;
    bool m_started = false;
    Clock::time_point m_start{};
    Clock::time_point m_previousEnd{};
    std::size_t m_offset = 0;
};

// What has come in, held until a MIDI cable of the receive rate would have carried it: each
// chunk read from the ring is delivered after the chunks before it, at the rate, and the
// messages it completes are taken when its last byte is in. Rate 0 delivers at once.
class Cable {
public:
    explicit Cable(std::uint32_t rate) : m_rate(rate) {}

    // `count` bytes have come in now; when the last of them is delivered.
    Clock::time_point Arrive(std::size_t count) {
        const Clock::time_point now = Clock::now();
        if (m_rate == 0) {
            return now;
        }
        m_free = std::max(now, m_free) +
                 std::chrono::microseconds(static_cast<std::uint64_t>(count) * 1000000 / m_rate);
        return m_free;
    }
    void Hold(Clock::time_point due, const std::vector<std::uint8_t>& message) {
        m_held.push_back({due, message});
    }
    // Calls `take` for each message delivered by now, in order.
    template <typename F>
    void Deliver(F&& take) {
        const Clock::time_point now = Clock::now();
        while (!m_held.empty() && m_held.front().due <= now) {
            const Held held = std::move(m_held.front());
            m_held.pop_front();
            take(held.message);
        }
    }
    // How long until the next message is delivered; nullopt when none is held.
    std::optional<std::chrono::microseconds> UntilNext() const {
        if (m_held.empty()) {
            return std::nullopt;
        }
        return std::max(std::chrono::microseconds(1), std::chrono::ceil<std::chrono::microseconds>(
                                                          m_held.front().due - Clock::now()));
    }

private:
    struct Held {
        Clock::time_point due;
        std::vector<std::uint8_t> message;
    };
    std::uint32_t m_rate;
    Clock::time_point m_free{};
    std::deque<Held> m_held;
};

bool WriteMemory(const bq::VirtualKarma& karma, const std::string& path) {
    if (path.empty()) {
        return true;
    }
    if (!karma.WriteMemory(path.c_str())) {
        std::fprintf(stderr, "bankquill-virtual-karma: cannot write %s\n", path.c_str());
        return false;
    }
    std::printf("memory written to %s\n", path.c_str());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);  // scripts read it line by line
    if (bq::cli::PrintDocumentation(kCommandLine, argc, argv)) {
        return 0;
    }
    Options options;
    if (const int parsed = ParseOptions(argc, argv, &options); parsed != 0) {
        return parsed == 1 ? 0 : 2;
    }

    bq::VirtualKarma karma;
    karma.SetChannel(options.channel);
    if (!options.pcg.empty()) {
        const HRESULT hr = karma.LoadPCG(options.pcg.c_str());
        if (FAILED(hr)) {
            const std::string text = bq::ResultText(hr);
            std::fprintf(stderr, "bankquill-virtual-karma: cannot load %s: %s (0x%08X)\n",
                         options.pcg.c_str(), text.c_str(), static_cast<unsigned>(hr));
            return 1;
        }
    }
    karma.SetFaults(options.faults);
    karma.SetAnswerLog([](const std::string& line) { std::printf("%s\n", line.c_str()); });

    sem_init(&g_wake, 0, 0);
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);  // a server that dies closes its sockets under us

    // libjack's own complaints (no server, socket errors) would only repeat ours.
    jack_set_error_function([](const char*) {});
    jack_set_info_function([](const char*) {});
    jack_status_t status{};
    jack_client_t* client = jack_client_open(
        kClientName, static_cast<jack_options_t>(JackNoStartServer | JackUseExactName), &status);
    if (client == nullptr) {
        if ((status & JackNameNotUnique) != 0) {
            std::fprintf(stderr, "bankquill-virtual-karma: a JACK client named %s exists already\n",
                         kClientName);
        } else {
            std::fprintf(stderr, "bankquill-virtual-karma: no JACK server is running\n");
        }
        return 1;
    }

    Ports ports;
    ports.received = jack_ringbuffer_create(kRingBytes);
    ports.toSend = jack_ringbuffer_create(kRingBytes);
    ports.in = jack_port_register(client, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    ports.out = jack_port_register(client, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    int result = 0;
    if (ports.received == nullptr || ports.toSend == nullptr || ports.in == nullptr ||
        ports.out == nullptr) {
        std::fprintf(stderr, "bankquill-virtual-karma: cannot make its MIDI ports\n");
        result = 1;
    } else {
        jack_set_process_callback(client, Process, &ports);
        jack_on_info_shutdown(client, OnShutdown, &ports);
        jack_on_shutdown(client, OnPlainShutdown, &ports);
        if (jack_activate(client) != 0) {
            std::fprintf(stderr, "bankquill-virtual-karma: cannot activate the JACK client\n");
            result = 1;
        }
    }

    if (result == 0) {
        // Its dumps are SysEx messages far longer than one event: say at once when the server
        // is one that loses them.
        const char* serverName = std::getenv("JACK_DEFAULT_SERVER");
        std::printf("server: %s\n", bq::midi::DescribeJackServer(jack_get_version_string(),
                                                                 serverName ? serverName : "")
                                        .c_str());
        const std::string warning = bq::midi::SplitSysExWarning(jack_get_version_string());
        if (!warning.empty()) {
            std::fprintf(stderr, "bankquill-virtual-karma: warning: %s\n", warning.c_str());
        }
        std::printf("ready: %s %s\n", jack_port_name(ports.in), jack_port_name(ports.out));
        Assembler assembler;
        Sender sender(options.rate);
        Cable cable(options.receiveRate);
        std::vector<std::uint8_t> chunk(65536);
        while (!g_stop.load() && !ports.gone.load()) {
            while (std::size_t n = jack_ringbuffer_read(
                       ports.received, reinterpret_cast<char*>(chunk.data()), chunk.size())) {
                const Clock::time_point due = cable.Arrive(n);
                assembler.Feed(chunk.data(), n, [&](const std::vector<std::uint8_t>& message) {
                    cable.Hold(due, message);
                });
            }
            cable.Deliver([&](const std::vector<std::uint8_t>& message) {
                std::vector<bq::midi::MidiTimedBytes> reply;
                karma.HandleMessage(message.data(), message.size(), &reply);
                for (auto& run : reply) {
                    sender.Add(std::move(run));
                }
            });
            auto sleep = sender.Feed(ports.toSend);
            if (const auto next = cable.UntilNext(); next && (!sleep || *next < *sleep)) {
                sleep = next;
            }
            if (!g_stop.load() && !ports.gone.load()) {
                WaitForWake(sleep);
            }
        }
        if (ports.gone.load()) {
            std::fprintf(stderr, "bankquill-virtual-karma: the JACK server has gone away\n");
            result = 1;
        }
    }

    // The memory first: closing a client whose server has gone can block inside libjack, and
    // tests and scripts wait for this file.
    if (!WriteMemory(karma, options.memoryOut)) {
        result = 1;
    }
    if (ports.gone.load()) {
        // Nothing to tell a server that is gone; leave without waiting on it.
        std::fflush(nullptr);
        std::_Exit(result);
    }
    jack_client_close(client);  // stops the process thread before the rings go
    if (ports.received != nullptr) {
        jack_ringbuffer_free(ports.received);
    }
    if (ports.toSend != nullptr) {
        jack_ringbuffer_free(ports.toSend);
    }
    return result;
}
