#include "workstation/MIDIProgressDlg.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QTimerEvent>

#include <algorithm>
#include <climits>

#include "messages/Messages.h"
#include "messages/StringTable.h"

// Resources of a static library are registered by hand; outside any namespace.
static void InitWorkstationResources() {
    Q_INIT_RESOURCE(workstation);
}

namespace {

// The proportions of the dialog in dialog units, turned into pixels by the dialog font: the
// least room the controls get. The layout gives them more when their texts need it.
constexpr int kMarginLeftDu = 7;
constexpr int kMarginTopDu = 4;
constexpr int kMarginRightDu = 7;
constexpr int kMarginBottomDu = 6;
constexpr int kContentWidthDu = 179;
constexpr int kAnimationHeightDu = 20;
constexpr int kStatusHeightDu = 8;
constexpr int kStatusToBarDu = 4;
constexpr int kBarHeightDu = 9;
constexpr int kBarToButtonDu = 7;
constexpr int kKBytesWidthDu = 121;
constexpr int kKBytesToButtonDu = 8;
constexpr int kButtonWidthDu = 50;
constexpr int kButtonHeightDu = 14;

// Dialog base units of a font, measured the way the platform does: the average width of the
// 52 letters and the full height.
struct DialogUnits {
    explicit DialogUnits(const QFont& font) {
        const QFontMetrics metrics(font);
        const int letters = metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
        baseX = std::max(1, (letters / 26 + 1) / 2);
        baseY = std::max(1, metrics.height());
    }
    int X(int du) const { return (du * baseX + 2) / 4; }
    int Y(int du) const { return (du * baseY + 4) / 8; }
    int baseX = 6;
    int baseY = 13;
};

}  // namespace

int CMIDIProgressDlg::s_promptOpen = 0;

CMIDIProgressDlg::CMIDIProgressDlg(int timerPeriodMs)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_timerPeriodMs(timerPeriodMs > 0 ? timerPeriodMs : kDefaultTimerPeriodMs) {
    InitWorkstationResources();
    BuildControls();
}

CMIDIProgressDlg::~CMIDIProgressDlg() {
    EndDialog();
    if (m_questionOpen) {
        // Deleted from inside its own question's loop: take the question away with it.
        m_questionOpen = false;
        s_promptOpen = 0;
        bq::WithdrawMessage(bq::IDNO);
    }
}

