#include "workstation/WSFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QEventLoop>
#include <QGuiApplication>
#include <QHideEvent>
#include <QIcon>
#include <QPointer>
#include <QShowEvent>
#include <QSplitter>
#include <QTimer>
#include <QTreeView>
#include <QTreeWidget>

#include <algorithm>
#include <utility>

#include "banktree/BankTreeView.h"
#include "banktree/ItemPane.h"
#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "midi/SysEx.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/WSBankView.h"
#include "workstation/WSMessages.h"
#include "workstation/WSSession.h"
#include "workstation/WSTransport.h"

using namespace bq::midi;

// Resources of a static library are registered by hand; outside any namespace.
static void InitWorkstationResources() {
    Q_INIT_RESOURCE(workstation);
}

namespace {

constexpr int kBankViewWidth = 250;
constexpr int kOtherViewWidth = 100;
// What the second pane gets beyond its own width when the window opens.
constexpr int kExtraWidth = 250;

// Posted by the search callback when an input has heard the instrument: ends the output's
// 500 ms at once instead of polling the flag.
const QEvent::Type kSearchAnswered = static_cast<QEvent::Type>(QEvent::registerEventType());

// One override cursor, popped on every way out of the scope that pushed it.
class OverrideCursor {
public:
    explicit OverrideCursor(Qt::CursorShape shape) {
        QGuiApplication::setOverrideCursor(QCursor(shape));
    }
    ~OverrideCursor() { QGuiApplication::restoreOverrideCursor(); }
    OverrideCursor(const OverrideCursor&) = delete;
    OverrideCursor& operator=(const OverrideCursor&) = delete;
    void Change(Qt::CursorShape shape) { QGuiApplication::changeOverrideCursor(QCursor(shape)); }
};

}  // namespace

// While the instrument is waited for, the program's windows take no input: no drag, expansion
// or command can start a second request or change what the answer is for. The progress dialog
// does the same for its transfers. Ends with the window enabled and the focus back where it
// was. Any member may find the frame gone: the wait it guards may outlive it.
class CWSFrame::InputBlock {
public:
    explicit InputBlock(CWSFrame* frame) : m_frame(frame), m_focus(QApplication::focusWidget()) {
        QWidget* window = bq::MainWindow() != nullptr ? bq::MainWindow() : frame->window();
        // One that is disabled already is someone else's to enable again.
        if (window != nullptr && window->isEnabled()) {
            window->setEnabled(false);
            m_window = window;
            frame->m_blockedWindow = window;
        }
    }
    ~InputBlock() { Release(); }
    InputBlock(const InputBlock&) = delete;
    InputBlock& operator=(const InputBlock&) = delete;

    void Release() {
        if (m_frame) {
            m_frame->m_blockedWindow = nullptr;
        }
        if (QPointer<QWidget> window = std::exchange(m_window, nullptr)) {
            window->setEnabled(true);
            if (m_focus && m_focus->isVisible() && m_focus->isEnabled()) {
                m_focus->setFocus();
            }
        }
    }

private:
    QPointer<CWSFrame> m_frame;
    QPointer<QWidget> m_focus;
    QPointer<QWidget> m_window;
};

// The state of one request's nested loop, on the requester's stack.
struct CWSFrame::Wait {
    enum class End { None, Dump, Reply, Abandoned, Silence, Destroyed };

    explicit Wait(bool wantsDump) : takesDumps(wantsDump) {}

    QEventLoop loop;
    QTimer silence;  // started only for waits without the progress dialog
    const bool takesDumps;
    End end = End::None;  // None after the loop: the application is quitting
    bool success = false;
    std::uint8_t code = 0;
    std::vector<std::uint8_t> dump;

    void Finish(End how) {
        if (end == End::None) {
            end = how;
        }
        loop.quit();
    }
};

