// The Workstation window end to end over the loopback MIDI services: the search over every
// port, the connection with its "not found" question, dump requests with and without the
// progress dialog, item writes, the silence bound of waits without a dialog, cursors, and the
// report of every failing MIDI service call.
#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
#include <QMdiArea>
#include <QPointer>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "banktree/ItemPane.h"
#include "messages/StringTable.h"
#include "midi/SysEx.h"
#include "midi/loopback/LoopbackMidiServices.h"
#include "tests/support/qt/QtPrinters.h"
#include "tests/support/qt/ScriptedPresenter.h"
#include "tools/virtual-karma/VirtualKarma.h"
#include "workstation/MIDIProgressDlg.h"
#include "workstation/WSFrame.h"
#include "workstation/WSMessages.h"
#include "workstation/WSTransport.h"

namespace {

using bq::midi::LoopbackMidiServices;
using bq::midi::MidiCall;
using bq::midi::MidiTimedBytes;
using bq::test::ScriptedPresenter;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::uint8_t kChannel = 5;
constexpr int kPeriodMs = 100;  // the progress dialog's no-traffic period in these tests

Bytes IdentityReply(std::uint8_t id) {
    return {0xF0, 0x7E, id, 0x06, 0x02, 0x42, 0x5D, 0x00, 0x05, 0x00, 0x01, 0x00, 0x00, 0xF7};
}
bool IsIdentityRequest(const Bytes& m) {
    const auto request = bq::sysex::IdentityRequest();
    return m == Bytes(request.begin(), request.end());
}
bool IsDumpRequest(const Bytes& m) {
    return m.size() == 9 && m[1] == 0x42 && (m[4] == 0x1C || m[4] == 0x1D);
}
Bytes Status(std::uint8_t function, std::optional<std::uint8_t> code = std::nullopt) {
    Bytes m{0xF0, 0x42, static_cast<std::uint8_t>(0x30 | kChannel), 0x5D, function};
    if (code) {
        m.push_back(*code);
    }
    m.push_back(0xF7);
    return m;
}
// A dump message of exactly `length` bytes: header, data bytes of a pattern, F7.
Bytes Dump(std::size_t length) {
    Bytes m(length);
    for (std::size_t i = 0; i < length; ++i) {
        m[i] = static_cast<std::uint8_t>((i * 13 + 1) & 0x7F);
    }
    m[0] = 0xF0;
    m[1] = 0x42;
    m[2] = 0x30 | kChannel;
    m[3] = 0x5D;
    m[4] = 0x4C;
    m.back() = 0xF7;
    return m;
}
// What a dump of `records` unpacks to: a short last group brings the F7 along.
Bytes Unpacked(Bytes records) {
    if (records.size() % 7 != 0) {
        records.push_back(0xF7);
    }
    return records;
}

// An instrument made of a test's function; remembers what reached it and when. The handler
// runs on the loopback's thread.
class ScriptDevice final : public bq::midi::IMidiDevice {
public:
    using Handler = std::function<void(const Bytes&, std::vector<MidiTimedBytes>*)>;
    explicit ScriptDevice(Handler handler = {}) : m_handler(std::move(handler)) {}

    void HandleMessage(const std::uint8_t* message, std::size_t length,
                       std::vector<MidiTimedBytes>* reply) override {
        Bytes m(message, message + length);
        {
            std::lock_guard lock(m_mutex);
            m_arrivals.push_back(Clock::now());
        }
        if (m_handler) {
            m_handler(m, reply);
        }
    }
    std::vector<Clock::time_point> Arrivals() const {
        std::lock_guard lock(m_mutex);
        return m_arrivals;
    }

private:
    Handler m_handler;
    mutable std::mutex m_mutex;
    std::vector<Clock::time_point> m_arrivals;
};

// Answers the Identity Request as the Karma on kChannel, and everything else by `rest`.
std::shared_ptr<ScriptDevice> Instrument(
    std::function<void(const Bytes&, std::vector<MidiTimedBytes>*)> rest) {
    return std::make_shared<ScriptDevice>([rest](const Bytes& m, std::vector<MidiTimedBytes>* r) {
        if (IsIdentityRequest(m)) {
            r->push_back({0, IdentityReply(kChannel)});
        } else if (rest) {
            rest(m, r);
        }
    });
}

using Faults = bq::VirtualKarma::Faults;

Faults Pause(std::size_t afterBytes, std::uint32_t ms) {
    Faults f;
    f.pauseDumps = true;
    f.pauseAfterBytes = afterBytes;
    f.pauseMs = ms;
    return f;
}
Faults Silent() {
    Faults f;
    f.silent = true;
    return f;
}
Faults RefuseDumps() {
    Faults f;
    f.refuseDumps = true;
    return f;
}
Faults FailWrites() {
    Faults f;
    f.failWrites = true;
    return f;
}
Faults ErrorWrites(std::uint8_t code) {
    Faults f;
    f.errorWrites = true;
    f.errorCode = code;
    return f;
}

LoopbackMidiServices::Fault Fault(MidiCall call, bq::midi::MidiResult result = 1,
                                  std::string text = {}, int times = -1, int skip = 0) {
    LoopbackMidiServices::Fault f;
    f.call = call;
    f.result = result;
    f.text = std::move(text);
    f.times = times;
    f.skip = skip;
    return f;
}

long long Ms(Clock::duration d) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
}

