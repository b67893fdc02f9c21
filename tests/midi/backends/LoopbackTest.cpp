#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <numeric>
#include <thread>

#include "InputRecorder.h"
#include "midi/SysEx.h"
#include "midi/loopback/LoopbackMidiServices.h"
#include "tools/virtual-karma/VirtualKarma.h"

namespace bq::midi {
namespace {

using test::InputRecorder;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

// A SysEx message of exactly `size` bytes: F0, data bytes, F7.
Bytes Message(std::size_t size, std::uint8_t seed = 0) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 7 + seed) & 0x7F);
    }
    bytes.front() = 0xF0;
    bytes.back() = 0xF7;
    return bytes;
}

std::vector<std::size_t> Sizes(const std::vector<InputRecorder::Call>& chunks) {
    std::vector<std::size_t> sizes;
    for (const auto& chunk : chunks) {
        sizes.push_back(chunk.bytes.size());
    }
    return sizes;
}

class LoopbackTest : public ::testing::Test {
protected:
    LoopbackTest()
        : owned(std::make_unique<LoopbackMidiServices>(
              std::vector<std::string>{"In Zero", "In One", "In Two"},
              std::vector<std::string>{"Out Zero", "Out One", "Out Two"})),
          services(*owned),
          recorder(&services),
          karma(std::make_shared<VirtualKarma>()) {}
    // The services go first: their thread may still call the recorder.
    ~LoopbackTest() override { owned.reset(); }

    // Opens input `device` with the recorder, queues `buffers` and starts it.
    HMIDIIN OpenInput(std::uint32_t device, int buffers = 8) {
        HMIDIIN input = 0;
        EXPECT_EQ(services.InOpen(&input, device, &InputRecorder::Proc, recorder.Instance()),
                  MMSYSERR_NOERROR);
        EXPECT_TRUE(recorder.AddBuffers(input, buffers));
        EXPECT_EQ(services.InStart(input), MMSYSERR_NOERROR);
        return input;
    }
    HMIDIOUT OpenOutput(std::uint32_t device) {
        HMIDIOUT output = 0;
        EXPECT_EQ(services.OutOpen(&output, device, event), MMSYSERR_NOERROR);
        MidiResult opened = 1;
        EXPECT_TRUE(event->Wait(0, &opened));  // signalled on open
        EXPECT_EQ(opened, MMSYSERR_NOERROR);
        return output;
    }
    MidiResult Send(HMIDIOUT output, const Bytes& bytes) {
        const MidiResult result = services.OutLongMsg(output, bytes.data(), bytes.size());
        if (result != MMSYSERR_NOERROR) {
            return result;
        }
        MidiResult done = 12345;
        EXPECT_TRUE(event->Wait(5000, &done));
        return done;
    }

    std::unique_ptr<LoopbackMidiServices> owned;
    LoopbackMidiServices& services;
    InputRecorder recorder;
    std::shared_ptr<VirtualKarma> karma;
    std::shared_ptr<MidiEvent> event = CreateMidiEvent();
};

TEST_F(LoopbackTest, DevicesHaveCountsAndNamesCutTo31Characters) {
    LoopbackMidiServices named({"A very long input port name that goes on and on"}, {"Out"});
    EXPECT_EQ(named.InGetNumDevs(), 1u);
    EXPECT_EQ(named.OutGetNumDevs(), 1u);
    std::string name;
    ASSERT_EQ(named.InGetDevCaps(0, &name), MMSYSERR_NOERROR);
    EXPECT_EQ(name, "A very long input port name tha");
    EXPECT_EQ(name.size(), 31u);
    ASSERT_EQ(named.OutGetDevCaps(0, &name), MMSYSERR_NOERROR);
    EXPECT_EQ(name, "Out");
    EXPECT_EQ(named.InGetDevCaps(1, &name), MMSYSERR_BADDEVICEID);
    EXPECT_EQ(named.OutGetDevCaps(7, &name), MMSYSERR_BADDEVICEID);

    LoopbackMidiServices none({}, {});
    EXPECT_EQ(none.InGetNumDevs(), 0u);
    EXPECT_EQ(none.OutGetNumDevs(), 0u);
    HMIDIIN input = 0;
    EXPECT_EQ(none.InOpen(&input, 0, &InputRecorder::Proc, 0), MMSYSERR_BADDEVICEID);
}

