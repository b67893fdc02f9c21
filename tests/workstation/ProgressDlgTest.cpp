// The transfer progress dialog with a short timer period: texts, bar, animation, the main
// window's state, and the no-traffic question with its withdrawal.
#include <gtest/gtest.h>
#include <QLabel>
#include <QMainWindow>
#include <QMovie>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

#include "messages/StringTable.h"
#include "tests/support/qt/QtPrinters.h"
#include "tests/support/qt/ScriptedPresenter.h"
#include "workstation/MIDIProgressDlg.h"

namespace {

using bq::test::ScriptedPresenter;

constexpr int kPeriodMs = 60;
// Only a failure limit: the waits below end on state long before it.
constexpr int kBoundMs = 30000;

// Counts the timer events an object receives; a progress dialog receives only the ticks of its
// no-traffic timer. `onTick` runs after each.
class TickCounter : public QObject {
public:
    explicit TickCounter(QObject* watched) { watched->installEventFilter(this); }
    int ticks = 0;
    std::function<void()> onTick;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Timer) {
            ++ticks;
            if (onTick) {
                // After the dialog has handled this tick.
                QTimer::singleShot(0, this, [this] {
                    if (onTick) {
                        onTick();
                    }
                });
            }
        }
        return false;
    }
};

// Lets `periods` of the dialogs' period pass on the event loop: waits until a timer of that
// period, started now, has ticked that often. A dialog's timer started earlier is due first.
bool RunPeriods(int periods) {
    int ticks = 0;
    QTimer reference;
    QObject::connect(&reference, &QTimer::timeout, [&] { ++ticks; });
    reference.start(kPeriodMs);
    return QTest::qWaitFor([&] { return ticks >= periods; }, kBoundMs);
}

class ProgressDlg : public ::testing::Test {
protected:
    void SetUp() override { bq::SetMainWindow(&main); }
    void TearDown() override { bq::SetMainWindow(nullptr); }

    std::unique_ptr<CMIDIProgressDlg> Begin(std::uint32_t expected,
                                            const QString& status = "Loading Program Bank A.") {
        auto dialog = std::make_unique<CMIDIProgressDlg>(kPeriodMs);
        dialog->BeginTransfer(bq::MainWindow(), status, expected);
        return dialog;
    }
    static QString KBytes(const CMIDIProgressDlg& d) {
        return d.findChild<QLabel*>("kbytesText")->text();
    }
    static QProgressBar* Bar(const CMIDIProgressDlg& d) {
        return d.findChild<QProgressBar*>("progressBar");
    }
    static bool WaitFor(const std::function<bool()>& done, int ms = kBoundMs) {
        return QTest::qWaitFor([&] { return done(); }, ms);
    }

    QMainWindow main;
    ScriptedPresenter presenter;
};

TEST_F(ProgressDlg, BeginTransferFillsTheControlsAndDisablesTheMainWindow) {
    auto dialog = Begin(118000);
    EXPECT_FALSE(main.isEnabled());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->windowTitle(), "MIDI Transfer Progress");
    EXPECT_EQ(dialog->findChild<QLabel*>("statusText")->text(), "Loading Program Bank A.");
    EXPECT_EQ(KBytes(*dialog), "Received 0 of 115 KBytes...");
    EXPECT_EQ(Bar(*dialog)->minimum(), 0);
    EXPECT_EQ(Bar(*dialog)->maximum(), 118000);
    EXPECT_EQ(Bar(*dialog)->value(), 0);
    auto* cancel = dialog->findChild<QPushButton*>("cancelButton");
    ASSERT_NE(cancel, nullptr);
    EXPECT_EQ(cancel->text(), "Cancel");
    EXPECT_FALSE(cancel->isEnabled());
    // Controls sit inside the dialog, the button right of the kilobyte text.
    const QRect inside = dialog->rect();
    for (QWidget* w : dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(inside.contains(w->geometry())) << w->objectName().toStdString();
    }
    EXPECT_GT(cancel->geometry().left(),
              dialog->findChild<QLabel*>("kbytesText")->geometry().right());
}