// The main window with its MDI area, one hidden Workstation window, and the MIDI services
// behind it; the services outlive the windows.
struct Rig {
    Rig(std::vector<std::string> inputs, std::vector<std::string> outputs)
        : loopback(std::move(inputs), std::move(outputs)) {
        karma->SetChannel(kChannel);
        auto* area = new QMdiArea;
        main.setCentralWidget(area);
        main.resize(900, 600);
        main.show();
        frame = new CWSFrame(loopback);
        area->addSubWindow(frame);
        frame->hide();
        frame->resize(700, 400);
        frame->SetProgressTimerPeriodMs(kPeriodMs);
        bq::SetMainWindow(&main);
    }
    ~Rig() { bq::SetMainWindow(nullptr); }

    // Shows the window and waits until its search has connected or given up.
    bool ShowAndConnect() {
        frame->show();
        return QTest::qWaitFor(
            [&] { return frame->Transport().IsConnected() || !frame->isVisible(); }, 10000);
    }
    QString Status() {
        QString text;
        EXPECT_TRUE(frame->GetMIDIStatusText(&text));
        return text;
    }

    ScriptedPresenter presenter;
    LoopbackMidiServices loopback;
    std::shared_ptr<bq::VirtualKarma> karma = std::make_shared<bq::VirtualKarma>();
    QMainWindow main;
    QPointer<CWSFrame> frame;
};

// The Karma on the only ports, connected through the window's own search.
struct Connected : Rig {
    Connected() : Rig({"Karma In"}, {"Karma Out"}) {
        loopback.AttachDevice(0, 0, karma);
        EXPECT_TRUE(ShowAndConnect());
        EXPECT_TRUE(frame->Transport().IsConnected());
        presenter.Clear();
    }
};

Qt::CursorShape OverrideShape() {
    const QCursor* cursor = QGuiApplication::overrideCursor();
    return cursor != nullptr ? cursor->shape() : Qt::ArrowCursor;
}

// Runs `action` once, inside a request's wait: when the first bytes of the answer reach the
// window, before the transport has counted them.
class AtFirstBytes : public QObject {
public:
    AtFirstBytes(Rig& rig, std::function<void()> action) : m_action(std::move(action)) {
        rig.frame->Transport().installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == bq::ws::WM_WS_SYSEX_CHUNK && m_action) {
            std::exchange(m_action, nullptr)();
        }
        return false;
    }

private:
    std::function<void()> m_action;
};

// Samples the window's state from inside a request's wait, when its answer starts to arrive.
struct Sample {
    bool taken = false;
    bool dialogVisible = false;
    bool mainEnabled = true;
    QString kbytes;
    Qt::CursorShape cursor = Qt::ArrowCursor;
    int overrides = 0;

    std::unique_ptr<AtFirstBytes> AtFirstBytesOf(Rig& rig) {
        return std::make_unique<AtFirstBytes>(rig, [this, &rig] {
            taken = true;
            CMIDIProgressDlg* dialog = rig.frame->ProgressDialog();
            dialogVisible = dialog != nullptr && dialog->isVisible();
            if (dialog != nullptr) {
                kbytes = dialog->findChild<QLabel*>("kbytesText")->text();
            }
            mainEnabled = rig.main.isEnabled();
            cursor = OverrideShape();
        });
    }
};

// Counts the events of one type that an object receives.
class EventCounter : public QObject {
public:
    EventCounter(QObject* watched, QEvent::Type type) : m_type(type) {
        watched->installEventFilter(this);
    }
    int count = 0;
    bool eventFilter(QObject*, QEvent* e) override {
        count += e->type() == m_type;
        return false;
    }

private:
    QEvent::Type m_type;
};

// The dialog's kilobyte text at the moment the complete dump reaches the window.
class FinalText : public QObject {
public:
    explicit FinalText(Rig& rig) : m_rig(rig) {
        connect(&rig.frame->Transport(), &CWSTransport::ExchangeEnded, this, [this] {
            if (m_rig.frame->ProgressDialog() != nullptr) {
                text = m_rig.frame->ProgressDialog()->findChild<QLabel*>("kbytesText")->text();
            }
        });
    }
    QString text;

private:
    Rig& m_rig;
};

// ---- the window ----

TEST(WSFrameWindow, PanesAndTheWayFromTheView) {
    Connected rig;
    ASSERT_EQ(rig.frame->Splitter()->count(), 2);
    EXPECT_EQ(rig.frame->Splitter()->widget(0), rig.frame->BankView());
    EXPECT_EQ(rig.frame->Splitter()->widget(1), rig.frame->SecondView());
    EXPECT_EQ(rig.frame->Splitter()->sizes().value(0), 250);
    EXPECT_EQ(CWSFrame::FromView(rig.frame->BankView()), rig.frame.data());
    EXPECT_EQ(CWSFrame::FromView(rig.frame->SecondView()), rig.frame.data());
    EXPECT_EQ(CWSFrame::FromView(&rig.main), nullptr);
}

// ---- search ----

