#include "midi/JackMidiServices.h"

#include <jack/jack.h>

#include <cstdlib>
#include <utility>

#include "midi/JackMidiServicesImpl.h"
#include "midi/JackServerInfo.h"

namespace bq::midi {
namespace {

using Impl = JackMidiServices::Impl;

constexpr std::size_t kMaxNameLength = 31;

std::string JackErrorText(MidiResult result) {
    switch (result) {
        case JACKERR_NO_SERVER:
            return "The JACK server is not running.";
        case JACKERR_SERVER_GONE:
            return "The JACK server has shut down or stopped responding.";
        case JACKERR_PORT_GONE:
            return "The MIDI port of this device no longer exists.";
        case JACKERR_REGISTER:
            return "The JACK server could not create a MIDI port for this program.";
        case JACKERR_CONNECT:
            return "The JACK server could not connect this program to the MIDI port.";
        case JACKERR_TOO_MANY:
            return "Too many MIDI ports are open at once.";
        default:
            return StandardMidiErrorText(result);
    }
}

std::uint32_t CountDevices(Impl* d, bool input) {
    return d->Ask(std::uint32_t{0},
                  [d, input] { return static_cast<std::uint32_t>(d->ListDevices(input).size()); });
}

// A device's name from the last listing of its direction, on the worker.
MidiResult DeviceName(Impl* d, bool input, std::uint32_t device, std::string* name) {
    if (name == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    using NameResult = std::pair<MidiResult, std::string>;
    const NameResult found =
        d->Ask(NameResult{JACKERR_SERVER_GONE, {}}, [d, input, device]() -> NameResult {
            const std::vector<std::string>& names = d->KnownDevices(input);
            if (device >= names.size()) {
                return {MMSYSERR_BADDEVICEID, {}};
            }
            return {MMSYSERR_NOERROR, names[device].substr(0, kMaxNameLength)};
        });
    if (found.first == MMSYSERR_NOERROR) {
        *name = found.second;
    }
    return found.first;
}

// Runs `open(&handle)` on the worker and hands out the handle it opened. When the call fails
// for its time limit but the open ends later, `close(handle)` closes it again there.
template <typename Open, typename Close>
MidiResult OpenHandle(Impl* d, std::uint32_t* handle, Open open, Close close) {
    struct Opened {
        MidiResult result = JACKERR_SERVER_GONE;
        std::uint32_t handle = 0;
    };
    auto opened = std::make_shared<Opened>();
    const bool ended = d->worker.Call(
        [opened, open]() mutable { opened->result = open(&opened->handle); }, d->CallLimit(),
        [opened, close]() mutable {
            if (opened->handle != 0) {
                close(opened->handle);
            }
        });
    if (!ended) {
        return JACKERR_SERVER_GONE;
    }
    if (opened->result == MMSYSERR_NOERROR) {
        *handle = opened->handle;
    }
    return opened->result;
}

}  // namespace

std::string JackLibraryVersion() {
    const char* text = jack_get_version_string();
    return text != nullptr ? text : "";
}

JackMidiServices::JackMidiServices(std::string clientName)
    : m_impl(std::make_unique<Impl>(std::move(clientName))) {}

JackMidiServices::~JackMidiServices() {
    // A worker stuck inside libjack (a server that hangs) must not hold the program at its end:
    // it is left to itself, with everything it uses.
    if (!m_impl->worker.StopWithin(m_impl->CallLimit())) {
        static_cast<void>(m_impl.release());
    }
}

bool JackMidiServices::Connected() {
    Impl* d = m_impl.get();
    return d->Ask(false, [d] { return d->EnsureClient(); });
}

void JackMidiServices::SetStallLimit(std::chrono::milliseconds limit) {
    m_impl->client.SetStallLimit(limit);
    m_impl->worker.Wake();  // a send in progress is measured against the new limit
}

void JackMidiServices::SetCallLimit(std::chrono::milliseconds limit) {
    m_impl->callLimitMs.store(limit.count());
}

std::uint32_t JackMidiServices::InGetNumDevs() {
    return CountDevices(m_impl.get(), true);
}

std::uint32_t JackMidiServices::OutGetNumDevs() {
    return CountDevices(m_impl.get(), false);
}

MidiResult JackMidiServices::InGetDevCaps(std::uint32_t device, std::string* name) {
    return DeviceName(m_impl.get(), true, device, name);
}

MidiResult JackMidiServices::OutGetDevCaps(std::uint32_t device, std::string* name) {
    return DeviceName(m_impl.get(), false, device, name);
}

MidiResult JackMidiServices::InOpen(HMIDIIN* input, std::uint32_t device, MidiInProc callback,
                                    std::uintptr_t instance) {
    if (input == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    Impl* d = m_impl.get();
    return OpenHandle(
        d, input,
        [d, device, callback, instance](HMIDIIN* opened) {
            return d->OpenInput(device, callback, instance, opened);
        },
        [d](HMIDIIN opened) { d->CloseInput(opened); });
}

MidiResult JackMidiServices::InAddBuffer(HMIDIIN input, std::unique_ptr<MidiBuffer> buffer) {
    if (!buffer || !buffer->data || buffer->length == 0) {
        return m_impl->WithPort(&Impl::inputs, input,
                                [](Impl::Input&) { return MMSYSERR_INVALPARAM; });  // freed here
    }
    // Shared with the task: freed with it when it does not run.
    auto held = std::make_shared<std::unique_ptr<MidiBuffer>>(std::move(buffer));
    return m_impl->WithPort(&Impl::inputs, input, [held](Impl::Input& in) {
        in.port->AddBuffer(std::move(*held));
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::InStart(HMIDIIN input) {
    Impl* d = m_impl.get();
    return d->WithPort(&Impl::inputs, input, [d](Impl::Input& in) {
        if (in.slot < 0 || d->client.Gone()) {
            return JACKERR_SERVER_GONE;
        }
        in.port->Start();
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::InStop(HMIDIIN input) {
    return m_impl->WithPort(&Impl::inputs, input, [](Impl::Input& in) {
        std::shared_ptr<SysExInput> port = in.port;
        port->Stop();
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::InReset(HMIDIIN input) {
    return m_impl->WithPort(&Impl::inputs, input, [](Impl::Input& in) {
        std::shared_ptr<SysExInput> port = in.port;
        port->Reset();
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::InClose(HMIDIIN input) {
    Impl* d = m_impl.get();
    return d->WithPort(&Impl::inputs, input, [d, input](Impl::Input& in) {
        if (in.port->QueuedBuffers() > 0) {
            return MIDIERR_STILLPLAYING;  // the program must reset it first
        }
        d->CloseInput(input);
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::OutOpen(HMIDIOUT* output, std::uint32_t device,
                                     std::shared_ptr<MidiEvent> event) {
    if (output == nullptr || !event) {
        return MMSYSERR_INVALPARAM;
    }
    Impl* d = m_impl.get();
    return OpenHandle(
        d, output,
        [d, device, event](HMIDIOUT* opened) { return d->OpenOutput(device, event, opened); },
        [d](HMIDIOUT opened) { d->CloseOutput(opened); });
}

MidiResult JackMidiServices::OutLongMsg(HMIDIOUT output, const std::uint8_t* data,
                                        std::size_t length) {
    if (data == nullptr || length == 0) {
        return m_impl->WithPort(&Impl::outputs, output,
                                [](Impl::Output&) { return MMSYSERR_INVALPARAM; });
    }
    Impl* d = m_impl.get();
    auto bytes = std::make_shared<std::vector<std::uint8_t>>(data, data + length);
    return d->WithPort(&Impl::outputs, output, [d, bytes](Impl::Output& out) {
        if (out.slot < 0 || d->client.Gone()) {
            return JACKERR_SERVER_GONE;
        }
        if (out.queue.empty()) {
            d->client.SendStarted();
        }
        out.queue.push_back(Impl::Pending{std::move(*bytes)});
        d->FeedOutput(out);
        d->worker.Wake();
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::OutReset(HMIDIOUT output) {
    Impl* d = m_impl.get();
    return d->WithPort(&Impl::outputs, output, [d](Impl::Output& out) {
        if (!out.queue.empty()) {
            d->FailSends(out, MIDIERR_SEND_ABANDONED);
            if (out.slot >= 0) {
                d->outPorts.Discard(out.slot);
            }
        }
        return MMSYSERR_NOERROR;
    });
}

MidiResult JackMidiServices::OutClose(HMIDIOUT output) {
    Impl* d = m_impl.get();
    return d->WithPort(&Impl::outputs, output, [d, output](Impl::Output& out) {
        if (!out.queue.empty()) {
            return MIDIERR_STILLPLAYING;  // reset it first
        }
        std::shared_ptr<MidiEvent> event = out.event;
        d->CloseOutput(output);
        event->Signal();  // and when it closes
        return MMSYSERR_NOERROR;
    });
}

std::string JackMidiServices::InGetErrorText(MidiResult result) {
    return JackErrorText(result);
}

std::string JackMidiServices::OutGetErrorText(MidiResult result) {
    return JackErrorText(result);
}

std::string JackMidiServices::DescribeServer() {
    if (!Connected()) {
        return "No JACK server is running.";
    }
    // jackd's library picks its server by this name; PipeWire's has none.
    const char* server = std::getenv("JACK_DEFAULT_SERVER");
    return DescribeJackServer(JackLibraryVersion(), server != nullptr ? server : "");
}

}  // namespace bq::midi
