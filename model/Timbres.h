#pragma once

// The timbre table of a Combination record: the eight timbres and the Programs they play. This
// is all of the record that is read besides the name; the rest stays opaque. The layout is that
// of the Karma's Combination parameters as public PCG editors read it: timbre t (1 to 8) is
// the 28 bytes from byte 772 + 28 * (t - 1).
//
// Pure functions over bytes; any thread.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class CKarmaObject;

namespace bq {

constexpr std::size_t kCombinationRecordSize = 996;
constexpr int kTimbres = 8;
constexpr std::size_t kTimbreTableOffset = 772;
constexpr std::size_t kTimbreSize = 28;

// Bits 5 to 7 of a timbre's byte 2.
enum class TimbreStatus : std::uint8_t { Int, Off, Both, Ext, Ex2, Unknown };

// What a Program bank byte names: banks A to E (0 to 4), the MOSS bank F (5), or one of the
// instrument's GM banks (6 and above), which are not in its writable memory.
enum class ProgramBankKind : std::uint8_t { Pcm, Moss, Gm };

ProgramBankKind BankKindOf(std::uint8_t programBank);

// A MIDI channel byte's value for the global channel.
constexpr std::uint8_t kGlobalChannel = 16;

struct Timbre {
    int number = 0;                // 1 to 8
    std::uint8_t programSlot = 0;  // byte 0
    std::uint8_t programBank = 0;  // byte 1, as stored
    ProgramBankKind bankKind = ProgramBankKind::Pcm;
    TimbreStatus status = TimbreStatus::Unknown;
    // Bits 0 to 4 of byte 2: 0 to 15 are channels 1 to 16, kGlobalChannel the global channel;
    // other values are kept as they are.
    std::uint8_t channel = 0;
    std::uint8_t topKey = 0;  // MIDI note numbers, bytes 21 and 22
    std::uint8_t bottomKey = 0;
    std::uint8_t topVelocity = 0;  // bytes 24 and 25
    std::uint8_t bottomVelocity = 0;

    // Int and Both play the instrument's own Program; Off, Ext and Ex2 do not.
    bool PlaysInternalProgram() const {
        return status == TimbreStatus::Int || status == TimbreStatus::Both;
    }
};

// The eight timbres of a Combination record, timbre 1 first; none for a record that is not
// kCombinationRecordSize bytes (or is null).
std::vector<Timbre> ReadTimbres(const unsigned char* record, std::size_t size);
// The same for an item's record: none for a Program or an item without a record.
std::vector<Timbre> ReadTimbres(const CKarmaObject& item);

// A Program as a Combination names it: the bank byte as stored and the slot.
struct ProgramRef {
    std::uint8_t bank = 0;
    std::uint8_t slot = 0;
    bool operator==(const ProgramRef&) const = default;
};

// The Programs that the Int and Both timbres play, in timbre order, each once.
std::vector<ProgramRef> InternalPrograms(const std::vector<Timbre>& timbres);

// Texts that the windows and the lister share (program texts, not translated):
// "Int", "Off", "Both", "Ext", "Ex2", or "?" for an unknown status.
const char* TimbreStatusName(TimbreStatus status);
// "A" to "F" for banks 0 to 5, "GM" and the bank byte in decimal ("GM6") for the GM banks.
std::string ProgramBankText(std::uint8_t programBank);
// The bank text, a space and the slot in three digits: "A 012", "GM6 000".
std::string ProgramRefText(ProgramRef program);
// "C-1" for MIDI note 0 to "G9" for 127, sharps as "C#4"; empty outside 0 to 127.
std::string NoteName(int note);

}  // namespace bq
