#pragma once

// Writing the instrument's memory as a PCG file that the program's own reader reads: the
// 16-byte header, a "PCG1" root holding "PRG1" (five "PBK1" leaves for Program banks A to E
// and one "MBK1" leaf for the MOSS bank F) and "CMB1" (six "CBK1" leaves), big-endian.
//
// The file is written safely: to a temporary file in the target's folder, synced, read back
// with CKorgPCGFile and compared record for record, and only then renamed over the target.
// Any failure leaves no file behind and an earlier file of that name as it was. Errors are
// return values. Any thread; nothing is shared between calls.

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "model/Result.h"

namespace bq::pcg {

constexpr int kMemoryBanks = 6;
constexpr int kBankSlots = 128;
constexpr int kMossBank = 5;
constexpr std::size_t kPcmProgramRecordSize = 804;
constexpr std::size_t kMossProgramRecordSize = 416;
constexpr std::size_t kCombiRecordSize = 996;

// Program bank F holds MOSS Programs; banks A to E PCM Programs.
constexpr std::size_t ProgramRecordSize(int bank) {
    return bank == kMossBank ? kMossProgramRecordSize : kPcmProgramRecordSize;
}

// "Combination Bank A", "Program Bank F (MOSS)"; empty outside 0..5.
std::string BankTitle(bool combination, int bank);

// The records of each bank back to back, slot 0 first, as a bank dump unpacks to. A bank left
// empty is left out of the file; a bank holds at most 128 whole records.
struct KarmaMemory {
    std::array<std::vector<std::uint8_t>, kMemoryBanks> programs;
    std::array<std::vector<std::uint8_t>, kMemoryBanks> combis;

    // True when all twelve banks hold 128 records.
    bool Complete() const;
};

// The bytes of the file. False, with *problem saying why, when a bank is not a whole number of
// records or holds more than 128.
bool BuildPcg(const KarmaMemory& memory, std::vector<std::uint8_t>* file,
              std::string* problem = nullptr);

// The step of WritePcgFile that failed.
enum class PcgWriteStep : std::uint8_t {
    None,      // it succeeded
    Check,     // the memory cannot be written (see BuildPcg)
    Create,    // no temporary file could be made in the target's folder
    Write,     // writing it failed (a full disk, ...)
    Sync,      // flushing it to the disk or closing it failed
    ReadBack,  // the reader refused the file just written
    Compare,   // the file read back differs from the memory
    Replace,   // the temporary file could not be renamed over the target
};

struct PcgWriteResult {
    PcgWriteStep failed = PcgWriteStep::None;
    HRESULT code = S_OK;  // the system's or the reader's code, E_FAIL for a difference
    std::string reason;   // what failed, for a message: names the file and the cause

    bool Succeeded() const { return failed == PcgWriteStep::None; }
};

// For tests: stand-ins for the steps that a full disk or a faulty device would break.
struct PcgWriteHooks {
    // Replaces write(2): returns the bytes taken, or -1 with errno set.
    std::function<long(int fd, const void* data, std::size_t size)> write;
    // Called with the temporary file's path once it is synced and closed, before it is read
    // back; a test may change the file to make the comparison fail.
    std::function<void(const std::string& temporaryPath)> beforeReadBack;
};

PcgWriteResult WritePcgFile(const std::string& path, const KarmaMemory& memory,
                            const PcgWriteHooks* hooks = nullptr);

}  // namespace bq::pcg
