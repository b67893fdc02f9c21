// The default presenter: real QMessageBox boxes on the offscreen platform, ended by withdrawal.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "tests/support/qt/QtPrinters.h"

namespace {

struct BoxSeen {
    bool seen = false;
    QString caption, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QWidget* owner = nullptr;
    bool enabled = false;
};

// Looks at the box that is open now, then withdraws it with `answer`.
void InspectThenWithdraw(BoxSeen* seen, int answer) {
    QTimer::singleShot(0, [seen, answer] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box != nullptr) {
            seen->seen = true;
            seen->caption = box->windowTitle();
            seen->text = box->text();
            seen->icon = box->icon();
            seen->buttons = box->standardButtons();
            seen->owner = box->parentWidget();
            seen->enabled = box->isEnabled();
        }
        bq::WithdrawMessage(answer);
    });
}

class DefaultPresenter : public ::testing::Test {
protected:
    void SetUp() override {
        bq::SetMessagePresenter(nullptr);
        bq::SetMainWindow(&m_main);
    }
    void TearDown() override { bq::SetMainWindow(nullptr); }
    QMainWindow m_main;
};

TEST_F(DefaultPresenter, ErrorBoxHasCaptionIconOkAndMainWindowOwner) {
    BoxSeen seen;
    InspectThenWithdraw(&seen, bq::IDOK);
    EXPECT_EQ(bq::ShowMessage(bq::StringId::TransferError, bq::MB_ICONERROR), bq::IDOK);
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.caption, "Bankquill");
    EXPECT_EQ(seen.text, bq::LoadString(bq::StringId::TransferError));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    EXPECT_EQ(seen.owner, &m_main);
}

TEST_F(DefaultPresenter, QuestionBoxesAnswerWhatWasWithdrawn) {
    BoxSeen seen;
    InspectThenWithdraw(&seen, bq::IDNO);
    EXPECT_EQ(bq::ShowMessage(bq::StringId::NoTrafficQuestion, bq::MB_YESNO | bq::MB_ICONWARNING),
              bq::IDNO);
    ASSERT_TRUE(seen.seen);
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
    EXPECT_EQ(seen.buttons, QMessageBox::Yes | QMessageBox::No);

    BoxSeen again;
    InspectThenWithdraw(&again, bq::IDYES);
    EXPECT_EQ(bq::ShowMessage(bq::StringId::WorkstationNotFound, bq::MB_YESNO | bq::MB_ICONERROR),
              bq::IDYES);
    EXPECT_EQ(again.icon, QMessageBox::Critical);
}

TEST_F(DefaultPresenter, QuestionStaysAnswerableWhileTheMainWindowIsDisabled) {
    m_main.setEnabled(false);  // as during a transfer
    BoxSeen seen;
    InspectThenWithdraw(&seen, bq::IDYES);
    EXPECT_EQ(bq::ShowMessage(bq::StringId::NoTrafficQuestion, bq::MB_YESNO | bq::MB_ICONWARNING),
              bq::IDYES);
    ASSERT_TRUE(seen.seen);
    EXPECT_TRUE(seen.enabled);
    m_main.setEnabled(true);
}

TEST_F(DefaultPresenter, EnterAnswersYesUnlessNoIsMadeTheDefault) {
    for (unsigned defaultNo : {0u, unsigned{bq::MB_DEFBUTTON2}}) {
        SCOPED_TRACE(defaultNo);
        bool pressed = false;
        QTimer::singleShot(0, [&pressed] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box != nullptr && box->windowHandle() != nullptr) {
                pressed = true;
                QTest::keyClick(box->windowHandle(), Qt::Key_Return);
            }
        });
        // Should the key not reach the box, it ends as neither answer rather than hanging.
        QTimer bound;
        bound.setSingleShot(true);
        QObject::connect(&bound, &QTimer::timeout, [] { bq::WithdrawMessage(bq::IDCANCEL); });
        bound.start(5000);
        const int answer = bq::ShowMessage(bq::StringId::NoTrafficQuestion,
                                           bq::MB_YESNO | bq::MB_ICONWARNING | defaultNo);
        ASSERT_TRUE(pressed);
        EXPECT_EQ(answer, defaultNo != 0 ? bq::IDNO : bq::IDYES);
    }
}

TEST_F(DefaultPresenter, WithdrawEndsTheInnermostOpenBox) {
    int inner = 0;
    QTimer::singleShot(0, [&inner] {
        QTimer::singleShot(0, [] { bq::WithdrawMessage(bq::IDYES); });
        inner = bq::ShowMessage(bq::StringId::NoTrafficQuestion, bq::MB_YESNO | bq::MB_ICONWARNING);
        bq::WithdrawMessage(bq::IDNO);
    });
    EXPECT_EQ(bq::ShowMessage(bq::StringId::WorkstationNotFound, bq::MB_YESNO | bq::MB_ICONERROR),
              bq::IDNO);
    EXPECT_EQ(inner, bq::IDYES);
    bq::WithdrawMessage(bq::IDYES);  // nothing open: no effect, no crash
}

}  // namespace