TEST(WSFrameSearch, InstrumentOnOutput2AndInput1IsFoundAfterOutputs0And1HadTheirWindow) {
    Rig rig({"In 0", "Karma In", "In 2"}, {"Out 0", "Out 1", "Karma Out", "Out 3"});
    auto out0 = std::make_shared<ScriptDevice>();
    auto out1 = std::make_shared<ScriptDevice>();
    auto karma = std::make_shared<ScriptDevice>([&rig](const Bytes& m, auto* reply) {
        rig.karma->HandleMessage(m.data(), m.size(), reply);
    });
    rig.karma->SetChannel(9);
    rig.loopback.AttachDevice(0, 0, out0);
    rig.loopback.AttachDevice(1, 2, out1);
    rig.loopback.AttachDevice(2, 1, karma);

    Qt::CursorShape during = Qt::ArrowCursor;
    QTimer::singleShot(200, &rig.main, [&] { during = OverrideShape(); });
    std::uint32_t input = 0, output = 0;
    std::uint8_t id = 0;
    ASSERT_TRUE(rig.frame->SearchWorkstation(&input, &output, &id));
    EXPECT_EQ(input, 1u);
    EXPECT_EQ(output, 2u);
    EXPECT_EQ(id, 9);

    ASSERT_EQ(out0->Arrivals().size(), 1u);
    ASSERT_EQ(out1->Arrivals().size(), 1u);
    ASSERT_EQ(karma->Arrivals().size(), 1u);
    // Each silent output had its full 500 ms (AnAnswerEndsTheWaitAtOnce: the answer ended the
    // third wait).
    EXPECT_GE(Ms(out1->Arrivals()[0] - out0->Arrivals()[0]), 495);
    EXPECT_GE(Ms(karma->Arrivals()[0] - out1->Arrivals()[0]), 495);
    EXPECT_TRUE(rig.loopback.SentMessages(3).empty());  // the search stopped at the answer
    for (std::uint32_t out = 0; out < 3; ++out) {
        const auto sent = rig.loopback.SentMessages(out);
        ASSERT_EQ(sent.size(), 1u) << out;
        EXPECT_TRUE(IsIdentityRequest(sent[0]));
    }
    // Everything the search opened is closed, and its cursor is gone.
    EXPECT_EQ(rig.loopback.OpenInputs(), 0u);
    EXPECT_EQ(rig.loopback.OpenOutputs(), 0u);
    EXPECT_EQ(during, Qt::WaitCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(rig.presenter.Messages().empty());
}

TEST(WSFrameSearch, AnAnswerEndsTheWaitAtOnce) {
    Rig rig({"Karma In"}, {"Karma Out"});
    rig.loopback.AttachDevice(0, 0, rig.karma);
    rig.frame->SetSearchWindowMs(600000);
    QElapsedTimer clock;
    clock.start();
    std::uint32_t input = 7, output = 7;
    std::uint8_t id = 0;
    ASSERT_TRUE(rig.frame->SearchWorkstation(&input, &output, &id));
    // A failure limit far below the window: only the answer can have ended the wait.
    EXPECT_LT(clock.elapsed(), 60000);
    EXPECT_EQ(input, 0u);
    EXPECT_EQ(output, 0u);
    EXPECT_EQ(id, kChannel);
}

TEST(WSFrameSearch, ALateIdentityReplyIsCreditedToTheNextOutput) {
    Rig rig({"In 0"}, {"Out 0", "Out 1", "Out 2"});
    // The instrument on output 0 answers only once that output's window is over: when the
    // search has moved on and asks output 1 (which hears nothing itself), the reply arrives on
    // input 0.
    auto out0 = std::make_shared<ScriptDevice>();
    rig.loopback.AttachDevice(0, 0, out0);
    rig.loopback.AttachDevice(1, 0, std::make_shared<ScriptDevice>([](const Bytes&, auto* reply) {
                                  reply->push_back({0, IdentityReply(3)});
                              }));
    std::uint32_t input = 7, output = 7;
    std::uint8_t id = 0;
    ASSERT_TRUE(rig.frame->SearchWorkstation(&input, &output, &id));
    EXPECT_EQ(out0->Arrivals().size(), 1u);
    EXPECT_EQ(input, 0u);
    EXPECT_EQ(output, 1u);
    EXPECT_EQ(id, 3);
    EXPECT_TRUE(rig.loopback.SentMessages(2).empty());
}

TEST(WSFrameSearch, OtherInstrumentsAndSilenceAreNotFound) {
    Rig rig({"In 0", "In 1"}, {"Out 0", "Out 1"});
    // Another Korg family member answers; the second output stays silent.
    rig.loopback.AttachDevice(0, 0, std::make_shared<ScriptDevice>([](const Bytes&, auto* reply) {
                                  Bytes other = IdentityReply(1);
                                  other[8] = 0x04;
                                  reply->push_back({0, other});
                              }));
    std::uint32_t input = 0, output = 0;
    std::uint8_t id = 0;
    EXPECT_FALSE(rig.frame->SearchWorkstation(&input, &output, &id));
    EXPECT_EQ(input, CWSFrame::kNoDevice);
    EXPECT_EQ(output, CWSFrame::kNoDevice);
    EXPECT_EQ(rig.loopback.SentMessages(1).size(), 1u);
    EXPECT_EQ(rig.loopback.OpenInputs(), 0u);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// ---- connection ----

TEST(WSFrameConnection, ShowingSearchesAndConnectsHidingCloses) {
    Rig rig({"Other In", "Karma In"}, {"Karma Out"});
    rig.loopback.AttachDevice(0, 1, rig.karma);
    EXPECT_EQ(rig.Status(), "MIDI Status: Not Connected");
    ASSERT_TRUE(rig.ShowAndConnect());
    EXPECT_TRUE(rig.frame->isVisible());
    EXPECT_TRUE(rig.frame->isEnabled());
    EXPECT_EQ(rig.Status(), "MIDI Status: Connected [In: Karma In, Out: Karma Out]");
    EXPECT_EQ(rig.frame->Transport().GlobalChannel(), kChannel);
    EXPECT_EQ(rig.loopback.QueuedBuffers(rig.frame->Transport().Link().InputHandle()), 8u);
    EXPECT_TRUE(rig.presenter.Messages().empty());

    rig.frame->close();
    EXPECT_FALSE(rig.frame->isVisible());
    EXPECT_EQ(rig.loopback.OpenInputs(), 0u);
    EXPECT_EQ(rig.loopback.OpenOutputs(), 0u);
    EXPECT_EQ(rig.Status(), "MIDI Status: Not Connected");

    // Each showing searches afresh.
    rig.loopback.ClearSentMessages();
    ASSERT_TRUE(rig.ShowAndConnect());
    EXPECT_TRUE(rig.frame->Transport().IsConnected());
    EXPECT_TRUE(IsIdentityRequest(rig.loopback.SentMessages(0).at(0)));
}

TEST(WSFrameConnection, NotFoundIsAskedAgainOnYesAndNoHidesTheWindow) {
    Rig rig({"In"}, {"Out"});
    rig.presenter.Answer(bq::IDYES);
    rig.presenter.Answer(bq::IDNO);
    bool disabledWhileAsked = false;
    rig.presenter.onShow = [&](const ScriptedPresenter::Message&) {
        disabledWhileAsked = !rig.frame->isEnabled();
    };
    ASSERT_TRUE(rig.ShowAndConnect());
    EXPECT_FALSE(rig.frame->isVisible());
    const QString question = bq::LoadString(bq::StringId::WorkstationNotFound);
    EXPECT_EQ(rig.presenter.Texts(), QStringList({question, question}));
    EXPECT_EQ(rig.presenter.Messages()[0].style, bq::MB_YESNO | bq::MB_ICONERROR);
    EXPECT_TRUE(disabledWhileAsked);
    EXPECT_EQ(rig.loopback.SentMessages(0).size(), 2u);  // searched twice
    EXPECT_EQ(rig.Status(), "MIDI Status: Not Connected");
    EXPECT_EQ(rig.loopback.OpenInputs(), 0u);
    EXPECT_EQ(rig.loopback.OpenOutputs(), 0u);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(rig.presenter.Unscripted(), 0);
}

TEST(WSFrameConnection, YesFindsAnInstrumentConnectedMeanwhile) {
    Rig rig({"Karma In"}, {"Karma Out"});
    rig.presenter.Answer(bq::IDYES);
    rig.presenter.onShow = [&](const ScriptedPresenter::Message&) {
        rig.loopback.AttachDevice(0, 0, rig.karma);
    };
    ASSERT_TRUE(rig.ShowAndConnect());
    EXPECT_TRUE(rig.frame->isVisible());
    EXPECT_TRUE(rig.frame->isEnabled());
    EXPECT_EQ(rig.presenter.Messages().size(), 1u);
    EXPECT_EQ(rig.Status(), "MIDI Status: Connected [In: Karma In, Out: Karma Out]");
}

TEST(WSFrameConnection, AConnectPostedByAShowThatWasUndoneOpensNothing) {
    Rig rig({"Karma In"}, {"Karma Out"});
    rig.loopback.AttachDevice(0, 0, rig.karma);
    EventCounter connects(rig.frame.data(), bq::ws::WM_WS_CONNECT);
    rig.frame->show();
    rig.frame->hide();
    ASSERT_TRUE(QTest::qWaitFor([&] { return connects.count == 1; }, 10000));
    EXPECT_EQ(rig.loopback.SentMessages(0).size(), 0u);
    EXPECT_EQ(rig.loopback.OpenInputs(), 0u);
    EXPECT_TRUE(rig.presenter.Messages().empty());
}

TEST(WSFrameConnection, HidingTheWindowEndsTheSearchAndOpensNothing) {
    Rig rig({"Karma In"}, {"Out 0", "Karma Out"});
    rig.loopback.AttachDevice(1, 0, rig.karma);
    // Hidden while output 0 has its 500 ms (as soon as it has been asked): the search ends
    // there, without asking output 1 and without the "not found" question.
    CWSFrame* frame = rig.frame;
    rig.loopback.AttachDevice(0, 0, std::make_shared<ScriptDevice>([frame](const Bytes&, auto*) {
                                  QMetaObject::invokeMethod(frame, [frame] { frame->hide(); });
                              }));
    rig.frame->show();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !rig.loopback.SentMessages(0).empty() && !rig.frame->IsSearching(); },
        10000));
    EXPECT_TRUE(rig.loopback.SentMessages(1).empty());
    EXPECT_TRUE(rig.presenter.Messages().empty());
    EXPECT_FALSE(rig.frame->isVisible());
    EXPECT_FALSE(rig.frame->Transport().IsConnected());
    EXPECT_EQ(rig.loopback.OpenInputs(), 0u);
    EXPECT_EQ(rig.loopback.OpenOutputs(), 0u);
    EXPECT_EQ(rig.Status(), "MIDI Status: Not Connected");
}

