// The JACK services against a real jackd (the dummy-driver server that scripts/run-tests.sh
// starts) and the bankquill-virtual-karma program. These tests fail, never skip, when no server
// answers.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>

#include "InputRecorder.h"
#include "midi/JackMidiServices.h"
#include "midi/MidiBackend.h"
#include "midi/SysEx.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PrivateJackServer.h"
#include "tools/virtual-karma/VirtualKarma.h"

namespace bq::midi {
namespace {

const auto* const kServerGuard =
    ::testing::AddGlobalTestEnvironment(new bq::test::PrivateJackServerGuard);

using test::ChildProcess;
using test::InputRecorder;
using test::kKarmaIn;
using test::kKarmaOut;
using test::ScopedEnv;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

std::optional<std::uint32_t> FindDevice(IMidiServices& services, bool input,
                                        const std::string& name) {
    const std::uint32_t count = input ? services.InGetNumDevs() : services.OutGetNumDevs();
    for (std::uint32_t i = 0; i < count; ++i) {
        std::string product;
        const MidiResult result =
            input ? services.InGetDevCaps(i, &product) : services.OutGetDevCaps(i, &product);
        if (result == MMSYSERR_NOERROR && product == name) {
            return i;
        }
    }
    return std::nullopt;
}

// Starts bankquill-virtual-karma and waits for its ready line.
bool StartKarma(ChildProcess& karma, std::vector<std::string> options,
                const std::vector<std::string>& env = {}) {
    options.insert(options.begin(), BQ_VIRTUAL_KARMA);
    if (!karma.Start(options, env)) {
        return false;
    }
    std::string line;
    return karma.WaitForLine("ready:", 10000, &line) && line.find(kKarmaIn) != std::string::npos &&
           line.find(kKarmaOut) != std::string::npos;
}

// The program's side of a connection to the virtual Karma: input and output open, 8 buffers.
struct Connection {
    explicit Connection(IMidiServices& s) : services(s), recorder(&s) {}
    ~Connection() { Close(); }

    bool Open() {
        const auto in = FindDevice(services, true, kKarmaOut);
        const auto out = FindDevice(services, false, kKarmaIn);
        if (!in || !out) {
            return false;
        }
        if (services.InOpen(&input, *in, &InputRecorder::Proc, recorder.Instance()) != 0 ||
            !recorder.AddBuffers(input, 8) || services.InStart(input) != 0 ||
            services.OutOpen(&output, *out, event) != 0) {
            return false;
        }
        return event->Wait(0, nullptr);  // signalled when it opened
    }
    MidiResult Send(const Bytes& bytes, int timeoutMs = 10000) {
        const MidiResult result = services.OutLongMsg(output, bytes.data(), bytes.size());
        if (result != MMSYSERR_NOERROR) {
            return result;
        }
        MidiResult done = 12345;
        return event->Wait(timeoutMs, &done) ? done : 54321;
    }
    void Close() {
        recorder.SetRequeue(false);
        if (input != 0) {
            services.InStop(input);
            services.InReset(input);
            EXPECT_EQ(services.InClose(input), MMSYSERR_NOERROR);
            input = 0;
        }
        if (output != 0) {
            services.OutReset(output);
            EXPECT_EQ(services.OutClose(output), MMSYSERR_NOERROR);
            output = 0;
        }
    }

    IMidiServices& services;
    InputRecorder recorder;
    std::shared_ptr<MidiEvent> event = CreateMidiEvent();
    HMIDIIN input = 0;
    HMIDIOUT output = 0;
};

// A jackd that was killed keeps its entry in JACK's shared server registry, which holds only a
// few servers; the entry is reclaimed only by a server of the same name. So one is started
// under that name and stopped properly, and the files left in /dev/shm are removed.
void RemoveServerLeftovers(const std::string& server) {
    {
        ChildProcess reclaim;
        if (reclaim.Start({"jackd", "-n", server, "--no-realtime", "-d", "dummy", "-r", "48000",
                           "-p", "4096"},
                          {"JACK_NO_AUDIO_RESERVATION=1"}, true)) {
            for (int i = 0; i < 50; ++i) {  // until it answers, at most 5 s
                ChildProcess lsp;
                if (lsp.Start({"jack_lsp"}, {"JACK_DEFAULT_SERVER=" + server}, true) &&
                    lsp.Wait(2000) == 0) {
                    break;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            reclaim.Signal(SIGTERM);
            reclaim.Wait(5000);
        }
    }
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/dev/shm", error)) {
        if (entry.path().filename().string().find("_" + server + "_") != std::string::npos) {
            std::filesystem::remove(entry.path(), error);
        }
    }
}

Bytes LongMessage(std::size_t size) {
    Bytes bytes(size, 0x55);
    bytes.front() = 0xF0;
    bytes.back() = 0xF7;
    return bytes;
}

// ---- with the test command's server and one virtual Karma sending as fast as JACK takes ----

class JackKarmaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        JackMidiServices probe("bankquill-probe");
        s_serverAnswers = probe.Connected();
        if (s_serverAnswers) {
            s_karma = std::make_unique<ChildProcess>();
            s_karmaReady = StartKarma(*s_karma, {"--rate", "0"});
        }
    }
    static void TearDownTestSuite() {
        if (s_karma) {
            s_karma->Signal(SIGTERM);
            EXPECT_EQ(s_karma->Wait(10000), 0) << "ends cleanly on SIGTERM";
            s_karma.reset();
        }
    }
    // Every test fails, none is skipped, when there is nothing to test against.
    void SetUp() override {
        ASSERT_TRUE(s_serverAnswers)
            << "No JACK server answers. Run the tests with scripts/run-tests.sh (make test), "
               "which starts jackd with the dummy driver.";
        ASSERT_TRUE(s_karmaReady) << "bankquill-virtual-karma did not start";
        ASSERT_TRUE(s_karma->Running());
    }

