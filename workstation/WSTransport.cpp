#include "workstation/WSTransport.h"

#include <QCoreApplication>

#include <algorithm>
#include <utility>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "midi/SysEx.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/WSMessages.h"

using namespace bq::midi;
using bq::ws::DumpReceivedEvent;
using bq::ws::ReplyEvent;
using bq::ws::SysExChunkEvent;

namespace {

// A MIDI cable carries 3125 bytes per second.
constexpr std::size_t kMidiBytesPerSecond = 3125;

}  // namespace

CWSTransport::CWSTransport(IMidiServices& services, QObject* parent)
    : QObject(parent), m_services(services), m_context(std::make_unique<InputContext>()) {
    m_context->target = this;
    m_context->services = &services;
}

CWSTransport::~CWSTransport() {
    ClosePorts();
}

bool CWSTransport::IsClosing() const {
    return m_context->closing.load() != 0;
}

void CWSTransport::SetProgressDialog(CMIDIProgressDlg* dialog) {
    m_progress = dialog;
}

bool CWSTransport::CheckMIDIDevices() {
    if (m_services.InGetNumDevs() == 0) {
        bq::ShowMessage(bq::StringId::NoMidiInputs, bq::MB_ICONERROR);
        return false;
    }
    if (m_services.OutGetNumDevs() == 0) {
        bq::ShowMessage(bq::StringId::NoMidiOutputs, bq::MB_ICONERROR);
        return false;
    }
    return true;
}

bool CWSTransport::OpenConnection(std::uint32_t inputDevice, std::uint32_t outputDevice,
                                  std::uint8_t globalChannel) {
    m_inputDevice = inputDevice;
    m_outputDevice = outputDevice;
    m_globalChannel = globalChannel;
    m_context->closing.store(0);
    DropPartialMessage();

    MidiResult result = m_services.InOpen(&m_hMidiIn, inputDevice, &ConnectedInputProc,
                                          reinterpret_cast<std::uintptr_t>(m_context.get()));
    if (result != MMSYSERR_NOERROR) {
        bq::ReportMidiInError(m_services, result);
        m_hMidiIn = 0;
        return false;
    }
    m_outputEvent = CreateMidiEvent();
    result = m_services.OutOpen(&m_hMidiOut, outputDevice, m_outputEvent);
    if (result != MMSYSERR_NOERROR) {
        bq::ReportMidiOutError(m_services, result);
        m_hMidiOut = 0;
        return false;
    }
    for (int i = 0; i < kInputBuffers; ++i) {
        if (!AddInputBuffer()) {
            return false;
        }
    }
    result = m_services.InStart(m_hMidiIn);
    if (result != MMSYSERR_NOERROR) {
        bq::ReportMidiInError(m_services, result);
        return false;
    }
    return true;
}

bool CWSTransport::ClosePorts() {
    // Set first: the buffers that the reset below returns must be freed, not queued again.
    m_context->closing.store(1);
    if (m_hMidiIn != 0) {
        for (auto call :
             {&IMidiServices::InStop, &IMidiServices::InReset, &IMidiServices::InClose}) {
            const MidiResult result = (m_services.*call)(m_hMidiIn);
            if (result != MMSYSERR_NOERROR) {
                bq::ReportMidiInError(m_services, result);
            }
        }
        m_hMidiIn = 0;
    }
    if (m_hMidiOut != 0) {
        for (auto call : {&IMidiServices::OutReset, &IMidiServices::OutClose}) {
            const MidiResult result = (m_services.*call)(m_hMidiOut);
            if (result != MMSYSERR_NOERROR) {
                bq::ReportMidiOutError(m_services, result);
            }
        }
        m_hMidiOut = 0;
    }
    m_outputEvent.reset();
    DropPartialMessage();
    return true;
}

bool CWSTransport::GetMIDIStatusText(QString* text) {
    if (m_hMidiIn == 0) {
        *text = bq::LoadString(bq::StringId::MidiNotConnected);
        return true;
    }
    std::string inputName, outputName;
    if (m_services.InGetDevCaps(m_inputDevice, &inputName) != MMSYSERR_NOERROR ||
        m_services.OutGetDevCaps(m_outputDevice, &outputName) != MMSYSERR_NOERROR) {
        return false;
    }
    *text = bq::FormatText(bq::LoadString(bq::StringId::MidiConnected),
                           {QString::fromStdString(inputName), QString::fromStdString(outputName)});
    return true;
}

bool CWSTransport::AddInputBuffer() {
    // The backend frees the buffer when it refuses it.
    const MidiResult result =
        m_services.InAddBuffer(m_hMidiIn, std::make_unique<MidiBuffer>(kInputBufferSize));
    if (result != MMSYSERR_NOERROR) {
        bq::ReportMidiInError(m_services, result);
        return false;
    }
    return true;
}

int CWSTransport::SendTimeoutMs(std::size_t length) const {
    const std::size_t cableMs = length * 1000 / kMidiBytesPerSecond;
    return static_cast<int>(
        std::min<std::size_t>(2 * cableMs + static_cast<std::size_t>(m_sendMarginMs), 600000));
}

bool CWSTransport::SendSysEx(const std::uint8_t* data, std::size_t length) {
    if (m_hMidiOut == 0 || !m_outputEvent) {
        return false;
    }
    return SendSysEx(m_services, m_hMidiOut, *m_outputEvent, data, length, SendTimeoutMs(length));
}