TEST_F(ProgressDlg, EveryControlShowsItsWholeTextAtALargeFont) {
    auto dialog = std::make_unique<CMIDIProgressDlg>(kPeriodMs);
    QFont large = dialog->font();
    large.setPointSize(4 * large.pointSize());
    dialog->setFont(large);
    dialog->BeginTransfer(bq::MainWindow(), "Loading Combination Bank F (MOSS).", 146000);
    dialog->UpdateProgress(150000);  // "Received 146 of 142 KBytes...", wider than at first
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);

    const QList<QWidget*> controls =
        dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    ASSERT_EQ(controls.size(), 5);
    for (QWidget* w : controls) {
        const std::string name = w->objectName().toStdString();
        EXPECT_TRUE(dialog->rect().contains(w->geometry())) << name;
        EXPECT_GE(w->width(), w->sizeHint().width()) << name;
        EXPECT_GE(w->height(), w->sizeHint().height()) << name;
        for (QWidget* other : controls) {
            EXPECT_TRUE(w == other || !w->geometry().intersects(other->geometry()))
                << name << " overlaps " << other->objectName().toStdString();
        }
    }
    auto* kbytes = dialog->findChild<QLabel*>("kbytesText");
    EXPECT_GE(kbytes->width(), kbytes->fontMetrics().horizontalAdvance(KBytes(*dialog)));
    EXPECT_GT(dialog->findChild<QPushButton*>("cancelButton")->geometry().left(),
              kbytes->geometry().right());
}

TEST_F(ProgressDlg, AnimationLoopsFromItsClip) {
    auto dialog = Begin(146000);
    QMovie* movie = dialog->findChild<QLabel*>("animation")->movie();
    ASSERT_NE(movie, nullptr);
    ASSERT_TRUE(movie->isValid());
    EXPECT_EQ(movie->state(), QMovie::Running);
    EXPECT_GE(movie->frameCount(), 2);
    ASSERT_TRUE(movie->jumpToFrame(0));
    const QImage first = movie->currentImage();
    EXPECT_EQ(qAlpha(first.pixel(0, 0)), 0);                 // transparent ground
    EXPECT_EQ(first.pixel(200, 10) & 0xFFFFFFu, 0x4678BEu);  // the screen of the monitor
    ASSERT_TRUE(movie->jumpToFrame(movie->frameCount() - 1));
    EXPECT_NE(movie->currentImage(), first);  // it moves
}

TEST_F(ProgressDlg, KilobyteTextAndBarFollowTheReceivedBytes) {
    auto dialog = Begin(118000);
    dialog->UpdateProgress(4096);
    EXPECT_EQ(KBytes(*dialog), "Received 4 of 115 KBytes...");
    EXPECT_EQ(Bar(*dialog)->value(), 4096);
    std::uint32_t total = 4096;
    while (total < 118000) {
        const std::uint32_t n = std::min<std::uint32_t>(4096, 118000 - total);
        dialog->UpdateProgress(n);
        total += n;
    }
    EXPECT_EQ(dialog->Received(), 118000u);
    EXPECT_EQ(KBytes(*dialog), "Received 115 of 115 KBytes...");
    EXPECT_EQ(Bar(*dialog)->value(), 118000);
}

TEST_F(ProgressDlg, ReceivedMayExceedExpectedAndTheBarStaysFull) {
    auto dialog = Begin(146000, "Loading Combination Bank A.");
    dialog->UpdateProgress(146000);
    dialog->UpdateProgress(4000);
    EXPECT_EQ(KBytes(*dialog), "Received 146 of 142 KBytes...");
    EXPECT_EQ(Bar(*dialog)->value(), Bar(*dialog)->maximum());
}

