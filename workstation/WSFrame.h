#pragma once

// The Workstation window: the one document window that holds the connection to the instrument.
// It stays hidden until View Workstation shows it; showing searches for the instrument and
// connects, hiding (and closing, which only hides) closes the ports. While connected it offers
// the Workstation view two blocking requests, RequestDump and SendPacked, each a nested event
// loop on the user-interface thread.
//
// User-interface thread only; the MIDI traffic arrives through its transport's posted events.

#include <QMdiSubWindow>
#include <QPointer>
#include <QString>
#include <QTreeWidget>  // complete, so that callers may compare the view with other widgets

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "banktree/CommandTarget.h"
#include "midi/MidiServices.h"

class CItemPane;
class CMIDIProgressDlg;
class CWSSession;
class CWSTransport;
class QEventLoop;
class QSplitter;
class QTreeView;

class CWSFrame : public QMdiSubWindow, public ICommandTarget {
    Q_OBJECT

public:
    static constexpr std::uint32_t kNoDevice = 0xFFFFFFFFu;
    // How long each output is given to answer the Identity Request.
    static constexpr int kSearchWindowMs = 500;
    // Dumps expected to be this large or larger show the progress dialog.
    static constexpr std::uint32_t kProgressThreshold = 4096;
    // A wait without the progress dialog fails after this long without a byte arriving.
    static constexpr int kDefaultReplySilenceMs = 5000;
    // Rows of the bank view that the window shows when it first opens.
    static constexpr int kOpeningRows = 24;

    explicit CWSFrame(bq::midi::IMidiServices& services, QWidget* parent = nullptr);
    ~CWSFrame() override;

    // The frame of a view in its left pane (view, splitter, frame); null elsewhere.
    static CWSFrame* FromView(const QWidget* view);

    // The status bar's MIDI text; false leaves `text` unchanged. Asks the MIDI services only
    // for the names of newly opened ports: MIDIStatusChanged says when to ask again.
    bool GetMIDIStatusText(QString* text);
    bool ClosePorts();

    // Sends the Identity Request to each output in turn while listening on every input; true
    // with the input, output and device id of the instrument that answered.
    bool SearchWorkstation(std::uint32_t* inputDevice, std::uint32_t* outputDevice,
                           std::uint8_t* deviceId);
    // Searches (asking again while the user says Yes) and opens the ports that answered.
    bool OpenWorkstationPorts();

    // Sends a dump request (its byte 2 is set to the global channel in place) and waits for
    // the dump; true with the unpacked bytes in *data. `expected` only decides whether the
    // progress dialog shows. False when the send fails, the instrument answers with a status
    // reply, the user gives up, the application quits, or (without the dialog) the instrument
    // stays silent for the reply bound.
    bool RequestDump(std::uint8_t* request, std::size_t length, const QString& statusText,
                     std::uint32_t expected, unsigned headerLength,
                     std::vector<std::uint8_t>* data);
    // How a dump request ended.
    enum class DumpEnd { Received, NotSent, Refused, GivenUp, Silent };
    // RequestDump for one of several dumps under a progress dialog of the caller's, begun
    // already (a backup): the dump's bytes count there, and its Cancel or the No to its
    // no-traffic question gives the request up. The dialog stays up. *end says how it ended.
    bool RequestDumpWith(CMIDIProgressDlg* dialog, std::uint8_t* request, std::size_t length,
                         unsigned headerLength, std::vector<std::uint8_t>* data, DumpEnd* end);
    // Sends one Item Write (header, packed record, F7) and waits for its status reply; true on
    // a Completed Reply.
    bool SendPacked(const std::uint8_t* record, std::size_t count, const std::uint8_t* header,
                    std::size_t headerLength);
    // How a write ended. Unanswered: it went out but no status reply came (silence, or the wait
    // was given up), so the instrument may or may not have stored it.
    enum class WriteEnd { Completed, Refused, NotSent, Unanswered };
    bool SendPacked(const std::uint8_t* record, std::size_t count, const std::uint8_t* header,
                    std::size_t headerLength, WriteEnd* end);