TEST_F(LoopbackTest, HandlesAreCheckedAndDevicesOpenOnce) {
    const HMIDIIN input = OpenInput(1, 0);
    HMIDIIN again = 0;
    EXPECT_EQ(services.InOpen(&again, 1, &InputRecorder::Proc, recorder.Instance()),
              MMSYSERR_ALLOCATED);
    const HMIDIOUT output = OpenOutput(2);
    HMIDIOUT second = 0;
    EXPECT_EQ(services.OutOpen(&second, 2, event), MMSYSERR_ALLOCATED);
    EXPECT_EQ(services.OutOpen(&second, 0, nullptr), MMSYSERR_INVALPARAM);

    EXPECT_EQ(services.InStart(input + 100), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(services.InAddBuffer(input + 100, std::make_unique<MidiBuffer>(16)),
              MMSYSERR_INVALHANDLE);
    EXPECT_EQ(services.InAddBuffer(input, nullptr), MMSYSERR_INVALPARAM);
    EXPECT_EQ(services.InAddBuffer(input, std::make_unique<MidiBuffer>(0)), MMSYSERR_INVALPARAM);
    const Bytes request = {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
    EXPECT_EQ(services.OutLongMsg(output + 100, request.data(), request.size()),
              MMSYSERR_INVALHANDLE);
    EXPECT_EQ(services.OutLongMsg(output, nullptr, 0), MMSYSERR_INVALPARAM);

    EXPECT_EQ(services.InClose(input), MMSYSERR_NOERROR);
    EXPECT_EQ(services.InClose(input), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(services.OutClose(output), MMSYSERR_NOERROR);
    EXPECT_EQ(services.OutClose(output), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(services.OpenInputs(), 0u);
    EXPECT_EQ(services.OpenOutputs(), 0u);
}

TEST_F(LoopbackTest, InstrumentAnswersOnItsOwnPortsAndCallbacksRunOnTheLoopbackThread) {
    // The instrument listens on output 2 and answers on input 1.
    ASSERT_TRUE(services.AttachDevice(2, 1, karma));
    const HMIDIIN in0 = OpenInput(0);
    const HMIDIIN in1 = OpenInput(1);
    const HMIDIOUT out0 = OpenOutput(0);
    const HMIDIOUT out2 = OpenOutput(2);
    const auto request = sysex::IdentityRequest();
    const Bytes identity(request.begin(), request.end());

    EXPECT_EQ(Send(out0, identity), MMSYSERR_NOERROR);
    ASSERT_TRUE(services.WaitIdle());
    EXPECT_TRUE(recorder.Chunks().empty()) << "nobody listens on output 0";

    EXPECT_EQ(Send(out2, identity), MMSYSERR_NOERROR);
    ASSERT_TRUE(recorder.WaitForMessages(1));
    const auto chunks = recorder.Chunks();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].message, static_cast<std::uint32_t>(MIM_LONGDATA));
    EXPECT_EQ(chunks[0].bytes, karma->IdentityReply());
    EXPECT_NE(chunks[0].thread, std::this_thread::get_id());
    std::uint8_t id = 99;
    EXPECT_TRUE(sysex::MatchIdentityReply(chunks[0].bytes.data(), chunks[0].bytes.size(), &id));
    EXPECT_EQ(id, 0);

    EXPECT_EQ(services.SentMessages(0), std::vector<Bytes>{identity});
    EXPECT_EQ(services.SentMessages(2), std::vector<Bytes>{identity});
    EXPECT_TRUE(services.SentMessages(1).empty());
    EXPECT_EQ(recorder.Calls().front().message, static_cast<std::uint32_t>(MIM_OPEN));

    for (HMIDIIN input : {in0, in1}) {
        recorder.SetRequeue(false);
        EXPECT_EQ(services.InStop(input), MMSYSERR_NOERROR);
        EXPECT_EQ(services.InReset(input), MMSYSERR_NOERROR);
        EXPECT_EQ(services.InClose(input), MMSYSERR_NOERROR);
    }
    EXPECT_EQ(recorder.Calls().back().message, static_cast<std::uint32_t>(MIM_CLOSE));
}

TEST_F(LoopbackTest, BankDumpArrivesInFullBuffersAndOnlyTheLastEndsWithF7) {
    ASSERT_TRUE(services.AttachDevice(0, 0, karma));
    OpenInput(0);
    const HMIDIOUT output = OpenOutput(0);
    const auto request = sysex::CombiBankDumpRequest(2);
    ASSERT_TRUE(request.has_value());
    EXPECT_EQ(Send(output, Bytes(request->begin(), request->end())), MMSYSERR_NOERROR);
    ASSERT_TRUE(recorder.WaitForMessages(1));

    const Bytes expected = karma->CombiBankDump(2);
    ASSERT_EQ(expected.size(), 145710u);
    const auto chunks = recorder.Chunks();
    ASSERT_EQ(chunks.size(), 36u);  // 35 full buffers and 2350 bytes
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].message, static_cast<std::uint32_t>(MIM_LONGDATA));
        EXPECT_EQ(chunks[i].bytes.size(), i + 1 < chunks.size() ? 4096u : 2350u);
        EXPECT_EQ(chunks[i].bytes.back() == 0xF7, i + 1 == chunks.size());
    }
    EXPECT_EQ(chunks.front().bytes.front(), 0xF0);
    EXPECT_EQ(recorder.Joined(), expected);
    for (MidiResult result : recorder.RequeueResults()) {
        EXPECT_EQ(result, MMSYSERR_NOERROR);  // re-queueing from the callback works
    }
}

