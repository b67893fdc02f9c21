#include "tools/virtual-karma/VirtualKarma.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include "midi/SysEx.h"
#include "model/KarmaBank.h"
#include "model/Ref.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using bq::VirtualKarma;
using bq::midi::MidiTimedBytes;
using bq::sysex::ReplyKind;

std::vector<MidiTimedBytes> Send(VirtualKarma& karma, const Bytes& message) {
    std::vector<MidiTimedBytes> reply;
    karma.HandleMessage(message.data(), message.size(), &reply);
    return reply;
}

Bytes Joined(const std::vector<MidiTimedBytes>& runs) {
    Bytes all;
    for (const auto& run : runs) {
        all.insert(all.end(), run.bytes.begin(), run.bytes.end());
    }
    return all;
}

Bytes Unpacked(Bytes message) {
    unsigned long length = message.size();
    EXPECT_TRUE(bq::sysex::UnpackSysEx(8, message.data(), &length));
    message.resize(length);
    return message;
}

template <std::size_t N>
Bytes ToBytes(const std::array<std::uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

std::string Name(const Bytes& record) {
    return std::string(record.begin(), record.begin() + 16);
}

Bytes ItemWrite(int bank, int slot, const Bytes& record, std::uint8_t channel = 0) {
    const auto header = *bq::sysex::ItemWriteHeader(bank, slot, channel);
    return bq::sysex::BuildItemWrite(header.data(), record.data(), record.size());
}

Bytes ProgramWrite(int bank, int slot, const Bytes& record, std::uint8_t channel = 0) {
    const auto header = *bq::sysex::ProgramWriteHeader(bank, slot, channel);
    return bq::sysex::BuildItemWrite(header.data(), record.data(), record.size());
}

// A record of `size` bytes that uses both halves of the byte range.
Bytes NewProgram(std::size_t size, std::uint8_t seed) {
    Bytes record(size);
    for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<std::uint8_t>(i * 53 + seed);
    }
    std::memcpy(record.data(), "Written Program ", 16);
    return record;
}

Bytes NewCombi(std::uint8_t seed) {
    Bytes record(VirtualKarma::kCombiSize);
    for (std::size_t i = 0; i < record.size(); ++i) {
        record[i] = static_cast<std::uint8_t>(i * 37 + seed);
    }
    std::memcpy(record.data(), "Written Combi   ", 16);
    return record;
}

ReplyKind KindOf(const std::vector<MidiTimedBytes>& reply, std::uint8_t channel = 0) {
    const Bytes all = Joined(reply);
    return bq::sysex::Classify(all.data(), all.size(), channel).kind;
}

TEST(VirtualKarmaMemory, GeneratedRecordsAreNamedAndDistinct) {
    VirtualKarma karma;
    EXPECT_EQ(Name(karma.CombiRecord(2, 17)), "Combi C-017     ");
    EXPECT_EQ(Name(karma.ProgramRecord(0, 5)), "Prog A-005      ");
    EXPECT_EQ(Name(karma.ProgramRecord(5, 10)), "MOSS F-010      ");
    EXPECT_EQ(karma.ProgramRecord(4, 127).size(), 804u);
    EXPECT_EQ(karma.ProgramRecord(5, 0).size(), 416u);
    EXPECT_EQ(karma.CombiRecord(5, 127).size(), 996u);
    EXPECT_EQ(karma.CurrentCombi().size(), 996u);
    EXPECT_TRUE(karma.CombiRecord(6, 0).empty());
    EXPECT_TRUE(karma.CombiRecord(0, 128).empty());
    EXPECT_TRUE(karma.ProgramRecord(-1, 0).empty());
    EXPECT_TRUE(karma.ProgramBank(6).empty());

    // Bodies differ between slots (not only the names) and use both halves of the byte range.
    const Bytes a = karma.CombiRecord(0, 0);
    const Bytes b = karma.CombiRecord(0, 1);
    EXPECT_NE(Bytes(a.begin() + 16, a.end()), Bytes(b.begin() + 16, b.end()));
    int high = 0;
    for (std::size_t i = 16; i < a.size(); ++i) {
        high += a[i] >= 0x80;
    }
    EXPECT_GT(high, 100);
    EXPECT_LT(high, 900);
    EXPECT_EQ(VirtualKarma::GeneratedCombi(2, 17), karma.CombiRecord(2, 17));
}

