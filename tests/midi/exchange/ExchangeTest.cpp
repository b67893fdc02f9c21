// The exchange as a protocol: each case is a script of what the ports and the clock do, the
// sends the engine asks for, and how the exchange ends. The runner plays the script, answers
// every Open and Send as done at the time of the script (unless the case says otherwise), and
// then lets the clock run to each deadline, at most kStepLimit times: an exchange that never
// ends fails the case instead of hanging it.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "midi/Exchange.h"
#include "midi/SysEx.h"

namespace {

using bq::midi::Bytes;
using bq::midi::Exchange;
using bq::midi::ExchangeAction;
using bq::midi::ExchangeEnd;
using bq::midi::Millis;
using bq::sysex::ReplyKind;

constexpr int kStepLimit = 64;
constexpr std::uint32_t kOut = bq::midi::kConnectionOutput;

const Bytes kIdentityRequest{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7};
Bytes KarmaIdentity(std::uint8_t id) {
    return {0xF0, 0x7E, id, 0x06, 0x02, 0x42, 0x5D, 0x00, 0x05, 0x00, 0x01, 0x00, 0x00, 0xF7};
}
// Another maker's instrument answering the same Identity Request.
const Bytes kRolandIdentity{0xF0, 0x7E, 0x10, 0x06, 0x02, 0x41, 0x10, 0x01, 0x00, 0x00, 0xF7};
// Another device's SysEx on the same cable (a Yamaha parameter change).
const Bytes kForeign{0xF0, 0x43, 0x10, 0x4C, 0x00, 0x00, 0x7E, 0x00, 0xF7};
Bytes Status(std::uint8_t channel, std::uint8_t function, int code = -1) {
    Bytes reply{0xF0, 0x42, static_cast<std::uint8_t>(0x30 | channel), 0x5D, function};
    if (code >= 0) {
        reply.push_back(static_cast<std::uint8_t>(code));
    }
    reply.push_back(0xF7);
    return reply;
}
// A dump of the Karma on `channel`: a header and `length` bytes of data in all.
Bytes Dump(std::uint8_t channel, std::size_t length) {
    Bytes dump(length, 0x11);
    const Bytes header{0xF0, 0x42, static_cast<std::uint8_t>(0x30 | channel), 0x5D, 0x4D, 0x00,
                       0x20, 0x00};
    std::copy(header.begin(), header.end(), dump.begin());
    dump.back() = 0xF7;
    return dump;
}
Bytes Part(const Bytes& all, std::size_t from, std::size_t to) {
    return Bytes(all.begin() + static_cast<long>(from),
                 all.begin() + static_cast<long>(std::min(to, all.size())));
}
const Bytes kBankRequest{0xF0, 0x42, 0x30, 0x5D, 0x1D, 0x10, 0x00, 0x00, 0xF7};
const Bytes kWrite{0xF0, 0x42, 0x30, 0x5D, 0x4D, 0x00, 0x20, 0x05, 0x00, 0x41, 0xF7};

struct Step {
    enum class Op { Search, Identify, Dump, Write, In, Broken, At, Abandon, Channel } op;
    Millis at = 0;
    std::uint32_t port = 0;  // input of In, outputs of Search, silence of the requests
    Bytes bytes;
};
Step Search(std::uint32_t outputs) {
    return {Step::Op::Search, 0, outputs, {}};
}
Step Identify(int silence) {
    return {Step::Op::Identify, 0, static_cast<std::uint32_t>(silence), {}};
}
Step DumpRequest(Millis at, Bytes request, int silence) {
    return {Step::Op::Dump, at, static_cast<std::uint32_t>(silence), std::move(request)};
}
Step Write(Millis at, Bytes message, int silence) {
    return {Step::Op::Write, at, static_cast<std::uint32_t>(silence), std::move(message)};
}
Step In(Millis at, std::uint32_t input, Bytes bytes) {
    return {Step::Op::In, at, input, std::move(bytes)};
}
Step Broken(Millis at, std::uint32_t input) {
    return {Step::Op::Broken, at, input, {}};
}
Step At(Millis at) {
    return {Step::Op::At, at, 0, {}};
}
Step Abandon(Millis at) {
    return {Step::Op::Abandon, at, 0, {}};
}
Step Channel(std::uint8_t channel) {
    return {Step::Op::Channel, 0, channel, {}};
}

struct Ending {
    Ending() = default;
    // The cases name what matters to them, in this order; the rest keeps its default.
    Ending(ExchangeEnd e, ReplyKind s = ReplyKind::Dump, std::uint8_t c = 0, Bytes m = {},
           std::uint32_t in = 0, std::uint32_t out = 0, std::uint8_t ch = 0, std::size_t sk = 0,
           Millis at = -1)
        : end(e),
          status(s),
          code(c),
          message(std::move(m)),
          input(in),
          output(out),
          channel(ch),
          skipped(sk),
          endedAt(at) {}

