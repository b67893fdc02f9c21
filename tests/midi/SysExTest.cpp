#include "midi/SysEx.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using bq::sysex::ReplyKind;

Bytes Packed(const Bytes& in) {
    Bytes out(bq::sysex::PackedLength(in.size()));
    bq::sysex::Pack(in.data(), in.size(), out.data());
    return out;
}

const std::uint8_t kHeader[8] = {0xF0, 0x42, 0x30, 0x5D, 0x4D, 0x00, 0x20, 0x00};

// Unpacks an exact-size copy, so the sanitizer catches any access past its end.
Bytes Unpacked(Bytes message, unsigned headerLength = 8) {
    unsigned long length = message.size();
    EXPECT_TRUE(bq::sysex::UnpackSysEx(headerLength, message.data(), &length));
    EXPECT_LE(length, message.size());
    message.resize(length);
    return message;
}

Bytes RandomBytes(std::size_t n, std::mt19937& rng) {
    Bytes bytes(n);
    for (auto& b : bytes) {
        b = static_cast<std::uint8_t>(rng());
    }
    return bytes;
}

TEST(SysExPacking, WorkedExample) {
    const Bytes record = {0x80, 0x01, 0xFF, 0x7F, 0x00, 0x41, 0x42, 0xC3, 0x44, 0x45};
    const Bytes packed = {0x05, 0x00, 0x01, 0x7F, 0x7F, 0x00, 0x41, 0x42, 0x01, 0x43, 0x44, 0x45};
    EXPECT_EQ(Packed(record), packed);

    const Bytes write = bq::sysex::BuildItemWrite(kHeader, record.data(), record.size());
    ASSERT_EQ(write.size(), 21u);
    EXPECT_EQ(Bytes(write.begin(), write.begin() + 8), Bytes(kHeader, kHeader + 8));
    EXPECT_EQ(Bytes(write.begin() + 8, write.end() - 1), packed);
    EXPECT_EQ(write.back(), 0xF7);

    Bytes expected = record;
    expected.push_back(0xF7);
    EXPECT_EQ(Unpacked(write), expected);
}

TEST(SysExPacking, SmallCounts) {
    EXPECT_TRUE(Packed({}).empty());
    const Bytes write0 = bq::sysex::BuildItemWrite(kHeader, nullptr, 0);
    Bytes header0(kHeader, kHeader + 8);
    header0.push_back(0xF7);
    EXPECT_EQ(write0, header0);
    EXPECT_TRUE(Unpacked(write0).empty());  // the F7 is the flag of an empty group

    const Bytes seven = {0x81, 0x02, 0x83, 0x04, 0x85, 0x06, 0x87};
    EXPECT_EQ(Packed(seven), (Bytes{0x55, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07}));
    const Bytes eight = {0, 0, 0, 0, 0, 0, 0, 0xFE};
    EXPECT_EQ(Packed(eight), (Bytes{0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0x7E}));

    EXPECT_EQ(bq::sysex::PackedLength(996), 1139u);
    const Bytes combi(996, 0xAA);
    EXPECT_EQ(bq::sysex::BuildItemWrite(kHeader, combi.data(), combi.size()).size(), 1148u);
}

TEST(SysExPacking, RoundTripEveryLengthUpTo2100) {
    std::mt19937 rng(2100);
    for (std::size_t n = 0; n <= 2100; ++n) {
        const Bytes record = RandomBytes(n, rng);
        const Bytes write = bq::sysex::BuildItemWrite(kHeader, record.data(), record.size());
        ASSERT_EQ(write.size(), 8 + bq::sysex::PackedLength(n) + 1) << n;
        for (std::size_t i = 1; i + 1 < write.size(); ++i) {
            ASSERT_LT(write[i], 0x80) << "length " << n << " byte " << i;
        }
        Bytes expected = record;
        if (n % 7 != 0) {
            expected.push_back(0xF7);  // a short last group takes the F7 as data
        }
        ASSERT_EQ(Unpacked(write), expected) << n;
    }
}