    static inline bool s_serverAnswers = false;
    static inline bool s_karmaReady = false;
    static inline std::unique_ptr<ChildProcess> s_karma;
    JackMidiServices services{"bankquill-test"};
};

TEST_F(JackKarmaTest, PortsOfOtherClientsAreListedByNameAndOurOwnAreNot) {
    const auto in = FindDevice(services, true, kKarmaOut);
    const auto out = FindDevice(services, false, kKarmaIn);
    ASSERT_TRUE(in.has_value()) << "its output port is one of our inputs";
    ASSERT_TRUE(out.has_value()) << "its input port is one of our outputs";
    EXPECT_FALSE(FindDevice(services, true, kKarmaIn)) << "an input port is no input device";

    Connection connection(services);
    ASSERT_TRUE(connection.Open());
    const std::uint32_t inputs = services.InGetNumDevs();
    const std::uint32_t outputs = services.OutGetNumDevs();
    for (std::uint32_t i = 0; i < inputs; ++i) {
        std::string name;
        ASSERT_EQ(services.InGetDevCaps(i, &name), MMSYSERR_NOERROR);
        EXPECT_LE(name.size(), 31u);
        EXPECT_NE(name.rfind("bankquill-test:", 0), 0u) << name;
    }
    for (std::uint32_t i = 0; i < outputs; ++i) {
        std::string name;
        ASSERT_EQ(services.OutGetDevCaps(i, &name), MMSYSERR_NOERROR);
        EXPECT_NE(name.rfind("bankquill-test:", 0), 0u) << name;
    }
    std::string name;
    EXPECT_EQ(services.InGetDevCaps(inputs, &name), MMSYSERR_BADDEVICEID);
}

TEST_F(JackKarmaTest, IdentityRequestIsAnsweredAndLogged) {
    Connection connection(services);
    ASSERT_TRUE(connection.Open());
    const auto request = sysex::IdentityRequest();
    EXPECT_EQ(connection.Send(Bytes(request.begin(), request.end())), MMSYSERR_NOERROR);
    ASSERT_TRUE(connection.recorder.WaitForMessages(1, 10000));
    const Bytes reply = connection.recorder.Joined();
    EXPECT_EQ(reply, VirtualKarma().IdentityReply());
    std::uint8_t id = 99;
    EXPECT_TRUE(sysex::MatchIdentityReply(reply.data(), reply.size(), &id));
    EXPECT_EQ(id, 0);
    EXPECT_NE(connection.recorder.Chunks().front().thread, std::this_thread::get_id());
    std::string line;
    EXPECT_TRUE(s_karma->WaitForLine("identity", 5000, &line));

    // Reset hands every queued buffer back before it returns.
    connection.recorder.Clear();
    connection.recorder.SetRequeue(false);
    EXPECT_EQ(services.InStop(connection.input), MMSYSERR_NOERROR);
    EXPECT_EQ(services.InReset(connection.input), MMSYSERR_NOERROR);
    EXPECT_EQ(connection.recorder.Chunks().size(), 8u);
}

TEST_F(JackKarmaTest, WholeCombinationBankDumpArrivesInChunksAndReassembles) {
    Connection connection(services);
    ASSERT_TRUE(connection.Open());
    const auto request = sysex::CombiBankDumpRequest(1);
    ASSERT_TRUE(request.has_value());
    const auto start = Clock::now();
    EXPECT_EQ(connection.Send(Bytes(request->begin(), request->end())), MMSYSERR_NOERROR);
    ASSERT_TRUE(connection.recorder.WaitForMessages(1, 20000));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);