TEST(VirtualKarmaMemory, SerialisedLayoutAndFile) {
    VirtualKarma karma;
    const Bytes combi = NewCombi(9);
    ASSERT_TRUE(karma.SetCombiRecord(3, 4, combi.data(), combi.size()));
    const Bytes moss(416, 0x5A);
    ASSERT_TRUE(karma.SetProgramRecord(5, 1, moss.data(), moss.size()));
    EXPECT_FALSE(karma.SetProgramRecord(5, 1, moss.data(), 804));
    EXPECT_FALSE(karma.SetCombiRecord(3, 128, combi.data(), combi.size()));

    const Bytes memory = karma.SerializeMemory();
    ASSERT_EQ(memory.size(), VirtualKarma::kMemorySize);
    ASSERT_EQ(memory.size(), 1333732u);
    const std::size_t mossBank = 5 * 128 * 804;
    const std::size_t combis = mossBank + 128 * 416;
    EXPECT_EQ(
        Bytes(memory.begin() + 2 * 128 * 804 + 3 * 804, memory.begin() + 2 * 128 * 804 + 4 * 804),
        karma.ProgramRecord(2, 3));
    EXPECT_EQ(Bytes(memory.begin() + mossBank + 416, memory.begin() + mossBank + 832), moss);
    const std::size_t at = combis + (3 * 128 + 4) * 996;
    EXPECT_EQ(Bytes(memory.begin() + at, memory.begin() + at + 996), combi);
    EXPECT_EQ(Bytes(memory.end() - 996, memory.end()), karma.CurrentCombi());

    const auto path = std::filesystem::temp_directory_path() /
                      ("bq-vk-memory-" + std::to_string(::getpid()) + ".bin");
    ASSERT_TRUE(karma.WriteMemory(path.c_str()));
    std::ifstream in(path, std::ios::binary);
    const Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::filesystem::remove(path);
    EXPECT_EQ(file, memory);
    EXPECT_FALSE(karma.WriteMemory(std::filesystem::temp_directory_path().c_str()));
    EXPECT_FALSE(karma.WriteMemory(nullptr));
}

TEST(VirtualKarmaMemory, FillsFromARootContainer) {
    CKarmaRootContainer root;
    Bytes combi = NewCombi(1);
    unsigned long size = 0;
    auto item = bq::Ref<CKarmaCombi>::Adopt(CKarmaCombi::LoadCombi(combi.data(), &size));
    root.GetCombiBank(2)->SetCombi(5, item.get());
    Bytes pcm(804);
    for (std::size_t i = 0; i < pcm.size(); ++i) {
        pcm[i] = static_cast<std::uint8_t>(255 - i);
    }
    auto a1 = bq::Ref<CKarmaPCMProgram>::Adopt(CKarmaPCMProgram::LoadProgram(pcm.data(), &size));
    root.GetProgramBank(0)->SetProgram(1, a1.get());
    root.GetProgramBank(5)->SetProgram(3, a1.get());

    VirtualKarma karma;
    const Bytes written = NewCombi(2);
    karma.SetCombiRecord(0, 0, written.data(), written.size());
    karma.LoadFromRoot(&root);
    EXPECT_EQ(karma.CombiRecord(2, 5), combi);
    EXPECT_EQ(karma.ProgramRecord(0, 1), pcm);
    // Bank F holds 416-byte MOSS records: the first 416 bytes of the PCM record.
    EXPECT_EQ(karma.ProgramRecord(5, 3), Bytes(pcm.begin(), pcm.begin() + 416));
    // Slots the file leaves empty are generated afresh, earlier writes included.
    EXPECT_EQ(karma.CombiRecord(2, 6), VirtualKarma::GeneratedCombi(2, 6));
    EXPECT_EQ(karma.CombiRecord(0, 0), VirtualKarma::GeneratedCombi(0, 0));
    EXPECT_EQ(karma.ProgramRecord(5, 4), VirtualKarma::GeneratedProgram(5, 4));

    const Bytes before = karma.SerializeMemory();
    EXPECT_TRUE(FAILED(karma.LoadPCG("/nonexistent/bankquill/file.pcg")));
    EXPECT_EQ(karma.SerializeMemory(), before);
}

