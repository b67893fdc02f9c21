#pragma once

// In-process MIDI services for tests and for end-to-end checks without a JACK server. The
// "instrument" is an IMidiDevice (the virtual Karma or a test's script) wired between one
// output and one input; the program side sees ordinary devices with names.
//
// Threads: the service calls come from the program's thread (and InAddBuffer also from the
// callback); device handling, paced delivery and every input callback run on the loopback's
// own worker thread.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/HandleTable.h"
#include "midi/MidiBackend.h"
#include "midi/MidiDevice.h"
#include "midi/MidiServices.h"

namespace bq::midi {

// The service calls that fault injection can make fail. OutLongMsgDone is the completion of a
// send: the call itself succeeds and the output event is signalled with the result.
enum class MidiCall {
    InGetNumDevs,  // fails as a count of 0
    OutGetNumDevs,
    InGetDevCaps,
    OutGetDevCaps,
    InOpen,
    InAddBuffer,
    InStart,
    InStop,
    InReset,
    InClose,
    OutOpen,
    OutLongMsg,
    OutLongMsgDone,
    OutReset,
    OutClose,
};

class LoopbackMidiServices final : public IMidiServices {
public:
    // A rule of fault injection: the matching calls after the first `skip` fail with `result`,
    // `times` of them (negative: all). `device` limits it to one device number (for handle
    // calls, the device the handle was opened on); -1 matches any. `text` is what the error
    // text calls return for `result` (empty: the standard text).
    struct Fault {
        MidiCall call = MidiCall::InOpen;
        MidiResult result = MMSYSERR_ERROR;
        std::string text;
        int times = -1;
        int skip = 0;
        int device = -1;
    };

    LoopbackMidiServices(std::vector<std::string> inputNames, std::vector<std::string> outputNames);
    ~LoopbackMidiServices() override;

    // Wiring. Complete messages sent on `output` go to `device`; its replies arrive on `input`.
    // The device is shared so that it outlives the worker's use of it.
    bool AttachDevice(std::uint32_t output, std::uint32_t input,
                      std::shared_ptr<IMidiDevice> device);
    void DetachDevice(std::uint32_t output);

    // Bytes that arrive on an input as if a device had sent them (a test's own script), after
    // `delayMs` from the previous run scheduled on that input. Paced and filtered like replies.
    bool Inject(std::uint32_t input, std::vector<std::uint8_t> bytes, std::uint32_t delayMs = 0);

    // Largest number of bytes a buffer takes before it goes back (default 4096; 0 or more than
    // the buffer size: the buffer's size). Applies to inputs opened afterwards and open ones.
    void SetChunkSize(std::uint32_t bytes);
    // Delivery rate in bytes per second on every input; 0 (the default) is unlimited.
    // 3125 is the rate of a MIDI cable.
    void SetByteRate(std::uint32_t bytesPerSecond);
    // While held, sends are handed to the device but their completion waits (for OutReset and
    // the program's own time-outs); releasing completes them in order.
    void HoldSends(bool hold);

    void AddFault(Fault fault);
    void ClearFaults();

    // Waits until nothing is scheduled for delivery and every input has either delivered all it
    // received or has no buffer to put it in. False after `timeoutMs`.
    bool WaitIdle(int timeoutMs = 10000);

    // Complete messages sent on an output so far, in order.
    std::vector<std::vector<std::uint8_t>> SentMessages(std::uint32_t output) const;
    void ClearSentMessages();
    // Buffers queued on an open input; 0 for a handle that is not open.
    std::size_t QueuedBuffers(HMIDIIN input) const;
    // Number of inputs / outputs open now.
    std::size_t OpenInputs() const;
    std::size_t OpenOutputs() const;

