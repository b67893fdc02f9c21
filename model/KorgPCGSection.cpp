#include "model/KorgPCGSection.h"

#include <cstring>
#include <new>

#include "model/KarmaBank.h"
#include "model/KorgPCGFile.h"
#include "model/Ref.h"

namespace {

constexpr std::uint32_t kChunkHeaderSize = 8;
constexpr std::uint32_t kSubHeaderSize = 12;
constexpr std::uint32_t kMaxBankIndex = 5;
constexpr std::uint32_t kMaxCount = 128;

std::uint32_t BigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

bool TagIs(const unsigned char* header, const char* tag) {
    return std::memcmp(header, tag, 4) == 0;
}

template <typename Section>
HRESULT Make(CKorgPCGSection** section) {
    *section = new (std::nothrow) Section();
    return *section != nullptr ? S_OK : E_OUTOFMEMORY;
}

// Reads `count` records of one kind into slots 0.. of a bank, each into a new item's storage;
// the bank ends up holding the only reference.
template <typename Item, typename Bank, typename GetBank, typename Store>
HRESULT ReadRecords(CKorgPCGFile* file, std::uint32_t count, GetBank getBank, Store store) {
    CKarmaRootContainer* root = file->GetRootContainer();
    Bank* bank = root != nullptr ? getBank(*root) : nullptr;
    if (bank == nullptr) {
        return E_OUTOFMEMORY;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        auto item = bq::Ref<Item>::Adopt(new (std::nothrow) Item(bq::kUnsetRecord));
        if (!item) {
            return E_OUTOFMEMORY;
        }
        std::uint32_t got = 0;
        const HRESULT hr =
            bq::pcg::ReadFile(file->GetFile(), item->Record(), Item::kRecordSize, &got);
        if (FAILED(hr) || got < Item::kRecordSize) {
            return FAILED(hr) ? hr : E_UNEXPECTED;
        }
        store(*bank, static_cast<long>(i), item.get());
    }
    return S_OK;
}

}  // namespace

HRESULT CreateSection(const unsigned char* header, CKorgPCGSection** section) {
    *section = nullptr;
    for (const char* tag : {"PCG1", "PRG1", "CMB1", "DKT1", "ARP1"}) {
        if (TagIs(header, tag)) {
            return Make<CKorgPCGRootContainerSection>(section);
        }
    }
    if (TagIs(header, "PBK1")) {
        return Make<CKorgPCGProgramBankSection>(section);
    }
    if (TagIs(header, "MBK1")) {
        return Make<CKorgPCGMOSSBankSection>(section);
    }
    if (TagIs(header, "CBK1")) {
        return Make<CKorgPCGCombiBankSection>(section);
    }
    for (const char* tag : {"DIV1", "DBK1", "GLB1", "ABK1", "CSM1"}) {
        if (TagIs(header, tag)) {
            return Make<CKorgPCGLeafSection>(section);
        }
    }
    return E_FAIL;
}

HRESULT CKorgPCGSection::Read(const unsigned char* header, CKorgPCGFile* file) {
    std::memcpy(m_tag, header, 4);
    m_size = BigEndian32(header + 4);
    return ReadContent(file);
}

bool CKorgPCGSection::HasTag(const char* tag) const {
    return std::memcmp(m_tag, tag, 4) == 0;
}

HRESULT CKorgPCGContainerSection::ReadContent(CKorgPCGFile*) {
    return S_OK;
}

HRESULT CKorgPCGContainerSection::Read(const unsigned char* header, CKorgPCGFile* file) {
    HRESULT hr = CKorgPCGSection::Read(header, file);
    if (FAILED(hr)) {
        return hr;
    }
    // Real files nest three levels; a deep tower of container headers is a crafted file.
    if (!bq::pcg::EnterContainer(file->GetFile())) {
        return E_UNEXPECTED;
    }
    hr = ReadChildren(file);
    bq::pcg::LeaveContainer(file->GetFile());
    return hr;
}

// Every pass reads a child header and the child moves on past its own chunk, so the position
// grows by at least 8 bytes per child and the loop ends at the container's end or the file's.
HRESULT CKorgPCGContainerSection::ReadChildren(CKorgPCGFile* file) {
    void* handle = file->GetFile();
    const std::uint64_t start = bq::pcg::FilePosition(handle);
    while (bq::pcg::FilePosition(handle) - start < GetSize()) {
        unsigned char header[kChunkHeaderSize];
        std::uint32_t got = 0;
        HRESULT hr = bq::pcg::ReadFile(handle, header, kChunkHeaderSize, &got);
        if (FAILED(hr)) {
            return hr;
        }
        if (got == 0) {
            return S_OK;  // the file ended right after a child
        }
        if (got < kChunkHeaderSize) {
            return E_UNEXPECTED;
        }
        CKorgPCGSection* made = nullptr;
        hr = CreateSection(header, &made);
        if (FAILED(hr)) {
            return hr;
        }
        std::unique_ptr<CKorgPCGSection> child(made);
        hr = child->Read(header, file);
        if (FAILED(hr)) {
            return hr;
        }
        try {
            m_children.push_back(std::move(child));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
    }
    return S_OK;
}

HRESULT CKorgPCGLeafSection::Read(const unsigned char* header, CKorgPCGFile* file) {
    unsigned char sub[kSubHeaderSize];
    std::uint32_t got = 0;
    const HRESULT hr = bq::pcg::ReadFile(file->GetFile(), sub, kSubHeaderSize, &got);
    if (FAILED(hr)) {
        return hr;
    }
    if (got < kSubHeaderSize) {
        return E_UNEXPECTED;
    }
    m_count = BigEndian32(sub);
    m_secondWord = BigEndian32(sub + 4);
    m_bankIndex = BigEndian32(sub + 8);
    return CKorgPCGSection::Read(header, file);
}

// Lands on the byte after the chunk, backwards too for a size below 12. The distance is
// taken at full width: a 32-bit distance would turn sizes of 2 GiB and more into backward
// moves, and one of them lands on its own header again, forever.
HRESULT CKorgPCGLeafSection::ReadContent(CKorgPCGFile* file) {
    if (GetSize() == kSubHeaderSize) {
        return S_OK;
    }
    const std::int64_t distance = std::int64_t{GetSize()} - std::int64_t{kSubHeaderSize};
    return bq::pcg::MoveFilePointer(file->GetFile(), distance);
}

// A bank index or count beyond the container or a bank is refused before any record is read.
HRESULT CKorgPCGProgramBankSection::ReadContent(CKorgPCGFile* file) {
    if (GetBankIndex() > kMaxBankIndex || GetCount() > kMaxCount) {
        return E_UNEXPECTED;
    }
    const long bank = static_cast<long>(GetBankIndex());
    return ReadRecords<CKarmaPCMProgram, CKarmaProgramBank>(
        file, GetCount(), [bank](CKarmaRootContainer& root) { return root.GetProgramBank(bank); },
        [](CKarmaProgramBank& b, long slot, CKarmaPCMProgram* item) { b.SetProgram(slot, item); });
}

HRESULT CKorgPCGCombiBankSection::ReadContent(CKorgPCGFile* file) {
    if (GetBankIndex() > kMaxBankIndex || GetCount() > kMaxCount) {
        return E_UNEXPECTED;
    }
    const long bank = static_cast<long>(GetBankIndex());
    return ReadRecords<CKarmaCombi, CKarmaCombiBank>(
        file, GetCount(), [bank](CKarmaRootContainer& root) { return root.GetCombiBank(bank); },
        [](CKarmaCombiBank& b, long slot, CKarmaCombi* item) { b.SetCombi(slot, item); });
}