TEST(VirtualKarmaExchange, IdentityRequest) {
    VirtualKarma karma;
    karma.SetChannel(7);
    const auto reply = Send(karma, ToBytes(bq::sysex::IdentityRequest()));
    ASSERT_EQ(reply.size(), 1u);
    const Bytes& bytes = reply[0].bytes;
    ASSERT_EQ(bytes.size(), 15u);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 10),
              (Bytes{0xF0, 0x7E, 0x07, 0x06, 0x02, 0x42, 0x5D, 0x00, 0x05, 0x00}));
    EXPECT_EQ(bytes.back(), 0xF7);
    std::uint8_t id = 0;
    EXPECT_TRUE(bq::sysex::MatchIdentityReply(bytes.data(), bytes.size(), &id));
    EXPECT_EQ(id, 7);
    EXPECT_EQ(bytes, karma.IdentityReply());

    EXPECT_EQ(Send(karma, {0xF0, 0x7E, 0x07, 0x06, 0x01, 0xF7}).size(), 1u);  // its own id
    EXPECT_TRUE(Send(karma, {0xF0, 0x7E, 0x03, 0x06, 0x01, 0xF7}).empty());   // another id
    EXPECT_TRUE(Send(karma, {0xF0, 0x7E, 0x7F, 0x06, 0x02, 0xF7}).empty());
}

TEST(VirtualKarmaExchange, EveryBankDumpUnpacksToItsMemory) {
    VirtualKarma karma;
    karma.SetChannel(3);
    for (int bank = 0; bank < 6; ++bank) {
        const auto programs = Send(karma, ToBytes(*bq::sysex::ProgramBankDumpRequest(bank, 3)));
        ASSERT_EQ(programs.size(), 1u);
        EXPECT_EQ(KindOf(programs, 3), ReplyKind::Dump);
        EXPECT_EQ(programs[0].bytes, karma.ProgramBankDump(bank));
        const std::size_t recordSize = bank == 5 ? 416 : 804;
        Bytes decoded = Unpacked(programs[0].bytes);
        // No bank fills whole groups of 7: the closing F7 is decoded as one more byte.
        ASSERT_EQ(decoded.size(), 128 * recordSize + 1) << bank;
        EXPECT_EQ(decoded.back(), 0xF7);
        decoded.pop_back();
        EXPECT_EQ(decoded, karma.ProgramBank(bank)) << bank;
        const std::string name = std::string(bank == 5 ? "MOSS " : "Prog ") +
                                 static_cast<char>('A' + bank) + "-010      ";
        EXPECT_EQ(Name(Bytes(decoded.begin() + 10 * recordSize, decoded.end())), name);

        const auto combis = Send(karma, ToBytes(*bq::sysex::CombiBankDumpRequest(bank, 3)));
        ASSERT_EQ(combis.size(), 1u);
        EXPECT_EQ(combis[0].bytes.size(), 145710u);
        decoded = Unpacked(combis[0].bytes);
        ASSERT_EQ(decoded.size(), 128 * 996u + 1) << bank;  // short last group: F7 decoded
        EXPECT_EQ(decoded.back(), 0xF7);
        decoded.pop_back();
        EXPECT_EQ(decoded, karma.CombiBank(bank)) << bank;
        for (int slot = 0; slot < 128; slot += 37) {
            EXPECT_EQ(Bytes(decoded.begin() + slot * 996, decoded.begin() + (slot + 1) * 996),
                      VirtualKarma::GeneratedCombi(bank, slot));
        }
    }

    const auto current = Send(karma, ToBytes(bq::sysex::SingleCombiDumpRequest(3)));
    ASSERT_EQ(current.size(), 1u);
    Bytes decoded = Unpacked(current[0].bytes);
    ASSERT_EQ(decoded.size(), 997u);
    decoded.pop_back();
    EXPECT_EQ(decoded, karma.CurrentCombi());
}

TEST(VirtualKarmaExchange, ItemWriteChangesExactlyOneSlot) {
    VirtualKarma karma;
    karma.SetChannel(2);
    const Bytes before = karma.SerializeMemory();
    const Bytes record = NewCombi(4);
    const auto reply = Send(karma, ItemWrite(4, 99, record, 2));
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].bytes, (Bytes{0xF0, 0x42, 0x32, 0x5D, 0x23, 0xF7}));
    EXPECT_EQ(KindOf(reply, 2), ReplyKind::Completed);

    const Bytes after = karma.SerializeMemory();
    const std::size_t at = 5 * 128 * 804 + 128 * 416 + (4 * 128 + 99) * 996;
    EXPECT_EQ(Bytes(after.begin() + at, after.begin() + at + 996), record);
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + at, after.begin()));
    EXPECT_TRUE(std::equal(before.begin() + at + 996, before.end(), after.begin() + at + 996));

    // The written record comes back in the next dump.
    const auto dump = Send(karma, ToBytes(*bq::sysex::CombiBankDumpRequest(4, 2)));
    const Bytes decoded = Unpacked(Joined(dump));
    EXPECT_EQ(Bytes(decoded.begin() + 99 * 996, decoded.begin() + 100 * 996), record);
}