TEST_F(ProgressDlg, DestructionEnablesTheMainWindowAndStopsAsking) {
    auto dialog = Begin(118000);
    EXPECT_FALSE(main.isEnabled());
    dialog.reset();
    EXPECT_TRUE(main.isEnabled());
    ASSERT_TRUE(RunPeriods(4));
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(ProgressDlg, TitleBarCloseAndEscapeDoNothing) {
    auto dialog = Begin(118000);
    dialog->close();
    EXPECT_TRUE(dialog->isVisible());
    QTest::keyClick(dialog.get(), Qt::Key_Escape);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->HasEnded());
    EXPECT_FALSE(main.isEnabled());
}

TEST_F(ProgressDlg, DataInEveryPeriodNeverAsks) {
    auto dialog = Begin(118000);
    // Data before the first tick and after every tick: each of eight ticks finds some since the
    // one before, however late a loaded machine runs them.
    TickCounter counter(dialog.get());
    counter.onTick = [&] { dialog->UpdateProgress(512); };
    dialog->UpdateProgress(512);
    ASSERT_TRUE(QTest::qWaitFor([&] { return counter.ticks >= 8; }, kBoundMs));
    counter.onTick = nullptr;
    EXPECT_TRUE(presenter.Messages().empty());
    EXPECT_GT(dialog->Received(), 0u);
}

TEST_F(ProgressDlg, SilenceAsksAndYesKeepsWaitingAndAsksAgain) {
    presenter.Answer(bq::IDYES);
    presenter.Answer(bq::IDYES);
    auto dialog = Begin(118000);
    ASSERT_TRUE(WaitFor([&] { return presenter.Messages().size() >= 2; }));
    EXPECT_EQ(presenter.Messages()[0].text, bq::LoadString(bq::StringId::NoTrafficQuestion));
    EXPECT_EQ(presenter.Messages()[0].style, 0x34u);
    EXPECT_FALSE(dialog->HasEnded());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(main.isEnabled());
}

TEST_F(ProgressDlg, DataDuringTheQuestionWithdrawsItWithYes) {
    presenter.HoldOpen(kBoundMs, bq::IDNO);
    bool abandoned = false;
    auto dialog = Begin(118000);
    QObject::connect(dialog.get(), &CMIDIProgressDlg::TransferAbandoned, [&] { abandoned = true; });
    presenter.onShow = [&](const ScriptedPresenter::Message&) {
        QTimer::singleShot(kPeriodMs / 3, [&] { dialog->UpdateProgress(4096); });
    };
    ASSERT_TRUE(WaitFor([&] { return !presenter.Messages().empty() && !presenter.IsOpen(); }));
    presenter.onShow = nullptr;
    const auto& question = presenter.Messages()[0];
    EXPECT_TRUE(question.withdrawn);
    EXPECT_FALSE(question.timedOut);
    EXPECT_EQ(question.answer, bq::IDYES);
    EXPECT_FALSE(abandoned);
    EXPECT_FALSE(dialog->HasEnded());
    EXPECT_FALSE(CMIDIProgressDlg::PromptOpen());
    // The transfer goes on.
    dialog->UpdateProgress(4096);
    EXPECT_EQ(dialog->Received(), 8192u);
}

TEST_F(ProgressDlg, TicksWhileTheQuestionIsOpenDoNotAskAgain) {
    presenter.HoldOpen(kBoundMs, bq::IDYES);
    int shownWhileOpen = 0;
    presenter.onShow = [&](const ScriptedPresenter::Message&) {
        if (presenter.IsOpen()) {
            ++shownWhileOpen;
        }
    };
    auto dialog = Begin(118000);
    // Once the dialog has ticked three times more with its question open, the test answers
    // No itself (the dialog only ever withdraws a question with Yes).
    TickCounter counter(dialog.get());
    int ticksWhileOpen = 0;
    counter.onTick = [&] {
        if (presenter.IsOpen() && ++ticksWhileOpen == 3) {
            bq::WithdrawMessage(bq::IDNO);
        }
    };
    ASSERT_TRUE(WaitFor([&] { return !presenter.Messages().empty() && !presenter.IsOpen(); }));
    counter.onTick = nullptr;
    EXPECT_EQ(ticksWhileOpen, 3);
    EXPECT_EQ(presenter.Messages()[0].answer, bq::IDNO);  // nothing else withdrew it: no data
    EXPECT_EQ(shownWhileOpen, 0);
    presenter.onShow = nullptr;
}