TEST_F(LoopbackTest, ChunkSizeAndMessageEndsSetTheBufferBoundaries) {
    OpenInput(1);
    ASSERT_TRUE(services.Inject(1, Message(10000)));
    ASSERT_TRUE(recorder.WaitForMessages(1));
    EXPECT_EQ(Sizes(recorder.Chunks()), (std::vector<std::size_t>{4096, 4096, 1808}));
    EXPECT_EQ(recorder.Joined(), Message(10000));

    recorder.Clear();
    services.SetChunkSize(1000);
    ASSERT_TRUE(services.Inject(1, Message(2500)));
    ASSERT_TRUE(recorder.WaitForMessages(1));
    EXPECT_EQ(Sizes(recorder.Chunks()), (std::vector<std::size_t>{1000, 1000, 500}));

    // Two messages in one run still come back in two buffers.
    recorder.Clear();
    Bytes two = Message(5, 1);
    const Bytes second = Message(3, 2);
    two.insert(two.end(), second.begin(), second.end());
    ASSERT_TRUE(services.Inject(1, two));
    ASSERT_TRUE(recorder.WaitForMessages(2));
    const auto chunks = recorder.Chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].bytes, Message(5, 1));
    EXPECT_EQ(chunks[1].bytes, second);
}

TEST_F(LoopbackTest, ShortAndRealTimeMessagesAreDroppedAndBrokenSysExComesBackAsAnError) {
    OpenInput(0);
    ASSERT_TRUE(services.Inject(0, {0x90, 0x40, 0x7F, 0xF0, 0x01, 0xF8, 0x02, 0xF7, 0xFE, 0xF7}));
    ASSERT_TRUE(recorder.WaitForMessages(1));
    ASSERT_TRUE(services.WaitIdle());
    auto chunks = recorder.Chunks();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].bytes, (Bytes{0xF0, 0x01, 0x02, 0xF7}));

    // A note-on inside a SysEx message breaks it; an F0 starts the next one.
    recorder.Clear();
    ASSERT_TRUE(
        services.Inject(0, {0xF0, 0x01, 0x02, 0x90, 0x40, 0x7F, 0xF0, 0x03, 0xF0, 0x04, 0xF7}));
    ASSERT_TRUE(recorder.WaitForMessages(1));
    chunks = recorder.Chunks();
    ASSERT_EQ(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].message, static_cast<std::uint32_t>(MIM_LONGERROR));
    EXPECT_EQ(chunks[0].bytes, (Bytes{0xF0, 0x01, 0x02}));
    EXPECT_EQ(chunks[1].message, static_cast<std::uint32_t>(MIM_LONGERROR));
    EXPECT_EQ(chunks[1].bytes, (Bytes{0xF0, 0x03}));
    EXPECT_EQ(chunks[2].message, static_cast<std::uint32_t>(MIM_LONGDATA));
    EXPECT_EQ(chunks[2].bytes, (Bytes{0xF0, 0x04, 0xF7}));
}

