#pragma once

// The exchange with the instrument, as a protocol and nothing else: what to send, what each
// message received means for the exchange that runs, and when an exchange ends without its
// answer. Bytes and time go in, sends and one result come out; no MIDI services, no thread, no
// clock of its own, so that every rule can be tried with a script. KarmaLink runs it on real
// ports for the desktop program and the command-line tools alike.
//
// One exchange at a time:
// - Search: the Identity Request to each output in turn, every input listening; an output is
//   given its window after its request has gone out, and a reply heard after that window is
//   credited to the output asked next. The first Karma Identity Reply wins.
// - Identify: the Identity Request on the connection's output; a reply within the silence bound.
// - Dump: a dump request; the answer is the first complete message of the Karma (F0 42 3g 5D)
//   that is not a status reply. A status reply refuses the request. Another device's message on
//   the same cable is skipped and the dump goes on.
// - Write: an Item Write; the answer is the first status reply on the global channel. Anything
//   else that arrives meanwhile is dropped.
// Whatever arrived before an exchange began answers nothing it asked, and is forgotten; after an
// exchange ends without its answer, the rest of the message being received is ignored up to the
// next F0.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

#include "midi/SysEx.h"
#include "midi/SysExAssembler.h"

namespace bq::midi {

using Bytes = std::vector<std::uint8_t>;
// Milliseconds on a monotonic clock of the caller's choosing.
using Millis = std::int64_t;

// The output a send goes to: a search output by its device number, or the connection's.
inline constexpr std::uint32_t kConnectionOutput = 0xFFFFFFFFu;

struct ExchangeAction {
    enum class Kind : std::uint8_t {
        Open,   // open search output `output`; OutputUnavailable if it cannot be
        Send,   // send `bytes` to `output`, then call Sent (or SendFailed)
        Close,  // close search output `output`: its turn is over
    };
    Kind kind = Kind::Send;
    std::uint32_t output = kConnectionOutput;
    Bytes bytes;
};

enum class ExchangeKind : std::uint8_t { None, Search, Identify, Dump, Write };

enum class ExchangeEnd : std::uint8_t {
    Running,
    Found,      // Search, Identify: a Karma answered (input, output, channel)
    NotFound,   // Search: every output had its turn without an answer
    Dump,       // Dump: the message, as received
    Completed,  // Write: a Completed Reply
    Refused,    // a status reply refused the dump request, or a Failed or Error Reply the write
    Silent,     // nothing arrived for the silence bound
    NotSent,    // the request could not be sent
    Abandoned,  // the caller gave up (a Cancel, the No to a question, the window going)
};

struct ExchangeResult {
    ExchangeKind kind = ExchangeKind::None;
    ExchangeEnd end = ExchangeEnd::Running;
    sysex::ReplyKind status = sysex::ReplyKind::Dump;  // Refused: the reply that refused
    std::uint8_t errorCode = 0;                        // of an Error Reply
    Bytes message;                                     // Dump: F0 ... F7
    std::uint32_t input = 0;                           // Found: the input that heard it
    std::uint32_t output = 0;                          // Found by Search: the output asked
    std::uint8_t channel = 0;                          // Found: the device id, the global channel
    std::uint64_t received = 0;                        // bytes that arrived during the exchange
    std::size_t skipped = 0;                           // other devices' messages passed over
};

class Exchange {
public:
    static constexpr int kSearchWindowMs = 500;

    // The global channel of the connection: the channel Korg messages are built and read on.
    void SetChannel(std::uint8_t channel) { m_channel = channel; }
    std::uint8_t Channel() const { return m_channel; }

    // Each Begin ends nothing: the caller ends a running exchange first (Abandon). False when
    // one runs. `silenceMs` 0 or less: no bound (a dialog of the caller's asks instead).
    bool BeginSearch(std::uint32_t outputs, Millis now, int windowMs = kSearchWindowMs);
    bool BeginIdentify(Millis now, int silenceMs);
    // The request's byte 2 is set to the global channel.
    bool BeginDump(Bytes request, Millis now, int silenceMs);
    // A whole Item Write (its byte 2 is set to the global channel).
    bool BeginWrite(Bytes message, Millis now, int silenceMs);

    // What the exchange asks of the ports, in order; taken once.
    std::vector<ExchangeAction> TakeActions();

    // The send asked for has gone out at `now`: the time of the exchange starts from here.
    void Sent(Millis now);
    void SendFailed(Millis now);
    // The search output just asked for could not be opened: the next one's turn.
    void OutputUnavailable(Millis now);

    // A chunk of bytes from input `input` (a device number), as the port returned it.
    void Receive(std::uint32_t input, const std::uint8_t* bytes, std::size_t count, Millis now);
    // The input returned a broken message (another status byte within it): dropped whole.
    void ReceiveBroken(std::uint32_t input);
    // Ends what is due by `now`: a search output's turn, the silence bound.
    void Tick(Millis now);
    // When Tick must be called next, if the exchange waits on time at all.
    std::optional<Millis> Deadline() const;

    // Ends the running exchange as Abandoned; the rest of its answer is ignored.
    void Abandon();

    bool Running() const {
        return m_kind != ExchangeKind::None && m_result.end == ExchangeEnd::Running;
    }
    bool Ended() const { return m_result.end != ExchangeEnd::Running; }
    ExchangeKind Kind() const { return m_kind; }
    // Bytes that arrived since the exchange began (also after it ended, until the next begins).
    std::uint64_t Received() const { return m_result.received; }
    // The result of the exchange that ended; the engine is then free for the next one.
    ExchangeResult TakeResult();

private:
    bool Begin(ExchangeKind kind, Millis now, int silenceMs);
    void Finish(ExchangeEnd end);
    void Message(std::uint32_t input, const Bytes& message);
    void AskOutput(Millis now);
    void NextOutput(Millis now);
    // Everything half received is dropped, and bytes are ignored up to the next F0.
    void ForgetPartial();

    std::uint8_t m_channel = 0;
    ExchangeKind m_kind = ExchangeKind::None;
    ExchangeResult m_result;
    std::vector<ExchangeAction> m_actions;
    std::map<std::uint32_t, SysExAssembler> m_assemblers;  // by input device

    int m_silenceMs = 0;
    std::optional<Millis> m_lastTraffic;  // the silence bound counts from here; none: not sent
    bool m_awaitingSend = false;

    // Search.
    std::uint32_t m_outputs = 0;
    std::uint32_t m_asking = 0;  // the output whose turn it is
    bool m_outputOpen = false;
    int m_windowMs = kSearchWindowMs;
    std::optional<Millis> m_turnEnds;
};

}  // namespace bq::midi
