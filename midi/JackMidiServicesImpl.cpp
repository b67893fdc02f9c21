#include "midi/JackMidiServicesImpl.h"

#include <algorithm>

namespace bq::midi {
namespace {

// How long the program's thread waits for a call that the worker runs (it may be inside libjack,
// waiting for a server that hangs) before the call fails.
constexpr std::chrono::milliseconds kDefaultCallLimit{10000};

}  // namespace

JackMidiServices::Impl::Impl(std::string name)
    : client(std::move(name), worker, &Impl::ProcessPorts, this),
      callLimitMs(kDefaultCallLimit.count()),
      worker([this] { return Poll(); }) {}

JackMidiServices::Impl::~Impl() {
    worker.Stop();
    for (auto& [handle, output] : outputs) {
        FailSends(output, MIDIERR_SEND_ABANDONED);
    }
    if (client.IsOpen() && client.Gone()) {
        DropClient();
    }
    // Before the port tables free their rings: after this no process callback runs.
    client.Close();
}

bool JackMidiServices::Impl::ProcessPorts(jack_nframes_t frames, void* arg) {
    auto* impl = static_cast<Impl*>(arg);
    const bool received = impl->inPorts.Process(frames);
    const bool sent = impl->outPorts.Process(frames);
    return received || sent;
}

bool JackMidiServices::Impl::EnsureClient() {
    if (client.IsOpen() && client.Gone()) {
        DropClient();
    }
    return client.Open();
}

void JackMidiServices::Impl::DropClient() {
    for (auto& [handle, output] : outputs) {
        FailSends(output, JACKERR_SERVER_GONE);
    }
    client.Drop([this] {
        inPorts.UnpublishAll();
        outPorts.UnpublishAll();
    });
    // Open handles stay until the program closes them, without ports.
    FreeSlots(inputs, inPorts);
    FreeSlots(outputs, outPorts);
    inDevices = {};
    outDevices = {};
}

// Lists the devices of one direction now.
std::vector<std::string>& JackMidiServices::Impl::ListDevices(bool input) {
    std::vector<std::string> listed;
    if (EnsureClient()) {
        // Our inputs read from the server's output ports, and the other way round.
        listed = client.ListPorts(input ? JackPortIsOutput : JackPortIsInput);
    }
    Devices& devices = input ? inDevices : outDevices;
    devices.names = std::move(listed);
    devices.listed = true;
    return devices.names;
}

// The devices of one direction as last listed; listed now when they never were.
std::vector<std::string>& JackMidiServices::Impl::KnownDevices(bool input) {
    Devices& devices = input ? inDevices : outDevices;
    return devices.listed ? devices.names : ListDevices(input);
}

// Registers our own port for `device`, gives it a ring in a free slot and connects it to the
// device's port; on success the new handle and its slot are returned through the pointers.
MidiResult JackMidiServices::Impl::OpenPort(bool input, std::uint32_t device, std::uint32_t* handle,
                                            int* slot) {
    if (!EnsureClient()) {
        return JACKERR_NO_SERVER;
    }
    const std::vector<std::string>& names = KnownDevices(input);
    if (device >= names.size()) {
        return MMSYSERR_BADDEVICEID;
    }
    const std::string theirs = names[device];
    if (!client.PortExists(theirs)) {
        return JACKERR_PORT_GONE;
    }
    JackPortTable& ports = input ? inPorts : outPorts;
    const int index = ports.Allocate();
    if (index < 0) {
        return JACKERR_TOO_MANY;
    }
    // Our port is named after its handle, which is never handed out again.
    const std::uint32_t id = handles.Next();
    const MidiResult result =
        ports.Open(client, index, (input ? "in_" : "out_") + std::to_string(id), theirs);
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    *handle = id;
    *slot = index;
    return MMSYSERR_NOERROR;
}

MidiResult JackMidiServices::Impl::OpenInput(std::uint32_t device, MidiInProc callback,
                                             std::uintptr_t instance, HMIDIIN* handle) {
    HMIDIIN opened = 0;
    int slot = -1;
    const MidiResult result = OpenPort(true, device, &opened, &slot);
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    auto port = std::make_shared<SysExInput>(opened, callback, instance);
    inputs.Insert(opened, Input{slot, port});
    *handle = opened;
    port->Notify(MIM_OPEN);
    return MMSYSERR_NOERROR;
}

MidiResult JackMidiServices::Impl::OpenOutput(std::uint32_t device,
                                              std::shared_ptr<MidiEvent> event, HMIDIOUT* handle) {
    HMIDIOUT opened = 0;
    int slot = -1;
    const MidiResult result = OpenPort(false, device, &opened, &slot);
    if (result != MMSYSERR_NOERROR) {
        return result;
    }
    Output output;
    output.slot = slot;
    output.event = event;
    outputs.Insert(opened, std::move(output));
    *handle = opened;
    event->Signal();  // an output's event is signalled when it opens
    return MMSYSERR_NOERROR;
}

// Closes an open input, queued buffers or not (the program's InClose checks first).
void JackMidiServices::Impl::CloseInput(HMIDIIN handle) {
    if (std::optional<Input> input = Release(inputs, inPorts, handle)) {
        input->port->Notify(MIM_CLOSE);
    }
}

// Closes an open output without signalling its event (OutClose signals it).
void JackMidiServices::Impl::CloseOutput(HMIDIOUT handle) {
    Release(outputs, outPorts, handle);
}

void JackMidiServices::Impl::FailSends(Output& output, MidiResult result) {
    if (!output.queue.empty()) {
        output.queue.clear();
        output.event->Signal(result);
    }
}

void JackMidiServices::Impl::FeedOutput(Output& output) {
    if (output.slot < 0) {
        return;
    }
    // Nothing new goes in until the process thread has dropped what a reset abandoned.
    if (!outPorts.Discarding(output.slot)) {
        for (Pending& pending : output.queue) {
            if (pending.written < pending.bytes.size()) {
                const std::size_t size =
                    outPorts.Write(output.slot, pending.bytes.data() + pending.written,
                                   pending.bytes.size() - pending.written);
                pending.written += size;
                output.ringWritten += size;
                if (pending.written < pending.bytes.size()) {
                    break;
                }
                pending.end = output.ringWritten;
            }
        }
    }
    const std::uint64_t consumed = outPorts.Consumed(output.slot);
    while (!output.queue.empty()) {
        const Pending& front = output.queue.front();
        if (front.written < front.bytes.size() || consumed < front.end) {
            break;
        }
        output.queue.pop_front();
        output.event->Signal(MMSYSERR_NOERROR);  // its last byte is in a port buffer
    }
}

// Runs when woken (a task, the process callback moving bytes, the server's end) or when the
// stall check is due; sleeps without a bound otherwise.
int JackMidiServices::Impl::Poll() {
    if (client.Retired() && !client.CloseRetired()) {
        // Only while libjack's thread leaves: microseconds, as a rule.
        return JackClient::kRetireCheckMs;
    }
    if (!client.IsOpen()) {
        return -1;
    }
    if (client.Gone()) {
        DropClient();
        return client.Retired() ? JackClient::kRetireCheckMs : -1;
    }
    // Received bytes first (no callback runs while the rings are read), then the callbacks:
    // a callback may close its own input, which frees the ring.
    std::vector<std::shared_ptr<SysExInput>> ports;
    for (auto& [handle, input] : inputs) {
        if (input.slot >= 0) {
            while (std::size_t n = inPorts.Read(input.slot, scratch.data(), scratch.size())) {
                input.port->Feed(scratch.data(), n);
            }
        }
        ports.push_back(input.port);
    }
    for (auto& port : ports) {
        port->Pump();
    }

    bool sending = false;
    for (auto& [handle, output] : outputs) {
        FeedOutput(output);
        sending = sending || !output.queue.empty();
    }
    int waitMs = -1;
    if (!client.WatchProgress(sending, &waitMs)) {
        DropClient();
        return -1;
    }
    return waitMs;
}

}  // namespace bq::midi