TEST(WSFrameConnection, NoDevicesAreReportedBeforeTheQuestion) {
    for (MidiCall call : {MidiCall::InGetNumDevs, MidiCall::OutGetNumDevs}) {
        SCOPED_TRACE(static_cast<int>(call));
        Rig rig({"Karma In"}, {"Karma Out"});
        rig.loopback.AttachDevice(0, 0, rig.karma);
        rig.loopback.AddFault(Fault(call));
        rig.presenter.Answer(bq::IDOK);
        rig.presenter.Answer(bq::IDNO);
        ASSERT_TRUE(rig.ShowAndConnect());
        EXPECT_FALSE(rig.frame->isVisible());
        const bq::StringId first = call == MidiCall::InGetNumDevs ? bq::StringId::NoMidiInputs
                                                                  : bq::StringId::NoMidiOutputs;
        EXPECT_EQ(rig.presenter.Texts(),
                  QStringList(
                      {bq::LoadString(first), bq::LoadString(bq::StringId::WorkstationNotFound)}));
        EXPECT_EQ(rig.presenter.Messages()[0].style, bq::MB_OK | bq::MB_ICONERROR);
        EXPECT_TRUE(rig.loopback.SentMessages(0).empty());
        EXPECT_EQ(rig.loopback.OpenInputs(), 0u);
    }
}

