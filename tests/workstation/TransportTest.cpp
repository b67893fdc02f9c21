// The Workstation window's transport over the loopback MIDI services: the exchange driven from
// the event loop, the progress dialog's count, and the report of every failing service call.
// What the exchange itself does is tried in tests/midi/exchange.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <vector>

#include "messages/StringTable.h"
#include "midi/loopback/LoopbackMidiServices.h"
#include "tests/support/qt/QtPrinters.h"
#include "tests/support/qt/ScriptedPresenter.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/WSTransport.h"

namespace {

using bq::midi::ExchangeEnd;
using bq::midi::LoopbackMidiServices;
using bq::midi::MidiCall;
using bq::test::ScriptedPresenter;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kKarmaIn = 1;
constexpr std::uint32_t kKarmaOut = 0;
const Bytes kWrite{0xF0, 0x42, 0x30, 0x5D, 0x4D, 0x00, 0x20, 0x00, 0x00, 0x01, 0xF7};

class Transport : public ::testing::Test {
protected:
    Transport() : loopback({"Out A", "Karma In"}, {"Karma Out", "Out B"}), transport(loopback) {}

    void Open(std::uint8_t channel = 0) {
        ASSERT_TRUE(transport.OpenConnection(kKarmaIn, kKarmaOut, channel));
    }
    // Runs the event loop until the exchange begun has ended; how it ended.
    ExchangeEnd Finish() {
        QSignalSpy ended(&transport, &CWSTransport::ExchangeEnded);
        if (transport.Running()) {
            EXPECT_TRUE(ended.wait(5000));
        }
        return transport.TakeResult().end;
    }

    ScriptedPresenter presenter;
    LoopbackMidiServices loopback;
    CWSTransport transport;
};

TEST_F(Transport, AnExchangeRunsFromTheEventLoopAndItsBytesCountInTheProgressDialog) {
    Open();
    CMIDIProgressDlg dialog;
    dialog.BeginTransfer(nullptr, "Loading Program Bank A.", 118000);
    transport.SetProgressDialog(&dialog);
    ASSERT_TRUE(transport.BeginWrite(kWrite, 5000));
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7}));
    EXPECT_EQ(Finish(), ExchangeEnd::Completed);
    // Every byte counts as traffic, a status reply's too.
    EXPECT_EQ(dialog.Received(), 6u);
    transport.SetProgressDialog(nullptr);
    EXPECT_EQ(loopback.SentMessages(kKarmaOut), std::vector<Bytes>{kWrite});
}

TEST_F(Transport, ADialogGoneBeforeItsBytesIsNotTouched) {
    Open();
    {
        CMIDIProgressDlg dialog;
        dialog.BeginTransfer(nullptr, "x", 146000);
        transport.SetProgressDialog(&dialog);
    }
    ASSERT_TRUE(transport.BeginWrite(kWrite, 5000));
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x30, 0x5D, 0x24, 0xF7}));
    EXPECT_EQ(Finish(), ExchangeEnd::Refused);
}

TEST_F(Transport, ClosingThePortsEndsTheExchangeThatWaits) {
    Open();
    ASSERT_TRUE(transport.BeginWrite(kWrite, 0));
    QSignalSpy ended(&transport, &CWSTransport::ExchangeEnded);
    transport.ClosePorts();
    EXPECT_EQ(ended.count(), 1);
    EXPECT_EQ(transport.TakeResult().end, ExchangeEnd::Abandoned);
    EXPECT_EQ(loopback.OpenInputs() + loopback.OpenOutputs(), 0u);
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(Transport, ABufferThatCannotBeReplacedIsReported) {
    Open();
    loopback.AddFault({MidiCall::InAddBuffer, 7, "No memory for a MIDI buffer.", 2, 0, -1});
    ASSERT_TRUE(transport.BeginWrite(kWrite, 5000));
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7}));
    EXPECT_EQ(Finish(), ExchangeEnd::Completed);
    EXPECT_EQ(presenter.Texts(), QStringList{"No memory for a MIDI buffer."});
}

// ---- reports of failing service calls ----

struct FailingCall {
    MidiCall call;
    const char* text;
};

class TransportReports : public Transport {};

TEST_F(TransportReports, EachFailingOpenStepIsReportedWithTheServiceText) {
    const FailingCall steps[] = {
        {MidiCall::InOpen, "The MIDI input is already in use."},
        {MidiCall::OutOpen, "The MIDI output is already in use."},
        {MidiCall::InAddBuffer, "The input buffer could not be queued."},
        {MidiCall::InStart, "The input could not start."},
    };
    for (const FailingCall& step : steps) {
        SCOPED_TRACE(step.text);
        presenter.Clear();
        loopback.ClearFaults();
        loopback.AddFault({step.call, 4, step.text, 1, 0, -1});
        EXPECT_FALSE(transport.OpenConnection(kKarmaIn, kKarmaOut, 0));
        EXPECT_EQ(presenter.Texts(), QStringList{step.text});
        EXPECT_EQ(presenter.Messages()[0].style, unsigned(bq::MB_ICONERROR));
        if (step.call == MidiCall::InOpen || step.call == MidiCall::OutOpen) {
            EXPECT_FALSE(transport.IsConnected());
        }
        loopback.ClearFaults();
        transport.ClosePorts();
        EXPECT_EQ(loopback.OpenInputs(), 0u);
        EXPECT_EQ(loopback.OpenOutputs(), 0u);
    }
}