TEST(SysExUnpack, ShortAndOddInputs) {
    unsigned long length = 0;
    EXPECT_TRUE(bq::sysex::UnpackSysEx(8, nullptr, &length));
    EXPECT_EQ(length, 0u);
    EXPECT_FALSE(bq::sysex::UnpackSysEx(8, nullptr, nullptr));
    length = 3;
    EXPECT_FALSE(bq::sysex::UnpackSysEx(8, nullptr, &length));

    EXPECT_TRUE(Unpacked({0xF7}).empty());
    EXPECT_TRUE(Unpacked({0xF0, 0x42, 0x30, 0x5D, 0xF7}).empty());  // header beyond message
    EXPECT_TRUE(Unpacked(Bytes(kHeader, kHeader + 8)).empty());     // header length == length
    EXPECT_TRUE(Unpacked({0xF0, 0x42, 0x30, 0x5D, 0xF7}, 4000000000u).empty());

    // Header, then a flag alone: the flag group holds nothing. One more byte is decoded.
    Bytes flagOnly(kHeader, kHeader + 8);
    flagOnly.push_back(0x01);
    EXPECT_TRUE(Unpacked(flagOnly).empty());
    flagOnly.push_back(0x05);
    EXPECT_EQ(Unpacked(flagOnly), Bytes{0x85});

    // No header: the flag is byte 0.
    EXPECT_EQ(Unpacked({0x02, 0x10, 0x20, 0xF7}, 0), (Bytes{0x10, 0xA0, 0xF7}));

    // Flag bits beyond the group's bytes, and bit 7 of the flag, change nothing.
    EXPECT_EQ(Unpacked({0xFE, 0x11, 0x22}, 0), (Bytes{0x11, 0xA2}));
}

TEST(SysExUnpack, WholeGroupsDropTheClosingF7) {
    std::mt19937 rng(14);
    const Bytes record = RandomBytes(14, rng);
    Bytes dump(kHeader, kHeader + 8);
    const Bytes packed = Packed(record);
    dump.insert(dump.end(), packed.begin(), packed.end());
    dump.push_back(0xF7);
    EXPECT_EQ(Unpacked(dump), record);
}

TEST(SysExBuilders, TemplatesAndChannel) {
    EXPECT_EQ(bq::sysex::IdentityRequest(),
              (std::array<std::uint8_t, 6>{0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}));

    for (int b = 0; b < 6; ++b) {
        const std::uint8_t bankByte = static_cast<std::uint8_t>(0x10 + b);
        EXPECT_EQ(
            *bq::sysex::ProgramBankDumpRequest(b),
            (std::array<std::uint8_t, 9>{0xF0, 0x42, 0x30, 0x5D, 0x1C, bankByte, 0, 0, 0xF7}));
        EXPECT_EQ(
            *bq::sysex::CombiBankDumpRequest(b, 3),
            (std::array<std::uint8_t, 9>{0xF0, 0x42, 0x33, 0x5D, 0x1D, bankByte, 0, 0, 0xF7}));
    }
    EXPECT_EQ(bq::sysex::SingleCombiDumpRequest(3),
              (std::array<std::uint8_t, 9>{0xF0, 0x42, 0x33, 0x5D, 0x1D, 0x20, 0, 0, 0xF7}));
    EXPECT_EQ(*bq::sysex::ItemWriteHeader(1, 12, 3),
              (std::array<std::uint8_t, 8>{0xF0, 0x42, 0x33, 0x5D, 0x4D, 0x00, 0x21, 0x0C}));
    EXPECT_EQ((*bq::sysex::ItemWriteHeader(5, 127))[6], 0x25);
    EXPECT_EQ((*bq::sysex::ItemWriteHeader(5, 127))[7], 0x7F);

    EXPECT_FALSE(bq::sysex::ProgramBankDumpRequest(6));
    EXPECT_FALSE(bq::sysex::CombiBankDumpRequest(-1));
    EXPECT_FALSE(bq::sysex::ItemWriteHeader(6, 0));
    EXPECT_FALSE(bq::sysex::ItemWriteHeader(0, 128));
    EXPECT_FALSE(bq::sysex::ItemWriteHeader(0, -1));

    // The sender ORs the channel into a template; the Identity Request stays as it is.
    auto request = *bq::sysex::ProgramBankDumpRequest(2);
    EXPECT_TRUE(bq::sysex::ApplyChannel(request.data(), request.size(), 3));
    EXPECT_EQ(request[2], 0x33);
    auto identity = bq::sysex::IdentityRequest();
    EXPECT_FALSE(bq::sysex::ApplyChannel(identity.data(), identity.size(), 3));
    EXPECT_EQ(identity, bq::sysex::IdentityRequest());
    std::uint8_t two[2] = {0xF0, 0x42};
    EXPECT_FALSE(bq::sysex::ApplyChannel(two, 2, 3));
    EXPECT_FALSE(bq::sysex::ApplyChannel(nullptr, 9, 3));
    // A corrupt device id must not turn byte 2 into a status byte.
    EXPECT_LT(bq::sysex::ChannelByte(0xC5), 0x80);
}