CWSFrame::CWSFrame(IMidiServices& services, QWidget* parent)
    : QMdiSubWindow(parent),
      m_transport(new CWSTransport(services, this)),
      m_progressPeriodMs(CMIDIProgressDlg::kDefaultTimerPeriodMs),
      m_search(std::make_unique<SearchContext>()) {
    InitWorkstationResources();
    setWindowTitle(bq::LoadString(bq::StringId::WorkstationTitle));
    setWindowIcon(QIcon(QStringLiteral(":/res/images/workstation.xpm")));
    m_splitter = new QSplitter(Qt::Horizontal, this);
    m_bankView = new CWSBankView(m_splitter);
    m_otherView = new CItemPane(m_splitter);
    m_splitter->addWidget(m_bankView);
    m_splitter->addWidget(m_otherView);
    // The bank view keeps its width; the second pane takes what the window adds.
    m_splitter->setStretchFactor(0, 0);
    m_splitter->setStretchFactor(1, 1);
    m_splitter->setSizes({kBankViewWidth, kOtherViewWidth});
    setWidget(m_splitter);
    // Lives as long as the main window; closing only hides it.
    setAttribute(Qt::WA_DeleteOnClose, false);
    m_search->target = this;
    m_session = std::make_unique<CWSSession>(*this);
    // Every chunk that arrives restarts the silence bound of a waiting request.
    m_transport->installEventFilter(this);
    connect(m_transport, &CWSTransport::PortsChanged, this, &CWSFrame::MIDIStatusChanged);
}

CWSFrame::~CWSFrame() {
    // Destroyed from inside a nested loop of its own: end it; the loop's owner sees the frame
    // gone and touches nothing more.
    if (m_wait != nullptr) {
        m_wait->Finish(Wait::End::Destroyed);
        m_wait = nullptr;
    }
    if (m_searchLoop != nullptr) {
        m_searchLoop->quit();
        m_searchLoop = nullptr;
    }
    CloseSearchPorts(false);
    CloseProgressDialog();
    ClosePorts();
}

CWSFrame* CWSFrame::FromView(const QWidget* view) {
    QWidget* splitter = view != nullptr ? view->parentWidget() : nullptr;
    return splitter != nullptr ? qobject_cast<CWSFrame*>(splitter->parentWidget()) : nullptr;
}

bool CWSFrame::GetMIDIStatusText(QString* text) {
    return m_transport->GetMIDIStatusText(text);
}

bool CWSFrame::ClosePorts() {
    // The end of the connection ends what is known of the instrument through it: another one
    // may answer the next search.
    if (m_session) {
        m_session->Reset();
    }
    return m_transport->ClosePorts();
}

CMIDIProgressDlg* CWSFrame::ProgressDialog() const {
    return m_progress ? m_progress.get() : m_sharedProgress.data();
}

bool CWSFrame::IsConnected() const {
    return m_transport->InputHandle() != 0 && m_transport->OutputHandle() != 0;
}

bool CWSFrame::ConnectNow() {
    if (IsConnected()) {
        return true;
    }
    if (IsSearching()) {
        return false;
    }
    QPointer<CWSFrame> self(this);
    if (!isVisible()) {
        show();  // its connect message comes later and finds nothing left to do
    }
    OnConnect();
    return self && isVisible() && IsConnected();
}

bool CWSFrame::ConfirmEndOfConnection() {
    return m_session->ConfirmEnd();
}

void CWSFrame::SetReplySilenceMs(int ms) {
    m_replySilenceMs = ms > 0 ? ms : kDefaultReplySilenceMs;
}

void CWSFrame::SetProgressTimerPeriodMs(int ms) {
    m_progressPeriodMs = ms > 0 ? ms : CMIDIProgressDlg::kDefaultTimerPeriodMs;
}

void CWSFrame::SetSearchWindowMs(int ms) {
    m_searchWindowMs = ms > 0 ? ms : kSearchWindowMs;
}

QSize CWSFrame::sizeHint() const {
    QSize hint = QMdiSubWindow::sizeHint();
    if (m_bankView == nullptr || m_splitter == nullptr) {
        return hint;
    }
    // The title bar and borders around the panes, and the panes at their opening size.
    const QSize panes = m_splitter->sizeHint();
    const int chrome = hint.height() - panes.height();
    hint.setHeight(chrome + TreeHeightForRows(*m_bankView, kOpeningRows));
    hint.setWidth(std::max(hint.width(), hint.width() - panes.width() + kBankViewWidth +
                                             kOtherViewWidth + kExtraWidth));
    return hint;
}