    const Bytes expected = VirtualKarma().CombiBankDump(1);
    ASSERT_EQ(expected.size(), 145710u);
    const auto chunks = connection.recorder.Chunks();
    ASSERT_EQ(chunks.size(), 36u);
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].message, static_cast<std::uint32_t>(MIM_LONGDATA));
        EXPECT_EQ(chunks[i].bytes.size(), i + 1 < chunks.size() ? 4096u : 2350u);
    }
    EXPECT_EQ(chunks.front().bytes.front(), 0xF0);
    EXPECT_EQ(connection.recorder.Joined(), expected);
    std::printf("[ measure  ] 145710-byte dump over JACK at --rate 0: %lld ms\n",
                static_cast<long long>(took.count()));
}

TEST_F(JackKarmaTest, ALargeSendCrossesManyCyclesWholeAndInOrder) {
    if (bq::test::TestServerIsPipeWire()) {
        GTEST_SKIP() << bq::test::kLongStreamJackdOnly;
    }
    // A second client of ours is a device for the first: its output port is one of our inputs.
    JackMidiServices peer("bankquill-peer");
    Connection sender(peer);
    ASSERT_TRUE(sender.Open());
    const std::string peerPort = "bankquill-peer:out_" + std::to_string(sender.output);
    const auto device = FindDevice(services, true, peerPort);
    ASSERT_TRUE(device.has_value()) << peerPort;
    InputRecorder recorder(&services);
    HMIDIIN input = 0;
    ASSERT_EQ(services.InOpen(&input, *device, &InputRecorder::Proc, recorder.Instance()), 0u);
    // Closed before the recorder goes, also when an assertion ends the test early.
    struct Closer {
        IMidiServices& services;
        InputRecorder& recorder;
        HMIDIIN input;
        ~Closer() {
            recorder.SetRequeue(false);
            services.InReset(input);
            EXPECT_EQ(services.InClose(input), MMSYSERR_NOERROR);
        }
    } closer{services, recorder, input};
    ASSERT_TRUE(recorder.AddBuffers(input, 8));
    ASSERT_EQ(services.InStart(input), 0u);

    // 1.5 MB is more than the ring and far more than one cycle's port buffer takes; two
    // messages back to back must not run into each other.
    Bytes big(1500000);
    std::uint32_t seed = 12345;
    for (auto& byte : big) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>((seed >> 16) & 0x7F);
    }
    big.front() = 0xF0;
    big.back() = 0xF7;
    const Bytes small = {0xF0, 0x01, 0x02, 0x03, 0xF7};
    ASSERT_EQ(peer.OutLongMsg(sender.output, big.data(), big.size()), 0u);
    ASSERT_EQ(peer.OutLongMsg(sender.output, small.data(), small.size()), 0u);
    MidiResult done = 1;
    ASSERT_TRUE(sender.event->Wait(30000, &done));
    EXPECT_EQ(done, MMSYSERR_NOERROR);
    ASSERT_TRUE(recorder.WaitForMessages(2, 30000));
    Bytes expected = big;
    expected.insert(expected.end(), small.begin(), small.end());
    EXPECT_TRUE(recorder.Joined() == expected) << "received " << recorder.Joined().size();
    EXPECT_EQ(recorder.Chunks().back().bytes, small);
}

TEST_F(JackKarmaTest, OpeningRefusesBadDevicesVanishedPortsAndTooManyPorts) {
    HMIDIIN input = 0;
    HMIDIOUT output = 0;
    InputRecorder recorder(&services);
    const std::uint32_t inputs = services.InGetNumDevs();
    const std::uint32_t outputs = services.OutGetNumDevs();
    EXPECT_EQ(services.InOpen(&input, inputs, &InputRecorder::Proc, recorder.Instance()),
              MMSYSERR_BADDEVICEID);
    EXPECT_EQ(services.OutOpen(&output, outputs, CreateMidiEvent()), MMSYSERR_BADDEVICEID);

    // A peer's ports are listed, then go away before we open them.
    {
        JackMidiServices peer("bankquill-peer");
        Connection other(peer);
        ASSERT_TRUE(other.Open());
        const auto in =
            FindDevice(services, true, "bankquill-peer:out_" + std::to_string(other.output));
        const auto out =
            FindDevice(services, false, "bankquill-peer:in_" + std::to_string(other.input));
        ASSERT_TRUE(in && out);
        other.Close();
        EXPECT_EQ(services.InOpen(&input, *in, &InputRecorder::Proc, recorder.Instance()),
                  JACKERR_PORT_GONE);
        EXPECT_EQ(services.OutOpen(&output, *out, CreateMidiEvent()), JACKERR_PORT_GONE);
    }

    // Every slot taken: the next open is refused, and a closed port frees its slot.
    const auto in = FindDevice(services, true, kKarmaOut);
    const auto out = FindDevice(services, false, kKarmaIn);
    ASSERT_TRUE(in && out);
    std::vector<HMIDIIN> opened;
    for (int i = 0; i < 64; ++i) {
        ASSERT_EQ(services.InOpen(&input, *in, &InputRecorder::Proc, recorder.Instance()),
                  MMSYSERR_NOERROR)
            << i;
        opened.push_back(input);
    }
    EXPECT_EQ(services.InOpen(&input, *in, &InputRecorder::Proc, recorder.Instance()),
              JACKERR_TOO_MANY);
    ASSERT_EQ(services.InClose(opened.back()), MMSYSERR_NOERROR);
    opened.pop_back();
    EXPECT_EQ(services.InOpen(&input, *in, &InputRecorder::Proc, recorder.Instance()),
              MMSYSERR_NOERROR);
    opened.push_back(input);
    std::sort(opened.begin(), opened.end());
    EXPECT_EQ(std::adjacent_find(opened.begin(), opened.end()), opened.end()) << "handles differ";
    // Outputs have slots of their own.
    const auto event = CreateMidiEvent();
    ASSERT_EQ(services.OutOpen(&output, *out, event), MMSYSERR_NOERROR);
    EXPECT_EQ(services.OutClose(output), MMSYSERR_NOERROR);
    for (HMIDIIN handle : opened) {
        EXPECT_EQ(services.InClose(handle), MMSYSERR_NOERROR);
    }
}