TEST_F(LoopbackTest, ResetReturnsEveryBufferWithWhatItHoldsAndThenCloseSucceeds) {
    recorder.SetRequeue(false);
    const HMIDIIN input = OpenInput(0, 8);
    ASSERT_TRUE(services.Inject(0, {0xF0, 0x42, 0x30, 0x5D}));  // no F7 yet
    ASSERT_TRUE(services.WaitIdle());
    EXPECT_TRUE(recorder.Chunks().empty());
    EXPECT_EQ(services.QueuedBuffers(input), 8u);
    EXPECT_EQ(services.InClose(input), MIDIERR_STILLPLAYING);

    EXPECT_EQ(services.InReset(input), MMSYSERR_NOERROR);
    // Every buffer is back before InReset returns.
    const auto chunks = recorder.Chunks();
    ASSERT_EQ(chunks.size(), 8u);
    EXPECT_EQ(chunks[0].bytes, (Bytes{0xF0, 0x42, 0x30, 0x5D}));
    for (std::size_t i = 1; i < chunks.size(); ++i) {
        EXPECT_TRUE(chunks[i].hasBuffer);
        EXPECT_TRUE(chunks[i].bytes.empty());
    }
    EXPECT_EQ(services.QueuedBuffers(input), 0u);

    // Reset also stops the input: nothing more arrives until it is started again.
    ASSERT_TRUE(recorder.AddBuffers(input, 1));
    ASSERT_TRUE(services.Inject(0, Message(10)));
    ASSERT_TRUE(services.WaitIdle());
    EXPECT_EQ(recorder.Chunks().size(), 8u);
    EXPECT_EQ(services.InReset(input), MMSYSERR_NOERROR);

    EXPECT_EQ(services.InClose(input), MMSYSERR_NOERROR);
    const std::size_t calls = recorder.Calls().size();
    ASSERT_TRUE(services.Inject(0, Message(10)));
    ASSERT_TRUE(services.WaitIdle());
    EXPECT_EQ(recorder.Calls().size(), calls) << "no callback after close";
}

