#pragma once

#include <cstdint>
#include <memory>

#include "model/KarmaBank.h"
#include "model/Result.h"

class CKorgPCGRootContainerSection;

namespace bq::pcg {
struct OpenFile;
}

// The product byte of a PCG file header.
enum tagFileVersion : int {
    FILE_VERSION_TRITON = 0x50,
    FILE_VERSION_KARMA = 0x5D,
};

// One PCG file read into a root container of banks. Created empty, loaded once; owns the
// path copy, the header, the section tree and the root container. User-interface thread only.
class CKorgPCGFile {
public:
    CKorgPCGFile();
    CKorgPCGFile(const CKorgPCGFile&) = delete;
    CKorgPCGFile& operator=(const CKorgPCGFile&) = delete;
    virtual ~CKorgPCGFile();

    HRESULT Load(const char* path);

    // The header's product byte; meaningful once Load has read the header.
    tagFileVersion GetVersion() const;
    CKarmaRootContainer* GetRootContainer() const { return m_rootContainer.get(); }
    const char* GetPath() const { return m_path.get(); }
    // The open file while Load runs (for the section readers), null before and after.
    void* GetFile() const { return m_file; }
    const CKorgPCGRootContainerSection* GetRootSection() const { return m_rootSection.get(); }

    // The first 16 bytes as read, or null before Load got that far.
    const unsigned char* GetHeader() const { return m_header.get(); }

private:
    HRESULT LoadFrom(bq::pcg::OpenFile& open);

    std::unique_ptr<char[]> m_path;
    std::unique_ptr<unsigned char[]> m_header;
    void* m_file = nullptr;
    std::unique_ptr<CKorgPCGRootContainerSection> m_rootSection;
    std::unique_ptr<CKarmaRootContainer> m_rootContainer;
};

// File access for the section readers while Load runs. `file` is GetFile()'s handle; a null
// handle fails with E_UNEXPECTED. System failures come back as 0x8007xxxx codes.
namespace bq::pcg {

// The file comes off the disk in reads of up to this many bytes; headers and records are
// copied out of them. A move that leaves the bytes read so far seeks instead.
constexpr std::uint32_t kReadAheadSize = 128 * 1024;

// Reads up to `count` bytes; `*got` falls short of `count` only at the end of the file.
HRESULT ReadFile(void* file, void* buffer, std::uint32_t count, std::uint32_t* got);
// Moves the position relative to the current one.
HRESULT MoveFilePointer(void* file, std::int64_t distance);
std::uint64_t FilePosition(void* file);

// Containers call these around their child loop; entering fails once containers nest deeper
// than kMaxContainerDepth, so a crafted file cannot exhaust the stack.
constexpr int kMaxContainerDepth = 32;
bool EnterContainer(void* file);
void LeaveContainer(void* file);

}  // namespace bq::pcg