void CMIDIProgressDlg::BuildControls() {
    setWindowTitle(bq::LoadString(bq::StringId::ProgressTitle));
    setFont(QFont(QStringLiteral("MS Shell Dlg"), 8));
    const DialogUnits du(font());

    m_animation = new QLabel(this);
    m_animation->setObjectName(QStringLiteral("animation"));
    m_animation->setMinimumSize(du.X(kContentWidthDu), du.Y(kAnimationHeightDu));
    m_animation->setAlignment(Qt::AlignCenter);
    m_animation->setAttribute(Qt::WA_TranslucentBackground);
    m_movie = new QMovie(QStringLiteral(":/bankquill/transfer.gif"), QByteArray(), this);
    m_movie->setCacheMode(QMovie::CacheAll);
    m_animation->setMovie(m_movie);

    m_status = new QLabel(bq::LoadString(bq::StringId::ProgressStatusPlaceholder), this);
    m_status->setObjectName(QStringLiteral("statusText"));
    m_status->setTextFormat(Qt::PlainText);
    m_status->setMinimumHeight(du.Y(kStatusHeightDu));

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progressBar"));
    m_progress->setMinimumSize(du.X(kContentWidthDu), du.Y(kBarHeightDu));
    m_progress->setTextVisible(false);

    m_kbytes = new QLabel(bq::LoadString(bq::StringId::ProgressKBytesPlaceholder), this);
    m_kbytes->setObjectName(QStringLiteral("kbytesText"));
    m_kbytes->setMinimumWidth(du.X(kKBytesWidthDu));

    m_cancel = new QPushButton(bq::LoadString(bq::StringId::Cancel), this);
    m_cancel->setObjectName(QStringLiteral("cancelButton"));
    m_cancel->setMinimumSize(du.X(kButtonWidthDu), du.Y(kButtonHeightDu));
    m_cancel->setEnabled(false);
    m_cancel->setAutoDefault(false);

    // Top to bottom: animation, status text, bar, then the kilobyte text with the button on
    // its right. The dialog takes the size its contents need (more at a larger font or a
    // longer text) and the user cannot resize it.
    auto* bottomRow = new QHBoxLayout;
    bottomRow->setSpacing(du.X(kKBytesToButtonDu));
    bottomRow->addWidget(m_kbytes, 1);
    bottomRow->addWidget(m_cancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(du.X(kMarginLeftDu), du.Y(kMarginTopDu), du.X(kMarginRightDu),
                               du.Y(kMarginBottomDu));
    layout->setSpacing(0);
    layout->addWidget(m_animation);
    layout->addWidget(m_status);
    layout->addSpacing(du.Y(kStatusToBarDu));
    layout->addWidget(m_progress);
    layout->addSpacing(du.Y(kBarToButtonDu));
    layout->addLayout(bottomRow);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    connect(m_cancel, &QPushButton::clicked, this, &CMIDIProgressDlg::OnCancel);
}

bool CMIDIProgressDlg::BeginTransfer(QWidget* parent, const QString& statusText,
                                     std::uint32_t expected) {
    m_parent = parent;
    m_statusText = statusText;
    m_expected = expected;
    m_received = 0;
    m_begun = true;
    if (m_parent) {
        m_parent->setEnabled(false);
    }
    OnInitDialog();
    show();
    return true;
}

bool CMIDIProgressDlg::BeginBackup(QWidget* parent, std::uint32_t expected) {
    m_backup = true;
    // A backup's dialog has one more line under the kilobytes: the time left.
    const DialogUnits du(font());
    m_timeLeft = new QLabel(this);
    m_timeLeft->setObjectName(QStringLiteral("timeLeftText"));
    m_timeLeft->setMinimumSize(du.X(kKBytesWidthDu), du.Y(kStatusHeightDu));
    if (auto* column = qobject_cast<QVBoxLayout*>(layout())) {
        column->addWidget(m_timeLeft);
    }
    m_timeLeft->setText(TimeLeftText(0, expected, 0));
    m_cancel->setEnabled(true);
    m_clock.start();
    return BeginTransfer(parent, QString(), expected);
}

bool CMIDIProgressDlg::BeginRestore(QWidget* parent, std::uint32_t expected) {
    m_sending = true;
    return BeginBackup(parent, expected);
}

void CMIDIProgressDlg::SetStatusText(const QString& text) {
    m_statusText = text;
    m_status->setText(text);
}

QString CMIDIProgressDlg::TimeLeftText(std::uint64_t received, std::uint64_t expected,
                                       std::int64_t elapsedMs) {
    QString left = QStringLiteral("--:--");
    if (received > 0 && elapsedMs >= 1000) {
        const std::uint64_t rest = expected > received ? expected - received : 0;
        const auto seconds =
            static_cast<long long>(static_cast<double>(rest) * static_cast<double>(elapsedMs) /
                                       1000.0 / static_cast<double>(received) +
                                   0.5);
        left = seconds >= 3600 ? QString::asprintf("%lld:%02lld:%02lld", seconds / 3600,
                                                   seconds / 60 % 60, seconds % 60)
                               : QString::asprintf("%lld:%02lld", seconds / 60, seconds % 60);
    }
    return bq::FormatText(bq::LoadString(bq::StringId::TimeLeft), {left});
}

void CMIDIProgressDlg::OnCancel() {
    if (!m_backup || m_ended) {
        return;
    }
    m_cancelled = true;
    EndDialog();
    emit TransferCancelled();  // may delete this dialog: nothing after it
}

void CMIDIProgressDlg::OnInitDialog() {
    m_status->setText(m_statusText);
    m_kbytes->setText(KBytesText());
    m_progress->setRange(0, static_cast<int>(std::min<std::uint32_t>(m_expected, INT_MAX)));
    m_progress->setValue(0);
    if (m_movie->isValid()) {
        m_movie->start();
    }
    m_timer.start(m_timerPeriodMs, this);
}

QString CMIDIProgressDlg::KBytesText() const {
    return bq::FormatText(
        bq::LoadString(m_sending ? bq::StringId::SentKBytes : bq::StringId::ReceivedKBytes),
        {QString::number(m_received / 1024), QString::number(m_expected / 1024)});
}

void CMIDIProgressDlg::UpdateProgress(std::uint32_t bytes) {
    if (!m_begun || m_ended) {
        return;
    }
    m_received += bytes;
    m_kbytes->setText(KBytesText());
    // More than expected leaves the bar full rather than out of range (which it would ignore).
    m_progress->setValue(
        static_cast<int>(std::min({m_received, m_expected, std::uint32_t{INT_MAX}})));
    m_traffic = 1;
    if (m_timeLeft != nullptr) {
        m_timeLeft->setText(TimeLeftText(m_received, m_expected, m_clock.elapsed()));
    }
}

void CMIDIProgressDlg::timerEvent(QTimerEvent* event) {
    if (event->timerId() == m_timer.timerId()) {
        Tick();
        return;
    }
    QDialog::timerEvent(event);
}

void CMIDIProgressDlg::Tick() {
    if (m_traffic == 0 && s_promptOpen == 0) {
        // Asked from the event loop, not from this tick: Qt holds back a timer's ticks while its
        // own handler runs, and the ticks must go on while the question is open.
        s_promptOpen = 1;
        m_askPending = true;
        QMetaObject::invokeMethod(this, &CMIDIProgressDlg::AskToContinue, Qt::QueuedConnection);
    } else if (m_traffic != 0 && s_promptOpen != 0) {
        // Data has resumed while the question is open: answer it with Yes.
        if (m_askPending) {
            m_askPending = false;  // not on screen yet; it need not appear at all
            s_promptOpen = 0;
        } else {
            bq::WithdrawMessage(bq::IDYES);
        }
    }
    m_traffic = 0;
}

void CMIDIProgressDlg::AskToContinue() {
    if (!m_askPending || m_ended) {
        return;
    }
    m_askPending = false;
    m_questionOpen = true;
    QPointer<CMIDIProgressDlg> self(this);
    const int answer =
        bq::ShowMessage(bq::StringId::NoTrafficQuestion, bq::MB_YESNO | bq::MB_ICONWARNING);
    if (!self) {
        return;  // deleted meanwhile; its destructor cleared the flag
    }
    m_questionOpen = false;
    s_promptOpen = 0;
    if (answer == bq::IDNO) {
        if (!m_ended) {
            EndDialog();
            emit TransferAbandoned();  // may delete this dialog: nothing after it
        }
        return;
    }
    m_traffic = 0;
}

void CMIDIProgressDlg::EndDialog() {
    if (m_ended) {
        return;
    }
    m_ended = true;
    m_timer.stop();
    if (m_askPending) {
        m_askPending = false;
        s_promptOpen = 0;
    }
    if (m_movie != nullptr) {
        m_movie->stop();
    }
    hide();
    if (m_parent) {
        m_parent->setEnabled(true);
    }
}

void CMIDIProgressDlg::closeEvent(QCloseEvent* event) {
    // The title bar's Close and Alt+F4 do not end a bank's transfer; a backup's they cancel.
    event->ignore();
    if (m_backup) {
        OnCancel();
    }
}

void CMIDIProgressDlg::reject() {
    // Escape neither: only the No answer to the no-traffic question gives a transfer up. A
    // backup has its Cancel button, which Escape presses.
    if (m_backup) {
        OnCancel();
    }
}