// The Program write beside the Combination's: function 4C, the same bank and slot bytes, and
// a record whose size depends on the bank.
TEST(SysExBuilders, ProgramWrites) {
    EXPECT_EQ(*bq::sysex::ProgramWriteHeader(0, 12),
              (std::array<std::uint8_t, 8>{0xF0, 0x42, 0x30, 0x5D, 0x4C, 0x00, 0x20, 0x0C}));
    EXPECT_EQ(*bq::sysex::ProgramWriteHeader(5, 127, 15),
              (std::array<std::uint8_t, 8>{0xF0, 0x42, 0x3F, 0x5D, 0x4C, 0x00, 0x25, 0x7F}));
    EXPECT_FALSE(bq::sysex::ProgramWriteHeader(6, 0));
    EXPECT_FALSE(bq::sysex::ProgramWriteHeader(-1, 0));
    EXPECT_FALSE(bq::sysex::ProgramWriteHeader(0, 128));

    EXPECT_EQ(bq::sysex::ProgramRecordSize(6), 0u);
    EXPECT_EQ(bq::sysex::PackedLength(804), 919u);
    EXPECT_EQ(bq::sysex::PackedLength(416), 476u);

    for (const int bank : {4, 5}) {
        const std::size_t size = bq::sysex::ProgramRecordSize(bank);
        const Bytes record(size, 0xC1);
        const auto header = *bq::sysex::ProgramWriteHeader(bank, 3, 9);
        const Bytes write = bq::sysex::BuildItemWrite(header.data(), record.data(), size);
        ASSERT_EQ(write.size(), bank == 5 ? 485u : 928u);
        EXPECT_EQ(size, bank == 5 ? 416u : 804u);
        EXPECT_EQ(write.size(), bq::sysex::ItemWriteLength(size));
        EXPECT_EQ(Bytes(write.begin(), write.begin() + 8),
                  (Bytes{0xF0, 0x42, 0x39, 0x5D, 0x4C, 0x00, static_cast<std::uint8_t>(0x20 + bank),
                         0x03}));
        Bytes expected = record;
        expected.push_back(0xF7);  // neither size fills whole groups of 7
        EXPECT_EQ(Unpacked(write), expected);
    }
}

