#include "model/Timbres.h"

#include <algorithm>

#include "model/ItemCatalog.h"
#include "model/KarmaObject.h"

namespace bq {

namespace {

// Offsets inside a timbre's 28 bytes.
constexpr std::size_t kSlotByte = 0;
constexpr std::size_t kBankByte = 1;
constexpr std::size_t kStatusChannelByte = 2;
constexpr std::size_t kTopKeyByte = 21;
constexpr std::size_t kBottomKeyByte = 22;
constexpr std::size_t kTopVelocityByte = 24;
constexpr std::size_t kBottomVelocityByte = 25;

constexpr int kFirstGmBank = 6;

TimbreStatus StatusOf(std::uint8_t byte) {
    switch (byte >> 5) {
        case 0:
            return TimbreStatus::Int;
        case 1:
            return TimbreStatus::Off;
        case 2:
            return TimbreStatus::Both;
        case 3:
            return TimbreStatus::Ext;
        case 4:
            return TimbreStatus::Ex2;
        default:
            return TimbreStatus::Unknown;
    }
}

// Timbre `index` (0 to 7) of a record known to be a whole Combination record.
Timbre TimbreAt(const unsigned char* record, int index) {
    const unsigned char* t = record + kTimbreTableOffset + kTimbreSize * index;
    Timbre timbre;
    timbre.number = index + 1;
    timbre.programSlot = t[kSlotByte];
    timbre.programBank = t[kBankByte];
    timbre.bankKind = BankKindOf(t[kBankByte]);
    timbre.status = StatusOf(t[kStatusChannelByte]);
    timbre.channel = t[kStatusChannelByte] & 0x1F;
    timbre.topKey = t[kTopKeyByte];
    timbre.bottomKey = t[kBottomKeyByte];
    timbre.topVelocity = t[kTopVelocityByte];
    timbre.bottomVelocity = t[kBottomVelocityByte];
    return timbre;
}

static_assert(kTimbreTableOffset + kTimbres * kTimbreSize <= kCombinationRecordSize);

}  // namespace

ProgramBankKind BankKindOf(std::uint8_t programBank) {
    return programBank < 5    ? ProgramBankKind::Pcm
           : programBank == 5 ? ProgramBankKind::Moss
                              : ProgramBankKind::Gm;
}

std::vector<Timbre> ReadTimbres(const unsigned char* record, std::size_t size) {
    if (record == nullptr || size != kCombinationRecordSize) {
        return {};
    }
    std::vector<Timbre> timbres;
    timbres.reserve(kTimbres);
    for (int i = 0; i < kTimbres; ++i) {
        timbres.push_back(TimbreAt(record, i));
    }
    return timbres;
}

std::vector<Timbre> ReadTimbres(const CKarmaObject& item) {
    // Programs (804 and 416 bytes) and Triton items (966 or none) are turned away by size.
    unsigned long size = 0;
    const unsigned char* record = item.GetData(&size);
    return ReadTimbres(record, size);
}

std::vector<ProgramRef> InternalPrograms(const std::vector<Timbre>& timbres) {
    std::vector<ProgramRef> programs;
    for (const Timbre& t : timbres) {
        const ProgramRef ref{t.programBank, t.programSlot};
        if (t.PlaysInternalProgram() &&
            std::find(programs.begin(), programs.end(), ref) == programs.end()) {
            programs.push_back(ref);
        }
    }
    return programs;
}

const char* TimbreStatusName(TimbreStatus status) {
    switch (status) {
        case TimbreStatus::Int:
            return "Int";
        case TimbreStatus::Off:
            return "Off";
        case TimbreStatus::Both:
            return "Both";
        case TimbreStatus::Ext:
            return "Ext";
        case TimbreStatus::Ex2:
            return "Ex2";
        case TimbreStatus::Unknown:
            break;
    }
    return "?";
}

std::string ProgramBankText(std::uint8_t programBank) {
    if (programBank >= kFirstGmBank) {
        return "GM" + std::to_string(programBank);
    }
    return std::string(1, BankLetter(programBank));
}

std::string ProgramRefText(ProgramRef program) {
    return ProgramBankText(program.bank) + ' ' + SlotText(program.slot);
}

std::string NoteName(int note) {
    static const char* const kNames[] = {"C",  "C#", "D",  "D#", "E",  "F",
                                         "F#", "G",  "G#", "A",  "A#", "B"};
    if (note < 0 || note > 127) {
        return {};
    }
    return std::string(kNames[note % 12]) + std::to_string(note / 12 - 1);
}

}  // namespace bq
