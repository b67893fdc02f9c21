#pragma once

#include <string>
#include <vector>

// The demo PCG file that `make run`, the virtual Karma and the desktop program use: a
// full-size Karma file with invented, distinct names and no factory data of any maker.
namespace bq::demo {

constexpr int kBanks = 6;
constexpr int kSlots = 128;

// Names of at most 16 characters, distinct across every Program and Combination.
std::string ProgramName(int bank, int slot);
std::string CombiName(int bank, int slot);

// The records as they stand in the file (804 and 996 bytes): the name padded with spaces,
// then parameter bytes that depend on bank and slot only.
std::vector<unsigned char> ProgramRecord(int bank, int slot);
std::vector<unsigned char> CombiRecord(int bank, int slot);

// The whole file, about 1.5 MB: six "PBK1" and six "CBK1" chunks of 128 records, and the
// chunks that the reader passes over (MOSS programs, drum kits, arpeggio patterns, global
// settings, a checksum) at sizes like those of the instrument's own files.
std::vector<unsigned char> MakeDemoPcg();

// Writes MakeDemoPcg() to `path`; false when the file cannot be written in full.
bool WriteDemoPcg(const std::string& path);

}  // namespace bq::demo
