#pragma once

// The SysEx messages exchanged with the Karma workstation, its 7-bit packing and the
// classification of received messages. Pure functions over byte buffers: no MIDI platform,
// callable on any thread, safe for any length (they never read or write outside the buffer).

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace bq::sysex {

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;
constexpr std::uint8_t kKorgId = 0x42;
constexpr std::uint8_t kKarmaModel = 0x5D;

// Function codes (byte 4) of Korg messages.
constexpr std::uint8_t kFuncProgramBankDumpRequest = 0x1C;
constexpr std::uint8_t kFuncCombiDumpRequest = 0x1D;
constexpr std::uint8_t kFuncCompleted = 0x23;
constexpr std::uint8_t kFuncFailed = 0x24;
constexpr std::uint8_t kFuncError = 0x26;
constexpr std::uint8_t kFuncItemWrite = 0x4D;  // a Combination
constexpr std::uint8_t kFuncProgramWrite = 0x4C;

// Dumps and writes carry an 8-byte header before the packed data.
constexpr std::size_t kHeaderLength = 8;
constexpr int kBanks = 6;
constexpr int kSlots = 128;
// Program bank F holds the smaller MOSS records.
constexpr int kMossBank = 5;

// The records that writes carry.
constexpr std::size_t kCombiRecordSize = 996;
constexpr std::size_t kPcmProgramRecordSize = 804;
constexpr std::size_t kMossProgramRecordSize = 416;

constexpr std::size_t kIdentityRequestLength = 6;
constexpr std::size_t kDumpRequestLength = 9;
constexpr std::size_t kStatusReplyLength = 6;
// Bytes 0..8 of an Identity Reply are examined; a shorter message never matches.
constexpr std::size_t kIdentityReplyMinLength = 9;

// Byte 2 of a Korg message for global channel g. The channel is the device id of the
// Identity Reply; masking keeps byte 2 a data byte even for a corrupt id.
constexpr std::uint8_t ChannelByte(std::uint8_t channel) {
    return static_cast<std::uint8_t>(0x30 | (channel & 0x7F));
}

// F0 7E 7F 06 01 F7, sent unchanged (no channel).
std::array<std::uint8_t, kIdentityRequestLength> IdentityRequest();

// Bank dump requests for bank 0..5 (A..F); nothing for another bank. Channel 0 gives the
// template whose byte 2 is 30; ApplyChannel may OR the real channel in later.
std::optional<std::array<std::uint8_t, kDumpRequestLength>> ProgramBankDumpRequest(
    int bank, std::uint8_t channel = 0);
std::optional<std::array<std::uint8_t, kDumpRequestLength>> CombiBankDumpRequest(
    int bank, std::uint8_t channel = 0);
std::array<std::uint8_t, kDumpRequestLength> SingleCombiDumpRequest(std::uint8_t channel = 0);

// F0 42 3g 5D 4D 00 (20+b) n for Combination bank 0..5 and slot 0..127; nothing otherwise.
std::optional<std::array<std::uint8_t, kHeaderLength>> ItemWriteHeader(int bank, int slot,
                                                                       std::uint8_t channel = 0);
// The Program's Item Write: F0 42 3g 5D 4C 00 (20+b) n for Program bank 0..5 and slot 0..127;
// nothing otherwise. It carries ProgramRecordSize(b) bytes. Written from the Program Parameter
// Dump of the instrument family and the Combination write; not yet tried on a real Karma.
std::optional<std::array<std::uint8_t, kHeaderLength>> ProgramWriteHeader(int bank, int slot,
                                                                          std::uint8_t channel = 0);
// 804 for Program banks 0..4 (A..E), 416 for the MOSS bank 5 (F), 0 for any other bank.
constexpr std::size_t ProgramRecordSize(int bank) {
    return bank == kMossBank               ? kMossProgramRecordSize
           : bank >= 0 && bank < kMossBank ? kPcmProgramRecordSize
                                           : 0;
}

// Sets byte 2 to 30 OR g when the message is a Korg message (F0 42 ...); leaves anything else
// (the Identity Request, a message shorter than 3 bytes) unchanged. Returns true if it applied.
bool ApplyChannel(std::uint8_t* message, std::size_t length, std::uint8_t channel);

// n + ceil(n / 7).
constexpr std::size_t PackedLength(std::size_t n) {
    return n + n / 7 + (n % 7 != 0 ? 1 : 0);
}

// The length of an Item Write or a dump carrying n record bytes: the header, the packed bytes
// and F7 (1,148 for a Combination, 928 for a PCM Program, 485 for a MOSS Program).
constexpr std::size_t ItemWriteLength(std::size_t n) {
    return kHeaderLength + PackedLength(n) + 1;
}

// Packs n bytes into PackedLength(n) bytes at `out` (which must not overlap `in`).
void Pack(const std::uint8_t* in, std::size_t n, std::uint8_t* out);

// The whole Item Write: the 8 header bytes as given, the packed record, F7; exactly
// 8 + PackedLength(n) + 1 bytes.
std::vector<std::uint8_t> BuildItemWrite(const std::uint8_t* header, const std::uint8_t* record,
                                         std::size_t n);

// Unpacks a received message in place: the packed data after `headerLength` bytes is decoded
// to the start of the buffer and *length becomes the decoded count. Groups are sized by the
// message length, so the closing F7 becomes the last decoded byte when the last group is short.
// A header length at or beyond the message decodes to nothing. False only for null arguments.
bool UnpackSysEx(unsigned headerLength, std::uint8_t* buffer, unsigned long* length);

enum class ReplyKind { Completed, Failed, Error, Dump };

struct Reply {
    ReplyKind kind = ReplyKind::Dump;
    std::uint8_t errorCode = 0;  // byte 5 of an Error Reply, else 0
};

// Classifies a complete received message against the status replies on global channel g, in
// the order Completed, Failed, Error; anything else (a message shorter than a status reply
// included) is a Dump Reply.
Reply Classify(const std::uint8_t* message, std::size_t length, std::uint8_t channel);

// True for the Karma's Identity Reply (F0 7E id 06 02 42 5D 00 05 ...); *deviceId receives
// byte 2. A message shorter than 9 bytes, or an id that is not a data byte, never matches.
bool MatchIdentityReply(const std::uint8_t* message, std::size_t length, std::uint8_t* deviceId);

}  // namespace bq::sysex