ICommandTarget* CWSFrame::ActiveViewTarget() const {
    QWidget* focus = focusWidget();
    if (focus != nullptr && m_otherView != nullptr &&
        (focus == m_otherView || m_otherView->isAncestorOf(focus))) {
        return nullptr;
    }
    return dynamic_cast<ICommandTarget*>(m_bankView);
}

bool CWSFrame::OnUpdateCommand(int id, bool* enabled) {
    ICommandTarget* view = ActiveViewTarget();
    return view != nullptr && view->OnUpdateCommand(id, enabled);
}

bool CWSFrame::OnCommand(int id) {
    ICommandTarget* view = ActiveViewTarget();
    return view != nullptr && view->OnCommand(id);
}

// ---- showing, hiding, connecting ----

void CWSFrame::showEvent(QShowEvent* event) {
    QMdiSubWindow::showEvent(event);
    // Not from inside the show: the search runs nested loops and may hide the frame again.
    if (!event->spontaneous()) {
        m_connectPending = true;
        QCoreApplication::postEvent(this, new QEvent(bq::ws::WM_WS_CONNECT));
        emit MIDIStatusChanged();
    }
}

void CWSFrame::closeEvent(QCloseEvent* event) {
    event->ignore();
    QPointer<CWSFrame> self(this);
    if (!ConfirmEndOfConnection() || !self) {
        return;
    }
    hide();
}

void CWSFrame::hideEvent(QHideEvent* event) {
    QMdiSubWindow::hideEvent(event);
    if (!event->spontaneous()) {
        ClosePorts();
        emit MIDIStatusChanged();  // no longer searching, whether or not ports were open
    }
}

bool CWSFrame::event(QEvent* event) {
    if (event->type() == bq::ws::WM_WS_CONNECT) {
        OnConnect();
        return true;
    }
    if (event->type() == kSearchAnswered) {
        if (m_searchLoop != nullptr) {
            m_searchLoop->quit();
        }
        return true;
    }
    return QMdiSubWindow::event(event);
}

void CWSFrame::OnConnect() {
    m_connectPending = false;
    // A show that was undone before its message came, a second show during a search, or a
    // frame that is connected already: nothing to do.
    if (!isVisible() || m_connecting || m_transport->InputHandle() != 0) {
        emit MIDIStatusChanged();
        return;
    }
    QPointer<CWSFrame> self(this);
    m_connecting = true;
    const bool connected = OpenWorkstationPorts();
    if (!self) {
        return;
    }
    m_connecting = false;
    emit MIDIStatusChanged();
    // Hidden while it searched: the ports it has just opened must not stay open behind a
    // hidden window (hiding an already hidden frame would not close them).
    if (!connected || !isVisible()) {
        hide();
        ClosePorts();
    }
}

bool CWSFrame::OpenWorkstationPorts() {
    QPointer<CWSFrame> self(this);
    setEnabled(false);
    std::uint32_t input = kNoDevice;
    std::uint32_t output = kNoDevice;
    std::uint8_t deviceId = 0;
    while (!SearchWorkstation(&input, &output, &deviceId)) {
        if (!self) {
            return false;
        }
        const int answer =
            bq::ShowMessage(bq::StringId::WorkstationNotFound, bq::MB_YESNO | bq::MB_ICONERROR);
        if (!self) {
            return false;
        }
        if (answer != bq::IDYES) {
            break;
        }
    }
    if (!self) {
        return false;
    }
    // Enabled again on every way out: a frame that failed is hidden, and the next showing
    // disables it again for its own search.
    setEnabled(true);
    if (input == kNoDevice || output == kNoDevice) {
        return false;
    }
    // Clears the closing flag, opens both ports, queues 8 buffers and starts the input; every
    // failure is reported there.
    return m_transport->OpenConnection(input, output, deviceId);
}

// ---- the search ----

