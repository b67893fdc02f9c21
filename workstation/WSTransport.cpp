#include "workstation/WSTransport.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/WSMessages.h"

using namespace bq::midi;

namespace {

KarmaLink::Options WindowLinkOptions() {
    KarmaLink::Options options;
    options.bufferSize = CWSTransport::kInputBufferSize;
    options.buffers = CWSTransport::kInputBuffers;
    return options;
}

}  // namespace

CWSTransport::CWSTransport(IMidiServices& services, QObject* parent)
    : QObject(parent), m_services(services), m_link(services, WindowLinkOptions()) {
    // Backend thread: only a posted event, to an object that outlives every open port.
    QObject* target = this;
    m_link.SetWake(
        [target] { QCoreApplication::postEvent(target, new QEvent(bq::ws::WM_WS_SYSEX_CHUNK)); });
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, &CWSTransport::Pump);
}

CWSTransport::~CWSTransport() {
    m_link.Close();
    QCoreApplication::removePostedEvents(this);
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

void CWSTransport::ReportFailures() {
    QPointer<CWSTransport> self(this);
    for (const LinkFailure& failure : m_link.TakeFailures()) {
        // A send that never completed has no text of the services; its caller says what failed.
        if (failure.timedOut) {
            continue;
        }
        if (failure.input) {
            bq::ReportMidiInError(m_services, failure.result);
        } else {
            bq::ReportMidiOutError(m_services, failure.result);
        }
        if (!self) {
            return;  // the report's message box ran the event loop, and the window went
        }
    }
}

bool CWSTransport::OpenConnection(std::uint32_t inputDevice, std::uint32_t outputDevice,
                                  std::uint8_t globalChannel) {
    m_namesRead = false;
    const bool opened = m_link.Open(inputDevice, outputDevice, globalChannel);
    QPointer<CWSTransport> self(this);
    // Whatever it opened, the status follows.
    emit PortsChanged();
    if (self) {
        ReportFailures();
    }
    return opened;
}

bool CWSTransport::ClosePorts() {
    const bool open = m_link.HasPorts();
    m_link.Close();
    m_namesRead = false;
    m_deadline.stop();
    QPointer<CWSTransport> self(this);
    if (open) {
        emit PortsChanged();
    }
    if (self) {
        FollowUp();  // an exchange cut short ends; close failures are reported
    }
    return true;
}

bool CWSTransport::GetMIDIStatusText(QString* text) {
    if (!m_link.Connected()) {
        *text = bq::LoadString(bq::StringId::MidiNotConnected);
        return true;
    }
    if (!m_namesRead) {
        std::string inputName, outputName;
        // A name that cannot be read is no reason to say anything but connected: the port is
        // then named by its number.
        if (m_services.InGetDevCaps(InputDevice(), &inputName) != MMSYSERR_NOERROR) {
            inputName.clear();
        }
        if (m_services.OutGetDevCaps(OutputDevice(), &outputName) != MMSYSERR_NOERROR) {
            outputName.clear();
        }
        auto name = [](const std::string& name, std::uint32_t device) {
            return name.empty() ? bq::FormatText(bq::LoadString(bq::StringId::MidiPortNumber),
                                                 {QString::number(device + 1)})
                                : QString::fromStdString(name);
        };
        m_inputName = name(inputName, InputDevice());
        m_outputName = name(outputName, OutputDevice());
        m_namesRead = true;
    }
    *text =
        bq::FormatText(bq::LoadString(bq::StringId::MidiConnected), {m_inputName, m_outputName});
    return true;
}

bool CWSTransport::BeginSearch(int windowMs) {
    if (m_link.Running()) {
        return false;
    }
    m_link.Settings().searchWindowMs = windowMs;
    const bool begun = m_link.Search();
    m_endTold = !begun;
    FollowUp();
    return begun;
}

bool CWSTransport::BeginDump(std::vector<std::uint8_t> request, int silenceMs) {
    const bool begun = m_link.Dump(std::move(request), silenceMs);
    m_endTold = !begun;
    FollowUp();
    return begun;
}

bool CWSTransport::BeginWrite(std::vector<std::uint8_t> message, int silenceMs) {
    const bool begun = m_link.Write(std::move(message), silenceMs);
    m_endTold = !begun;
    FollowUp();
    return begun;
}

void CWSTransport::Abandon() {
    m_link.Abandon();
    FollowUp();
}

bool CWSTransport::event(QEvent* event) {
    if (event->type() == bq::ws::WM_WS_SYSEX_CHUNK) {
        Pump();
        return true;
    }
    return QObject::event(event);
}

void CWSTransport::Pump() {
    const std::uint64_t bytes = m_link.Pump();
    QPointer<CWSTransport> self(this);
    if (bytes != 0) {
        // Every byte counts as traffic for the progress dialog, status replies included.
        if (m_progress) {
            m_progress->UpdateProgress(static_cast<std::uint32_t>(bytes));
        }
        emit Traffic(bytes);
    }
    if (self) {
        FollowUp();
    }
}

void CWSTransport::FollowUp() {
    QPointer<CWSTransport> self(this);
    ReportFailures();
    if (!self) {
        return;
    }
    if (const auto deadline = m_link.Deadline()) {
        const Millis wait = std::max<Millis>(0, *deadline - KarmaLink::Now());
        m_deadline.start(static_cast<int>(std::min<Millis>(wait, 24 * 3600 * 1000)));
    } else {
        m_deadline.stop();
    }
    if (m_link.Ended() && !m_endTold) {
        m_endTold = true;
        emit ExchangeEnded();
    }
}