    ExchangeEnd end = ExchangeEnd::Running;
    ReplyKind status = ReplyKind::Dump;
    std::uint8_t code = 0;
    Bytes message;
    std::uint32_t input = 0;
    std::uint32_t output = 0;
    std::uint8_t channel = 0;
    std::size_t skipped = 0;
    // When the clock made it end: the deadline reached last, or -1 when bytes ended it.
    Millis endedAt = -1;
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<std::string> sends;  // "open 1", "send 1 F0 7E ...", "close 1"
    Ending ending;
    std::set<std::uint32_t> unavailable = {};  // search outputs that do not open
    bool sendsFail = false;
};

std::string Hex(const Bytes& bytes) {
    std::string text;
    for (std::uint8_t b : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, " %02X", b);
        text += hex;
    }
    return text;
}
std::string Port(std::uint32_t output) {
    return output == kOut ? "out" : std::to_string(output);
}
std::string Send(std::uint32_t output, const Bytes& bytes) {
    return "send " + Port(output) + Hex(bytes);
}

// Plays a case; returns the sends, fills *ending.
std::vector<std::string> Play(const Case& c, Ending* ending) {
    Exchange engine;
    std::vector<std::string> sends;
    Millis now = 0;
    auto serve = [&] {
        for (auto actions = engine.TakeActions(); !actions.empty();
             actions = engine.TakeActions()) {
            bool skipping = false;
            for (const ExchangeAction& a : actions) {
                if (skipping) {
                    continue;
                }
                switch (a.kind) {
                    case ExchangeAction::Kind::Open:
                        sends.push_back("open " + Port(a.output));
                        if (c.unavailable.count(a.output) != 0) {
                            engine.OutputUnavailable(now);
                            skipping = true;  // this batch's Send is for the closed output
                        }
                        break;
                    case ExchangeAction::Kind::Send:
                        sends.push_back(Send(a.output, a.bytes));
                        c.sendsFail ? engine.SendFailed(now) : engine.Sent(now);
                        break;
                    case ExchangeAction::Kind::Close:
                        sends.push_back("close " + Port(a.output));
                        break;
                }
            }
        }
    };
    for (const Step& step : c.steps) {
        now = std::max(now, step.at);
        switch (step.op) {
            case Step::Op::Search:
                EXPECT_TRUE(engine.BeginSearch(step.port, now));
                break;
            case Step::Op::Identify:
                EXPECT_TRUE(engine.BeginIdentify(now, static_cast<int>(step.port)));
                break;
            case Step::Op::Dump:
                if (engine.Ended()) {
                    engine.TakeResult();  // an earlier exchange of the script
                }
                EXPECT_TRUE(engine.BeginDump(step.bytes, now, static_cast<int>(step.port)));
                break;
            case Step::Op::Write:
                if (engine.Ended()) {
                    engine.TakeResult();
                }
                EXPECT_TRUE(engine.BeginWrite(step.bytes, now, static_cast<int>(step.port)));
                break;
            case Step::Op::In:
                engine.Receive(step.port, step.bytes.data(), step.bytes.size(), now);
                break;
            case Step::Op::Broken:
                engine.ReceiveBroken(step.port);
                break;
            case Step::Op::At:
                engine.Tick(now);
                break;
            case Step::Op::Abandon:
                engine.Abandon();
                break;
            case Step::Op::Channel:
                engine.SetChannel(static_cast<std::uint8_t>(step.port));
                break;
        }
        serve();
    }
    // The clock runs on to each deadline, within the step limit.
    int steps = 0;
    Millis endedAt = -1;
    while (engine.Running() && steps++ < kStepLimit) {
        const auto deadline = engine.Deadline();
        if (!deadline) {
            break;  // waits without a bound: a question of the caller's ends it
        }
        now = std::max(now, *deadline);
        endedAt = now;
        engine.Tick(now);
        serve();
    }
    EXPECT_LT(steps, kStepLimit) << "the exchange never ended";
    const bq::midi::ExchangeResult result = engine.TakeResult();
    *ending =
        Ending{result.end,     result.status,  result.errorCode,
               result.message, result.input,   result.output,
               result.channel, result.skipped, result.end == ExchangeEnd::Running ? -1 : endedAt};
    return sends;
}