// Backend thread. Frees every buffer (none is queued again, so each input hears at most one
// message); records the first Identity Reply of the Karma and wakes the waiting loop.
void CWSFrame::SearchInputProc(HMIDIIN, std::uint32_t message, std::uintptr_t instance,
                               std::unique_ptr<MidiBuffer> buffer) {
    auto* search = reinterpret_cast<SearchContext*>(instance);
    if (search == nullptr || !buffer || message != MIM_LONGDATA || buffer->bytesRecorded == 0 ||
        !search->active.load()) {
        return;
    }
    const std::size_t n = std::min(buffer->bytesRecorded, buffer->length);
    std::uint8_t deviceId = 0;
    if (!bq::sysex::MatchIdentityReply(buffer->data.get(), n, &deviceId)) {
        return;
    }
    if (search->claimed.exchange(true)) {
        return;  // another input answered first
    }
    search->inputDevice.store(static_cast<std::uint32_t>(buffer->user));
    search->deviceId.store(deviceId);
    search->found.store(1);
    QCoreApplication::postEvent(search->target, new QEvent(kSearchAnswered));
}

bool CWSFrame::SearchWorkstation(std::uint32_t* inputDevice, std::uint32_t* outputDevice,
                                 std::uint8_t* deviceId) {
    *inputDevice = kNoDevice;
    *outputDevice = kNoDevice;
    if (!m_transport->CheckMIDIDevices()) {
        return false;
    }
    IMidiServices& services = m_transport->Services();
    QPointer<CWSFrame> self(this);
    OverrideCursor cursor(Qt::WaitCursor);
    InputBlock block(this);
    m_searching = true;
    emit MIDIStatusChanged();
    // Cleared on every way out, the frame's destruction included.
    struct Searching {
        QPointer<CWSFrame> frame;
        ~Searching() {
            if (frame) {
                frame->m_searching = false;
                emit frame->MIDIStatusChanged();
            }
        }
    } searching{self};

    m_search->found.store(0);
    m_search->claimed.store(false);
    m_search->inputDevice.store(kNoDevice);
    m_search->deviceId.store(0);
    m_search->active.store(true);

    const std::uint32_t inputs = services.InGetNumDevs();
    for (std::uint32_t device = 0; device < inputs; ++device) {
        HMIDIIN input = 0;
        MidiResult result = services.InOpen(&input, device, &CWSFrame::SearchInputProc,
                                            reinterpret_cast<std::uintptr_t>(m_search.get()));
        if (result != MMSYSERR_NOERROR) {
            bq::ReportMidiInError(services, result);
            continue;
        }
        m_searchInputs.push_back(input);
        result = services.InAddBuffer(
            input, std::make_unique<MidiBuffer>(CWSTransport::kInputBufferSize, device));
        if (result == MMSYSERR_NOERROR) {
            result = services.InStart(input);
        }
        if (result != MMSYSERR_NOERROR) {
            bq::ReportMidiInError(services, result);
        }
        if (!self) {
            return false;
        }
    }

    // One event serves every output tried; the search's own, dropped at the end.
    const std::shared_ptr<MidiEvent> event = CreateMidiEvent();
    const auto request = bq::sysex::IdentityRequest();
    std::uint32_t answered = kNoDevice;
    const std::uint32_t outputs = services.OutGetNumDevs();
    for (std::uint32_t device = 0; device < outputs; ++device) {
        MidiResult result = services.OutOpen(&m_searchOutput, device, event);
        if (result != MMSYSERR_NOERROR) {
            m_searchOutput = 0;
            bq::ReportMidiOutError(services, result);
            if (!self) {
                return false;
            }
            continue;
        }
        // Whether it went out does not matter: silence moves the search on.
        CWSTransport::SendSysEx(services, m_searchOutput, *event, request.data(), request.size(),
                                m_transport->SendTimeoutMs(request.size()));
        if (!self) {
            return false;
        }
        if (m_search->found.load() == 0) {
            QEventLoop loop;
            QTimer window;
            window.setSingleShot(true);
            window.setTimerType(Qt::PreciseTimer);
            connect(&window, &QTimer::timeout, &loop, &QEventLoop::quit);
            window.start(m_searchWindowMs);
            m_searchLoop = &loop;
            loop.exec();
            if (!self) {
                return false;
            }
            m_searchLoop = nullptr;
        }
        for (auto call : {&IMidiServices::OutReset, &IMidiServices::OutClose}) {
            result = (services.*call)(m_searchOutput);
            if (result != MMSYSERR_NOERROR) {
                bq::ReportMidiOutError(services, result);
                if (!self) {
                    return false;
                }
            }
        }
        m_searchOutput = 0;
        if (m_search->found.load() != 0) {
            answered = device;
            break;
        }
    }

    CloseSearchPorts(true);
    if (!self) {
        return false;
    }
    // Read only now that no input is open, so no callback can still write. A reply heard
    // after the last output was closed is not credited to any output: it does not count.
    if (answered == kNoDevice || m_search->found.load() == 0) {
        return false;
    }
    *inputDevice = m_search->inputDevice.load();
    *outputDevice = answered;
    *deviceId = m_search->deviceId.load();
    return true;
}

