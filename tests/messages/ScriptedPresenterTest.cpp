#include <gtest/gtest.h>
#include <QElapsedTimer>
#include <QTimer>

#include "messages/StringTable.h"
#include "tests/support/qt/QtPrinters.h"
#include "tests/support/qt/ScriptedPresenter.h"

namespace {

using bq::test::ScriptedPresenter;

TEST(ScriptedPresenter, HeldQuestionEndsWithTheWithdrawnAnswer) {
    ScriptedPresenter presenter;
    presenter.HoldOpen(5000, bq::IDNO);
    bool openWhileWaiting = false;
    QTimer::singleShot(20, [&] {
        openWhileWaiting = presenter.IsOpen();
        bq::WithdrawMessage(bq::IDYES);
    });
    EXPECT_EQ(bq::ShowMessage(bq::StringId::NoTrafficQuestion, bq::MB_YESNO | bq::MB_ICONWARNING),
              bq::IDYES);
    EXPECT_TRUE(openWhileWaiting);
    EXPECT_FALSE(presenter.IsOpen());
    ASSERT_EQ(presenter.Messages().size(), 1u);
    EXPECT_TRUE(presenter.Messages()[0].withdrawn);
    EXPECT_FALSE(presenter.Messages()[0].timedOut);
    EXPECT_EQ(presenter.Messages()[0].answer, bq::IDYES);
}

TEST(ScriptedPresenter, HeldQuestionGivesUpAfterItsBound) {
    ScriptedPresenter presenter;
    presenter.HoldOpen(30, bq::IDNO);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(bq::ShowMessage(bq::StringId::NoTrafficQuestion, bq::MB_YESNO | bq::MB_ICONWARNING),
              bq::IDNO);
    EXPECT_GE(clock.elapsed(), 25);
    ASSERT_EQ(presenter.Messages().size(), 1u);
    EXPECT_TRUE(presenter.Messages()[0].timedOut);
    EXPECT_FALSE(presenter.Messages()[0].withdrawn);
}

TEST(ScriptedPresenter, WithdrawWithoutOpenQuestionIsCountedAndHarmless) {
    ScriptedPresenter presenter;
    bq::WithdrawMessage(bq::IDYES);
    EXPECT_EQ(presenter.StrayWithdrawals(), 1);
    presenter.Answer(bq::IDOK);
    EXPECT_EQ(bq::ShowMessage(bq::StringId::NotImplemented, bq::MB_ICONERROR), bq::IDOK);
}

TEST(ScriptedPresenter, NestedQuestionsWithdrawInnermostFirst) {
    ScriptedPresenter presenter;
    presenter.HoldOpen(5000, bq::IDNO);  // outer
    presenter.HoldOpen(5000, bq::IDNO);  // inner
    int innerAnswer = 0;
    presenter.onShow = [&](const ScriptedPresenter::Message& m) {
        if (m.text == bq::LoadString(bq::StringId::WorkstationNotFound)) {
            QTimer::singleShot(0, [&] {
                innerAnswer = bq::ShowMessage(bq::StringId::NoTrafficQuestion,
                                              bq::MB_YESNO | bq::MB_ICONWARNING);
                bq::WithdrawMessage(bq::IDNO);  // now the outer one
            });
            QTimer::singleShot(10, [] { bq::WithdrawMessage(bq::IDYES); });
        }
    };
    EXPECT_EQ(bq::ShowMessage(bq::StringId::WorkstationNotFound, bq::MB_YESNO | bq::MB_ICONERROR),
              bq::IDNO);
    EXPECT_EQ(innerAnswer, bq::IDYES);
    EXPECT_EQ(presenter.Texts(), (QStringList{bq::LoadString(bq::StringId::WorkstationNotFound),
                                              bq::LoadString(bq::StringId::NoTrafficQuestion)}));
}

TEST(ScriptedPresenter, UnscriptedQuestionsGetTheSafeAnswerAndAreCounted) {
    ScriptedPresenter presenter;
    EXPECT_EQ(bq::ShowMessage(bq::StringId::WorkstationNotFound, bq::MB_YESNO | bq::MB_ICONERROR),
              bq::IDNO);
    EXPECT_EQ(bq::ShowMessage(bq::StringId::TransferError, bq::MB_ICONERROR), bq::IDOK);
    EXPECT_EQ(presenter.Unscripted(), 2);
}

}  // namespace
