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
#include "workstation/WSMemory.h"
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

// The state of one exchange's nested loop, on the requester's stack.
struct CWSFrame::Wait {
    enum class End { None, Ended, Abandoned, Destroyed };

    QEventLoop loop;
    End end = End::None;  // None after the loop: the application is quitting

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
      m_progressPeriodMs(CMIDIProgressDlg::kDefaultTimerPeriodMs) {
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
    m_session = std::make_unique<CWSSession>(*this);
    static_cast<CWSBankView*>(m_bankView)->ShowMemory(&m_session->Memory());
    connect(m_transport, &CWSTransport::PortsChanged, this, &CWSFrame::MIDIStatusChanged);
    connect(m_transport, &CWSTransport::ExchangeEnded, this, [this] {
        if (m_wait != nullptr) {
            m_wait->Finish(Wait::End::Ended);
        }
    });
}

CWSFrame::~CWSFrame() {
    // Destroyed from inside a nested loop of its own: end it; the loop's owner sees the frame
    // gone and touches nothing more.
    if (m_wait != nullptr) {
        m_wait->Finish(Wait::End::Destroyed);
        m_wait = nullptr;
    }
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
        m_session->ConnectionEnded();
    }
    return m_transport->ClosePorts();
}

CMIDIProgressDlg* CWSFrame::ProgressDialog() const {
    return m_progress ? m_progress.get() : m_sharedProgress.data();
}

bool CWSFrame::IsConnected() const {
    return m_transport->IsConnected();
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
    return QMdiSubWindow::event(event);
}

void CWSFrame::OnConnect() {
    m_connectPending = false;
    // A show that was undone before its message came, a second show during a search, or a
    // frame that is connected already: nothing to do.
    if (!isVisible() || m_connecting || m_transport->IsConnected()) {
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
        // Hidden while it searched (closing the window ends the search): nothing to ask.
        if (!self || !isVisible()) {
            break;
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

bool CWSFrame::SearchWorkstation(std::uint32_t* inputDevice, std::uint32_t* outputDevice,
                                 std::uint8_t* deviceId) {
    *inputDevice = kNoDevice;
    *outputDevice = kNoDevice;
    if (!m_transport->CheckMIDIDevices()) {
        return false;
    }
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

    // Every input listens while each output in turn is asked; the exchange gives each its
    // window and closes what it opened when it ends.
    if (!m_transport->BeginSearch(m_searchWindowMs) || !self) {
        return false;
    }
    Wait wait;
    if (!RunWait(wait)) {
        return false;  // the frame is gone
    }
    const bq::midi::ExchangeResult result = m_transport->TakeResult();
    if (result.end != bq::midi::ExchangeEnd::Found) {
        return false;
    }
    *inputDevice = result.input;
    *outputDevice = result.output;
    *deviceId = result.channel;
    return true;
}

// ---- requests ----

bool CWSFrame::RunWait(Wait& wait) {
    QPointer<CWSFrame> self(this);
    m_wait = &wait;
    emit BusyChanged();
    if (!m_transport->Running()) {
        wait.Finish(Wait::End::Ended);  // it ended as it began (a send that failed)
    }
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
    }
    // Ends when the exchange ends (its answer, its silence bound), on the No of the progress
    // dialog, or when the application quits (which ends every running loop and lets no new one
    // start).
    if (wait.end == Wait::End::None) {
        wait.loop.exec();
    }
    if (!self) {
        return false;
    }
    m_wait = nullptr;
    // Given up: the rest of the answer, if any, is ignored up to the next message.
    if (m_transport->Running()) {
        m_transport->Abandon();
    }
    emit BusyChanged();
    return self;
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
    if (request == nullptr || length < 3 || data == nullptr || IsBusy() || !IsConnected()) {
        return false;
    }
    QPointer<CWSFrame> self(this);
    OverrideCursor cursor(Qt::WaitCursor);
    InputBlock block(this);
    if (shared != nullptr) {
        m_sharedProgress = shared;
        m_transport->SetProgressDialog(shared);
        cursor.Change(Qt::BusyCursor);
    }
    request[2] = bq::sysex::ChannelByte(m_transport->GlobalChannel());
    // With a progress dialog its question bounds the wait; without one, silence does.
    const bool dialog = shared != nullptr || expected >= kProgressThreshold;
    const bool begun = m_transport->BeginDump(std::vector<std::uint8_t>(request, request + length),
                                              dialog ? 0 : m_replySilenceMs);
    if (!self) {
        return false;
    }
    // Made while the instrument answers: what arrives is counted from the first byte.
    if (begun && shared == nullptr && expected >= kProgressThreshold && m_transport->Running()) {
        m_progress = std::make_unique<CMIDIProgressDlg>(m_progressPeriodMs);
        m_transport->SetProgressDialog(m_progress.get());
        m_progress->BeginTransfer(bq::MainWindow(), statusText, expected);
        cursor.Change(Qt::BusyCursor);
    }
    Wait wait;
    if (begun && !RunWait(wait)) {
        return false;  // the frame is gone
    }
    const bq::midi::ExchangeResult result =
        begun ? m_transport->TakeResult() : bq::midi::ExchangeResult{};
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
    if (!begun) {
        return false;
    }
    switch (result.end) {
        case bq::midi::ExchangeEnd::Dump:
            *end = DumpEnd::Received;
            break;
        case bq::midi::ExchangeEnd::NotSent:
            *end = DumpEnd::NotSent;
            return false;
        case bq::midi::ExchangeEnd::Refused:
            *end = DumpEnd::Refused;
            return false;
        case bq::midi::ExchangeEnd::Silent:
            *end = DumpEnd::Silent;
            return false;
        default:
            *end = DumpEnd::GivenUp;
            return false;
    }
    std::vector<std::uint8_t> message = result.message;
    unsigned long decoded = static_cast<unsigned long>(message.size());
    bq::sysex::UnpackSysEx(headerLength, message.data(), &decoded);
    message.resize(decoded);
    *data = std::move(message);
    return true;
}

bool CWSFrame::SendPacked(const std::uint8_t* record, std::size_t count, const std::uint8_t* header,
                          std::size_t headerLength) {
    return SendPacked(record, count, header, headerLength, nullptr);
}

bool CWSFrame::SendPacked(const std::uint8_t* record, std::size_t count, const std::uint8_t* header,
                          std::size_t headerLength, WriteEnd* end) {
    WriteEnd ignored = WriteEnd::NotSent;
    if (end == nullptr) {
        end = &ignored;
    }
    *end = WriteEnd::NotSent;
    if (header == nullptr || headerLength != bq::sysex::kHeaderLength ||
        (record == nullptr && count != 0) || IsBusy() || !IsConnected()) {
        return false;
    }
    QPointer<CWSFrame> self(this);
    OverrideCursor cursor(Qt::WaitCursor);
    InputBlock block(this);
    const bool begun =
        m_transport->BeginWrite(bq::sysex::BuildItemWrite(header, record, count), m_replySilenceMs);
    if (!self || !begun) {
        return false;
    }
    Wait wait;
    if (!RunWait(wait)) {
        return false;
    }
    switch (m_transport->TakeResult().end) {
        case bq::midi::ExchangeEnd::Completed:
            *end = WriteEnd::Completed;
            return true;
        case bq::midi::ExchangeEnd::Refused:
            *end = WriteEnd::Refused;
            return false;
        case bq::midi::ExchangeEnd::NotSent:
            *end = WriteEnd::NotSent;
            return false;
        default:
            // Silence, or given up after it went out: the instrument may have stored it.
            *end = WriteEnd::Unanswered;
            return false;
    }
}