TEST(VirtualKarmaExchange, MalformedItemWritesChangeNothing) {
    VirtualKarma karma;
    const Bytes before = karma.SerializeMemory();
    const Bytes record = NewCombi(5);
    const Bytes good = ItemWrite(0, 1, record);

    std::vector<Bytes> bad;
    Bytes b = good;
    b[6] = 0x26;  // bank G
    bad.push_back(b);
    b = good;
    b[6] = 0x1F;
    bad.push_back(b);
    b = good;
    b[7] = 0x80;  // slot 128
    bad.push_back(b);
    b = good;
    b[5] = 0x01;
    bad.push_back(b);
    b = good;
    b[500] = 0x90;  // a status byte inside the data
    bad.push_back(b);
    b = good;
    b.back() = 0x00;  // no closing F7
    bad.push_back(b);
    bad.push_back(ItemWrite(0, 1, Bytes(record.begin(), record.end() - 1)));  // 995 bytes
    Bytes longer = record;
    longer.push_back(0x11);
    bad.push_back(ItemWrite(0, 1, longer));  // 997 bytes
    bad.push_back(ItemWrite(0, 1, Bytes(804, 0x22)));
    bad.push_back(Bytes(good.begin(), good.begin() + 8));
    bad.push_back({0xF0, 0x42, 0x30, 0x5D, 0x4D, 0xF7});
    for (std::size_t i = 0; i < bad.size(); ++i) {
        const auto reply = Send(karma, bad[i]);
        ASSERT_EQ(reply.size(), 1u) << i;
        EXPECT_EQ(reply[0].bytes, (Bytes{0xF0, 0x42, 0x30, 0x5D, 0x24, 0xF7})) << i;
    }
    EXPECT_EQ(karma.SerializeMemory(), before);
    EXPECT_EQ(KindOf(Send(karma, good)), ReplyKind::Completed);
    EXPECT_EQ(karma.CombiRecord(0, 1), record);
}

// A PCM Program into bank C and a MOSS Program into bank F: each changes its own slot only.
TEST(VirtualKarmaExchange, ProgramWritesChangeTheirSlotOnly) {
    VirtualKarma karma;
    karma.SetChannel(2);
    std::vector<std::string> lines;
    karma.SetAnswerLog([&lines](const std::string& line) { lines.push_back(line); });
    const Bytes before = karma.SerializeMemory();
    const Bytes pcm = NewProgram(804, 1);
    const Bytes moss = NewProgram(416, 2);
    const auto reply = Send(karma, ProgramWrite(2, 7, pcm, 2));
    ASSERT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply[0].bytes, (Bytes{0xF0, 0x42, 0x32, 0x5D, 0x23, 0xF7}));
    EXPECT_EQ(KindOf(Send(karma, ProgramWrite(5, 127, moss, 2)), 2), ReplyKind::Completed);
    EXPECT_EQ(lines, (std::vector<std::string>{"item write Program C-007: stored",
                                               "item write Program F-127: stored"}));

    const std::size_t pcmAt = (2 * 128 + 7) * 804;
    const std::size_t mossAt = 5 * 128 * 804 + 127 * 416;
    Bytes expected = before;
    std::copy(pcm.begin(), pcm.end(), expected.begin() + pcmAt);
    std::copy(moss.begin(), moss.end(), expected.begin() + mossAt);
    // The memory file is the serialised memory: the Programs are in it.
    EXPECT_EQ(karma.SerializeMemory(), expected);
}

