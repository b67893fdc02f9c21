#include "model/PcgMemory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <new>

#include "model/KarmaBank.h"
#include "model/KarmaObject.h"
#include "model/KorgPCGFile.h"
#include "model/KorgPCGSection.h"
#include "model/Ref.h"

namespace bq::pcg {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kFileHeaderSize = 16;
constexpr std::uint64_t kChunkHeaderSize = 8;
constexpr std::uint32_t kSubHeaderSize = 12;

// Slot 0 up to the first empty one, the records back to back.
template <typename Item, typename Bank, typename Get>
Bytes BankBytes(Bank* bank, Get get, std::size_t recordSize) {
    Bytes records;
    for (long slot = 0; bank != nullptr && slot < kBankSlots; ++slot) {
        const auto item = Ref<Item>::Adopt(get(*bank, slot));
        unsigned long size = 0;
        const unsigned char* data = item ? item->GetData(&size) : nullptr;
        if (data == nullptr || size < recordSize) {
            break;
        }
        records.insert(records.end(), data, data + recordSize);
    }
    return records;
}

}  // namespace

std::vector<MossChunk> FindMossChunks(const CKorgPCGFile& file) {
    std::vector<MossChunk> chunks;
    const CKorgPCGRootContainerSection* root = file.GetRootSection();
    if (root == nullptr) {
        return chunks;
    }
    std::uint64_t at = kFileHeaderSize + kChunkHeaderSize;
    for (std::size_t i = 0; i < root->GetChildCount(); ++i) {
        const CKorgPCGSection* section = root->GetChild(i);
        const auto* container = dynamic_cast<const CKorgPCGContainerSection*>(section);
        if (container != nullptr && section->HasTag("PRG1")) {
            std::uint64_t childAt = at + kChunkHeaderSize;
            for (std::size_t j = 0; j < container->GetChildCount(); ++j) {
                const CKorgPCGSection* child = container->GetChild(j);
                const auto* leaf = dynamic_cast<const CKorgPCGLeafSection*>(child);
                if (leaf != nullptr && child->HasTag("MBK1")) {
                    MossChunk chunk;
                    chunk.bankIndex = leaf->GetBankIndex();
                    chunk.count = leaf->GetCount();
                    chunk.payloadAt = childAt + kChunkHeaderSize + kSubHeaderSize;
                    chunk.payloadSize =
                        leaf->GetSize() > kSubHeaderSize ? leaf->GetSize() - kSubHeaderSize : 0;
                    chunks.push_back(chunk);
                }
                childAt += kChunkHeaderSize + child->GetSize();
            }
        }
        at += kChunkHeaderSize + section->GetSize();
    }
    return chunks;
}

bool ReadMossPayload(const std::string& path, const MossChunk& chunk, Bytes* payload) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    payload->assign(chunk.payloadSize, 0);
    std::size_t got = 0;
    while (got < payload->size()) {
        const ssize_t n = ::pread(fd, payload->data() + got, payload->size() - got,
                                  static_cast<off_t>(chunk.payloadAt + got));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return got == payload->size();
}

Bytes MossRecords(const CKorgPCGFile& file) {
    const std::vector<MossChunk> chunks = FindMossChunks(file);
    if (chunks.size() != 1 || file.GetPath() == nullptr) {
        return {};
    }
    const MossChunk& chunk = chunks.front();
    // Records of another size or layout would be written into the instrument as MOSS Programs.
    if (chunk.bankIndex != kMossBank || chunk.count > kBankSlots ||
        chunk.payloadSize != chunk.count * kMossProgramRecordSize) {
        return {};
    }
    Bytes records;
    if (!ReadMossPayload(file.GetPath(), chunk, &records)) {
        return {};
    }
    return records;
}

HRESULT ReadPcgMemory(const std::string& path, KarmaMemory* memory) {
    *memory = KarmaMemory();
    auto file = std::unique_ptr<CKorgPCGFile>(new (std::nothrow) CKorgPCGFile());
    if (file == nullptr) {
        return E_OUTOFMEMORY;
    }
    const HRESULT hr = file->Load(path.c_str());
    if (FAILED(hr)) {
        return hr;
    }
    CKarmaRootContainer* root = file->GetRootContainer();
    if (root == nullptr) {
        return E_OUTOFMEMORY;
    }
    try {
        for (int bank = 0; bank < kMemoryBanks; ++bank) {
            if (bank != kMossBank) {
                memory->programs[bank] = BankBytes<CKarmaProgram>(
                    root->GetProgramBank(bank),
                    [](CKarmaProgramBank& b, long slot) { return b.GetProgram(slot); },
                    kPcmProgramRecordSize);
            }
            memory->combis[bank] = BankBytes<CKarmaCombi>(
                root->GetCombiBank(bank),
                [](CKarmaCombiBank& b, long slot) { return b.GetCombi(slot); }, kCombiRecordSize);
        }
        memory->programs[kMossBank] = MossRecords(*file);
    } catch (const std::bad_alloc&) {
        *memory = KarmaMemory();
        return E_OUTOFMEMORY;
    }
    return hr;
}

}  // namespace bq::pcg