    // IMidiServices
    std::uint32_t InGetNumDevs() override;
    std::uint32_t OutGetNumDevs() override;
    MidiResult InGetDevCaps(std::uint32_t device, std::string* name) override;
    MidiResult OutGetDevCaps(std::uint32_t device, std::string* name) override;
    MidiResult InOpen(HMIDIIN* input, std::uint32_t device, MidiInProc callback,
                      std::uintptr_t instance) override;
    MidiResult InAddBuffer(HMIDIIN input, std::unique_ptr<MidiBuffer> buffer) override;
    MidiResult InStart(HMIDIIN input) override;
    MidiResult InStop(HMIDIIN input) override;
    MidiResult InReset(HMIDIIN input) override;
    MidiResult InClose(HMIDIIN input) override;
    MidiResult OutOpen(HMIDIOUT* output, std::uint32_t device,
                       std::shared_ptr<MidiEvent> event) override;
    MidiResult OutLongMsg(HMIDIOUT output, const std::uint8_t* data, std::size_t length) override;
    MidiResult OutReset(HMIDIOUT output) override;
    MidiResult OutClose(HMIDIOUT output) override;
    std::string InGetErrorText(MidiResult result) override;
    std::string OutGetErrorText(MidiResult result) override;

private:
    using Clock = std::chrono::steady_clock;

    struct Run {
        std::uint32_t delayMs = 0;
        std::vector<std::uint8_t> bytes;
    };
    // What travels towards one input device, and how far it has got.
    struct Line {
        std::deque<Run> runs;
        std::size_t offset = 0;     // bytes of runs.front() already delivered
        Clock::time_point ready{};  // the front run may start (after its delay)
        bool readySet = false;
    };
    struct Input {
        std::uint32_t device = 0;
        std::shared_ptr<SysExInput> port;
    };
    struct Output {
        std::uint32_t device = 0;
        std::shared_ptr<MidiEvent> event;
        std::vector<std::uint8_t> partial;  // a message continued by the next send
        std::size_t held = 0;               // sends waiting for HoldSends(false)
    };
    struct Wiring {
        std::uint32_t input = 0;
        std::shared_ptr<IMidiDevice> device;
    };

    int Poll();
    void Deliver(std::uint32_t inputDevice, Line& line, Clock::time_point now, int* waitMs);
    void FeedInput(std::uint32_t inputDevice, const std::uint8_t* bytes, std::size_t count);
    void Schedule(std::uint32_t inputDevice, std::uint32_t delayMs,
                  std::vector<std::uint8_t> bytes);
    void HandleSent(std::uint32_t outputDevice, Output& output, const std::uint8_t* data,
                    std::size_t length);
    bool IsIdle() const;
    // The first checks of a call on a device number: fault rules, the number, the arguments.
    MidiResult CheckDevice(MidiCall call, std::uint32_t device, std::size_t devices,
                           bool argumentsGiven);
    // Checks an open of `device` and runs `open()` on the worker to add its entry to `table`,
    // unless an open handle of the table uses the device already.
    template <typename Entry, typename Open>
    MidiResult OpenDevice(HandleTable<Entry>& table, MidiCall call, std::uint32_t device,
                          std::size_t devices, bool argumentsGiven, Open open);
    // Runs `action(entry)` on the worker for an open handle of `table` and returns its result,
    // unless a fault rule for `call` on the handle's device fails the call first.
    template <typename Entry, typename Action>
    MidiResult WithHandle(HandleTable<Entry>& table, std::uint32_t handle, MidiCall call,
                          Action action);
    // Checks the fault rules for one call; true (with *result set) when it must fail.
    bool Fails(MidiCall call, std::int64_t device, MidiResult* result);
    std::string ErrorText(MidiResult result);

    std::vector<std::string> m_inputNames;
    std::vector<std::string> m_outputNames;

    // Worker-owned state; the program's calls reach it through m_worker.RunSync.
    HandleSource m_handles;
    HandleTable<Input> m_inputs{m_handles};
    HandleTable<Output> m_outputs{m_handles};
    std::map<std::uint32_t, Wiring> m_wiring;                    // by output device
    std::map<std::uint32_t, Line> m_lines;                       // by input device
    std::vector<std::vector<std::vector<std::uint8_t>>> m_sent;  // by output device
    std::uint32_t m_chunkSize = 4096;
    std::uint32_t m_byteRate = 0;
    bool m_holdSends = false;

    std::mutex m_faultMutex;  // faults are checked on the worker and on the calling thread
    struct FaultState {
        Fault fault;
        int seen = 0;
        int fired = 0;
    };
    std::vector<FaultState> m_faults;
    std::map<MidiResult, std::string> m_faultTexts;

    // Last member: its thread stops before the state above goes away.
    BackendWorker m_worker;
};

}  // namespace bq::midi