// A record of the wrong size for its bank (a PCM record for the MOSS bank, a MOSS or a
// Combination record for bank A), a Program record as a Combination write, bank G: each is
// answered with a Failed Reply and stored nowhere.
TEST(VirtualKarmaExchange, MalformedProgramWritesChangeNothing) {
    VirtualKarma karma;
    std::vector<std::string> lines;
    karma.SetAnswerLog([&lines](const std::string& line) { lines.push_back(line); });
    const Bytes before = karma.SerializeMemory();
    const Bytes pcm = NewProgram(804, 3);
    const Bytes good = ProgramWrite(0, 1, pcm);

    std::vector<Bytes> bad = {
        ProgramWrite(5, 1, pcm),
        ProgramWrite(0, 1, NewProgram(416, 3)),
        ProgramWrite(0, 1, NewCombi(3)),
        ProgramWrite(0, 1, Bytes(pcm.begin(), pcm.end() - 1)),
        ProgramWrite(5, 1, NewProgram(417, 3)),
        ItemWrite(0, 1, pcm),
        Bytes(good.begin(), good.begin() + 8),
    };
    Bytes b = good;
    b[6] = 0x26;  // bank G
    bad.push_back(b);
    for (std::size_t i = 0; i < bad.size(); ++i) {
        const auto reply = Send(karma, bad[i]);
        ASSERT_EQ(reply.size(), 1u) << i;
        EXPECT_EQ(reply[0].bytes, (Bytes{0xF0, 0x42, 0x30, 0x5D, 0x24, 0xF7})) << i;
    }
    EXPECT_EQ(karma.SerializeMemory(), before);
    EXPECT_EQ(lines[0], "item write Program: malformed (928 bytes), failed");
    EXPECT_EQ(lines[5], "item write: malformed (928 bytes), failed");

    EXPECT_EQ(KindOf(Send(karma, good)), ReplyKind::Completed);
    EXPECT_EQ(karma.ProgramRecord(0, 1), pcm);
}

TEST(VirtualKarmaExchange, OtherChannelsAndStrangersGetNoAnswer) {
    VirtualKarma karma;
    karma.SetChannel(1);
    const Bytes before = karma.SerializeMemory();
    const std::vector<Bytes> ignored = {
        ItemWrite(0, 0, NewCombi(1), 0),
        ProgramWrite(0, 0, NewProgram(804, 1), 0),
        ToBytes(*bq::sysex::CombiBankDumpRequest(0, 0)),
        ToBytes(bq::sysex::SingleCombiDumpRequest(2)),
        {0xF0, 0x42, 0x31, 0x5D, 0x1C, 0x20, 0x00, 0x00, 0xF7},  // no single Program request
        {0xF0, 0x42, 0x31, 0x5D, 0x1D, 0x16, 0x00, 0x00, 0xF7},  // bank G
        {0xF0, 0x42, 0x31, 0x5D, 0x1D, 0x10, 0x00, 0xF7},        // too short
        {0xF0, 0x42, 0x31, 0x5D, 0x23, 0xF7},                    // its own kind of reply
        {0xF0, 0x43, 0x31, 0x5D, 0x1D, 0x10, 0x00, 0x00, 0xF7},
        {0x90, 0x40, 0x7F},
        {},
        {0xF7},
    };
    for (std::size_t i = 0; i < ignored.size(); ++i) {
        EXPECT_TRUE(Send(karma, ignored[i]).empty()) << i;
    }
    karma.HandleMessage(nullptr, 9, nullptr);
    EXPECT_EQ(karma.SerializeMemory(), before);
}

TEST(VirtualKarmaFaults, WritesThatFail) {
    VirtualKarma karma;
    const Bytes before = karma.SerializeMemory();
    VirtualKarma::Faults faults;
    faults.failWrites = true;
    karma.SetFaults(faults);
    EXPECT_EQ(KindOf(Send(karma, ItemWrite(1, 1, NewCombi(1)))), ReplyKind::Failed);
    EXPECT_EQ(KindOf(Send(karma, ProgramWrite(5, 1, NewProgram(416, 1)))), ReplyKind::Failed);

    faults = {};
    faults.errorWrites = true;
    faults.errorCode = 0x41;
    karma.SetFaults(faults);
    const Bytes reply = Joined(Send(karma, ItemWrite(1, 1, NewCombi(1))));
    EXPECT_EQ(reply, (Bytes{0xF0, 0x42, 0x30, 0x5D, 0x26, 0x41, 0xF7}));
    const auto classified = bq::sysex::Classify(reply.data(), reply.size(), 0);
    EXPECT_EQ(classified.kind, ReplyKind::Error);
    EXPECT_EQ(classified.errorCode, 0x41);
    EXPECT_EQ(Joined(Send(karma, ProgramWrite(1, 1, NewProgram(804, 1)))), reply);
    EXPECT_EQ(karma.SerializeMemory(), before);
}

TEST(VirtualKarmaFaults, SilentAnswersOnlyTheSearch) {
    VirtualKarma karma;
    VirtualKarma::Faults faults;
    faults.silent = true;
    karma.SetFaults(faults);
    const Bytes before = karma.SerializeMemory();
    EXPECT_TRUE(Send(karma, ItemWrite(1, 1, NewCombi(1))).empty());
    EXPECT_TRUE(Send(karma, ProgramWrite(1, 1, NewProgram(804, 1))).empty());
    EXPECT_TRUE(Send(karma, ToBytes(*bq::sysex::ProgramBankDumpRequest(0))).empty());
    EXPECT_EQ(karma.SerializeMemory(), before);
    EXPECT_EQ(Send(karma, ToBytes(bq::sysex::IdentityRequest())).size(), 1u);
}

