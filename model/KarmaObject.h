#pragma once

#include <cstddef>
#include <cstdint>

namespace bq {
// Picks the constructor that leaves an item's record unset, for a reader that fills the whole
// record straight away (zeroing it first would only be overwritten).
struct UnsetRecord {
    explicit UnsetRecord() = default;
};
inline constexpr UnsetRecord kUnsetRecord{};
}  // namespace bq

// Programs and Combinations. Each item keeps the instrument's raw record and is counted by
// reference: a new item starts with one reference, owned by its creator. Counts are plain
// integers; items live on the user-interface thread only.
class CKarmaObject {
public:
    CKarmaObject() = default;
    CKarmaObject(const CKarmaObject&) = delete;
    CKarmaObject& operator=(const CKarmaObject&) = delete;

    virtual ~CKarmaObject() = default;
    virtual unsigned char* GetData(unsigned long* size) const = 0;
    // Writes at most `length` characters and a terminator; returns 1 when a name was written.
    virtual int GetName(char* buffer, int length) const = 0;

    void AddRef() { ++m_refCount; }
    void Release() {
        if (--m_refCount == 0) {
            delete this;
        }
    }
    std::int32_t RefCount() const { return m_refCount; }

private:
    std::int32_t m_refCount = 1;
};

class CKarmaProgram : public CKarmaObject {};

class CKarmaPCMProgram : public CKarmaProgram {
public:
    static constexpr unsigned long kRecordSize = 804;
    CKarmaPCMProgram() : m_record{} {}
    explicit CKarmaPCMProgram(bq::UnsetRecord) {}
    static CKarmaPCMProgram* LoadProgram(unsigned char* data, unsigned long* size);
    unsigned char* GetData(unsigned long* size) const override;
    int GetName(char* buffer, int length) const override;
    // The record, for readers that fill a new item themselves.
    unsigned char* Record() { return m_record; }

private:
    unsigned char m_record[kRecordSize];
};

class CKarmaMOSSProgram : public CKarmaProgram {
public:
    static constexpr unsigned long kRecordSize = 416;
    static CKarmaMOSSProgram* LoadProgram(unsigned char* data, unsigned long* size);
    unsigned char* GetData(unsigned long* size) const override;
    int GetName(char* buffer, int length) const override;

private:
    unsigned char m_record[kRecordSize] = {};
};

class CKarmaCombi : public CKarmaObject {
public:
    static constexpr unsigned long kRecordSize = 996;
    CKarmaCombi() : m_record{} {}
    explicit CKarmaCombi(bq::UnsetRecord) {}
    static CKarmaCombi* LoadCombi(unsigned char* data, unsigned long* size);
    unsigned char* GetData(unsigned long* size) const override;
    int GetName(char* buffer, int length) const override;
    unsigned char* Record() { return m_record; }

private:
    unsigned char m_record[kRecordSize];
};

// Triton items: recognised, never read, never shown.
class CTritonProgram : public CKarmaObject {};

class CTritonPCMProgram : public CTritonProgram {
public:
    static constexpr unsigned long kRecordSize = 540;
    unsigned char* GetData(unsigned long* size) const override;
    int GetName(char* buffer, int length) const override;

private:
    // Kept for the record layout; Triton items expose nothing of it.
    [[maybe_unused]] unsigned char m_record[kRecordSize] = {};
};

class CTritonMOSSProgram : public CTritonProgram {};

class CTritonCombi : public CKarmaObject {
public:
    static constexpr unsigned long kRecordSize = 966;
    unsigned char* GetData(unsigned long* size) const override;
    int GetName(char* buffer, int length) const override;

private:
    [[maybe_unused]] unsigned char m_record[kRecordSize] = {};
};