TEST_F(LoopbackTest, StopReturnsThePartBufferAndKeepsTheEmptyOnes) {
    recorder.SetRequeue(false);
    const HMIDIIN input = OpenInput(0, 3);
    ASSERT_TRUE(services.Inject(0, {0xF0, 0x01, 0x02}));
    ASSERT_TRUE(services.WaitIdle());
    EXPECT_EQ(services.InStop(input), MMSYSERR_NOERROR);
    auto chunks = recorder.Chunks();
    ASSERT_EQ(chunks.size(), 1u);
    EXPECT_EQ(chunks[0].bytes, (Bytes{0xF0, 0x01, 0x02}));
    EXPECT_EQ(services.QueuedBuffers(input), 2u);

    // Stopped: bytes are not recorded. Started again: they are.
    ASSERT_TRUE(services.Inject(0, Message(6, 1)));
    ASSERT_TRUE(services.WaitIdle());
    EXPECT_EQ(recorder.Chunks().size(), 1u);
    EXPECT_EQ(services.InStart(input), MMSYSERR_NOERROR);
    ASSERT_TRUE(services.Inject(0, Message(6, 2)));
    ASSERT_TRUE(recorder.WaitForMessages(1));
    chunks = recorder.Chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[1].bytes, Message(6, 2));
    EXPECT_EQ(services.InReset(input), MMSYSERR_NOERROR);
    EXPECT_EQ(services.InClose(input), MMSYSERR_NOERROR);
}

TEST_F(LoopbackTest, BytesWaitForABufferInsteadOfBeingLost) {
    recorder.SetRequeue(false);
    const HMIDIIN input = OpenInput(0, 1);
    ASSERT_TRUE(services.Inject(0, Message(6000)));
    ASSERT_TRUE(services.WaitIdle());
    EXPECT_EQ(Sizes(recorder.Chunks()), std::vector<std::size_t>{4096});
    ASSERT_TRUE(recorder.AddBuffers(input, 1));
    ASSERT_TRUE(recorder.WaitForMessages(1));
    EXPECT_EQ(recorder.Joined(), Message(6000));
}

TEST_F(LoopbackTest, DeliveryIsPacedAtTheByteRateAndPausesAreKept) {
    OpenInput(0);
    services.SetByteRate(20000);
    const auto start = Clock::now();
    ASSERT_TRUE(services.Inject(0, Message(10000)));
    ASSERT_TRUE(recorder.WaitForMessages(1));
    const auto paced = Clock::now() - start;
    EXPECT_GE(paced, std::chrono::milliseconds(450)) << "10000 bytes at 20000 bytes/s";
    EXPECT_EQ(recorder.Joined(), Message(10000));

    // The instrument's pause in the middle of a dump is honoured.
    recorder.Clear();
    services.SetByteRate(0);
    VirtualKarma::Faults faults;
    faults.pauseDumps = true;
    faults.pauseAfterBytes = 5000;
    faults.pauseMs = 400;
    karma->SetFaults(faults);
    ASSERT_TRUE(services.AttachDevice(1, 0, karma));
    const HMIDIOUT output = OpenOutput(1);
    const auto request = sysex::ProgramBankDumpRequest(0);
    const auto sent = Clock::now();
    EXPECT_EQ(Send(output, Bytes(request->begin(), request->end())), MMSYSERR_NOERROR);
    ASSERT_TRUE(recorder.WaitForMessages(1));
    EXPECT_GE(Clock::now() - sent, std::chrono::milliseconds(400));
    EXPECT_EQ(recorder.Joined(), karma->ProgramBankDump(0));
}