    // The silence that ends a wait without the progress dialog (a write, the round trip's small
    // dump), and the progress dialog's no-traffic period; shortened by tests.
    void SetReplySilenceMs(int ms);
    void SetProgressTimerPeriodMs(int ms);
    int ProgressTimerPeriodMs() const { return m_progressPeriodMs; }
    // How long each output is given to answer the Identity Request; lengthened by tests.
    void SetSearchWindowMs(int ms);

    // The left pane: the Workstation view, made with the frame.
    QTreeWidget* BankView() const { return m_bankView; }
    // The right pane: what the item selected in the bank view is.
    CItemPane* SecondView() const { return m_otherView; }
    QSplitter* Splitter() const { return m_splitter; }

    CWSTransport& Transport() { return *m_transport; }
    // The dialog of the dump being received, if it shows one.
    CMIDIProgressDlg* ProgressDialog() const;
    // What this connection has downloaded and written, with Undo and Redo.
    CWSSession& Session() { return *m_session; }
    bool IsConnected() const;
    // Shows the window and searches at once (instead of from the message that showing posts);
    // true when it is connected, as it may be already.
    bool ConnectNow();
    // Before the connection is ended on purpose (closing the window, leaving the program):
    // asks whether the writes that could still be undone may be forgotten. False: keep it.
    bool ConfirmEndOfConnection();
    bool IsWaiting() const { return m_wait != nullptr; }
    // From the showing that starts a search until the connection is made or given up (the
    // "not found" question included).
    bool IsSearching() const {
        return (m_connectPending && isVisible()) || m_connecting || m_searching;
    }
    // A request or the search waits for the instrument: a new request is refused, without
    // sending anything.
    bool IsBusy() const { return m_wait != nullptr || IsSearching(); }

    // The main window's commands go to the active view: the bank view, unless the keyboard
    // focus is in the second pane, which handles none.
    bool OnUpdateCommand(int id, bool* enabled) override;
    bool OnCommand(int id) override;

    // The size the window opens at: the bank view shows kOpeningRows rows.
    QSize sizeHint() const override;

signals:
    // What GetMIDIStatusText or IsSearching say may have changed: the window was shown or
    // hidden, a search began or ended, ports were opened or closed.
    void MIDIStatusChanged();
    // A request began or ended to wait for the instrument (IsWaiting, and with the search
    // IsBusy): commands that would start another follow it.
    void BusyChanged();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    struct Wait;
    class InputBlock;

    void OnConnect();
    // Runs the nested loop of a request; false when the frame was destroyed meanwhile (then
    // nothing of it may be touched).
    bool RunWait(Wait& wait);
    // RequestDump's work, with a dialog of its own (`shared` null) or the caller's.
    bool RunDumpRequest(std::uint8_t* request, std::size_t length, const QString& statusText,
                        std::uint32_t expected, unsigned headerLength,
                        std::vector<std::uint8_t>* data, CMIDIProgressDlg* shared, DumpEnd* end);
    void CloseProgressDialog();
    ICommandTarget* ActiveViewTarget() const;

    CWSTransport* m_transport = nullptr;  // child object
    QSplitter* m_splitter = nullptr;
    QTreeWidget* m_bankView = nullptr;  // left pane, 250 pixels
    CItemPane* m_otherView = nullptr;   // right pane, 100 pixels

    std::unique_ptr<CMIDIProgressDlg> m_progress;
    QPointer<CMIDIProgressDlg> m_sharedProgress;  // a caller's dialog, for one request
    std::unique_ptr<CWSSession> m_session;
    int m_replySilenceMs = kDefaultReplySilenceMs;
    int m_progressPeriodMs;
    int m_searchWindowMs = kSearchWindowMs;

    bool m_connectPending = false;  // WM_WS_CONNECT posted, not handled yet
    bool m_connecting = false;
    bool m_searching = false;
    // The window disabled while the instrument is waited for.
    QPointer<QWidget> m_blockedWindow;

    Wait* m_wait = nullptr;  // the request waiting now, on its caller's stack
};