const Bytes kDump10000 = Dump(0, 10000);
const Bytes kDumpCh3 = Dump(3, 2000);

const std::vector<Case> kCases = {
    {"KarmaOnOutput2AndInput1IsFoundAfterOutputs0And1HadTheirWindow",
     {Search(3), At(500), At(1000), In(1200, 1, KarmaIdentity(5))},
     {"open 0", Send(0, kIdentityRequest), "close 0", "open 1", Send(1, kIdentityRequest),
      "close 1", "open 2", Send(2, kIdentityRequest), "close 2"},
     {ExchangeEnd::Found, ReplyKind::Dump, 0, {}, 1, 2, 5}},
    {"AReplyAfterItsOutputsWindowIsCreditedToTheNextOutput",
     {Search(2), In(600, 0, KarmaIdentity(0))},
     {"open 0", Send(0, kIdentityRequest), "close 0"},
     {ExchangeEnd::Found, ReplyKind::Dump, 0, {}, 0, 1, 0}},
    {"AnOutputThatDoesNotOpenIsPassedOverAndSilenceIsNotFound",
     {Search(3)},
     {"open 0", Send(0, kIdentityRequest), "close 0", "open 1", "open 2", Send(2, kIdentityRequest),
      "close 2"},
     {ExchangeEnd::NotFound, ReplyKind::Dump, 0, {}, 0, 0, 0, 0, 1000},
     {1}},
    {"AReplyAfterTheNextOutputWasAskedIsCreditedToIt",
     {Search(2), At(500), In(600, 0, KarmaIdentity(0))},
     {"open 0", Send(0, kIdentityRequest), "close 0", "open 1", Send(1, kIdentityRequest),
      "close 1"},
     {ExchangeEnd::Found, ReplyKind::Dump, 0, {}, 0, 1, 0}},
    {"AnotherMakersReplyDoesNotDeafenTheInputToTheKarmaBehindIt",
     {Search(1), In(100, 0, kRolandIdentity), In(120, 0, KarmaIdentity(2))},
     {"open 0", Send(0, kIdentityRequest), "close 0"},
     {ExchangeEnd::Found, ReplyKind::Dump, 0, {}, 0, 0, 2, 1}},
    {"TheIdentityReplyOnKnownPortsGivesTheChannel",
     {Identify(5000), In(40, 4, KarmaIdentity(9))},
     {Send(kOut, kIdentityRequest)},
     {ExchangeEnd::Found, ReplyKind::Dump, 0, {}, 4, kOut, 9}},
    {"ATenThousandByteDumpInThreeChunksIsOneAnswer",
     {DumpRequest(0, kBankRequest, 0), In(100, 0, Part(kDump10000, 0, 4096)),
      In(1400, 0, Part(kDump10000, 4096, 8192)), In(2700, 0, Part(kDump10000, 8192, 10000))},
     {Send(kOut, kBankRequest)},
     {ExchangeEnd::Dump, ReplyKind::Dump, 0, kDump10000}},
    {"AnotherDevicesMessageDuringADumpIsSkippedAndTheDumpGoesOn",
     {DumpRequest(0, kBankRequest, 0), In(50, 0, kForeign), In(60, 0, kRolandIdentity),
      In(100, 0, Part(kDump10000, 0, 5000)), In(1700, 0, Part(kDump10000, 5000, 10000))},
     {Send(kOut, kBankRequest)},
     {ExchangeEnd::Dump, ReplyKind::Dump, 0, kDump10000, 0, 0, 0, 2}},
    {"TheDumpIsTakenOnlyOnTheGlobalChannel",
     {Channel(3), DumpRequest(0, kBankRequest, 0), In(50, 0, Dump(0, 300)),
      In(100, 0, Status(0, 0x23)), In(200, 0, kDumpCh3)},
     {Send(kOut, {0xF0, 0x42, 0x33, 0x5D, 0x1D, 0x10, 0x00, 0x00, 0xF7})},
     {ExchangeEnd::Dump, ReplyKind::Dump, 0, kDumpCh3, 0, 0, 0, 2}},
    {"AFailedReplyToADumpRequestRefusesIt",
     {DumpRequest(0, kBankRequest, 0), In(30, 0, Status(0, 0x24))},
     {Send(kOut, kBankRequest)},
     {ExchangeEnd::Refused, ReplyKind::Failed}},
    {"AnErrorReplyToADumpRequestRefusesItWithItsCode",
     {DumpRequest(0, kBankRequest, 0), In(30, 0, Status(0, 0x26, 0x41))},
     {Send(kOut, kBankRequest)},
     {ExchangeEnd::Refused, ReplyKind::Error, 0x41}},
    {"EvenACompletedReplyToADumpRequestRefusesIt",
     {DumpRequest(0, kBankRequest, 0), In(30, 0, Status(0, 0x23))},
     {Send(kOut, kBankRequest)},
     {ExchangeEnd::Refused, ReplyKind::Completed}},
    {"ALateAnswerIsSilenceAndItsTailIsNotTakenForTheNextAnswer",
     {DumpRequest(0, kBankRequest, 5000), In(4000, 0, Part(kDump10000, 0, 4096)),
      At(9100),  // silent for 5 s: given up
      In(9200, 0, Part(kDump10000, 4096, 8192)), DumpRequest(9300, kBankRequest, 5000),
      In(9400, 0, Part(kDump10000, 8192, 10000)),  // the old answer's end: no F0
      In(9500, 0, Part(kDumpCh3, 0, 2000))},       // not on this channel either
     {Send(kOut, kBankRequest), Send(kOut, kBankRequest)},
     {ExchangeEnd::Silent, ReplyKind::Dump, 0, {}, 0, 0, 0, 1, 14500}},
    {"LeftoversFromBeforeARequestAnswerNothing",
     {In(0, 0, Part(kDump10000, 0, 6000)), DumpRequest(10, kBankRequest, 5000),
      In(20, 0, Part(kDump10000, 6000, 10000)), In(30, 0, Status(0, 0x24))},
     {Send(kOut, kBankRequest)},
     {ExchangeEnd::Refused, ReplyKind::Failed}},
    {"ABrokenMessageIsDroppedWhole",
     {DumpRequest(0, kBankRequest, 0), In(10, 0, Part(kDump10000, 0, 4096)), Broken(20, 0),
      In(30, 0, Part(kDump10000, 4096, 10000)), In(40, 0, Status(0, 0x24))},
     {Send(kOut, kBankRequest)},
     {ExchangeEnd::Refused, ReplyKind::Failed}},
    {"AMessagePastTheLimitIsDroppedUpToTheNextStart",
     {DumpRequest(0, kBankRequest, 0), In(10, 0, Dump(0, bq::midi::SysExAssembler::kLimit + 1)),
      In(20, 0, Status(0, 0x24))},
     {Send(kOut, kBankRequest)},
     {ExchangeEnd::Refused, ReplyKind::Failed}},
    {"AnAbandonedDumpLeavesItsRestUnassembled",
     {DumpRequest(0, kBankRequest, 0), In(10, 0, Part(kDump10000, 0, 4096)), Abandon(20),
      Write(30, kWrite, 5000), In(40, 0, Part(kDump10000, 4096, 10000)),
      In(50, 0, Status(0, 0x23))},
     {Send(kOut, kBankRequest), Send(kOut, kWrite)},
     {ExchangeEnd::Completed}},
    {"AWriteAnsweredFailedIsRefused",
     {Write(0, kWrite, 5000), In(300, 0, Status(0, 0x24))},
     {Send(kOut, kWrite)},
     {ExchangeEnd::Refused, ReplyKind::Failed}},
    {"AWriteAnsweredErrorIsRefusedWithItsCode",
     {Write(0, kWrite, 5000), In(300, 0, Status(0, 0x26, 0x07))},
     {Send(kOut, kWrite)},
     {ExchangeEnd::Refused, ReplyKind::Error, 0x07}},
    {"ADumpDuringAWriteIsDroppedAndTheReplyStillCounts",
     {Write(0, kWrite, 5000), In(100, 0, Dump(0, 300)), In(200, 0, Status(0, 0x23))},
     {Send(kOut, kWrite)},
     {ExchangeEnd::Completed, ReplyKind::Dump, 0, {}, 0, 0, 0, 1}},
    {"BytesArrivingRestartTheSilenceBound",
     {Write(0, kWrite, 5000), In(4000, 0, kForeign), In(8500, 0, Status(0, 0x23))},
     {Send(kOut, kWrite)},
     {ExchangeEnd::Completed, ReplyKind::Dump, 0, {}, 0, 0, 0, 1}},
    {"ASmallDumpRequestNobodyAnswersEndsAtItsBound",
     {DumpRequest(0, kBankRequest, 300)},
     {Send(kOut, kBankRequest)},
     {ExchangeEnd::Silent, ReplyKind::Dump, 0, {}, 0, 0, 0, 0, 300}},
    {"AReplyOnAnotherChannelIsNoAnswerAndTheWriteFallsSilent",
     {Channel(3), Write(0, kWrite, 5000), In(100, 0, Status(0, 0x23))},
     {Send(kOut, {0xF0, 0x42, 0x33, 0x5D, 0x4D, 0x00, 0x20, 0x05, 0x00, 0x41, 0xF7})},
     {ExchangeEnd::Silent, ReplyKind::Dump, 0, {}, 0, 0, 0, 1, 5100}},
};

