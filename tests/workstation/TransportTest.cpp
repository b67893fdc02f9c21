// The SysEx transport over the loopback MIDI services: buffers, chunks, reassembly,
// classification, sends, closing, and the report of every failing service call.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QTest>

#include <memory>
#include <vector>

#include "messages/StringTable.h"
#include "midi/loopback/LoopbackMidiServices.h"
#include "tests/support/qt/QtPrinters.h"
#include "tests/support/qt/ScriptedPresenter.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/WSMessages.h"
#include "workstation/WSTransport.h"

namespace {

using bq::midi::LoopbackMidiServices;
using bq::midi::MidiCall;
using bq::test::ScriptedPresenter;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kKarmaIn = 1;
constexpr std::uint32_t kKarmaOut = 0;

// F0, `length` - 2 data bytes of a pattern, F7.
Bytes SysEx(std::size_t length, std::uint8_t seed = 0) {
    Bytes m(length);
    m.front() = 0xF0;
    for (std::size_t i = 1; i + 1 < length; ++i) {
        m[i] = static_cast<std::uint8_t>((i * 7 + seed) & 0x7F);
    }
    m.back() = 0xF7;
    return m;
}

// Counting wrapper: sees every InAddBuffer, including the callback's re-queues.
class CountingServices final : public bq::midi::IMidiServices {
public:
    explicit CountingServices(IMidiServices& inner) : m_inner(inner) {}
    std::atomic<int> addBufferCalls{0};

    std::uint32_t InGetNumDevs() override { return m_inner.InGetNumDevs(); }
    std::uint32_t OutGetNumDevs() override { return m_inner.OutGetNumDevs(); }
    bq::midi::MidiResult InGetDevCaps(std::uint32_t d, std::string* n) override {
        return m_inner.InGetDevCaps(d, n);
    }
    bq::midi::MidiResult OutGetDevCaps(std::uint32_t d, std::string* n) override {
        return m_inner.OutGetDevCaps(d, n);
    }
    bq::midi::MidiResult InOpen(bq::midi::HMIDIIN* h, std::uint32_t d, bq::midi::MidiInProc cb,
                                std::uintptr_t i) override {
        return m_inner.InOpen(h, d, cb, i);
    }
    bq::midi::MidiResult InAddBuffer(bq::midi::HMIDIIN h,
                                     std::unique_ptr<bq::midi::MidiBuffer> b) override {
        ++addBufferCalls;
        return m_inner.InAddBuffer(h, std::move(b));
    }
    bq::midi::MidiResult InStart(bq::midi::HMIDIIN h) override { return m_inner.InStart(h); }
    bq::midi::MidiResult InStop(bq::midi::HMIDIIN h) override { return m_inner.InStop(h); }
    bq::midi::MidiResult InReset(bq::midi::HMIDIIN h) override { return m_inner.InReset(h); }
    bq::midi::MidiResult InClose(bq::midi::HMIDIIN h) override { return m_inner.InClose(h); }
    bq::midi::MidiResult OutOpen(bq::midi::HMIDIOUT* h, std::uint32_t d,
                                 std::shared_ptr<bq::midi::MidiEvent> e) override {
        return m_inner.OutOpen(h, d, std::move(e));
    }
    bq::midi::MidiResult OutLongMsg(bq::midi::HMIDIOUT h, const std::uint8_t* p,
                                    std::size_t n) override {
        return m_inner.OutLongMsg(h, p, n);
    }
    bq::midi::MidiResult OutReset(bq::midi::HMIDIOUT h) override { return m_inner.OutReset(h); }
    bq::midi::MidiResult OutClose(bq::midi::HMIDIOUT h) override { return m_inner.OutClose(h); }
    std::string InGetErrorText(bq::midi::MidiResult r) override {
        return m_inner.InGetErrorText(r);
    }
    std::string OutGetErrorText(bq::midi::MidiResult r) override {
        return m_inner.OutGetErrorText(r);
    }

private:
    IMidiServices& m_inner;
};

// Watches the transport's events: chunk sizes and re-queue requests as they are delivered,
// and the replies and dumps that its sink receives.
class EventLog : public QObject {
public:
    explicit EventLog(CWSTransport& transport) {
        transport.installEventFilter(this);
        transport.SetReplySink([this](QEvent* e) {
            if (e->type() == bq::ws::WM_WS_REPLY) {
                auto* r = static_cast<bq::ws::ReplyEvent*>(e);
                replies.push_back({r->Success(), r->Code()});
            } else {
                dumps.push_back(static_cast<bq::ws::DumpReceivedEvent*>(e)->TakeMessage());
            }
        });
    }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == bq::ws::WM_WS_SYSEX_CHUNK) {
            chunks.push_back(static_cast<bq::ws::SysExChunkEvent*>(e)->Chunk().size());
        } else if (e->type() == bq::ws::WM_WS_REQUEUE_BUFFER) {
            ++requeues;
        }
        return false;
    }
    struct Reply {
        bool success;
        std::uint8_t code;
        bool operator==(const Reply&) const = default;
    };
    std::vector<std::size_t> chunks;
    std::vector<Reply> replies;
    std::vector<Bytes> dumps;
    int requeues = 0;
};