// Every failing service call of the search is reported with the backend's own text; the
// search goes on past it and finds the instrument unless the failure cut it off.
TEST(WSFrameConnection, SearchFailuresAreReportedWithTheBackendsText) {
    struct Case {
        MidiCall call;
        bool found;
    };
    const Case cases[] = {
        {MidiCall::InOpen, false},     {MidiCall::InAddBuffer, false},
        {MidiCall::InStart, false},    {MidiCall::OutOpen, false},
        {MidiCall::OutLongMsg, false}, {MidiCall::OutLongMsgDone, true},
        {MidiCall::OutReset, true},    {MidiCall::OutClose, true},
        {MidiCall::InStop, true},      {MidiCall::InReset, true},
        {MidiCall::InClose, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.call));
        Rig rig({"Karma In"}, {"Karma Out"});
        rig.loopback.AttachDevice(0, 0, rig.karma);
        const std::string text = "backend says no to call " + std::to_string(int(c.call));
        rig.loopback.AddFault(Fault(c.call, bq::midi::MMSYSERR_NOMEM, text, 1));
        std::uint32_t input = 0, output = 0;
        std::uint8_t id = 0;
        EXPECT_EQ(rig.frame->SearchWorkstation(&input, &output, &id), c.found);
        // A reset that failed leaves a buffer queued, which the close then refuses too.
        ASSERT_FALSE(rig.presenter.Texts().isEmpty());
        EXPECT_EQ(rig.presenter.Texts().front(), QString::fromStdString(text));
        EXPECT_LE(rig.presenter.Texts().size(), c.call == MidiCall::InReset ? 2 : 1);
        EXPECT_EQ(rig.presenter.Messages().at(0).style, bq::MB_OK | bq::MB_ICONERROR);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
}

// A failure while opening the chosen ports is reported, the connection fails, the window
// hides and closes what was opened.
TEST(WSFrameConnection, ConnectionFailuresAreReportedAndHideTheWindow) {
    struct Case {
        MidiCall call;
        int skip;  // calls the search makes first
    };
    // The search queues a buffer on its input and queues it again after the reply.
    const Case cases[] = {{MidiCall::InOpen, 1},
                          {MidiCall::OutOpen, 1},
                          {MidiCall::InAddBuffer, 2},
                          {MidiCall::InAddBuffer, 6},
                          {MidiCall::InStart, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.call) * 100 + c.skip);
        Rig rig({"Karma In"}, {"Karma Out"});
        rig.loopback.AttachDevice(0, 0, rig.karma);
        const std::string text = "connection refused by the backend";
        rig.loopback.AddFault(Fault(c.call, bq::midi::MMSYSERR_ALLOCATED, text, 1, c.skip));
        ASSERT_TRUE(rig.ShowAndConnect());
        EXPECT_FALSE(rig.frame->isVisible());
        EXPECT_EQ(rig.presenter.Texts(), QStringList({QString::fromStdString(text)}));
        EXPECT_FALSE(rig.frame->Transport().IsConnected());
        EXPECT_EQ(rig.loopback.OpenInputs(), 0u);
        EXPECT_EQ(rig.loopback.OpenOutputs(), 0u);
        EXPECT_EQ(rig.Status(), "MIDI Status: Not Connected");
    }
}

// ---- dump requests ----

