#include "midi/SysEx.h"

#include <algorithm>
#include <cstring>

namespace bq::sysex {
namespace {

std::array<std::uint8_t, kDumpRequestLength> DumpRequest(std::uint8_t function,
                                                         std::uint8_t bankByte,
                                                         std::uint8_t channel) {
    return {kSysExStart, kKorgId,  ChannelByte(channel), kKarmaModel, function, bankByte, 0x00,
            0x00,        kSysExEnd};
}

bool ValidBank(int bank) {
    return bank >= 0 && bank < kBanks;
}

std::optional<std::array<std::uint8_t, kHeaderLength>> WriteHeader(std::uint8_t function, int bank,
                                                                   int slot, std::uint8_t channel) {
    if (!ValidBank(bank) || slot < 0 || slot >= kSlots) {
        return std::nullopt;
    }
    return std::array<std::uint8_t, kHeaderLength>{kSysExStart,
                                                   kKorgId,
                                                   ChannelByte(channel),
                                                   kKarmaModel,
                                                   function,
                                                   0x00,
                                                   static_cast<std::uint8_t>(0x20 + bank),
                                                   static_cast<std::uint8_t>(slot)};
}

// True when the first `n` bytes of the message exist and equal the template's.
bool StartsWith(const std::uint8_t* message, std::size_t length, const std::uint8_t* tmpl,
                std::size_t n) {
    return length >= n && std::memcmp(message, tmpl, n) == 0;
}

}  // namespace

std::array<std::uint8_t, kIdentityRequestLength> IdentityRequest() {
    return {kSysExStart, 0x7E, 0x7F, 0x06, 0x01, kSysExEnd};
}

std::optional<std::array<std::uint8_t, kDumpRequestLength>> ProgramBankDumpRequest(
    int bank, std::uint8_t channel) {
    if (!ValidBank(bank)) {
        return std::nullopt;
    }
    return DumpRequest(kFuncProgramBankDumpRequest, static_cast<std::uint8_t>(0x10 + bank),
                       channel);
}

std::optional<std::array<std::uint8_t, kDumpRequestLength>> CombiBankDumpRequest(
    int bank, std::uint8_t channel) {
    if (!ValidBank(bank)) {
        return std::nullopt;
    }
    return DumpRequest(kFuncCombiDumpRequest, static_cast<std::uint8_t>(0x10 + bank), channel);
}

std::array<std::uint8_t, kDumpRequestLength> SingleCombiDumpRequest(std::uint8_t channel) {
    return DumpRequest(kFuncCombiDumpRequest, 0x20, channel);
}

std::optional<std::array<std::uint8_t, kHeaderLength>> ItemWriteHeader(int bank, int slot,
                                                                       std::uint8_t channel) {
    return WriteHeader(kFuncItemWrite, bank, slot, channel);
}

std::optional<std::array<std::uint8_t, kHeaderLength>> ProgramWriteHeader(int bank, int slot,
                                                                          std::uint8_t channel) {
    return WriteHeader(kFuncProgramWrite, bank, slot, channel);
}

bool ApplyChannel(std::uint8_t* message, std::size_t length, std::uint8_t channel) {
    if (message == nullptr || length < 3 || message[0] != kSysExStart || message[1] != kKorgId) {
        return false;
    }
    message[2] = ChannelByte(channel);
    return true;
}

void Pack(const std::uint8_t* in, std::size_t n, std::uint8_t* out) {
    for (std::size_t i = 0; i < n; i += 7) {
        const std::size_t group = std::min<std::size_t>(7, n - i);
        std::uint8_t flag = 0;
        for (std::size_t j = 0; j < group; ++j) {
            const std::uint8_t byte = in[i + j];
            flag |= static_cast<std::uint8_t>((byte >> 7) << j);
            out[1 + j] = byte & 0x7F;
        }
        out[0] = flag;
        out += 1 + group;
    }
}

std::vector<std::uint8_t> BuildItemWrite(const std::uint8_t* header, const std::uint8_t* record,
                                         std::size_t n) {
    std::vector<std::uint8_t> message(kHeaderLength + PackedLength(n) + 1);
    std::memcpy(message.data(), header, kHeaderLength);
    if (n != 0) {
        Pack(record, n, message.data() + kHeaderLength);
    }
    message.back() = kSysExEnd;
    return message;
}

bool UnpackSysEx(unsigned headerLength, std::uint8_t* buffer, unsigned long* length) {
    if (length == nullptr || (buffer == nullptr && *length != 0)) {
        return false;
    }
    const unsigned long total = *length;
    unsigned long r = headerLength;
    unsigned long w = 0;
    // Each group is a flag byte and up to 7 data bytes; the group size comes from the message
    // length, so a short last group takes the closing F7 as data. w stays below r, so the
    // forward move never overwrites bytes still to be read.
    while (r < total) {
        const std::uint8_t flag = buffer[r];
        const unsigned long k = std::min<unsigned long>(7, total - r - 1);
        std::memmove(buffer + w, buffer + r + 1, k);
        for (unsigned long i = 0; i < k; ++i) {
            if ((flag >> i) & 1) {
                buffer[w + i] |= 0x80;
            }
        }
        w += k;
        if (total - r <= 8) {
            break;
        }
        r += 8;
    }
    *length = w;
    return true;
}

Reply Classify(const std::uint8_t* message, std::size_t length, std::uint8_t channel) {
    // A message shorter than a status reply is a Dump Reply: comparing only its first few
    // bytes would call an empty or cut-off message a Completed Reply.
    if (message == nullptr || length < kStatusReplyLength) {
        return {};
    }
    const std::uint8_t g = ChannelByte(channel);
    const std::uint8_t completed[] = {kSysExStart, kKorgId,        g,
                                      kKarmaModel, kFuncCompleted, kSysExEnd};
    const std::uint8_t failed[] = {kSysExStart, kKorgId, g, kKarmaModel, kFuncFailed, kSysExEnd};
    const std::uint8_t error[] = {kSysExStart, kKorgId, g, kKarmaModel, kFuncError};
    if (StartsWith(message, length, completed, sizeof completed)) {
        return {ReplyKind::Completed, 0};
    }
    if (StartsWith(message, length, failed, sizeof failed)) {
        return {ReplyKind::Failed, 0};
    }
    if (StartsWith(message, length, error, sizeof error)) {
        return {ReplyKind::Error, message[5]};
    }
    return {};
}

bool MatchIdentityReply(const std::uint8_t* message, std::size_t length, std::uint8_t* deviceId) {
    static constexpr std::uint8_t kTail[] = {0x06, 0x02, kKorgId, kKarmaModel, 0x00, 0x05};
    if (message == nullptr || length < kIdentityReplyMinLength || message[0] != kSysExStart ||
        message[1] != 0x7E || message[2] >= 0x80 ||
        std::memcmp(message + 3, kTail, sizeof kTail) != 0) {
        return false;
    }
    if (deviceId != nullptr) {
        *deviceId = message[2];
    }
    return true;
}

}  // namespace bq::sysex