class Transport : public ::testing::Test {
protected:
    Transport()
        : loopback({"Out A", "Karma In"}, {"Karma Out", "Out B"}),
          services(loopback),
          transport(services),
          log(transport) {}

    void Open(std::uint8_t channel = 0) {
        ASSERT_TRUE(transport.OpenConnection(kKarmaIn, kKarmaOut, channel));
    }
    // Lets the loopback deliver everything and the posted events reach the transport.
    void Settle() {
        ASSERT_TRUE(loopback.WaitIdle(5000));
        // Events posted by the last callbacks (and those that they post in turn).
        for (int i = 0; i < 3; ++i) {
            QCoreApplication::sendPostedEvents();
        }
    }
    bool WaitFor(const std::function<bool()>& done) {
        return QTest::qWaitFor([&] { return done(); }, 5000);
    }

    ScriptedPresenter presenter;
    LoopbackMidiServices loopback;
    CountingServices services;
    CWSTransport transport;
    EventLog log;
};

TEST_F(Transport, OpensWithEightQueuedBuffersAndClosesCleanly) {
    Open();
    EXPECT_NE(transport.InputHandle(), 0u);
    EXPECT_NE(transport.OutputHandle(), 0u);
    EXPECT_EQ(loopback.QueuedBuffers(transport.InputHandle()), 8u);
    EXPECT_FALSE(transport.IsClosing());
    EXPECT_TRUE(transport.ClosePorts());
    EXPECT_EQ(transport.InputHandle(), 0u);
    EXPECT_EQ(transport.OutputHandle(), 0u);
    EXPECT_EQ(loopback.OpenInputs(), 0u);
    EXPECT_EQ(loopback.OpenOutputs(), 0u);
    EXPECT_TRUE(transport.IsClosing());
    // The chosen devices are remembered.
    EXPECT_EQ(transport.InputDevice(), kKarmaIn);
    EXPECT_EQ(transport.OutputDevice(), kKarmaOut);
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(Transport, ClosePortsWithoutConnectionIsHarmlessTwice) {
    EXPECT_TRUE(transport.ClosePorts());
    EXPECT_TRUE(transport.ClosePorts());
    Open();
    EXPECT_TRUE(transport.ClosePorts());
    EXPECT_TRUE(transport.ClosePorts());
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(Transport, TenThousandByteDumpArrivesInThreeChunksAndIsPostedOnce) {
    Open();
    const Bytes dump = SysEx(10000);
    ASSERT_TRUE(loopback.Inject(kKarmaIn, dump));
    Settle();
    EXPECT_EQ(log.chunks, (std::vector<std::size_t>{4096, 4096, 1808}));
    ASSERT_EQ(log.dumps.size(), 1u);
    EXPECT_EQ(log.dumps[0], dump);
    EXPECT_TRUE(log.replies.empty());
    EXPECT_EQ(transport.PendingBytes(), 0u);
    // Every returned buffer went back into the queue in place.
    EXPECT_EQ(loopback.QueuedBuffers(transport.InputHandle()), 8u);
    EXPECT_EQ(log.requeues, 0);
}

TEST_F(Transport, StartOfANewMessageDiscardsTheHalfAssembledOne) {
    Open();
    Bytes broken = SysEx(6000, 1);
    broken.pop_back();  // no F7: the next F0 breaks it
    const Bytes whole = SysEx(300, 2);
    ASSERT_TRUE(loopback.Inject(kKarmaIn, broken));
    ASSERT_TRUE(loopback.Inject(kKarmaIn, whole));
    Settle();
    ASSERT_EQ(log.dumps.size(), 1u);
    EXPECT_EQ(log.dumps[0], whole);
    // The buffer that the broken message ended in came back and was queued again.
    EXPECT_EQ(loopback.QueuedBuffers(transport.InputHandle()), 8u);
}

TEST_F(Transport, StatusRepliesAreClassifiedOnTheGlobalChannel) {
    Open(3);
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x33, 0x5D, 0x23, 0xF7}));
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x33, 0x5D, 0x24, 0xF7}));
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x33, 0x5D, 0x26, 0x41, 0xF7}));
    // A Completed Reply on another channel is no status reply.
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7}));
    Settle();
    EXPECT_EQ(log.replies, (std::vector<EventLog::Reply>{{true, 0}, {false, 0}, {false, 0x41}}));
    ASSERT_EQ(log.dumps.size(), 1u);
    EXPECT_EQ(log.dumps[0], (Bytes{0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7}));
}

