#pragma once

// The instrument's twelve banks as whole-bank transfers: which bank an index names, its record
// size and dump size on the wire, its dump request, the records of its dump, and the Item Write
// of one of its slots.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "midi/SysEx.h"

namespace bq::midi {

// What a MIDI cable carries: 31,250 bits a second, ten bits a byte.
constexpr int kMidiCableBytesPerSecond = 3125;

// The twelve banks of the instrument in the order of the trees: Combination banks A to F
// (0..5), then Program banks A to F (6..11), bank F holding MOSS Programs.
constexpr int kBackupBanks = 12;

struct BackupBank {
    bool combination = true;
    int bank = 0;                // 0..5, A..F
    std::size_t recordSize = 0;  // 996, 804 or 416
    std::size_t dumpBytes = 0;   // the dump on the wire: 8 header bytes, 128 packed records, F7
};

// Index outside 0..11: a bank of record size 0.
BackupBank BackupBankAt(int index);
// The index of a bank; -1 for a bank outside 0..5.
int BackupBankIndex(bool combination, int bank);
// "Combination Bank A" .. "Program Bank F (MOSS)".
std::string BackupBankTitle(int index);
// The dump request of bank `index` on global channel g.
std::array<std::uint8_t, sysex::kDumpRequestLength> BackupDumpRequest(int index,
                                                                      std::uint8_t channel);

// The Item Write that puts `record` into `slot` (0..127) of bank `index` on global channel g:
// function 4D for a Combination, 4C for a Program, the packed record, F7. Empty for a bank or
// slot out of range, or a record that is not the bank's record size.
std::vector<std::uint8_t> BankItemWrite(int index, int slot, const std::uint8_t* record,
                                        std::size_t size, std::uint8_t channel = 0);

// Unpacks a bank's dump (F0 ... F7, as received) into exactly its 128 records; the unpacked
// bytes beyond them, such as the closing F7 of a short last group, are dropped. False, with
// *decoded the unpacked length, when they are not 128 whole records.
bool BankRecords(int index, std::vector<std::uint8_t> message, std::vector<std::uint8_t>* records,
                 std::size_t* decoded = nullptr);

}  // namespace bq::midi