void CWSFrame::CloseSearchPorts(bool report) {
    IMidiServices& services = m_transport->Services();
    if (m_searchOutput != 0) {
        services.OutReset(m_searchOutput);
        services.OutClose(m_searchOutput);
        m_searchOutput = 0;
    }
    // Taken first: a report below runs a message box, and so the event loop.
    const std::vector<HMIDIIN> inputs = std::exchange(m_searchInputs, {});
    for (HMIDIIN input : inputs) {
        for (auto call :
             {&IMidiServices::InStop, &IMidiServices::InReset, &IMidiServices::InClose}) {
            const MidiResult result = (services.*call)(input);
            if (result != MMSYSERR_NOERROR && report) {
                bq::ReportMidiInError(services, result);
            }
        }
    }
    m_search->active.store(false);
}

// ---- requests ----

bool CWSFrame::RunWait(Wait& wait) {
    QPointer<CWSFrame> self(this);
    m_wait = &wait;
    m_transport->SetReplySink([&wait](QEvent* event) {
        if (wait.end != Wait::End::None) {
            return;  // one answer per request; what follows is dropped
        }
        if (event->type() == bq::ws::WM_WS_REPLY) {
            auto* reply = static_cast<bq::ws::ReplyEvent*>(event);
            wait.success = reply->Success();
            wait.code = reply->Code();
            wait.Finish(Wait::End::Reply);
        } else if (wait.takesDumps) {
            wait.dump = static_cast<bq::ws::DumpReceivedEvent*>(event)->TakeMessage();
            wait.Finish(Wait::End::Dump);
        }
        // A dump during an item write is dropped with its event.
    });
    if (CMIDIProgressDlg* progress = ProgressDialog()) {
        // The dialog's question (and a backup's Cancel) is the only bound of a wait that shows
        // it. Ending, the dialog has enabled the main window, but the request is not over yet.
        auto abandon = [this, &wait] {
            if (m_blockedWindow) {
                m_blockedWindow->setEnabled(false);
            }
            wait.Finish(Wait::End::Abandoned);
        };
        connect(progress, &CMIDIProgressDlg::TransferAbandoned, &wait.loop, abandon);
        connect(progress, &CMIDIProgressDlg::TransferCancelled, &wait.loop, abandon);
    } else {
        wait.silence.setSingleShot(true);
        connect(&wait.silence, &QTimer::timeout, &wait.loop,
                [&wait] { wait.Finish(Wait::End::Silence); });
        wait.silence.start(m_replySilenceMs);
    }
    // Ends on the answer, the No of the progress dialog, the silence bound, or when the
    // application quits (which ends every running loop and lets no new one start).
    wait.loop.exec();
    if (!self) {
        return false;
    }
    wait.silence.stop();
    m_transport->SetReplySink({});
    m_wait = nullptr;
    // Given up before the answer was complete: what is left of it may still come, and must
    // not be assembled into the answer to the next request.
    if (wait.end != Wait::End::Dump && wait.end != Wait::End::Reply) {
        m_transport->SkipToNextMessage();
    }
    return true;
}

bool CWSFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_transport && event->type() == bq::ws::WM_WS_SYSEX_CHUNK && m_wait != nullptr &&
        m_wait->silence.isActive()) {
        m_wait->silence.start();  // bytes are arriving: the instrument is not silent
    }
    return QMdiSubWindow::eventFilter(watched, event);
}

void CWSFrame::CloseProgressDialog() {
    m_transport->SetProgressDialog(nullptr);
    // Its destruction stops its timer and enables the main window again.
    m_progress.reset();
}

bool CWSFrame::RequestDump(std::uint8_t* request, std::size_t length, const QString& statusText,
                           std::uint32_t expected, unsigned headerLength,
                           std::vector<std::uint8_t>* data) {
    DumpEnd end = DumpEnd::NotSent;
    return RunDumpRequest(request, length, statusText, expected, headerLength, data, nullptr, &end);
}