TEST_F(Transport, CompletedReplyCountsItsBytesInTheProgressDialog) {
    Open();
    CMIDIProgressDlg dialog;
    dialog.BeginTransfer(nullptr, "Loading Program Bank A.", 118000);
    transport.SetProgressDialog(&dialog);
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7}));
    Settle();
    EXPECT_EQ(log.replies, (std::vector<EventLog::Reply>{{true, 0}}));
    EXPECT_EQ(dialog.Received(), 6u);
    transport.SetProgressDialog(nullptr);
}

TEST_F(Transport, DialogGoneBeforeItsChunksIsNotTouched) {
    Open();
    {
        CMIDIProgressDlg dialog;
        dialog.BeginTransfer(nullptr, "x", 146000);
        transport.SetProgressDialog(&dialog);
    }
    ASSERT_TRUE(loopback.Inject(kKarmaIn, SysEx(5000)));
    Settle();
    EXPECT_EQ(log.dumps.size(), 1u);
}

TEST_F(Transport, RepliesWithoutAWaiterAreDropped) {
    Open();
    transport.SetReplySink(nullptr);
    ASSERT_TRUE(loopback.Inject(kKarmaIn, SysEx(9000)));
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7}));
    Settle();  // the sanitizer build reports the dump's buffer if the dropped event leaks it
    EXPECT_TRUE(log.dumps.empty());
    EXPECT_TRUE(log.replies.empty());
    EXPECT_EQ(log.chunks.size(), 4u);
}

TEST_F(Transport, AfterClosePortsEveryBufferIsFreedAndNoneRequeued) {
    Open();
    // A partial message sits in the first buffer when the ports close.
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x01, 0x02}));
    ASSERT_TRUE(loopback.WaitIdle(5000));
    const int addsBefore = services.addBufferCalls;
    transport.ClosePorts();
    EXPECT_EQ(services.addBufferCalls, addsBefore);
    EXPECT_EQ(loopback.OpenInputs(), 0u);
    QCoreApplication::sendPostedEvents();
    // The reset returned the partial buffer with its bytes and the empty ones without a chunk.
    EXPECT_EQ(log.chunks, (std::vector<std::size_t>{3}));
    EXPECT_EQ(log.requeues, 0);
    EXPECT_EQ(services.addBufferCalls, addsBefore);
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(Transport, FailedRequeueInTheCallbackIsReplacedByTheInterfaceThread) {
    Open();
    // The callback's re-queue of the first returned buffer fails once.
    loopback.AddFault({MidiCall::InAddBuffer, bq::midi::MMSYSERR_NOMEM, "", 1, 0, -1});
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7}));
    Settle();
    EXPECT_EQ(log.requeues, 1);
    EXPECT_EQ(loopback.QueuedBuffers(transport.InputHandle()), 8u);
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(Transport, FailedReplacementIsReportedAndThePortRunsOneShort) {
    Open();
    loopback.AddFault({MidiCall::InAddBuffer, 7, "No memory for a MIDI buffer.", 2, 0, -1});
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7}));
    Settle();
    EXPECT_EQ(log.requeues, 1);
    EXPECT_EQ(loopback.QueuedBuffers(transport.InputHandle()), 7u);
    EXPECT_EQ(presenter.Texts(), QStringList{"No memory for a MIDI buffer."});
}

TEST_F(Transport, RequeueRequestArrivingAfterCloseQueuesNothing) {
    Open();
    QCoreApplication::postEvent(&transport, new QEvent(bq::ws::WM_WS_REQUEUE_BUFFER));
    transport.ClosePorts();
    const int adds = services.addBufferCalls;
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(log.requeues, 1);
    EXPECT_EQ(services.addBufferCalls, adds);
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(Transport, BrokenMessageKeepsItsBufferQueuedAndIsNotPassedOn) {
    Open();
    // A note-on status byte breaks the SysEx message.
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x30, 0x5D, 0x90, 0x40, 0x7F}));
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x42, 0x30, 0x5D, 0x24, 0xF7}));
    Settle();
    EXPECT_EQ(log.replies, (std::vector<EventLog::Reply>{{false, 0}}));
    EXPECT_TRUE(log.dumps.empty());
    EXPECT_EQ(loopback.QueuedBuffers(transport.InputHandle()), 8u);
}