TEST_F(ProgressDlg, NoEndsTheTransferOnceAndALaterTransferCanAskAgain) {
    presenter.Answer(bq::IDNO);
    auto dialog = Begin(118000);
    int abandoned = 0;
    QObject::connect(dialog.get(), &CMIDIProgressDlg::TransferAbandoned, [&] {
        ++abandoned;
        dialog.reset();  // the waiting request deletes it at once
    });
    ASSERT_TRUE(WaitFor([&] { return abandoned > 0; }));
    EXPECT_EQ(dialog, nullptr);
    EXPECT_TRUE(main.isEnabled());
    EXPECT_FALSE(CMIDIProgressDlg::PromptOpen());
    ASSERT_TRUE(RunPeriods(3));
    EXPECT_EQ(abandoned, 1);
    EXPECT_EQ(presenter.Messages().size(), 1u);

    presenter.Answer(bq::IDNO);
    auto next = Begin(146000, "Loading Combination Bank B.");
    EXPECT_FALSE(main.isEnabled());
    bool nextAbandoned = false;
    QObject::connect(next.get(), &CMIDIProgressDlg::TransferAbandoned,
                     [&] { nextAbandoned = true; });
    ASSERT_TRUE(WaitFor([&] { return nextAbandoned; }));
    EXPECT_EQ(presenter.Messages().size(), 2u);
    EXPECT_TRUE(main.isEnabled());
}

TEST_F(ProgressDlg, AfterNoTheDialogIsHiddenAndIgnoresData) {
    presenter.Answer(bq::IDNO);
    auto dialog = Begin(118000);
    bool abandoned = false;
    QObject::connect(dialog.get(), &CMIDIProgressDlg::TransferAbandoned, [&] { abandoned = true; });
    ASSERT_TRUE(WaitFor([&] { return abandoned; }));
    EXPECT_TRUE(dialog->HasEnded());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(main.isEnabled());
    dialog->UpdateProgress(4096);
    EXPECT_EQ(dialog->Received(), 0u);
    main.setEnabled(false);
    dialog.reset();  // ending twice does not enable the main window a second time
    EXPECT_FALSE(main.isEnabled());
    main.setEnabled(true);
}

TEST_F(ProgressDlg, OneQuestionAtATimeAcrossDialogs) {
    presenter.HoldOpen(kBoundMs, bq::IDYES);
    int shownWhileOpen = 0;
    presenter.onShow = [&](const ScriptedPresenter::Message&) {
        if (presenter.IsOpen()) {
            ++shownWhileOpen;
        }
    };
    auto first = Begin(118000);
    auto second = std::make_unique<CMIDIProgressDlg>(kPeriodMs / 2);
    second->BeginTransfer(nullptr, "other", 146000);
    // The question stays open until both dialogs have ticked three times under it, silent.
    TickCounter firstTicks(first.get());
    TickCounter secondTicks(second.get());
    int firstAtQuestion = -1;
    int secondAtQuestion = -1;
    auto endWhenBothTicked = [&] {
        if (!presenter.IsOpen()) {
            return;
        }
        if (firstAtQuestion < 0) {
            firstAtQuestion = firstTicks.ticks;
            secondAtQuestion = secondTicks.ticks;
        } else if (firstTicks.ticks >= firstAtQuestion + 3 &&
                   secondTicks.ticks >= secondAtQuestion + 3) {
            bq::WithdrawMessage(bq::IDYES);
        }
    };
    firstTicks.onTick = endWhenBothTicked;
    secondTicks.onTick = endWhenBothTicked;
    ASSERT_TRUE(WaitFor([&] { return !presenter.Messages().empty() && !presenter.IsOpen(); }));
    firstTicks.onTick = nullptr;
    secondTicks.onTick = nullptr;
    EXPECT_TRUE(presenter.Messages()[0].withdrawn);
    EXPECT_EQ(shownWhileOpen, 0);
    presenter.onShow = nullptr;
    second.reset();
    first.reset();
}

