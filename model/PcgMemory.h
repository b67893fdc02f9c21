#pragma once

// A PCG file's banks as the instrument's memory (KarmaMemory), for putting a file back onto the
// instrument: the Program banks A to E and the Combination banks as the reader reads them, and
// the MOSS bank F from its "MBK1" chunk, which the reader passes over. The windows and the
// lister never read MBK1; this is the only place that takes its records.
//
// Any thread; nothing is shared between calls.

#include <cstdint>
#include <string>
#include <vector>

#include "model/PcgWriter.h"
#include "model/Result.h"

class CKorgPCGFile;

namespace bq::pcg {

// An "MBK1" chunk of a loaded file, found through its section tree: each chunk's place in the
// file follows from the sizes before it.
struct MossChunk {
    std::uint32_t bankIndex = 0;
    std::uint32_t count = 0;
    std::uint64_t payloadAt = 0;    // the first record byte, after the sub-header
    std::uint32_t payloadSize = 0;  // the chunk's bytes after its sub-header
};

// Every MBK1 chunk of the Program container, in file order.
std::vector<MossChunk> FindMossChunks(const CKorgPCGFile& file);

// The payload of a chunk, read from the file at `path`; false when it cannot be read whole.
bool ReadMossPayload(const std::string& path, const MossChunk& chunk,
                     std::vector<std::uint8_t>* payload);

// The MOSS records of bank F that a loaded file carries: exactly one MBK1 chunk of bank 5
// holding at most 128 whole 416-byte records and nothing else. Empty otherwise (no chunk, or one
// that cannot be taken for MOSS records): such a file does not carry bank F.
std::vector<std::uint8_t> MossRecords(const CKorgPCGFile& file);

// Loads `path` and fills *memory with every bank it holds, slot 0 first up to the first empty
// slot; a bank it does not hold stays empty. A PBK1 chunk of bank F holds no MOSS records and is
// not taken. The reader's code on failure (E_INVALIDARG: a Triton file), *memory then empty.
HRESULT ReadPcgMemory(const std::string& path, KarmaMemory* memory);

}  // namespace bq::pcg