TEST(VirtualKarmaFaults, RefusedDumpsPausesAndStrayMessages) {
    VirtualKarma karma;
    VirtualKarma::Faults faults;
    faults.refuseDumps = true;
    karma.SetFaults(faults);
    EXPECT_EQ(KindOf(Send(karma, ToBytes(*bq::sysex::CombiBankDumpRequest(1)))), ReplyKind::Failed);
    EXPECT_EQ(KindOf(Send(karma, ToBytes(bq::sysex::SingleCombiDumpRequest()))), ReplyKind::Failed);
    EXPECT_EQ(KindOf(Send(karma, ItemWrite(1, 1, NewCombi(1)))), ReplyKind::Completed);

    faults = {};
    faults.pauseDumps = true;
    faults.pauseAfterBytes = 5000;
    faults.pauseMs = 6000;
    karma.SetFaults(faults);
    auto runs = Send(karma, ToBytes(*bq::sysex::CombiBankDumpRequest(1)));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].delayMs, 0u);
    EXPECT_EQ(runs[0].bytes.size(), 5000u);
    EXPECT_EQ(runs[1].delayMs, 6000u);
    EXPECT_EQ(Joined(runs), karma.CombiBankDump(1));
    // Status replies are not paused; a pause point beyond the dump leaves it whole.
    EXPECT_EQ(Send(karma, ItemWrite(1, 1, NewCombi(1))).size(), 1u);
    faults.pauseAfterBytes = 200000;
    karma.SetFaults(faults);
    EXPECT_EQ(Send(karma, ToBytes(*bq::sysex::CombiBankDumpRequest(1))).size(), 1u);

    faults = {};
    faults.stray = {0xF0, 0x43, 0x10, 0x00, 0xF7};
    karma.SetFaults(faults);
    runs = Send(karma, ItemWrite(2, 2, NewCombi(1)));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].bytes, faults.stray);
    EXPECT_EQ(runs[1].bytes, (Bytes{0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7}));
    runs = Send(karma, ToBytes(*bq::sysex::ProgramBankDumpRequest(5)));
    ASSERT_EQ(runs.size(), 2u);
    EXPECT_EQ(runs[0].bytes, faults.stray);
    EXPECT_EQ(runs[1].bytes, karma.ProgramBankDump(5));
    EXPECT_EQ(Send(karma, ToBytes(bq::sysex::IdentityRequest())).size(), 1u);
}

TEST(VirtualKarmaExchange, AnswerLogHasALinePerRequest) {
    VirtualKarma karma;
    std::vector<std::string> lines;
    karma.SetAnswerLog([&lines](const std::string& line) { lines.push_back(line); });
    Send(karma, ToBytes(bq::sysex::IdentityRequest()));
    Send(karma, ToBytes(*bq::sysex::CombiBankDumpRequest(1)));
    Send(karma, ItemWrite(2, 17, NewCombi(1)));
    Send(karma, {0x90, 0x40, 0x7F});
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[1].find("Combination bank B"), std::string::npos) << lines[1];
    EXPECT_NE(lines[2].find("C-017"), std::string::npos) << lines[2];
}

// Writes on one thread, reads on another: a read sees either record whole, never a mix.
TEST(VirtualKarmaExchange, ReadsDuringWritesSeeWholeRecords) {
    VirtualKarma karma;
    const Bytes first = NewCombi(1);
    const Bytes second = NewCombi(2);
    const Bytes writeFirst = ItemWrite(3, 3, first);
    const Bytes writeSecond = ItemWrite(3, 3, second);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 300; ++i) {
            std::vector<MidiTimedBytes> reply;
            const Bytes& w = i % 2 ? writeSecond : writeFirst;
            karma.HandleMessage(w.data(), w.size(), &reply);
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads == 0) {
        const Bytes seen = karma.CombiRecord(3, 3);
        ++reads;
        if (seen != first && seen != second && seen != VirtualKarma::GeneratedCombi(3, 3)) {
            ADD_FAILURE() << "torn record after " << reads << " reads";
            break;
        }
    }
    writer.join();
    EXPECT_EQ(karma.CombiRecord(3, 3), second);
}

}  // namespace
