#pragma once

// The modeless dialog shown while a large dump is on its way: what is loading, kilobytes so
// far, a bar and an animation. It watches for silence: a timer tick that finds no data since
// the previous one asks whether to keep waiting, and data arriving while that question is open
// withdraws it with Yes. The main window stays disabled while the dialog is up.
//
// User-interface thread only; UpdateProgress is reached through posted chunk events.

#include <QBasicTimer>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QString>

#include <cstdint>

class QLabel;
class QMovie;
class QProgressBar;
class QPushButton;

class CMIDIProgressDlg : public QDialog {
    Q_OBJECT

public:
    static constexpr int kDefaultTimerPeriodMs = 5000;

    // The dialog has no Qt parent: its owner (the request that shows it) deletes it, and the
    // window it disables is given to BeginTransfer.
    explicit CMIDIProgressDlg(int timerPeriodMs = kDefaultTimerPeriodMs);
    ~CMIDIProgressDlg() override;

    // Disables `parent`, fills the controls and shows the dialog. Returns true.
    bool BeginTransfer(QWidget* parent, const QString& statusText, std::uint32_t expected);
    // Counts `bytes` more received; nothing once the dialog has ended.
    void UpdateProgress(std::uint32_t bytes);

    // The whole-backup variant: one dialog over a series of dumps, `expected` bytes in all.
    // Its Cancel button is enabled (Escape and the title bar's Close press it), and a line
    // under the kilobytes says how long the rest will take at the rate measured so far.
    bool BeginBackup(QWidget* parent, std::uint32_t expected);
    // The same for a restore, whose count is of the bytes sent: "Sent ... KBytes...". Its
    // Cancel ends the dialog; the write under way ends on its own.
    bool BeginRestore(QWidget* parent, std::uint32_t expected);
    // The line above the bar: what is being received (or sent) now.
    void SetStatusText(const QString& text);
    bool IsBackup() const { return m_backup; }
    // True once Cancel has ended the dialog.
    bool Cancelled() const { return m_cancelled; }
    // "Time left: 5:16" for `received` of `expected` bytes after `elapsedMs`; the time stays
    // unknown ("--:--") until something has come for a second.
    static QString TimeLeftText(std::uint64_t received, std::uint64_t expected,
                                std::int64_t elapsedMs);

    std::uint32_t Expected() const { return m_expected; }
    std::uint32_t Received() const { return m_received; }
    int TimerPeriodMs() const { return m_timerPeriodMs; }
    // True once the user has given up (No) or the dialog is being destroyed.
    bool HasEnded() const { return m_ended; }
    // Set while the no-traffic question of any progress dialog is on screen.
    static bool PromptOpen() { return s_promptOpen != 0; }

signals:
    // The user answered No to the no-traffic question: the transfer has failed. The dialog is
    // already hidden, its timer stopped and the parent enabled; the receiver may delete it.
    void TransferAbandoned();
    // Cancel was pressed in a backup: ended like TransferAbandoned.
    void TransferCancelled();

protected:
    void timerEvent(QTimerEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void BuildControls();
    void OnInitDialog();
    void Tick();
    void AskToContinue();
    // What destroying the window did: stop the timer, enable the parent. Runs once.
    void EndDialog();
    QString KBytesText() const;
    void OnCancel();

    static int s_promptOpen;

    const int m_timerPeriodMs;
    QString m_statusText;
    std::uint32_t m_expected = 0;
    QPointer<QWidget> m_parent;
    std::uint32_t m_received = 0;
    int m_traffic = 0;

    bool m_begun = false;
    bool m_ended = false;
    bool m_askPending = false;    // the question is queued, not shown yet
    bool m_questionOpen = false;  // this dialog's question is on screen
    bool m_backup = false;
    bool m_sending = false;  // a restore: the count is of bytes sent
    bool m_cancelled = false;
    QElapsedTimer m_clock;  // since the backup began

    QBasicTimer m_timer;
    QLabel* m_animation = nullptr;
    QMovie* m_movie = nullptr;
    QLabel* m_status = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_kbytes = nullptr;
    QLabel* m_timeLeft = nullptr;  // backups only
    QPushButton* m_cancel = nullptr;
};