TEST_F(JackKarmaTest, AClosedHandleIsRefusedAfterItsPortSlotIsTakenAgain) {
    const auto in = FindDevice(services, true, kKarmaOut);
    const auto out = FindDevice(services, false, kKarmaIn);
    ASSERT_TRUE(in && out);
    InputRecorder recorder(&services);
    HMIDIIN stale = 0;
    ASSERT_EQ(services.InOpen(&stale, *in, &InputRecorder::Proc, recorder.Instance()),
              MMSYSERR_NOERROR);
    ASSERT_EQ(services.InClose(stale), MMSYSERR_NOERROR);
    // The same device again, in the slot the closed one left.
    HMIDIIN input = 0;
    ASSERT_EQ(services.InOpen(&input, *in, &InputRecorder::Proc, recorder.Instance()),
              MMSYSERR_NOERROR);
    EXPECT_NE(input, stale);
    EXPECT_EQ(services.InStart(stale), MMSYSERR_INVALHANDLE);
    EXPECT_EQ(services.InClose(stale), MMSYSERR_INVALHANDLE) << "closes nothing";
    EXPECT_EQ(services.InStart(input), MMSYSERR_NOERROR) << "the new one is still open";

    const auto event = CreateMidiEvent();
    HMIDIOUT output = 0;
    ASSERT_EQ(services.OutOpen(&output, *out, event), MMSYSERR_NOERROR);
    EXPECT_EQ(services.OutClose(input), MMSYSERR_INVALHANDLE) << "an input is no output";
    EXPECT_EQ(services.InClose(output), MMSYSERR_INVALHANDLE) << "nor an output an input";
    EXPECT_EQ(services.OutClose(output), MMSYSERR_NOERROR);
    EXPECT_EQ(services.InStop(input), MMSYSERR_NOERROR);
    EXPECT_EQ(services.InClose(input), MMSYSERR_NOERROR);
}

// ---- the program's options, with a virtual Karma of its own ----

