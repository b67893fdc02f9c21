// Arbitrary bytes as a received message: classification, in-place unpacking (on an exact-size
// copy, so ASan sees any stray access), Identity matching and the virtual workstation. The
// first byte picks the channel, the header length and the fault modes; the rest is the message.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "midi/SysEx.h"
#include "tools/virtual-karma/VirtualKarma.h"

namespace {

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// Every reply the workstation sends is one SysEx message of data bytes.
void CheckReply(const std::vector<bq::midi::MidiTimedBytes>& reply) {
    std::vector<std::uint8_t> all;
    for (const auto& run : reply) {
        all.insert(all.end(), run.bytes.begin(), run.bytes.end());
    }
    if (all.empty()) {
        return;
    }
    Check(all.size() >= 6 && all.front() == 0xF0 && all.back() == 0xF7);
    for (std::size_t i = 1; i + 1 < all.size(); ++i) {
        Check(all[i] < 0x80);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static bq::VirtualKarma karma;
    if (size == 0) {
        bq::sysex::Classify(data, 0, 0);
        return 0;
    }
    const std::uint8_t control = data[0];
    const std::uint8_t channel = control & 0x0F;
    const unsigned headerLength = (control >> 4) & 1 ? 8 : (control >> 5);
    const std::uint8_t* message = data + 1;
    const std::size_t length = size - 1;
    std::vector<std::uint8_t> copy(message, message + length);

    const bq::sysex::Reply reply = bq::sysex::Classify(copy.data(), copy.size(), channel);
    if (reply.kind != bq::sysex::ReplyKind::Dump) {
        Check(length >= 6 && message[0] == 0xF0);
    }

    std::uint8_t id = 0xFF;
    if (bq::sysex::MatchIdentityReply(copy.data(), copy.size(), &id)) {
        Check(id == message[2] && id < 0x80);
    }

    unsigned long decoded = copy.size();
    Check(bq::sysex::UnpackSysEx(headerLength, copy.data(), &decoded));
    Check(decoded <= length);
    copy.resize(decoded);

    // Packing any bytes and unpacking the Item Write gives them back, plus the closing F7
    // when the last group is short.
    const std::uint8_t header[8] = {0xF0, 0x42, 0x30, 0x5D, 0x4D, 0x00, 0x20, 0x00};
    std::vector<std::uint8_t> write = bq::sysex::BuildItemWrite(header, message, length);
    Check(write.size() == 9 + bq::sysex::PackedLength(length));
    unsigned long back = write.size();
    Check(bq::sysex::UnpackSysEx(8, write.data(), &back));
    const bool shortGroup = length % 7 != 0;
    Check(back == length + (shortGroup ? 1 : 0));
    Check(length == 0 || std::memcmp(write.data(), message, length) == 0);
    Check(!shortGroup || write[length] == 0xF7);

    bq::VirtualKarma::Faults faults;
    faults.refuseDumps = (control & 0x30) == 0x30;
    faults.failWrites = (control & 0xC0) == 0x40;
    faults.errorWrites = (control & 0xC0) == 0x80;
    faults.errorCode = control;
    faults.silent = (control & 0xC0) == 0xC0 && (control & 0x30) == 0;
    karma.SetFaults(faults);
    karma.SetChannel(channel);
    std::vector<bq::midi::MidiTimedBytes> answer;
    karma.HandleMessage(message, length, &answer);
    CheckReply(answer);
    return 0;
}