TEST(ExchangeScripts, EveryCaseEndsAsScripted) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        Ending got;
        EXPECT_EQ(Play(c, &got), c.sends);
        EXPECT_EQ(got.end, c.ending.end);
        EXPECT_EQ(got.status, c.ending.status);
        EXPECT_EQ(got.code, c.ending.code);
        EXPECT_EQ(got.message, c.ending.message);
        EXPECT_EQ(got.skipped, c.ending.skipped);
        if (c.ending.end == ExchangeEnd::Found) {
            EXPECT_EQ(got.input, c.ending.input);
            EXPECT_EQ(got.output, c.ending.output);
            EXPECT_EQ(got.channel, c.ending.channel);
        }
        EXPECT_EQ(got.endedAt, c.ending.endedAt);
    }
}

TEST(ExchangeScripts, ASendThatFailsEndsTheRequestButNotTheSearch) {
    Case write{"write", {Write(0, kWrite, 5000)}, {Send(kOut, kWrite)}, {ExchangeEnd::NotSent}};
    write.sendsFail = true;
    Ending got;
    EXPECT_EQ(Play(write, &got), write.sends);
    EXPECT_EQ(got.end, ExchangeEnd::NotSent);

    Case search{"search", {Search(1)}, {"open 0", Send(0, kIdentityRequest), "close 0"}, {}};
    search.sendsFail = true;
    EXPECT_EQ(Play(search, &got), search.sends);
    EXPECT_EQ(got.end, ExchangeEnd::NotFound);
    EXPECT_EQ(got.endedAt, 500);  // silence, not the failed send, moved it on
}

TEST(ExchangeScripts, OneExchangeAtATime) {
    Exchange engine;
    ASSERT_TRUE(engine.BeginWrite(kWrite, 0, 5000));
    EXPECT_FALSE(engine.BeginDump(kBankRequest, 0, 0));
    EXPECT_FALSE(engine.BeginSearch(2, 0));
    engine.Abandon();
    EXPECT_EQ(engine.TakeResult().end, ExchangeEnd::Abandoned);
    EXPECT_TRUE(engine.BeginDump(kBankRequest, 0, 0));
}

}  // namespace