TEST_F(Transport, OverlongMessageIsDiscardedAndReceptionResumesAtTheNextStart) {
    Open();
    Bytes endless = SysEx(CWSTransport::kReassemblyLimit + 40000, 3);
    endless.pop_back();
    endless.push_back(0x00);  // never ends
    ASSERT_TRUE(loopback.Inject(kKarmaIn, endless));
    Settle();
    EXPECT_EQ(transport.PendingBytes(), 0u);  // freed when it passed the cap
    const Bytes after = SysEx(5000, 4);
    ASSERT_TRUE(loopback.Inject(kKarmaIn, after));
    Settle();
    ASSERT_EQ(log.dumps.size(), 1u);
    EXPECT_EQ(log.dumps[0], after);
}

TEST_F(Transport, SendSysExHandsTheMessageToTheOutput) {
    Open();
    const Bytes request{0xF0, 0x42, 0x30, 0x5D, 0x1C, 0x10, 0x00, 0x00, 0xF7};
    EXPECT_TRUE(transport.SendSysEx(request.data(), request.size()));
    const Bytes big = SysEx(1148);
    EXPECT_TRUE(transport.SendSysEx(big.data(), big.size()));
    const auto sent = loopback.SentMessages(kKarmaOut);
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], request);
    EXPECT_EQ(sent[1], big);
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST_F(Transport, SendSysExWithoutAnOpenOutputFails) {
    const Bytes request{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    EXPECT_FALSE(transport.SendSysEx(request.data(), request.size()));
}

TEST_F(Transport, SendThatNeverCompletesFailsInsteadOfHanging) {
    Open();
    transport.SetSendTimeoutMargin(100);
    loopback.HoldSends(true);
    const Bytes request{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    EXPECT_FALSE(transport.SendSysEx(request.data(), request.size()));
    loopback.HoldSends(false);
    EXPECT_TRUE(transport.SendSysEx(request.data(), request.size()));
    EXPECT_TRUE(presenter.Messages().empty());
}

TEST(SendTimeout, GrowsWithTheLengthAtCableSpeed) {
    LoopbackMidiServices loopback({"i"}, {"o"});
    CWSTransport transport(loopback);
    transport.SetSendTimeoutMargin(1000);
    EXPECT_EQ(transport.SendTimeoutMs(0), 1000);
    // 146,000 bytes need 46.7 seconds on a cable.
    EXPECT_GE(transport.SendTimeoutMs(146000), 46720 + 1000);
    EXPECT_LT(transport.SendTimeoutMs(146000), 200000);
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
        if (step.call == MidiCall::InOpen) {
            EXPECT_EQ(transport.InputHandle(), 0u);
        }
        if (step.call == MidiCall::OutOpen) {
            EXPECT_EQ(transport.OutputHandle(), 0u);
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
    EXPECT_EQ(transport.InputHandle(), 0u);
    EXPECT_EQ(transport.OutputHandle(), 0u);
    EXPECT_EQ(loopback.OpenInputs(), 0u);  // reset and close went on after the failed stop
}

TEST_F(TransportReports, FailingSendsAreReportedWithTheServiceText) {
    Open();
    const Bytes request{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    loopback.AddFault({MidiCall::OutLongMsg, 67, "The output is not ready.", 1, 0, -1});
    EXPECT_FALSE(transport.SendSysEx(request.data(), request.size()));
    loopback.AddFault({MidiCall::OutLongMsgDone, 1, "The JACK server went away.", 1, 0, -1});
    EXPECT_FALSE(transport.SendSysEx(request.data(), request.size()));
    EXPECT_EQ(presenter.Texts(),
              (QStringList{"The output is not ready.", "The JACK server went away."}));
    EXPECT_TRUE(transport.SendSysEx(request.data(), request.size()));
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

TEST_F(Transport, StatusTextStaysWhenANameCannotBeRead) {
    Open();
    QString text = "previous";
    loopback.AddFault({MidiCall::OutGetDevCaps, 2, "", 1, 0, -1});
    EXPECT_FALSE(transport.GetMIDIStatusText(&text));
    EXPECT_EQ(text, "previous");
    loopback.AddFault({MidiCall::InGetDevCaps, 2, "", 1, 0, -1});
    EXPECT_FALSE(transport.GetMIDIStatusText(&text));
    EXPECT_EQ(text, "previous");
    EXPECT_TRUE(presenter.Messages().empty());
}

}  // namespace
