#pragma once

// The exchange with the instrument run on real ports: the search over every port, the
// connection's input and output, the queued input buffers, and one Exchange at a time on them.
// The desktop program and every command-line tool drive this one object; they differ only in
// how they wait (a nested event loop, a blocked thread).
//
// Threads: every member runs on the host's thread, except that Cancel may come from any thread
// and the input callback runs on the MIDI backend's own thread. The callback copies each
// returned buffer's bytes by value into the inbox, queues the buffer again and calls the wake
// function (set before any port opens): nothing else. The link closes every port before it is
// destroyed, so no callback outlives it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "midi/Exchange.h"
#include "midi/MidiServices.h"

namespace bq::midi {

// How often the tools that wait on their own ask for a dump, or send a write, whose answer was
// lost in whole or in part, before they give up: a MIDI path may lose bytes now and then
// (PipeWire drops what a late client was to receive), and both are safe to repeat.
inline constexpr int kTries = 3;

// A call of the MIDI services that failed, for the host to report as it reports such things.
struct LinkFailure {
    enum class Step : std::uint8_t { Open, Start, Send, Close };
    bool input = true;  // an input call (else an output call)
    Step step = Step::Open;
    MidiResult result = MMSYSERR_ERROR;
    // A send that never completed: no call failed, so the services have no text for it.
    bool timedOut = false;
};

class KarmaLink {
public:
    static constexpr std::uint32_t kNoDevice = 0xFFFFFFFFu;

    struct Options {
        std::uint32_t bufferSize = 4096;
        int buffers = 8;  // queued on the connection's input
        int searchWindowMs = Exchange::kSearchWindowMs;
        // A send may take twice its time on a MIDI cable and this much more before it counts as
        // failed: a backend that never completes one must not hang the program.
        int sendMarginMs = 5000;
    };

    explicit KarmaLink(IMidiServices& services);
    KarmaLink(IMidiServices& services, Options options);
    ~KarmaLink();
    KarmaLink(const KarmaLink&) = delete;
    KarmaLink& operator=(const KarmaLink&) = delete;

    IMidiServices& Services() { return m_services; }
    Options& Settings() { return m_options; }
    // Called on the backend's thread after bytes have come in; it must not block. Calls are
    // merged: there is at most one between two Pumps.
    void SetWake(std::function<void()> wake);

    // The milliseconds of the clock the link and its exchanges run on.
    static Millis Now();

    // ---- the connection ----
    // Opens the input (its buffers queued, started) and the output; false when one step fails
    // (TakeFailures says which); what opened stays open until Close.
    bool Open(std::uint32_t inputDevice, std::uint32_t outputDevice, std::uint8_t channel);
    // Closes every port, the search's included, and abandons the exchange running.
    void Close();
    bool Connected() const { return m_input != 0 && m_output != 0; }
    bool HasPorts() const { return m_input != 0 || m_output != 0; }
    HMIDIIN InputHandle() const { return m_input; }
    std::uint32_t InputDevice() const { return m_inputDevice; }
    std::uint32_t OutputDevice() const { return m_outputDevice; }
    std::uint8_t Channel() const { return m_exchange.Channel(); }
    // The global channel learnt from an Identity Reply on ports opened by name.
    void SetChannel(std::uint8_t channel) { m_exchange.SetChannel(channel); }
    // One returned buffer could not be queued again and none could be queued in its place:
    // the input runs one buffer short (after TakeFailures reported it).
    std::size_t QueuedBuffersMissing() const { return m_shortBuffers; }

    // ---- the exchanges: one at a time; false when one runs or it cannot begin ----
    // Opens every input to listen, then asks each output in turn. Without inputs or outputs
    // it ends NotFound at once.
    bool Search();
    // Needs the connection.
    bool Identify(int silenceMs);
    bool Dump(Bytes request, int silenceMs);
    bool Write(Bytes message, int silenceMs);

    // Moves what has arrived into the exchange, makes the sends it asks for and ends what is
    // due by now. Returns the bytes that arrived since the last call.
    std::uint64_t Pump();
    // When Pump must run at the latest, if the exchange waits on time.
    std::optional<Millis> Deadline() const { return m_exchange.Deadline(); }
    bool Running() const { return m_exchange.Running(); }
    bool Ended() const { return m_exchange.Ended(); }
    ExchangeKind Kind() const { return m_exchange.Kind(); }
    ExchangeResult TakeResult();
    // Ends the running exchange as Abandoned (the search closes what it opened).
    void Abandon();

    std::vector<LinkFailure> TakeFailures();

    // For a host that may block: returns when bytes have arrived, at `until`, or on Cancel.
    void WaitForInput(Millis until);
    // Any thread. Wakes WaitForInput; the host then abandons what runs.
    void Cancel();
    bool Cancelled() const;
    // For a host that may block: runs the exchange begun to its end (Abandoned once cancelled)
    // and takes its result. `traffic` is told of every arrival's bytes, on this thread.
    ExchangeResult Await(const std::function<void(std::uint64_t)>& traffic = {});

    struct Inbox;

private:
    bool Start(bool begun);
    void RunActions();
    bool SendNow(HMIDIOUT output, const std::shared_ptr<MidiEvent>& event, const Bytes& bytes);
    void CloseSearchOutput();
    void CloseSearchPorts();
    void CloseInput(HMIDIIN input);
    void Fail(bool input, LinkFailure::Step step, MidiResult result, bool timedOut = false);
    void Refill();

    IMidiServices& m_services;
    Options m_options;
    std::unique_ptr<Inbox> m_inbox;
    Exchange m_exchange;
    std::vector<LinkFailure> m_failures;

    HMIDIIN m_input = 0;
    HMIDIOUT m_output = 0;
    std::uint32_t m_inputDevice = kNoDevice;
    std::uint32_t m_outputDevice = kNoDevice;
    std::shared_ptr<MidiEvent> m_outputEvent;
    std::size_t m_shortBuffers = 0;

    // What the search has open.
    std::vector<HMIDIIN> m_searchInputs;
    HMIDIOUT m_searchOutput = 0;
    std::uint32_t m_searchOutputDevice = kNoDevice;
    std::shared_ptr<MidiEvent> m_searchEvent;
};

}  // namespace bq::midi