TEST_F(ProgressDlg, DeletedWhileItsQuestionIsOpenTakesTheQuestionAlong) {
    presenter.HoldOpen(3000, bq::IDYES);
    auto dialog = Begin(118000);
    presenter.onShow = [&](const ScriptedPresenter::Message&) {
        QTimer::singleShot(0, [&] { dialog.reset(); });
    };
    ASSERT_TRUE(WaitFor([&] { return !presenter.Messages().empty() && !presenter.IsOpen(); }));
    presenter.onShow = nullptr;
    EXPECT_EQ(dialog, nullptr);
    EXPECT_TRUE(presenter.Messages()[0].withdrawn);
    EXPECT_FALSE(CMIDIProgressDlg::PromptOpen());
    EXPECT_TRUE(main.isEnabled());
}

TEST_F(ProgressDlg, ABackupsDialogCountsTheWholeBackupAndItsCancelEndsIt) {
    auto dialog = std::make_unique<CMIDIProgressDlg>(kPeriodMs);
    bool cancelled = false;
    QObject::connect(dialog.get(), &CMIDIProgressDlg::TransferCancelled, [&] { cancelled = true; });
    dialog->BeginBackup(&main, 1524000);
    dialog->SetStatusText("Bank 4 of 12: Combination Bank D");
    EXPECT_FALSE(main.isEnabled());
    EXPECT_EQ(dialog->findChild<QLabel*>("statusText")->text(), "Bank 4 of 12: Combination Bank D");
    EXPECT_EQ(KBytes(*dialog), "Received 0 of 1488 KBytes...");
    EXPECT_EQ(dialog->findChild<QLabel*>("timeLeftText")->text(), "Time left: --:--");
    dialog->UpdateProgress(534528);
    EXPECT_EQ(KBytes(*dialog), "Received 522 of 1488 KBytes...");
    const QRect inside = dialog->rect();
    for (QWidget* w : dialog->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(inside.contains(w->geometry())) << w->objectName().toStdString();
    }

    // Escape presses Cancel (a click on it is tested with the backup).
    QTest::keyClick(dialog->windowHandle(), Qt::Key_Escape);
    EXPECT_TRUE(cancelled);
    EXPECT_TRUE(dialog->Cancelled());
    EXPECT_TRUE(dialog->HasEnded());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(main.isEnabled());

    EXPECT_TRUE(presenter.Messages().empty());
}

TEST(ProgressDlgTime, TimeLeftIsTheRestAtTheRateMeasuredSoFar) {
    // 522 KB in 170 s of 1488 KB: 966 KB to go at 3.07 KB/s.
    EXPECT_EQ(CMIDIProgressDlg::TimeLeftText(534528, 1524000, 170000), "Time left: 5:15");
    EXPECT_EQ(CMIDIProgressDlg::TimeLeftText(1000, 1524000, 20000), "Time left: 8:27:40");
    EXPECT_EQ(CMIDIProgressDlg::TimeLeftText(1000, 1524000, 999), "Time left: --:--");
    EXPECT_EQ(CMIDIProgressDlg::TimeLeftText(0, 1524000, 60000), "Time left: --:--");
    EXPECT_EQ(CMIDIProgressDlg::TimeLeftText(1600000, 1524000, 60000), "Time left: 0:00");
}

}  // namespace