TEST(JackVirtualKarma, WritesLandInTheMemoryItWritesOnExitAndTheRateIsKept) {
    if (bq::test::TestServerIsPipeWire()) {
        GTEST_SKIP() << bq::test::kPacedStreamJackdOnly;
    }
    JackMidiServices services("bankquill-test");
    ASSERT_TRUE(services.Connected()) << "no JACK server answers";
    char path[] = "/tmp/bankquill-memory-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    ChildProcess karma;
    ASSERT_TRUE(StartKarma(karma, {"--channel", "3", "--rate", "50000", "--memory-out", path}));
    {
        Connection connection(services);
        ASSERT_TRUE(connection.Open());

        Bytes record = VirtualKarma::GeneratedCombi(4, 77);
        std::reverse(record.begin(), record.end());  // anything that differs from slot 5
        const auto header = sysex::ItemWriteHeader(2, 5, 3);
        ASSERT_TRUE(header.has_value());
        const Bytes write = sysex::BuildItemWrite(header->data(), record.data(), record.size());
        EXPECT_EQ(connection.Send(write), MMSYSERR_NOERROR);
        ASSERT_TRUE(connection.recorder.WaitForMessages(1, 10000));
        const Bytes reply = connection.recorder.Joined();
        EXPECT_EQ(sysex::Classify(reply.data(), reply.size(), 3).kind, sysex::ReplyKind::Completed);

        // 145,710 bytes at 50,000 bytes per second take about 2.9 s.
        connection.recorder.Clear();
        const auto request = sysex::CombiBankDumpRequest(0, 3);
        const auto start = Clock::now();
        EXPECT_EQ(connection.Send(Bytes(request->begin(), request->end())), MMSYSERR_NOERROR);
        ASSERT_TRUE(connection.recorder.WaitForMessages(1, 20000));
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(2500));
        EXPECT_EQ(connection.recorder.Joined().size(), 145710u);

        VirtualKarma expected;
        expected.SetChannel(3);
        ASSERT_TRUE(expected.SetCombiRecord(2, 5, record.data(), record.size()));
        karma.Signal(SIGINT);
        ASSERT_EQ(karma.Wait(10000), 0);
        std::ifstream file(path, std::ios::binary);
        const Bytes memory((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
        EXPECT_EQ(memory.size(), VirtualKarma::kMemorySize);
        EXPECT_TRUE(memory == expected.SerializeMemory()) << "exactly one slot changed";
    }
    ::unlink(path);
}

TEST(JackVirtualKarma, HelpListsEveryOptionAndBadOptionsAreRefused) {
    ChildProcess help;
    ASSERT_TRUE(help.Start({BQ_VIRTUAL_KARMA, "--help"}));
    std::string text;
    std::string line;
    while (help.ReadLine(&line, 5000)) {
        text += line + "\n";
    }
    EXPECT_EQ(help.Wait(5000), 0);
    for (const char* option :
         {"--pcg FILE", "--channel G", "--rate BYTES_PER_SECOND", "--memory-out FILE",
          "--fail-writes", "--error-writes CODE", "--silent", "--refuse-dumps",
          "--pause-after BYTES:MILLISECONDS", "--stray HEXBYTES", "--help"}) {
        EXPECT_NE(text.find(option), std::string::npos) << option;
    }
    for (std::vector<std::string> bad : {std::vector<std::string>{"--channel", "16"},
                                         {"--rate", "-5"},
                                         {"--stray", "F0 4"},
                                         {"--pause-after", "100"},
                                         {"--error-writes"},
                                         {"--bogus"}}) {
        bad.insert(bad.begin(), BQ_VIRTUAL_KARMA);
        ChildProcess refused;
        ASSERT_TRUE(refused.Start(bad, {}, true));
        EXPECT_EQ(refused.Wait(5000), 2) << bad[1];
    }
}

TEST(JackVirtualKarma, FaultOptionsReachTheInstrument) {
    JackMidiServices services("bankquill-test");
    ASSERT_TRUE(services.Connected()) << "no JACK server answers";
    ChildProcess karma;
    ASSERT_TRUE(StartKarma(karma, {"--rate", "0", "--error-writes", "0x41", "--refuse-dumps",
                                   "--stray", "F0 43 10 F7"}));
    Connection connection(services);
    ASSERT_TRUE(connection.Open());
    const Bytes stray = {0xF0, 0x43, 0x10, 0xF7};

    const Bytes record = VirtualKarma::GeneratedCombi(0, 1);
    const auto header = sysex::ItemWriteHeader(0, 0, 0);
    EXPECT_EQ(connection.Send(sysex::BuildItemWrite(header->data(), record.data(), record.size())),
              MMSYSERR_NOERROR);
    ASSERT_TRUE(connection.recorder.WaitForMessages(2, 10000));
    auto chunks = connection.recorder.Chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].bytes, stray);
    const auto error = sysex::Classify(chunks[1].bytes.data(), chunks[1].bytes.size(), 0);
    EXPECT_EQ(error.kind, sysex::ReplyKind::Error);
    EXPECT_EQ(error.errorCode, 0x41);

    connection.recorder.Clear();
    const auto request = sysex::ProgramBankDumpRequest(3);
    EXPECT_EQ(connection.Send(Bytes(request->begin(), request->end())), MMSYSERR_NOERROR);
    ASSERT_TRUE(connection.recorder.WaitForMessages(2, 10000));
    chunks = connection.recorder.Chunks();
    ASSERT_EQ(chunks.size(), 2u);
    EXPECT_EQ(chunks[0].bytes, stray);
    EXPECT_EQ(sysex::Classify(chunks[1].bytes.data(), chunks[1].bytes.size(), 0).kind,
              sysex::ReplyKind::Failed);
    connection.Close();
    karma.Signal(SIGTERM);
    EXPECT_EQ(karma.Wait(10000), 0);
}

