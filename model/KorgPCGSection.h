#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/Result.h"

class CKorgPCGFile;

// One chunk of a PCG file. Every section is owned by its parent container, the root by the
// file object. Read is called with the chunk's 8-byte header just read, the file standing at
// the first content byte.
class CKorgPCGSection {
public:
    CKorgPCGSection() = default;
    CKorgPCGSection(const CKorgPCGSection&) = delete;
    CKorgPCGSection& operator=(const CKorgPCGSection&) = delete;
    virtual ~CKorgPCGSection() = default;

    virtual HRESULT Read(const unsigned char* header, CKorgPCGFile* file);
    virtual HRESULT ReadContent(CKorgPCGFile* file) = 0;

    const char* GetTag() const { return m_tag; }  // four characters, not terminated
    bool HasTag(const char* tag) const;
    std::uint32_t GetSize() const { return m_size; }

private:
    char m_tag[4] = {};
    std::uint32_t m_size = 0;
};

class CKorgPCGContainerSection : public CKorgPCGSection {
public:
    HRESULT Read(const unsigned char* header, CKorgPCGFile* file) override;
    HRESULT ReadContent(CKorgPCGFile* file) override;

    std::size_t GetChildCount() const { return m_children.size(); }
    const CKorgPCGSection* GetChild(std::size_t index) const {
        return index < m_children.size() ? m_children[index].get() : nullptr;
    }

private:
    HRESULT ReadChildren(CKorgPCGFile* file);

    // Destroyed in list order with the container.
    std::vector<std::unique_ptr<CKorgPCGSection>> m_children;
};

// Made for every container tag, the root's included.
class CKorgPCGRootContainerSection : public CKorgPCGContainerSection {};

// A chunk whose content starts with the 12-byte sub-header; the plain leaf skips the rest.
class CKorgPCGLeafSection : public CKorgPCGSection {
public:
    HRESULT Read(const unsigned char* header, CKorgPCGFile* file) override;
    HRESULT ReadContent(CKorgPCGFile* file) override;

    std::uint32_t GetCount() const { return m_count; }
    std::uint32_t GetSecondWord() const { return m_secondWord; }
    std::uint32_t GetBankIndex() const { return m_bankIndex; }

private:
    std::uint32_t m_count = 0;
    std::uint32_t m_secondWord = 0;
    std::uint32_t m_bankIndex = 0;
};

// "PBK1": PCM Program records into the program bank that the bank index names.
class CKorgPCGProgramBankSection : public CKorgPCGLeafSection {
public:
    HRESULT ReadContent(CKorgPCGFile* file) override;
};

// "MBK1": MOSS Program records are not read from files; skipped like any leaf.
class CKorgPCGMOSSBankSection : public CKorgPCGLeafSection {};

// "CBK1": Combination records into the combination bank that the bank index names.
class CKorgPCGCombiBankSection : public CKorgPCGLeafSection {
public:
    HRESULT ReadContent(CKorgPCGFile* file) override;
};

// Makes the empty section for the tag in header bytes 0..3: E_FAIL for a tag outside the
// table, E_OUTOFMEMORY when it cannot be allocated; `*section` is null on failure and owned
// by the caller on success.
HRESULT CreateSection(const unsigned char* header, CKorgPCGSection** section);
