// The exchange run on ports, over the loopback services: buffers queued and given back, sends
// that fail or never complete, the search's ports, and whole exchanges with a scripted device.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <memory>
#include <vector>

#include "midi/KarmaLink.h"
#include "midi/loopback/LoopbackMidiServices.h"

namespace {

using bq::midi::Bytes;
using bq::midi::ExchangeEnd;
using bq::midi::KarmaLink;
using bq::midi::LoopbackMidiServices;
using bq::midi::MidiCall;

constexpr std::uint32_t kKarmaIn = 1;
constexpr std::uint32_t kKarmaOut = 0;
const Bytes kCompleted{0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7};
const Bytes kWrite{0xF0, 0x42, 0x30, 0x5D, 0x4D, 0x00, 0x20, 0x00, 0x00, 0x01, 0xF7};

Bytes SysEx(std::size_t length, std::uint8_t seed = 0) {
    Bytes m(length);
    m.front() = 0xF0;
    for (std::size_t i = 1; i + 1 < length; ++i) {
        m[i] = static_cast<std::uint8_t>((i * 7 + seed) & 0x7F);
    }
    m.back() = 0xF7;
    return m;
}

// A device that answers every Identity Request with the Karma's reply on its channel, and
// everything else with what the test gives it.
class Script final : public bq::midi::IMidiDevice {
public:
    std::vector<Bytes> answers;
    void HandleMessage(const std::uint8_t* message, std::size_t length,
                       std::vector<bq::midi::MidiTimedBytes>* reply) override {
        if (length == 6 && message[1] == 0x7E) {
            reply->push_back({0, {0xF0, 0x7E, 0x03, 0x06, 0x02, 0x42, 0x5D, 0x00, 0x05, 0xF7}});
            return;
        }
        for (Bytes& answer : answers) {
            reply->push_back({0, std::move(answer)});
        }
        answers.clear();
    }
};

class Link : public ::testing::Test {
protected:
    Link() : loopback({"Out A", "Karma In"}, {"Karma Out", "Out B"}) {}
    void Open(std::uint8_t channel = 0) {
        ASSERT_TRUE(link.Open(kKarmaIn, kKarmaOut, channel));
    }