TEST(JackVirtualKarma, FailPauseAndSilentOptionsReachTheInstrument) {
    JackMidiServices services("bankquill-test");
    ASSERT_TRUE(services.Connected()) << "no JACK server answers";
    const auto identity = sysex::IdentityRequest();
    const auto dumpRequest = sysex::SingleCombiDumpRequest();
    {
        ChildProcess karma;
        ASSERT_TRUE(
            StartKarma(karma, {"--rate", "0", "--fail-writes", "--pause-after", "1000:600"}));
        Connection connection(services);
        ASSERT_TRUE(connection.Open());
        const Bytes record = VirtualKarma::GeneratedCombi(1, 2);
        const auto header = sysex::ItemWriteHeader(1, 2);
        EXPECT_EQ(
            connection.Send(sysex::BuildItemWrite(header->data(), record.data(), record.size())),
            MMSYSERR_NOERROR);
        ASSERT_TRUE(connection.recorder.WaitForMessages(1, 10000));
        const Bytes reply = connection.recorder.Joined();
        EXPECT_EQ(sysex::Classify(reply.data(), reply.size(), 0).kind, sysex::ReplyKind::Failed);

        connection.recorder.Clear();
        const auto start = Clock::now();
        EXPECT_EQ(connection.Send(Bytes(dumpRequest.begin(), dumpRequest.end())), MMSYSERR_NOERROR);
        ASSERT_TRUE(connection.recorder.WaitForMessages(1, 10000));
        EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(600))
            << "paused after 1000 bytes";
        EXPECT_EQ(connection.recorder.Joined(), VirtualKarma().CurrentCombiDump());
        connection.Close();
        karma.Signal(SIGTERM);
        EXPECT_EQ(karma.Wait(10000), 0);
    }
    {
        ChildProcess karma;
        ASSERT_TRUE(StartKarma(karma, {"--rate", "0", "--silent"}));
        Connection connection(services);
        ASSERT_TRUE(connection.Open());
        EXPECT_EQ(connection.Send(Bytes(dumpRequest.begin(), dumpRequest.end())), MMSYSERR_NOERROR);
        // Still found by its Identity Reply, which comes after the ignored request.
        EXPECT_EQ(connection.Send(Bytes(identity.begin(), identity.end())), MMSYSERR_NOERROR);
        ASSERT_TRUE(connection.recorder.WaitForMessages(1, 10000));
        EXPECT_EQ(connection.recorder.Joined(), VirtualKarma().IdentityReply()) << "nothing else";
        connection.Close();
        karma.Signal(SIGTERM);
        EXPECT_EQ(karma.Wait(10000), 0);
    }
}

