// The Workstation window as far as the shell relies on it: title, panes, closing that only
// hides, hiding that closes the ports, and the status text.
#include <gtest/gtest.h>
#include <QMdiArea>
#include <QSplitter>
#include <QTest>

#include "banktree/ItemPane.h"
#include "midi/loopback/LoopbackMidiServices.h"
#include "tests/support/qt/QtPrinters.h"
#include "tests/support/qt/ScriptedPresenter.h"
#include "workstation/WSFrame.h"
#include "workstation/WSTransport.h"

namespace {

TEST(WSFrame, TitlePanesAndStatusBeforeConnecting) {
    bq::midi::LoopbackMidiServices loopback({"In"}, {"Out"});
    CWSFrame frame(loopback);
    EXPECT_EQ(frame.windowTitle(), "Karma Workstation [MIDI]");
    ASSERT_NE(frame.Splitter(), nullptr);
    EXPECT_EQ(frame.Splitter()->orientation(), Qt::Horizontal);
    EXPECT_EQ(frame.Splitter()->count(), 2);
    EXPECT_EQ(frame.Splitter()->widget(0), frame.BankView());
    EXPECT_EQ(frame.Splitter()->widget(1), frame.SecondView());
    EXPECT_FALSE(frame.SecondView()->HasItem());
    QString text;
    ASSERT_TRUE(frame.GetMIDIStatusText(&text));
    EXPECT_EQ(text, "MIDI Status: Not Connected");
}

TEST(WSFrame, CloseOnlyHidesAndHidingClosesThePorts) {
    bq::test::ScriptedPresenter presenter;
    bq::midi::LoopbackMidiServices loopback({"Karma In"}, {"Karma Out"});
    QMdiArea area;
    area.show();
    auto* frame = new CWSFrame(loopback);
    area.addSubWindow(frame);
    QPointer<CWSFrame> alive(frame);
    frame->show();
    ASSERT_TRUE(frame->Transport().OpenConnection(0, 0, 0));
    QString text;
    ASSERT_TRUE(frame->GetMIDIStatusText(&text));
    EXPECT_EQ(text, "MIDI Status: Connected [In: Karma In, Out: Karma Out]");

    frame->close();
    QCoreApplication::processEvents();
    ASSERT_FALSE(alive.isNull());
    EXPECT_FALSE(frame->isVisible());
    EXPECT_EQ(loopback.OpenInputs(), 0u);
    EXPECT_EQ(loopback.OpenOutputs(), 0u);
    ASSERT_TRUE(frame->GetMIDIStatusText(&text));
    EXPECT_EQ(text, "MIDI Status: Not Connected");
}

}  // namespace