bool CWSTransport::SendSysEx(IMidiServices& services, HMIDIOUT output, MidiEvent& event,
                             const std::uint8_t* data, std::size_t length, int timeoutMs) {
    // Opening and every earlier send leave the event signalled.
    event.Reset();
    MidiResult result = services.OutLongMsg(output, data, length);
    if (result != MMSYSERR_NOERROR) {
        bq::ReportMidiOutError(services, result);
        return false;
    }
    // Blocks the user-interface thread for the send; one that never completes counts as
    // failed rather than hanging the program.
    if (!event.Wait(timeoutMs, &result)) {
        // Abandon it, so that its late completion cannot pass for the next send's.
        services.OutReset(output);
        return false;
    }
    if (result != MMSYSERR_NOERROR) {
        bq::ReportMidiOutError(services, result);
        return false;
    }
    return true;
}

// Backend thread. Copies, re-queues and posts; touches nothing else of the transport.
void CWSTransport::ConnectedInputProc(HMIDIIN input, std::uint32_t message, std::uintptr_t instance,
                                      std::unique_ptr<MidiBuffer> buffer) {
    auto* context = reinterpret_cast<InputContext*>(instance);
    // Open and close notices and short messages carry no buffer. A buffer with a broken
    // message (MIM_LONGERROR) keeps its place in the queue, but its bytes are not passed on:
    // they would be taken for a reply; the next F0 starts afresh.
    if (context == nullptr || !buffer || (message != MIM_LONGDATA && message != MIM_LONGERROR)) {
        return;
    }
    if (message == MIM_LONGDATA && buffer->bytesRecorded != 0) {
        const std::uint32_t n = std::min(buffer->bytesRecorded, buffer->length);
        std::vector<std::uint8_t> chunk(buffer->data.get(), buffer->data.get() + n);
        QCoreApplication::postEvent(context->target, new SysExChunkEvent(std::move(chunk)));
    }
    if (context->closing.load() != 0) {
        return;  // the buffer goes with the unique_ptr
    }
    buffer->flags = 0;
    buffer->bytesRecorded = 0;
    if (context->services->InAddBuffer(input, std::move(buffer)) != MMSYSERR_NOERROR) {
        // The user-interface thread queues a fresh one and reports if that fails too.
        QCoreApplication::postEvent(context->target, new QEvent(bq::ws::WM_WS_REQUEUE_BUFFER));
    }
}

bool CWSTransport::event(QEvent* event) {
    switch (static_cast<int>(event->type())) {
        case bq::ws::WM_WS_SYSEX_CHUNK:
            OnSysExChunk(static_cast<SysExChunkEvent*>(event)->Chunk());
            return true;
        case bq::ws::WM_WS_REQUEUE_BUFFER:
            OnRequeueBuffer();
            return true;
        case bq::ws::WM_WS_REPLY:
        case bq::ws::WM_WS_DUMP_RECEIVED:
            // Nobody waiting: dropped, and Qt frees the event with the message it owns.
            // A copy: the sink may replace itself (a wait that ends clears it).
            if (ReplySink sink = m_replySink) {
                sink(event);
            }
            return true;
        default:
            return QObject::event(event);
    }
}

void CWSTransport::DropPartialMessage() {
    std::vector<std::uint8_t>().swap(m_reassembly);
    m_discarding = false;
}

void CWSTransport::SkipToNextMessage() {
    DropPartialMessage();
    m_discarding = true;
}

void CWSTransport::BeginRequest() {
    // Posted before the request is sent, so answers to nothing it asks. Events posted from the
    // backend's thread meanwhile are safe: Qt guards its queue.
    for (QEvent::Type type :
         {bq::ws::WM_WS_SYSEX_CHUNK, bq::ws::WM_WS_REPLY, bq::ws::WM_WS_DUMP_RECEIVED}) {
        QCoreApplication::removePostedEvents(this, type);
    }
    SkipToNextMessage();
}

void CWSTransport::OnSysExChunk(const std::vector<std::uint8_t>& chunk) {
    if (chunk.empty()) {
        return;
    }
    // Every byte counts as traffic for the progress dialog, status replies included.
    if (m_progress) {
        m_progress->UpdateProgress(static_cast<std::uint32_t>(chunk.size()));
    }
    if (chunk.front() == bq::sysex::kSysExStart) {
        DropPartialMessage();
    } else if (m_discarding) {
        return;
    }
    if (m_reassembly.size() + chunk.size() > kReassemblyLimit) {
        DropPartialMessage();
        m_discarding = true;
        return;
    }
    m_reassembly.insert(m_reassembly.end(), chunk.begin(), chunk.end());
    if (chunk.back() != bq::sysex::kSysExEnd) {
        return;
    }

    std::vector<std::uint8_t> message;
    message.swap(m_reassembly);
    const bq::sysex::Reply reply =
        bq::sysex::Classify(message.data(), message.size(), m_globalChannel);
    switch (reply.kind) {
        case bq::sysex::ReplyKind::Completed:
            QCoreApplication::postEvent(this, new ReplyEvent(true, 0));
            break;
        case bq::sysex::ReplyKind::Failed:
            QCoreApplication::postEvent(this, new ReplyEvent(false, 0));
            break;
        case bq::sysex::ReplyKind::Error:
            QCoreApplication::postEvent(this, new ReplyEvent(false, reply.errorCode));
            break;
        case bq::sysex::ReplyKind::Dump:
            QCoreApplication::postEvent(this, new DumpReceivedEvent(std::move(message)));
            break;
    }
}

void CWSTransport::OnRequeueBuffer() {
    // A request posted just before the ports closed finds nothing to queue on.
    if (m_hMidiIn == 0 || IsClosing()) {
        return;
    }
    AddInputBuffer();
}
