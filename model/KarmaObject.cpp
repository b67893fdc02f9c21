#include "model/KarmaObject.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

constexpr int kNameField = 16;

// Trailing spaces go; byte 0 always stays, even when it is a space.
int GetRecordName(const unsigned char* record, char* buffer, int length) {
    if (buffer == nullptr || length == 0) {
        return 0;
    }
    int last = kNameField - 1;
    while (last > 0 && record[last] == ' ') {
        --last;
    }
    int n = 0;
    while (n <= last && n < length) {
        buffer[n] = static_cast<char>(record[n]);
        ++n;
    }
    buffer[n] = '\0';
    return 1;
}

template <typename Item>
Item* LoadItem(const unsigned char* data, unsigned long* size) {
    Item* item = new (std::nothrow) Item();
    if (item == nullptr) {
        return nullptr;
    }
    unsigned long recordSize = 0;
    unsigned char* record = item->GetData(&recordSize);
    std::memcpy(record, data, recordSize);
    *size = recordSize;
    return item;
}

}  // namespace

CKarmaPCMProgram* CKarmaPCMProgram::LoadProgram(unsigned char* data, unsigned long* size) {
    return LoadItem<CKarmaPCMProgram>(data, size);
}

unsigned char* CKarmaPCMProgram::GetData(unsigned long* size) const {
    *size = kRecordSize;
    return const_cast<unsigned char*>(m_record);
}

int CKarmaPCMProgram::GetName(char* buffer, int length) const {
    return GetRecordName(m_record, buffer, length);
}

CKarmaMOSSProgram* CKarmaMOSSProgram::LoadProgram(unsigned char* data, unsigned long* size) {
    return LoadItem<CKarmaMOSSProgram>(data, size);
}

unsigned char* CKarmaMOSSProgram::GetData(unsigned long* size) const {
    *size = kRecordSize;
    return const_cast<unsigned char*>(m_record);
}

int CKarmaMOSSProgram::GetName(char* buffer, int length) const {
    if (buffer == nullptr || length == 0) {
        return 0;
    }
    if (length < 0) {
        buffer[0] = '\0';
        return 1;
    }
    // Bounded like a formatted print: at most `length` characters and the terminator.
    std::snprintf(buffer, static_cast<std::size_t>(length) + 1, "%s", "To Do!");
    return 1;
}

CKarmaCombi* CKarmaCombi::LoadCombi(unsigned char* data, unsigned long* size) {
    return LoadItem<CKarmaCombi>(data, size);
}

unsigned char* CKarmaCombi::GetData(unsigned long* size) const {
    *size = kRecordSize;
    return const_cast<unsigned char*>(m_record);
}

int CKarmaCombi::GetName(char* buffer, int length) const {
    return GetRecordName(m_record, buffer, length);
}

unsigned char* CTritonPCMProgram::GetData(unsigned long*) const { return nullptr; }
int CTritonPCMProgram::GetName(char*, int) const { return 0; }
unsigned char* CTritonCombi::GetData(unsigned long*) const { return nullptr; }
int CTritonCombi::GetName(char*, int) const { return 0; }