TEST_F(TransportReports, EveryFailingCloseStepIsReportedAndTheRestStillRuns) {
    Open();
    loopback.AddFault({MidiCall::InStop, 1, "stop failed", 1, 0, -1});
    loopback.AddFault({MidiCall::OutReset, 2, "reset failed", 1, 0, -1});
    loopback.AddFault({MidiCall::OutClose, 3, "close failed", 1, 0, -1});
    EXPECT_TRUE(transport.ClosePorts());
    EXPECT_EQ(presenter.Texts(), (QStringList{"stop failed", "reset failed", "close failed"}));
    EXPECT_FALSE(transport.IsConnected());
    EXPECT_EQ(loopback.OpenInputs(), 0u);  // reset and close went on after the failed stop
}

TEST_F(TransportReports, FailingSendsAreReportedWithTheServiceTextAndEndTheExchange) {
    Open();
    loopback.AddFault({MidiCall::OutLongMsg, 67, "The output is not ready.", 1, 0, -1});
    ASSERT_TRUE(transport.BeginWrite(kWrite, 5000));
    EXPECT_EQ(Finish(), ExchangeEnd::NotSent);
    loopback.AddFault({MidiCall::OutLongMsgDone, 1, "The JACK server went away.", 1, 0, -1});
    ASSERT_TRUE(transport.BeginWrite(kWrite, 5000));
    EXPECT_EQ(Finish(), ExchangeEnd::NotSent);
    EXPECT_EQ(presenter.Texts(),
              (QStringList{"The output is not ready.", "The JACK server went away."}));
    // A send that never completes has no service text: the caller says what failed.
    presenter.Clear();
    transport.SetSendTimeoutMargin(50);
    loopback.HoldSends(true);
    ASSERT_TRUE(transport.BeginWrite(kWrite, 5000));
    EXPECT_EQ(Finish(), ExchangeEnd::NotSent);
    loopback.HoldSends(false);
    EXPECT_TRUE(presenter.Messages().empty());
}

// ---- enumeration and status texts ----

TEST(Enumeration, NoInputsShowsTheInputMessage) {
    ScriptedPresenter presenter;
    LoopbackMidiServices loopback({}, {"Out"});
    CWSTransport transport(loopback);
    EXPECT_FALSE(transport.CheckMIDIDevices());
    EXPECT_EQ(presenter.Texts(), QStringList{bq::LoadString(bq::StringId::NoMidiInputs)});
    EXPECT_EQ(presenter.Messages()[0].style, unsigned(bq::MB_ICONERROR));
    EXPECT_EQ(loopback.OpenInputs() + loopback.OpenOutputs(), 0u);
}

TEST(Enumeration, InputsWithoutOutputsShowsTheOutputMessage) {
    ScriptedPresenter presenter;
    LoopbackMidiServices loopback({"In"}, {});
    CWSTransport transport(loopback);
    EXPECT_FALSE(transport.CheckMIDIDevices());
    EXPECT_EQ(presenter.Texts(), QStringList{bq::LoadString(bq::StringId::NoMidiOutputs)});
    EXPECT_EQ(presenter.Messages()[0].style, unsigned(bq::MB_ICONERROR));
}

TEST(Enumeration, NeitherShowsOnlyTheInputMessage) {
    ScriptedPresenter presenter;
    LoopbackMidiServices loopback({}, {});
    CWSTransport transport(loopback);
    EXPECT_FALSE(transport.CheckMIDIDevices());
    EXPECT_EQ(presenter.Texts(), QStringList{bq::LoadString(bq::StringId::NoMidiInputs)});
}

TEST(Enumeration, DevicesOnBothSidesPassSilently) {
    ScriptedPresenter presenter;
    LoopbackMidiServices loopback({"In"}, {"Out"});
    CWSTransport transport(loopback);
    EXPECT_TRUE(transport.CheckMIDIDevices());
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(Transport, StatusTextNamesTheInputFirstWhateverTheDeviceOrder) {
    QString text = "unchanged";
    ASSERT_TRUE(transport.GetMIDIStatusText(&text));
    EXPECT_EQ(text, "MIDI Status: Not Connected");
    Open();  // input device 1, output device 0
    ASSERT_TRUE(transport.GetMIDIStatusText(&text));
    EXPECT_EQ(text, "MIDI Status: Connected [In: Karma In, Out: Karma Out]");
    transport.ClosePorts();
    ASSERT_TRUE(transport.OpenConnection(0, 1, 0));
    ASSERT_TRUE(transport.GetMIDIStatusText(&text));
    EXPECT_EQ(text, "MIDI Status: Connected [In: Out A, Out: Out B]");
    transport.ClosePorts();
    ASSERT_TRUE(transport.GetMIDIStatusText(&text));
    EXPECT_EQ(text, "MIDI Status: Not Connected");
}

TEST_F(Transport, StatusTextSaysConnectedWhenANameCannotBeRead) {
    Open();
    QString text;
    loopback.AddFault({MidiCall::OutGetDevCaps, 2, "", 1, 0, -1});
    ASSERT_TRUE(transport.GetMIDIStatusText(&text));
    EXPECT_EQ(text, "MIDI Status: Connected [In: Karma In, Out: port 1]");
    transport.ClosePorts();
    Open();
    loopback.AddFault({MidiCall::InGetDevCaps, 2, "", 1, 0, -1});
    ASSERT_TRUE(transport.GetMIDIStatusText(&text));
    EXPECT_EQ(text, "MIDI Status: Connected [In: port 2, Out: Karma Out]");
    EXPECT_TRUE(presenter.Messages().empty());
}

}  // namespace