bool CWSFrame::RequestDumpWith(CMIDIProgressDlg* dialog, std::uint8_t* request, std::size_t length,
                               unsigned headerLength, std::vector<std::uint8_t>* data,
                               DumpEnd* end) {
    DumpEnd ignored = DumpEnd::NotSent;
    if (end == nullptr) {
        end = &ignored;
    }
    // A dialog given up already (Cancel, or No) has ended the whole series.
    if (dialog == nullptr || dialog->HasEnded()) {
        *end = DumpEnd::GivenUp;
        return false;
    }
    return RunDumpRequest(request, length, QString(), 0, headerLength, data, dialog, end);
}

bool CWSFrame::RunDumpRequest(std::uint8_t* request, std::size_t length, const QString& statusText,
                              std::uint32_t expected, unsigned headerLength,
                              std::vector<std::uint8_t>* data, CMIDIProgressDlg* shared,
                              DumpEnd* end) {
    *end = DumpEnd::NotSent;
    // One request at a time: the instrument's answers carry nothing to tell them apart.
    if (request == nullptr || length < 3 || data == nullptr || IsBusy()) {
        return false;
    }
    OverrideCursor cursor(Qt::WaitCursor);
    InputBlock block(this);
    if (shared != nullptr) {
        m_sharedProgress = shared;
        m_transport->SetProgressDialog(shared);
        cursor.Change(Qt::BusyCursor);
    }
    request[2] = bq::sysex::ChannelByte(m_transport->GlobalChannel());

    Wait wait(true);
    m_transport->BeginRequest();
    const bool sent = m_transport->SendSysEx(request, length);
    // Made while the instrument answers: the dump's first chunks are handled only in the wait,
    // so the dialog counts every byte.
    if (sent && shared == nullptr && expected >= kProgressThreshold) {
        m_progress = std::make_unique<CMIDIProgressDlg>(m_progressPeriodMs);
        m_transport->SetProgressDialog(m_progress.get());
        m_progress->BeginTransfer(bq::MainWindow(), statusText, expected);
        cursor.Change(Qt::BusyCursor);
    }
    if (sent && !RunWait(wait)) {
        return false;  // the frame is gone
    }
    if (shared != nullptr) {
        m_transport->SetProgressDialog(nullptr);
        m_sharedProgress = nullptr;  // the caller's, to close when its series ends
    } else {
        CloseProgressDialog();
    }
    block.Release();
    // The frame passes the focus on to its view, which is where the request came from.
    if (m_bankView != nullptr) {
        m_bankView->setFocus();
    } else {
        setFocus();
    }
    if (!sent) {
        return false;
    }
    switch (wait.end) {
        case Wait::End::Dump:
            *end = DumpEnd::Received;
            break;
        case Wait::End::Reply:
            *end = DumpEnd::Refused;
            return false;
        case Wait::End::Silence:
            *end = DumpEnd::Silent;
            return false;
        default:
            *end = DumpEnd::GivenUp;
            return false;
    }
    unsigned long decoded = static_cast<unsigned long>(wait.dump.size());
    bq::sysex::UnpackSysEx(headerLength, wait.dump.data(), &decoded);
    wait.dump.resize(decoded);
    *data = std::move(wait.dump);
    return true;
}

bool CWSFrame::SendPacked(const std::uint8_t* record, std::size_t count, const std::uint8_t* header,
                          std::size_t headerLength) {
    if (header == nullptr || headerLength != bq::sysex::kHeaderLength ||
        (record == nullptr && count != 0) || IsBusy()) {
        return false;
    }
    OverrideCursor cursor(Qt::WaitCursor);
    InputBlock block(this);
    {
        std::vector<std::uint8_t> message = bq::sysex::BuildItemWrite(header, record, count);
        bq::sysex::ApplyChannel(message.data(), message.size(), m_transport->GlobalChannel());
        m_transport->BeginRequest();
        if (!m_transport->SendSysEx(message.data(), message.size())) {
            return false;
        }
    }
    Wait wait(false);
    if (!RunWait(wait)) {
        return false;
    }
    return wait.end == Wait::End::Reply && wait.success;
}