    LoopbackMidiServices loopback;
    KarmaLink link{loopback};
};

TEST_F(Link, OpensWithEightQueuedBuffersAndGivesThemAllBackOnClose) {
    Open();
    EXPECT_EQ(loopback.QueuedBuffers(link.InputHandle()), 8u);
    // A partial message sits in the first buffer when the ports close.
    ASSERT_TRUE(loopback.Inject(kKarmaIn, {0xF0, 0x01, 0x02}));
    ASSERT_TRUE(loopback.WaitIdle(5000));
    link.Close();
    EXPECT_EQ(loopback.OpenInputs(), 0u);
    EXPECT_EQ(loopback.OpenOutputs(), 0u);
    EXPECT_FALSE(link.Connected());
    // The chosen devices are remembered for the status text.
    EXPECT_EQ(link.InputDevice(), kKarmaIn);
    EXPECT_EQ(link.OutputDevice(), kKarmaOut);
    EXPECT_TRUE(link.TakeFailures().empty());
    link.Close();  // twice is harmless
}

TEST_F(Link, ABufferTheCallbackCouldNotQueueAgainIsReplacedOrReported) {
    Open();
    // The callback's re-queue of the first returned buffer fails once: a fresh one replaces it.
    loopback.AddFault({MidiCall::InAddBuffer, bq::midi::MMSYSERR_NOMEM, "", 1, 0, -1});
    ASSERT_TRUE(loopback.Inject(kKarmaIn, kCompleted));
    ASSERT_TRUE(loopback.WaitIdle(5000));
    link.WaitForInput(KarmaLink::Now() + 5000);
    link.Pump();
    EXPECT_EQ(loopback.QueuedBuffers(link.InputHandle()), 8u);
    EXPECT_TRUE(link.TakeFailures().empty());
    // Both fail: the input runs one buffer short, and the failure is there to report.
    loopback.AddFault({MidiCall::InAddBuffer, bq::midi::MMSYSERR_NOMEM, "", 2, 0, -1});
    ASSERT_TRUE(loopback.Inject(kKarmaIn, kCompleted));
    ASSERT_TRUE(loopback.WaitIdle(5000));
    link.WaitForInput(KarmaLink::Now() + 5000);
    link.Pump();
    EXPECT_EQ(loopback.QueuedBuffers(link.InputHandle()), 7u);
    EXPECT_EQ(link.QueuedBuffersMissing(), 1u);
    EXPECT_EQ(link.TakeFailures().size(), 1u);
}

TEST_F(Link, ABrokenMessageKeepsItsBufferAndIsNoAnswer) {
    Open();
    auto device = std::make_shared<Script>();
    // A note-on status byte breaks the SysEx message; the Failed Reply after it answers.
    device->answers = {{0xF0, 0x42, 0x30, 0x5D, 0x90, 0x40, 0x7F}, {0xF0, 0x42, 0x30, 0x5D, 0x24, 0xF7}};
    loopback.AttachDevice(kKarmaOut, kKarmaIn, device);
    ASSERT_TRUE(link.Write(kWrite, 5000));
    const auto result = link.Await();
    EXPECT_EQ(result.end, ExchangeEnd::Refused);
    EXPECT_EQ(loopback.QueuedBuffers(link.InputHandle()), 8u);
}

TEST_F(Link, ALongDumpArrivesInBufferSizedChunksAndIsOneAnswer) {
    Open();
    auto device = std::make_shared<Script>();
    Bytes dump = SysEx(10000);
    dump[1] = 0x42, dump[2] = 0x30, dump[3] = 0x5D;
    device->answers = {dump};
    loopback.AttachDevice(kKarmaOut, kKarmaIn, device);
    ASSERT_TRUE(link.Dump({0xF0, 0x42, 0x30, 0x5D, 0x1D, 0x10, 0x00, 0x00, 0xF7}, 0));
    std::vector<std::uint64_t> arrivals;
    const auto result = link.Await([&](std::uint64_t bytes) { arrivals.push_back(bytes); });
    ASSERT_EQ(result.end, ExchangeEnd::Dump);
    EXPECT_EQ(result.message, dump);
    std::uint64_t total = 0;
    for (std::uint64_t n : arrivals) {
        total += n;
    }
    EXPECT_EQ(total, 10000u);
    EXPECT_EQ(loopback.QueuedBuffers(link.InputHandle()), 8u);
}

TEST_F(Link, ASendThatNeverCompletesFailsTheRequestInsteadOfHanging) {
    Open();
    link.Settings().sendMarginMs = 100;
    loopback.HoldSends(true);
    ASSERT_TRUE(link.Write(kWrite, 5000));
    EXPECT_EQ(link.Await().end, ExchangeEnd::NotSent);
    const auto failures = link.TakeFailures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_TRUE(failures[0].timedOut);
    loopback.HoldSends(false);
    // The abandoned send's late completion does not pass for the next one's.
    auto device = std::make_shared<Script>();
    device->answers = {kCompleted};
    loopback.AttachDevice(kKarmaOut, kKarmaIn, device);
    ASSERT_TRUE(link.Write(kWrite, 5000));
    EXPECT_EQ(link.Await().end, ExchangeEnd::Completed);
}

TEST_F(Link, TheSearchClosesEveryPortItOpenedAndFindsTheChannel) {
    auto device = std::make_shared<Script>();
    loopback.AttachDevice(1, kKarmaIn, device);  // the Karma listens on the second output
    ASSERT_TRUE(link.Search());
    const auto result = link.Await();
    ASSERT_EQ(result.end, ExchangeEnd::Found);
    EXPECT_EQ(result.input, kKarmaIn);
    EXPECT_EQ(result.output, 1u);
    EXPECT_EQ(result.channel, 3);
    EXPECT_EQ(loopback.OpenInputs(), 0u);
    EXPECT_EQ(loopback.OpenOutputs(), 0u);
    // Both outputs were asked, in turn.
    EXPECT_EQ(loopback.SentMessages(0).size(), 1u);
    EXPECT_EQ(loopback.SentMessages(1).size(), 1u);
}

TEST_F(Link, ACancelEndsAWaitWithoutABoundAtOnce) {
    Open();
    ASSERT_TRUE(link.Dump({0xF0, 0x42, 0x30, 0x5D, 0x1D, 0x10, 0x00, 0x00, 0xF7}, 0));
    std::atomic<bool> cancelled{false};
    std::thread canceller([&] {
        link.Cancel();
        cancelled = true;
    });
    const auto result = link.Await();
    canceller.join();
    EXPECT_TRUE(cancelled);
    EXPECT_EQ(result.end, ExchangeEnd::Abandoned);
}

}  // namespace