TEST(SysExClassify, StatusRepliesOnTheirChannel) {
    using bq::sysex::Classify;
    const Bytes completed3 = {0xF0, 0x42, 0x33, 0x5D, 0x23, 0xF7};
    const Bytes completed0 = {0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7};
    EXPECT_EQ(Classify(completed3.data(), completed3.size(), 3).kind, ReplyKind::Completed);
    EXPECT_EQ(Classify(completed0.data(), completed0.size(), 3).kind, ReplyKind::Dump);
    EXPECT_EQ(Classify(completed0.data(), completed0.size(), 0).kind, ReplyKind::Completed);

    const Bytes failed = {0xF0, 0x42, 0x30, 0x5D, 0x24, 0xF7};
    EXPECT_EQ(Classify(failed.data(), failed.size(), 0).kind, ReplyKind::Failed);

    const Bytes error = {0xF0, 0x42, 0x37, 0x5D, 0x26, 0x41, 0xF7};
    const auto reply = Classify(error.data(), error.size(), 7);
    EXPECT_EQ(reply.kind, ReplyKind::Error);
    EXPECT_EQ(reply.errorCode, 0x41);
    EXPECT_EQ(Classify(error.data(), error.size(), 6).kind, ReplyKind::Dump);

    // Only the first six bytes of a Completed or Failed Reply are compared.
    const Bytes longer = {0xF0, 0x42, 0x30, 0x5D, 0x24, 0xF7, 0x00, 0xF7};
    EXPECT_EQ(Classify(longer.data(), longer.size(), 0).kind, ReplyKind::Failed);
    const Bytes dumpLike = {0xF0, 0x42, 0x30, 0x5D, 0x23, 0x00, 0xF7};
    EXPECT_EQ(Classify(dumpLike.data(), dumpLike.size(), 0).kind, ReplyKind::Dump);
}

TEST(SysExClassify, ShortMessagesAreDumps) {
    const Bytes completed = {0xF0, 0x42, 0x30, 0x5D, 0x23, 0xF7};
    // Every prefix of a status reply, the empty one included, is no status reply.
    for (std::size_t n = 0; n < completed.size(); ++n) {
        const Bytes prefix(completed.begin(), completed.begin() + n);
        EXPECT_EQ(bq::sysex::Classify(prefix.data(), n, 0).kind, ReplyKind::Dump) << n;
    }
    const Bytes error5 = {0xF0, 0x42, 0x30, 0x5D, 0x26};
    EXPECT_EQ(bq::sysex::Classify(error5.data(), error5.size(), 0).kind, ReplyKind::Dump);
    EXPECT_EQ(bq::sysex::Classify(nullptr, 6, 0).kind, ReplyKind::Dump);
}

TEST(SysExIdentity, Matching) {
    std::uint8_t id = 0xFF;
    const Bytes reply5 = {0xF0, 0x7E, 0x05, 0x06, 0x02, 0x42, 0x5D, 0x00,
                          0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0xF7};
    EXPECT_TRUE(bq::sysex::MatchIdentityReply(reply5.data(), reply5.size(), &id));
    EXPECT_EQ(id, 5);
    EXPECT_TRUE(bq::sysex::MatchIdentityReply(reply5.data(), 9, nullptr));  // bytes 0-8 suffice

    for (std::size_t n = 0; n < 9; ++n) {
        const Bytes prefix(reply5.begin(), reply5.begin() + n);
        EXPECT_FALSE(bq::sysex::MatchIdentityReply(prefix.data(), n, &id)) << n;
    }
    // Each of bytes 0, 1 and 3 to 8 is examined.
    for (std::size_t i : {0u, 1u, 3u, 4u, 5u, 6u, 7u, 8u}) {
        Bytes other = reply5;
        other[i] ^= 0x01;
        EXPECT_FALSE(bq::sysex::MatchIdentityReply(other.data(), other.size(), &id)) << i;
    }
    Bytes member4 = reply5;
    member4[8] = 0x04;
    EXPECT_FALSE(bq::sysex::MatchIdentityReply(member4.data(), member4.size(), &id));
    Bytes badId = reply5;
    badId[2] = 0x85;
    EXPECT_FALSE(bq::sysex::MatchIdentityReply(badId.data(), badId.size(), &id));
    EXPECT_FALSE(bq::sysex::MatchIdentityReply(nullptr, 15, &id));
}

}  // namespace