TEST(JackVirtualKarma, PcgOptionFillsItsMemory) {
    char path[] = "/tmp/bankquill-memory-XXXXXX";
    const int fd = ::mkstemp(path);
    ASSERT_GE(fd, 0);
    ::close(fd);
    {
        ChildProcess karma;
        ASSERT_TRUE(StartKarma(karma, {"--pcg", BQ_DEMO_PCG, "--memory-out", path}));
        karma.Signal(SIGTERM);
        ASSERT_EQ(karma.Wait(10000), 0);
    }
    std::ifstream file(path, std::ios::binary);
    const Bytes memory((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    ::unlink(path);
    VirtualKarma expected;
    ASSERT_EQ(expected.LoadPCG(BQ_DEMO_PCG), S_OK);
    EXPECT_TRUE(memory == expected.SerializeMemory());
    EXPECT_FALSE(memory == VirtualKarma().SerializeMemory()) << "the file changed something";

    ChildProcess missing;
    ASSERT_TRUE(missing.Start({BQ_VIRTUAL_KARMA, "--pcg", "/nonexistent/file.pcg"}, {}, true));
    EXPECT_EQ(missing.Wait(10000), 1);
}

// ---- the guard, without a server, and with one that goes away ----

TEST(JackTestGuard, RefusesEveryServerButTheTestCommandsOwn) {
    ASSERT_EQ(bq::test::PrivateJackServerProblem(), "") << "the run's own server passes";
    const bool pipewire = bq::test::TestServerIsPipeWire();
    {
        ScopedEnv unset("BQ_TEST_JACK_SERVER", "");
        EXPECT_NE(bq::test::PrivateJackServerProblem(), "");
    }
    {
        // The other kind of server than this run's: the loaded JACK library cannot reach it.
        ScopedEnv other("BQ_TEST_JACK_SERVER", pipewire ? "bankquill-test-x" : "pipewire:/tmp/x");
        ScopedEnv runtime("PIPEWIRE_RUNTIME_DIR", "/tmp/x");
        ScopedEnv name("JACK_DEFAULT_SERVER", "bankquill-test-x");
        EXPECT_NE(bq::test::PrivateJackServerProblem(), "");
    }
    if (pipewire) {
        {
            ScopedEnv runtime("PIPEWIRE_RUNTIME_DIR", "/run/user/1000");
            EXPECT_NE(bq::test::PrivateJackServerProblem(), "") << "the user's runtime directory";
        }
        ScopedEnv remote("PIPEWIRE_REMOTE", "/run/user/1000/pipewire-0");
        EXPECT_NE(bq::test::PrivateJackServerProblem(), "") << "a socket path of its own";
    } else {
        ScopedEnv name("JACK_DEFAULT_SERVER", "default");
        EXPECT_NE(bq::test::PrivateJackServerProblem(), "") << "the user's server";
    }
    EXPECT_EQ(bq::test::PrivateJackServerProblem(), "");
}

TEST(JackWithoutServer, NoDevicesAndNothingWaits) {
    const auto start = Clock::now();
    {
        // A server name for jackd's library, a socket name for PipeWire's: nobody listens.
        const std::string nobody = "bankquill-nobody-" + std::to_string(::getpid());
        ScopedEnv jackd("JACK_DEFAULT_SERVER", nobody);
        ScopedEnv pipewire("PIPEWIRE_REMOTE", nobody);
        JackMidiServices services("bankquill-test");
        EXPECT_FALSE(services.Connected());
        EXPECT_EQ(services.InGetNumDevs(), 0u);
        EXPECT_EQ(services.OutGetNumDevs(), 0u);
        std::string name;
        EXPECT_EQ(services.InGetDevCaps(0, &name), MMSYSERR_BADDEVICEID);
        HMIDIIN input = 0;
        EXPECT_EQ(services.InOpen(&input, 0, &InputRecorder::Proc, 0), JACKERR_NO_SERVER);
        HMIDIOUT output = 0;
        EXPECT_EQ(services.OutOpen(&output, 0, CreateMidiEvent()), JACKERR_NO_SERVER);
        EXPECT_EQ(services.OutGetErrorText(JACKERR_NO_SERVER), "The JACK server is not running.");
        EXPECT_EQ(services.InGetErrorText(MMSYSERR_BADDEVICEID),
                  "A device ID has been used that is out of range for your system.");
    }
    // A generous bound: without a server every call returns at once, it never waits for one.
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

TEST(JackServerGone, ASendInProgressFailsWhenTheServerStallsOrDies) {
    if (bq::test::TestServerIsPipeWire()) {
        GTEST_SKIP() << "jackd only: this test starts, stops and kills a jackd of its own by "
                        "name, which PipeWire's JACK library cannot reach";
    }
    const std::string server = "bankquill-vanish-" + std::to_string(::getpid());
    struct Leftovers {
        std::string server;
        ~Leftovers() { RemoveServerLeftovers(server); }  // after jackd is gone, pass or fail
    } leftovers{server};
    ChildProcess jackd;
    // Long periods: about 12 cycles a second, so a few megabytes take seconds to send.
    ASSERT_TRUE(jackd.Start(
        {"jackd", "-n", server, "--no-realtime", "-d", "dummy", "-r", "48000", "-p", "4096"},
        {"JACK_NO_AUDIO_RESERVATION=1"}, true));
    ScopedEnv env("JACK_DEFAULT_SERVER", server);
    {
        bool up = false;
        for (int i = 0; i < 100 && !up; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            JackMidiServices probe("bankquill-probe");
            up = probe.Connected();
        }
        ASSERT_TRUE(up) << "the private jackd did not come up";
    }
    ChildProcess karma;
    ASSERT_TRUE(StartKarma(karma, {"--rate", "0"}, {"JACK_DEFAULT_SERVER=" + server}));

    JackMidiServices services("bankquill-test");
    const auto out = FindDevice(services, false, kKarmaIn);
    ASSERT_TRUE(out.has_value());
    auto event = CreateMidiEvent();
    HMIDIOUT output = 0;
    ASSERT_EQ(services.OutOpen(&output, *out, event), MMSYSERR_NOERROR);
    ASSERT_TRUE(event->Wait(0, nullptr));
    const Bytes big = LongMessage(4000000);

    // A reset abandons a send in progress.
    ASSERT_EQ(services.OutLongMsg(output, big.data(), big.size()), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(services.OutReset(output), MMSYSERR_NOERROR);
    MidiResult result = 0;
    ASSERT_TRUE(event->Wait(1000, &result));
    EXPECT_EQ(result, MIDIERR_SEND_ABANDONED);

    // A server that stops running cycles (here: stopped) fails the send after the stall limit;
    // once it runs again the services connect afresh and a new output works.
    services.SetStallLimit(std::chrono::milliseconds(1000));
    ASSERT_EQ(services.OutLongMsg(output, big.data(), big.size()), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ASSERT_TRUE(jackd.Signal(SIGSTOP));
    // The failure limit: eight times the stall limit, and short of the default 10 s.
    const bool ended = event->Wait(8000, &result);
    jackd.Signal(SIGCONT);
    ASSERT_TRUE(ended) << "a stalled server must not hold the send";
    EXPECT_EQ(result, JACKERR_SERVER_GONE);
    EXPECT_EQ(services.OutLongMsg(output, big.data(), 10), JACKERR_SERVER_GONE);
    EXPECT_EQ(services.OutClose(output), MMSYSERR_NOERROR);
    ASSERT_TRUE(services.Connected());
    const auto again = FindDevice(services, false, kKarmaIn);
    ASSERT_TRUE(again.has_value());
    ASSERT_EQ(services.OutOpen(&output, *again, event), MMSYSERR_NOERROR);
    ASSERT_TRUE(event->Wait(0, nullptr));
    const auto identity = sysex::IdentityRequest();
    ASSERT_EQ(services.OutLongMsg(output, identity.data(), identity.size()), MMSYSERR_NOERROR);
    ASSERT_TRUE(event->Wait(5000, &result));
    EXPECT_EQ(result, MMSYSERR_NOERROR);
    services.SetStallLimit(std::chrono::milliseconds(10000));

    // The server dies in the middle of the next one.
    ASSERT_EQ(services.OutLongMsg(output, big.data(), big.size()), MMSYSERR_NOERROR);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(event->Wait(0, nullptr)) << "still sending";
    ASSERT_TRUE(jackd.Signal(SIGKILL));
    jackd.Wait(5000);
    ASSERT_TRUE(event->Wait(10000, &result)) << "the send must end";
    EXPECT_EQ(result, JACKERR_SERVER_GONE);
    EXPECT_FALSE(services.OutGetErrorText(result).empty());

    EXPECT_EQ(services.OutLongMsg(output, big.data(), 10), JACKERR_SERVER_GONE);
    EXPECT_EQ(services.OutReset(output), MMSYSERR_NOERROR);
    EXPECT_EQ(services.OutClose(output), MMSYSERR_NOERROR);
    EXPECT_FALSE(services.Connected());
    EXPECT_EQ(services.OutGetNumDevs(), 0u);
    EXPECT_EQ(karma.Wait(10000), 1) << "the virtual Karma notices too and ends";
}

// A PipeWire of its own, started as scripts/private-pipewire.sh starts the test command's.
TEST(JackServerGone, APipeWireThatEndsIsNoticedByTheServicesAndTheVirtualKarma) {
    if (!bq::test::TestServerIsPipeWire()) {
        GTEST_SKIP() << "PipeWire only: for jackd, ASendInProgressFailsWhenTheServerStallsOrDies "
                        "kills the server";
    }
    char dir[] = "/tmp/bankquill-pw-gone-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    struct Remove {
        std::string dir;
        ~Remove() {
            std::error_code error;
            std::filesystem::remove_all(dir, error);
        }
    } remove{dir};
    const std::string conf = std::string(dir) + "/pipewire.conf";
    {
        ChildProcess write;
        ASSERT_TRUE(write.Start({"bash", "-c", "source \"$0\" && private_pipewire_conf >\"$1\"",
                                 BQ_PRIVATE_PIPEWIRE, conf}));
        ASSERT_EQ(write.Wait(5000), 0);
    }
    const std::vector<std::string> env = {std::string("PIPEWIRE_RUNTIME_DIR=") + dir,
                                          std::string("XDG_RUNTIME_DIR=") + dir};
    ChildProcess pipewire;
    ASSERT_TRUE(pipewire.Start({"pipewire", "-c", conf}, env, true));
    ScopedEnv runtime("PIPEWIRE_RUNTIME_DIR", dir);
    bool up = false;
    for (int i = 0; i < 100 && !up; ++i) {
        JackMidiServices probe("bankquill-probe");
        up = probe.Connected();
        if (!up) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    ASSERT_TRUE(up) << "the private PipeWire did not come up";
    ChildProcess karma;
    ASSERT_TRUE(StartKarma(karma, {"--rate", "0"}, env));
    JackMidiServices services("bankquill-test");
    ASSERT_TRUE(FindDevice(services, false, kKarmaIn).has_value());

    ASSERT_TRUE(pipewire.Signal(SIGTERM));
    pipewire.Wait(10000);
    EXPECT_EQ(karma.Wait(10000), 1) << "the virtual Karma notices and ends";
    // The services learn it from libjack's thread; then no device is left.
    bool noticed = false;
    for (int i = 0; i < 50 && !noticed; ++i) {
        noticed = !services.Connected();
        if (!noticed) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    EXPECT_TRUE(noticed) << "the services still take the client for connected";
    EXPECT_EQ(services.OutGetNumDevs(), 0u);
}

}  // namespace
}  // namespace bq::midi