TEST(WSFrameDump, BankDumpShowsTheDialogDisablesTheMainWindowAndUnpacks) {
    Connected rig;
    rig.karma->SetFaults(Pause(0, 400));
    rig.frame->SetProgressTimerPeriodMs(5000);  // no question during the pause
    Sample sample;
    const auto sampler = sample.AtFirstBytesOf(rig);
    FinalText final(rig);
    auto request = *bq::sysex::ProgramBankDumpRequest(2);
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(rig.frame->RequestDump(request.data(), request.size(), "Loading Program Bank C.",
                                       118000, 8, &data));
    EXPECT_EQ(data, Unpacked(rig.karma->ProgramBank(2)));
    EXPECT_EQ(request[2], 0x30 | kChannel);  // the caller's bytes, changed in place
    EXPECT_EQ(rig.loopback.SentMessages(0).back(), Bytes(request.begin(), request.end()));

    ASSERT_TRUE(sample.taken);
    EXPECT_TRUE(sample.dialogVisible);
    EXPECT_FALSE(sample.mainEnabled);
    EXPECT_EQ(sample.kbytes, "Received 0 of 115 KBytes...");
    EXPECT_EQ(sample.cursor, Qt::BusyCursor);
    // The Karma's bank A to E dump is 117623 bytes: 114 whole kilobytes.
    EXPECT_EQ(final.text, "Received 114 of 115 KBytes...");

    EXPECT_EQ(rig.frame->ProgressDialog(), nullptr);
    EXPECT_TRUE(rig.main.isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(rig.frame->IsWaiting());
    EXPECT_TRUE(rig.presenter.Messages().empty());
}

TEST(WSFrameDump, A118000ByteTransferCountsFrom0To115Kilobytes) {
    Rig rig({"Karma In"}, {"Karma Out"});
    rig.loopback.AttachDevice(0, 0, Instrument([](const Bytes& m, auto* reply) {
                                  if (IsDumpRequest(m)) {
                                      reply->push_back({300, Dump(118000)});
                                  }
                              }));
    ASSERT_TRUE(rig.ShowAndConnect());
    rig.frame->SetProgressTimerPeriodMs(5000);
    Sample sample;
    const auto sampler = sample.AtFirstBytesOf(rig);
    FinalText final(rig);
    auto request = *bq::sysex::CombiBankDumpRequest(0);
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(rig.frame->RequestDump(request.data(), request.size(),
                                       "Loading Combination Bank A.", 118000, 8, &data));
    EXPECT_EQ(sample.kbytes, "Received 0 of 115 KBytes...");
    EXPECT_EQ(final.text, "Received 115 of 115 KBytes...");
    Bytes expected = Dump(118000);
    unsigned long length = expected.size();
    ASSERT_TRUE(bq::sysex::UnpackSysEx(8, expected.data(), &length));
    expected.resize(length);
    EXPECT_EQ(data, expected);
}

TEST(WSFrameDump, TheSmallRequestShowsNoDialogAndWaitsWithTheHourglassAndNoInput) {
    Connected rig;
    rig.karma->SetFaults(Pause(0, 300));
    Sample sample;
    const auto sampler = sample.AtFirstBytesOf(rig);
    auto request = bq::sysex::SingleCombiDumpRequest();
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(rig.frame->RequestDump(request.data(), request.size(), QString(), 600, 8, &data));
    EXPECT_EQ(data, Unpacked(rig.karma->CurrentCombi()));
    ASSERT_TRUE(sample.taken);
    EXPECT_FALSE(sample.dialogVisible);
    EXPECT_FALSE(sample.mainEnabled);
    EXPECT_EQ(sample.cursor, Qt::WaitCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(rig.main.isEnabled());
}

TEST(WSFrameDump, StatusRepliesToADumpRequestFailIt) {
    for (std::uint32_t expected : {118000u, 600u}) {
        for (const Bytes& answer :
             {Status(0x24), Status(0x26, 0x41), Status(0x23), Status(0x26, 0x00)}) {
            SCOPED_TRACE(testing::Message() << expected << " answer " << int(answer[4]));
            Rig rig({"Karma In"}, {"Karma Out"});
            rig.loopback.AttachDevice(0, 0, Instrument([answer](const Bytes& m, auto* reply) {
                                          if (IsDumpRequest(m)) {
                                              reply->push_back({0, answer});
                                          }
                                      }));
            ASSERT_TRUE(rig.ShowAndConnect());
            auto request = *bq::sysex::ProgramBankDumpRequest(0);
            std::vector<std::uint8_t> data{1, 2, 3};
            EXPECT_FALSE(
                rig.frame->RequestDump(request.data(), request.size(), "x", expected, 8, &data));
            EXPECT_EQ(data, Bytes({1, 2, 3}));
            EXPECT_EQ(rig.frame->ProgressDialog(), nullptr);
            EXPECT_TRUE(rig.main.isEnabled());
            EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        }
    }
}

TEST(WSFrameDump, TheVirtualKarmaRefusingADumpFailsIt) {
    Connected rig;
    rig.karma->SetFaults(RefuseDumps());
    auto request = *bq::sysex::CombiBankDumpRequest(4);
    std::vector<std::uint8_t> data;
    EXPECT_FALSE(rig.frame->RequestDump(request.data(), request.size(), "x", 146000, 8, &data));
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(rig.main.isEnabled());
}

TEST(WSFrameDump, DataDuringTheSilenceQuestionWithdrawsItAndTheTransferCompletes) {
    Rig rig({"Karma In"}, {"Karma Out"});
    // The instrument sends the first kilobyte of the dump, then nothing until the silence
    // question is on screen; then the rest comes.
    const Bytes dump = rig.karma->CombiBankDump(1);
    rig.loopback.AttachDevice(
        0, 0, Instrument([&dump](const Bytes& m, auto* reply) {
            if (IsDumpRequest(m)) {
                reply->push_back({0, Bytes(dump.begin(), dump.begin() + 1000)});
            }
        }));
    ASSERT_TRUE(rig.ShowAndConnect());
    rig.presenter.HoldOpen(60000, bq::IDNO);
    rig.presenter.onShow = [&](const ScriptedPresenter::Message&) {
        rig.loopback.Inject(0, Bytes(dump.begin() + 1000, dump.end()));
    };
    auto request = *bq::sysex::CombiBankDumpRequest(1);
    std::vector<std::uint8_t> data;
    ASSERT_TRUE(rig.frame->RequestDump(request.data(), request.size(),
                                       "Loading Combination Bank B.", 146000, 8, &data));
    rig.presenter.onShow = nullptr;
    EXPECT_EQ(data, Unpacked(rig.karma->CombiBank(1)));
    ASSERT_EQ(rig.presenter.Messages().size(), 1u);
    const auto& question = rig.presenter.Messages()[0];
    EXPECT_EQ(question.text, bq::LoadString(bq::StringId::NoTrafficQuestion));
    EXPECT_TRUE(question.withdrawn);
    EXPECT_EQ(question.answer, bq::IDYES);
    EXPECT_TRUE(rig.main.isEnabled());
    EXPECT_FALSE(CMIDIProgressDlg::PromptOpen());
}

TEST(WSFrameDump, NoEndsTheRequestAndALaterTransferCanAskAgain) {
    Connected rig;
    rig.karma->SetFaults(Silent());
    auto request = *bq::sysex::ProgramBankDumpRequest(0);
    std::vector<std::uint8_t> data;
    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE(attempt);
        rig.presenter.Answer(bq::IDNO);
        EXPECT_FALSE(rig.frame->RequestDump(request.data(), request.size(), "x", 118000, 8, &data));
        EXPECT_EQ(rig.presenter.Messages().size(), static_cast<std::size_t>(attempt));
        EXPECT_EQ(rig.presenter.Texts().back(), bq::LoadString(bq::StringId::NoTrafficQuestion));
        EXPECT_EQ(rig.frame->ProgressDialog(), nullptr);
        EXPECT_TRUE(rig.main.isEnabled());
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
        EXPECT_FALSE(rig.frame->IsWaiting());
    }
    // The instrument speaks again: the next request goes through.
    rig.karma->SetFaults({});
    ASSERT_TRUE(rig.frame->RequestDump(request.data(), request.size(), "x", 118000, 8, &data));
    EXPECT_EQ(data, Unpacked(rig.karma->ProgramBank(0)));
}

TEST(WSFrameDump, ASilentInstrumentFailsTheSmallRequestAfterTheBound) {
    Connected rig;
    rig.karma->SetFaults(Silent());
    rig.frame->SetReplySilenceMs(300);
    auto request = bq::sysex::SingleCombiDumpRequest();
    std::vector<std::uint8_t> data;
    // When the bound ends it is the exchange's business (tests/midi/exchange); here, that the
    // window gives up without a word and takes input again.
    EXPECT_FALSE(rig.frame->RequestDump(request.data(), request.size(), QString(), 600, 8, &data));
    EXPECT_TRUE(rig.presenter.Messages().empty());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(WSFrameDump, AFailedSendClosesTheDialogAndFails) {
    Connected rig;
    const std::string text = "the output is gone";
    rig.loopback.AddFault(Fault(MidiCall::OutLongMsg, bq::midi::MMSYSERR_NODRIVER, text, 1));
    auto request = *bq::sysex::ProgramBankDumpRequest(0);
    std::vector<std::uint8_t> data;
    EXPECT_FALSE(rig.frame->RequestDump(request.data(), request.size(), "x", 118000, 8, &data));
    EXPECT_EQ(rig.presenter.Texts(), QStringList({QString::fromStdString(text)}));
    EXPECT_EQ(rig.frame->ProgressDialog(), nullptr);
    EXPECT_TRUE(rig.main.isEnabled());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

// ---- item writes ----

TEST(WSFrameWrite, CompletedIsTrueFailedAndErrorAreFalse) {
    Connected rig;
    const Bytes record = rig.karma->CombiRecord(0, 3);
    const auto header = *bq::sysex::ItemWriteHeader(2, 12);
    Qt::CursorShape during = Qt::ArrowCursor;
    QTimer::singleShot(0, &rig.main, [&] { during = OverrideShape(); });
    ASSERT_TRUE(rig.frame->SendPacked(record.data(), record.size(), header.data(), header.size()));
    EXPECT_EQ(rig.karma->CombiRecord(2, 12), record);
    const Bytes sent = rig.loopback.SentMessages(0).back();
    EXPECT_EQ(sent.size(), 1148u);
    EXPECT_EQ(sent[2], 0x30 | kChannel);
    EXPECT_EQ(sent[6], 0x22);
    EXPECT_EQ(sent[7], 12);
    EXPECT_EQ(during, Qt::WaitCursor);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    const Bytes other = rig.karma->CombiRecord(1, 1);
    for (const Faults& faults : {FailWrites(), ErrorWrites(0x41)}) {
        rig.karma->SetFaults(faults);
        EXPECT_FALSE(
            rig.frame->SendPacked(other.data(), other.size(), header.data(), header.size()));
        EXPECT_EQ(rig.karma->CombiRecord(2, 12), record);
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    }
    EXPECT_TRUE(rig.presenter.Messages().empty());
}

TEST(WSFrameWrite, OnlyAnItemWriteHeaderIsSent) {
    Connected rig;
    const Bytes record(996, 0x44);
    const auto header = *bq::sysex::ItemWriteHeader(1, 7);
    const std::size_t sent = rig.loopback.SentMessages(0).size();
    // Anything but the 8 header bytes of an Item Write goes nowhere.
    EXPECT_FALSE(rig.frame->SendPacked(record.data(), record.size(), header.data(), 7));
    const Bytes longer = {0xF0, 0x42, 0x30, 0x5D, 0x4D, 0x00, 0x21, 0x07, 0x00};
    EXPECT_FALSE(rig.frame->SendPacked(record.data(), record.size(), longer.data(), longer.size()));
    EXPECT_EQ(rig.loopback.SentMessages(0).size(), sent);
    EXPECT_NE(rig.karma->CombiRecord(1, 7), record);
    EXPECT_TRUE(rig.presenter.Messages().empty());
}

TEST(WSFrameWrite, ADumpDuringAWriteIsDroppedAndTheReplyStillCounts) {
    Rig rig({"Karma In"}, {"Karma Out"});
    rig.loopback.AttachDevice(0, 0, Instrument([](const Bytes& m, auto* reply) {
                                  if (m.size() > 9 && m[4] == 0x4D) {
                                      reply->push_back({0, Dump(5000)});
                                      reply->push_back({0, Status(0x23)});
                                  }
                              }));
    ASSERT_TRUE(rig.ShowAndConnect());
    const Bytes record(996, 0x11);
    const auto header = *bq::sysex::ItemWriteHeader(0, 0);
    EXPECT_TRUE(rig.frame->SendPacked(record.data(), record.size(), header.data(), header.size()));
}

TEST(WSFrameWrite, ASilentInstrumentFailsTheWriteAfterTheBound) {
    Connected rig;
    rig.karma->SetFaults(Silent());
    rig.frame->SetReplySilenceMs(300);
    const Bytes record(996, 0x7F);
    const auto header = *bq::sysex::ItemWriteHeader(0, 1);
    CWSFrame::WriteEnd end = CWSFrame::WriteEnd::Completed;
    EXPECT_FALSE(rig.frame->SendPacked(record.data(), record.size(), header.data(), header.size(),
                                       &end));
    EXPECT_EQ(end, CWSFrame::WriteEnd::Unanswered);
    EXPECT_FALSE(rig.frame->IsWaiting());
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // A reply that comes after the wait gave up is dropped, not kept for the next request.
    rig.karma->SetFaults({});
    EXPECT_TRUE(rig.frame->SendPacked(record.data(), record.size(), header.data(), header.size()));
}

// ---- the wait's other ways out ----

TEST(WSFrameWait, QuittingTheApplicationEndsAWaitAsFailed) {
    Connected rig;
    rig.karma->SetFaults(Silent());
    rig.frame->SetReplySilenceMs(60000);
    const Bytes record(996, 0x22);
    const auto header = *bq::sysex::ItemWriteHeader(0, 3);
    std::optional<bool> result;
    QTimer::singleShot(0, [&] {
        result = rig.frame->SendPacked(record.data(), record.size(), header.data(), header.size());
    });
    QTimer::singleShot(200, [] { QCoreApplication::exit(3); });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(QCoreApplication::exec(), 3);
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(*result);
    EXPECT_LT(clock.elapsed(), 30000);  // not the bound: the quit ended it
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(WSFrameWait, DestroyingTheWindowDuringAWaitEndsItAndClosesEverything) {
    Connected rig;
    rig.karma->SetFaults(Silent());
    auto request = *bq::sysex::ProgramBankDumpRequest(1);
    std::vector<std::uint8_t> data;
    rig.frame->SetProgressTimerPeriodMs(5000);
    QTimer::singleShot(150, rig.frame.data(), [&] { rig.frame->deleteLater(); });
    EXPECT_FALSE(rig.frame->RequestDump(request.data(), request.size(), "x", 118000, 8, &data));
    EXPECT_TRUE(rig.frame.isNull());
    EXPECT_TRUE(rig.main.isEnabled());
    EXPECT_EQ(rig.loopback.OpenInputs(), 0u);
    EXPECT_EQ(rig.loopback.OpenOutputs(), 0u);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
}

TEST(WSFrameWait, DestroyingTheWindowDuringASearchClosesWhatTheSearchOpened) {
    Rig rig({"In 0", "In 1"}, {"Out 0", "Out 1"});
    QTimer::singleShot(200, rig.frame.data(), [&] { rig.frame->deleteLater(); });
    std::uint32_t input = 0, output = 0;
    std::uint8_t id = 0;
    EXPECT_FALSE(rig.frame->SearchWorkstation(&input, &output, &id));
    EXPECT_TRUE(rig.frame.isNull());
    EXPECT_EQ(rig.loopback.OpenInputs(), 0u);
    EXPECT_EQ(rig.loopback.OpenOutputs(), 0u);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    // A reply now finds no input that could call into the window that is gone.
    rig.loopback.Inject(1, IdentityReply(2));
    EXPECT_TRUE(rig.loopback.WaitIdle());
}

TEST(WSFrameWait, OneRequestAtATime) {
    Connected rig;
    rig.karma->SetFaults(Pause(0, 300));
    std::optional<bool> nested;
    AtFirstBytes during(rig, [&] {
        const Bytes record(996, 0x33);
        const auto header = *bq::sysex::ItemWriteHeader(0, 4);
        nested = rig.frame->SendPacked(record.data(), record.size(), header.data(), header.size());
    });
    auto request = bq::sysex::SingleCombiDumpRequest();
    std::vector<std::uint8_t> data;
    EXPECT_TRUE(rig.frame->RequestDump(request.data(), request.size(), QString(), 600, 8, &data));
    ASSERT_TRUE(nested.has_value());
    EXPECT_FALSE(*nested);
    EXPECT_EQ(rig.loopback.SentMessages(0).size(), 2u);  // the search's and the request
}

}  // namespace