TEST_F(LoopbackTest, InjectedFaultsFailTheCallsWithTheirCodeAndText) {
    services.AddFault({MidiCall::InOpen, MMSYSERR_ALLOCATED, "Port one is busy.", -1, 0, 1});
    services.AddFault({MidiCall::OutGetDevCaps, MMSYSERR_NODRIVER, "", 1, 0, -1});
    HMIDIIN input = 0;
    EXPECT_EQ(services.InOpen(&input, 1, &InputRecorder::Proc, recorder.Instance()),
              MMSYSERR_ALLOCATED);
    EXPECT_EQ(services.InGetErrorText(MMSYSERR_ALLOCATED), "Port one is busy.");
    EXPECT_EQ(services.OutGetErrorText(MMSYSERR_ALLOCATED), "Port one is busy.");
    EXPECT_EQ(services.InOpen(&input, 1, &InputRecorder::Proc, recorder.Instance()),
              MMSYSERR_ALLOCATED)
        << "every time";
    EXPECT_EQ(services.InOpen(&input, 0, &InputRecorder::Proc, recorder.Instance()),
              MMSYSERR_NOERROR)
        << "only on device 1";

    std::string name;
    EXPECT_EQ(services.OutGetDevCaps(0, &name), MMSYSERR_NODRIVER);
    EXPECT_EQ(services.OutGetErrorText(MMSYSERR_NODRIVER),
              "There is no driver installed on your system.");
    EXPECT_EQ(services.OutGetDevCaps(0, &name), MMSYSERR_NOERROR) << "once only";

    // The third buffer fails and is freed; the others are queued.
    services.AddFault({MidiCall::InAddBuffer, MMSYSERR_NOMEM, "", 1, 2, -1});
    std::vector<MidiResult> results;
    for (int i = 0; i < 5; ++i) {
        results.push_back(services.InAddBuffer(input, std::make_unique<MidiBuffer>(4096)));
    }
    EXPECT_EQ(results, (std::vector<MidiResult>{0, 0, MMSYSERR_NOMEM, 0, 0}));
    EXPECT_EQ(services.QueuedBuffers(input), 4u);

    services.AddFault({MidiCall::InGetNumDevs, MMSYSERR_ERROR, "", -1, 0, -1});
    EXPECT_EQ(services.InGetNumDevs(), 0u);
    EXPECT_EQ(services.OutGetNumDevs(), 3u);
    services.ClearFaults();
    EXPECT_EQ(services.InGetNumDevs(), 3u);
    EXPECT_EQ(services.InGetErrorText(MMSYSERR_ALLOCATED),
              "The specified device is already in use.  Wait until it is free, and then try "
              "again.");
}

TEST_F(LoopbackTest, FailedSendsAndCompletionsReachTheProgram) {
    ASSERT_TRUE(services.AttachDevice(0, 0, karma));
    const HMIDIOUT output = OpenOutput(0);
    const auto request = sysex::IdentityRequest();
    const Bytes identity(request.begin(), request.end());

    services.AddFault({MidiCall::OutLongMsg, MIDIERR_NOTREADY, "Busy.", 1});
    EXPECT_EQ(services.OutLongMsg(output, identity.data(), identity.size()), MIDIERR_NOTREADY);
    EXPECT_FALSE(event->Wait(50, nullptr)) << "a refused send signals nothing";
    EXPECT_TRUE(services.SentMessages(0).empty()) << "and the device never sees it";

    services.AddFault({MidiCall::OutLongMsgDone, MMSYSERR_ERROR, "Cable pulled.", 1});
    EXPECT_EQ(Send(output, identity), MMSYSERR_ERROR);
    EXPECT_EQ(services.OutGetErrorText(MMSYSERR_ERROR), "Cable pulled.");
    EXPECT_EQ(Send(output, identity), MMSYSERR_NOERROR);
}

TEST_F(LoopbackTest, ResetAbandonsAHeldSendWithAnErrorAndCloseSignals) {
    const HMIDIOUT output = OpenOutput(1);
    services.HoldSends(true);
    const Bytes message = Message(20);
    ASSERT_EQ(services.OutLongMsg(output, message.data(), message.size()), MMSYSERR_NOERROR);
    EXPECT_FALSE(event->Wait(50, nullptr));
    EXPECT_EQ(services.OutClose(output), MIDIERR_STILLPLAYING);
    EXPECT_EQ(services.OutReset(output), MMSYSERR_NOERROR);
    MidiResult result = 0;
    ASSERT_TRUE(event->Wait(1000, &result));
    EXPECT_EQ(result, MIDIERR_SEND_ABANDONED);
    EXPECT_FALSE(services.OutGetErrorText(result).empty());

    // Released sends complete.
    ASSERT_EQ(services.OutLongMsg(output, message.data(), message.size()), MMSYSERR_NOERROR);
    services.HoldSends(false);
    ASSERT_TRUE(event->Wait(1000, &result));
    EXPECT_EQ(result, MMSYSERR_NOERROR);

    EXPECT_EQ(services.OutClose(output), MMSYSERR_NOERROR);
    EXPECT_TRUE(event->Wait(0, &result)) << "closing signals the event";
}

TEST_F(LoopbackTest, AMessageMaySpanSeveralSends) {
    ASSERT_TRUE(services.AttachDevice(0, 2, karma));
    OpenInput(2);
    const HMIDIOUT output = OpenOutput(0);
    const auto request = sysex::IdentityRequest();
    const Bytes head(request.begin(), request.begin() + 3);
    const Bytes tail(request.begin() + 3, request.end());
    EXPECT_EQ(Send(output, head), MMSYSERR_NOERROR);
    EXPECT_EQ(Send(output, tail), MMSYSERR_NOERROR);
    ASSERT_TRUE(recorder.WaitForMessages(1));
    EXPECT_EQ(recorder.Joined(), karma->IdentityReply());
    EXPECT_EQ(services.SentMessages(0).size(), 1u);
}

TEST(LoopbackLifetime, DestroyingWithOpenPortsAndTrafficFreesEverything) {
    auto karma = std::make_shared<VirtualKarma>();
    auto services = std::make_unique<LoopbackMidiServices>(std::vector<std::string>{"In"},
                                                           std::vector<std::string>{"Out"});
    InputRecorder recorder(services.get());
    struct ServicesFirst {  // their thread may call the recorder until they are gone
        std::unique_ptr<LoopbackMidiServices>& services;
        ~ServicesFirst() { services.reset(); }
    } servicesFirst{services};
    ASSERT_TRUE(services->AttachDevice(0, 0, karma));
    services->SetByteRate(3125);  // the dump is still on its way when the services go
    HMIDIIN input = 0;
    ASSERT_EQ(services->InOpen(&input, 0, &InputRecorder::Proc, recorder.Instance()), 0u);
    ASSERT_TRUE(recorder.AddBuffers(input, 8));
    ASSERT_EQ(services->InStart(input), 0u);
    HMIDIOUT output = 0;
    auto event = CreateMidiEvent();
    ASSERT_EQ(services->OutOpen(&output, 0, event), 0u);
    const auto request = sysex::CombiBankDumpRequest(0);
    ASSERT_EQ(services->OutLongMsg(output, request->data(), request->size()), 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    services.reset();  // the sanitizer build checks that buffers and runs are freed
    EXPECT_EQ(karma.use_count(), 1);
}

TEST(MidiErrorTexts, GenericCodesHaveDistinctTexts) {
    LoopbackMidiServices services({}, {});
    std::vector<std::string> texts;
    for (MidiResult code :
         {MMSYSERR_NOERROR, MMSYSERR_ERROR, MMSYSERR_BADDEVICEID, MMSYSERR_ALLOCATED,
          MMSYSERR_INVALHANDLE, MMSYSERR_NODRIVER, MMSYSERR_NOMEM, MMSYSERR_INVALPARAM,
          MIDIERR_STILLPLAYING, MIDIERR_NOTREADY, MIDIERR_SEND_ABANDONED}) {
        texts.push_back(services.InGetErrorText(code));
        EXPECT_FALSE(texts.back().empty()) << code;
        EXPECT_LE(texts.back().size(), 254u);
    }
    std::sort(texts.begin(), texts.end());
    EXPECT_EQ(std::unique(texts.begin(), texts.end()), texts.end());
    EXPECT_EQ(services.OutGetErrorText(9999),
              "An error number was specified that is not defined in the system.");
}

}  // namespace
}  // namespace bq::midi
