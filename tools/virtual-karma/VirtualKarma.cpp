#include "tools/virtual-karma/VirtualKarma.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "midi/SysEx.h"
#include "model/KarmaBank.h"
#include "model/KorgPCGFile.h"
#include "model/PcgMemory.h"
#include "model/Ref.h"

namespace bq {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Function codes of the dumps it sends; the program never looks at the dump header, so these
// only have to stay clear of the status replies (23, 24, 26).
constexpr std::uint8_t kFuncProgramBankDump = 0x4C;
constexpr std::uint8_t kFuncCombiBankDump = 0x4D;
constexpr std::uint8_t kFuncCurrentCombiDump = 0x49;

constexpr std::size_t kNameLength = 16;
// Offsets into the flat Program memory: five PCM banks, then the MOSS bank.
constexpr std::size_t kPcmBankBytes = VirtualKarma::kSlots * VirtualKarma::kPcmProgramSize;
constexpr std::size_t kMossBankOffset = VirtualKarma::kMossBank * kPcmBankBytes;
constexpr std::size_t kProgramBytes =
    kMossBankOffset + VirtualKarma::kSlots * VirtualKarma::kMossProgramSize;
constexpr std::size_t kCombiBytes =
    VirtualKarma::kBanks * VirtualKarma::kSlots * VirtualKarma::kCombiSize;

bool ValidSlot(int bank, int slot) {
    return bank >= 0 && bank < VirtualKarma::kBanks && slot >= 0 && slot < VirtualKarma::kSlots;
}

char BankLetter(int bank) {
    return static_cast<char>('A' + bank);
}

// A name such as "Combi C-017", space-padded to 16 bytes, then bytes from a generator seeded
// by kind, bank and slot: every record differs and every byte value occurs, so both halves of
// the 7-bit packing are exercised.
Bytes Generate(const char* kind, std::uint32_t kindSeed, int bank, int slot, std::size_t size) {
    Bytes record(size, ' ');
    char name[kNameLength + 1] = {};
    std::snprintf(name, sizeof name, "%s %c-%03d", kind, BankLetter(bank), slot);
    std::memcpy(record.data(), name, std::strlen(name));
    std::uint32_t state = kindSeed * 0x9E3779B9u ^ static_cast<std::uint32_t>(bank) * 0x85EBCA6Bu ^
                          static_cast<std::uint32_t>(slot + 1) * 0xC2B2AE35u;
    for (std::size_t i = kNameLength; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        record[i] = static_cast<std::uint8_t>(state >> 24);
    }
    return record;
}

// F0 42 3g 5D function F7: a Completed or Failed Reply.
Bytes StatusReply(std::uint8_t channelByte, std::uint8_t function) {
    return {sysex::kSysExStart, sysex::kKorgId, channelByte,
            sysex::kKarmaModel, function,       sysex::kSysExEnd};
}

std::string BankName(const char* kind, int bank) {
    return std::string(kind) + " bank " + BankLetter(bank);
}

// At most `room` bytes of the item's record; without an item or a record the slot keeps what it
// holds, and a shorter record keeps the slot's tail.
void CopyRecord(const CKarmaObject* item, std::uint8_t* slot, std::size_t room) {
    unsigned long size = 0;
    const unsigned char* data = item != nullptr ? item->GetData(&size) : nullptr;
    if (data != nullptr) {
        std::memcpy(slot, data, std::min<std::size_t>(size, room));
    }
}

}  // namespace

VirtualKarma::VirtualKarma() {
    ResetLocked();
}

void VirtualKarma::SetChannel(std::uint8_t channel) {
    std::lock_guard lock(m_mutex);
    m_channel = channel & 0x0F;
}

std::uint8_t VirtualKarma::Channel() const {
    std::lock_guard lock(m_mutex);
    return m_channel;
}

void VirtualKarma::SetFaults(const Faults& faults) {
    std::lock_guard lock(m_mutex);
    m_faults = faults;
    m_writesStored = 0;
}

VirtualKarma::Faults VirtualKarma::GetFaults() const {
    std::lock_guard lock(m_mutex);
    return m_faults;
}

void VirtualKarma::SetAnswerLog(AnswerLog log) {
    std::lock_guard lock(m_mutex);
    m_log = std::move(log);
}

void VirtualKarma::ResetMemory() {
    std::lock_guard lock(m_mutex);
    ResetLocked();
}

void VirtualKarma::ResetLocked() {
    m_programs.assign(kProgramBytes, 0);
    m_combis.assign(kCombiBytes, 0);
    for (int bank = 0; bank < kBanks; ++bank) {
        for (int slot = 0; slot < kSlots; ++slot) {
            const Bytes program = GeneratedProgram(bank, slot);
            std::memcpy(ProgramSlot(bank, slot), program.data(), program.size());
            const Bytes combi = GeneratedCombi(bank, slot);
            std::memcpy(CombiSlot(bank, slot), combi.data(), combi.size());
        }
    }
    m_current = Generate("Current", 3, 0, 0, kCombiSize);
}

void VirtualKarma::LoadFromRoot(CKarmaRootContainer* root) {
    std::lock_guard lock(m_mutex);
    ResetLocked();
    if (root == nullptr) {
        return;
    }
    for (int bank = 0; bank < kBanks; ++bank) {
        CKarmaProgramBank* programs = root->GetProgramBank(bank);
        CKarmaCombiBank* combis = root->GetCombiBank(bank);
        for (int slot = 0; slot < kSlots; ++slot) {
            if (programs != nullptr) {
                // A PCG file fills bank F from its PBK1 chunks with 804-byte PCM records, but
                // the instrument's bank F holds 416-byte MOSS records: the first 416 bytes are
                // taken.
                const auto program = Ref<CKarmaProgram>::Adopt(programs->GetProgram(slot));
                CopyRecord(program.get(), ProgramSlot(bank, slot), ProgramSize(bank));
            }
            if (combis != nullptr) {
                const auto combi = Ref<CKarmaCombi>::Adopt(combis->GetCombi(slot));
                CopyRecord(combi.get(), CombiSlot(bank, slot), kCombiSize);
            }
        }
    }
}

HRESULT VirtualKarma::LoadPCG(const char* path) {
    CKorgPCGFile file;
    const HRESULT hr = file.Load(path);
    if (FAILED(hr)) {
        return hr;
    }
    LoadFromRoot(file.GetRootContainer());
    // The MOSS records of a backup's MBK1 chunk, which the reader passes over, fill bank F.
    const Bytes moss = pcg::MossRecords(file);
    std::lock_guard lock(m_mutex);
    for (std::size_t slot = 0; slot < moss.size() / kMossProgramSize; ++slot) {
        std::memcpy(ProgramSlot(kMossBank, static_cast<int>(slot)),
                    moss.data() + slot * kMossProgramSize, kMossProgramSize);
    }
    return hr;
}

std::size_t VirtualKarma::ProgramSize(int bank) const {
    return bank == kMossBank ? kMossProgramSize : kPcmProgramSize;
}

std::uint8_t* VirtualKarma::ProgramSlot(int bank, int slot) {
    const std::size_t offset = bank == kMossBank ? kMossBankOffset + slot * kMossProgramSize
                                                 : bank * kPcmBankBytes + slot * kPcmProgramSize;
    return m_programs.data() + offset;
}

const std::uint8_t* VirtualKarma::ProgramSlot(int bank, int slot) const {
    return const_cast<VirtualKarma*>(this)->ProgramSlot(bank, slot);
}

std::uint8_t* VirtualKarma::CombiSlot(int bank, int slot) {
    return m_combis.data() + (static_cast<std::size_t>(bank) * kSlots + slot) * kCombiSize;
}

const std::uint8_t* VirtualKarma::CombiSlot(int bank, int slot) const {
    return const_cast<VirtualKarma*>(this)->CombiSlot(bank, slot);
}

std::vector<std::uint8_t> VirtualKarma::ProgramRecord(int bank, int slot) const {
    if (!ValidSlot(bank, slot)) {
        return {};
    }
    std::lock_guard lock(m_mutex);
    const std::uint8_t* p = ProgramSlot(bank, slot);
    return Bytes(p, p + ProgramSize(bank));
}

std::vector<std::uint8_t> VirtualKarma::CombiRecord(int bank, int slot) const {
    if (!ValidSlot(bank, slot)) {
        return {};
    }
    std::lock_guard lock(m_mutex);
    const std::uint8_t* p = CombiSlot(bank, slot);
    return Bytes(p, p + kCombiSize);
}

std::vector<std::uint8_t> VirtualKarma::CurrentCombi() const {
    std::lock_guard lock(m_mutex);
    return m_current;
}

std::vector<std::uint8_t> VirtualKarma::ProgramBank(int bank) const {
    if (!ValidSlot(bank, 0)) {
        return {};
    }
    std::lock_guard lock(m_mutex);
    const std::uint8_t* p = ProgramSlot(bank, 0);
    return Bytes(p, p + kSlots * ProgramSize(bank));
}

std::vector<std::uint8_t> VirtualKarma::CombiBank(int bank) const {
    if (!ValidSlot(bank, 0)) {
        return {};
    }
    std::lock_guard lock(m_mutex);
    const std::uint8_t* p = CombiSlot(bank, 0);
    return Bytes(p, p + kSlots * kCombiSize);
}

bool VirtualKarma::SetProgramRecord(int bank, int slot, const std::uint8_t* record,
                                    std::size_t size) {
    if (!ValidSlot(bank, slot) || record == nullptr || size != ProgramSize(bank)) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    std::memcpy(ProgramSlot(bank, slot), record, size);
    return true;
}

bool VirtualKarma::SetCombiRecord(int bank, int slot, const std::uint8_t* record,
                                  std::size_t size) {
    if (!ValidSlot(bank, slot) || record == nullptr || size != kCombiSize) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    std::memcpy(CombiSlot(bank, slot), record, size);
    return true;
}

bool VirtualKarma::SetCurrentCombi(const std::uint8_t* record, std::size_t size) {
    if (record == nullptr || size != kCombiSize) {
        return false;
    }
    std::lock_guard lock(m_mutex);
    m_current.assign(record, record + size);
    return true;
}

std::vector<std::uint8_t> VirtualKarma::SerializeMemory() const {
    std::lock_guard lock(m_mutex);
    Bytes out;
    out.reserve(kMemorySize);
    out.insert(out.end(), m_programs.begin(), m_programs.end());
    out.insert(out.end(), m_combis.begin(), m_combis.end());
    out.insert(out.end(), m_current.begin(), m_current.end());
    return out;
}

bool VirtualKarma::WriteMemory(const char* path) const {
    if (path == nullptr) {
        return false;
    }
    const Bytes memory = SerializeMemory();
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(memory.data(), 1, memory.size(), file) == memory.size();
    // fclose flushes: a full disk may show only here.
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

std::vector<std::uint8_t> VirtualKarma::BuildDump(std::uint8_t function, std::uint8_t bankByte,
                                                  const std::uint8_t* data,
                                                  std::size_t size) const {
    const std::uint8_t header[sysex::kHeaderLength] = {sysex::kSysExStart,
                                                       sysex::kKorgId,
                                                       sysex::ChannelByte(m_channel),
                                                       sysex::kKarmaModel,
                                                       function,
                                                       0x00,
                                                       bankByte,
                                                       0x00};
    return sysex::BuildItemWrite(header, data, size);
}

std::vector<std::uint8_t> VirtualKarma::ProgramBankDump(int bank) const {
    if (!ValidSlot(bank, 0)) {
        return {};
    }
    std::lock_guard lock(m_mutex);
    return BuildDump(kFuncProgramBankDump, static_cast<std::uint8_t>(0x10 + bank),
                     ProgramSlot(bank, 0), kSlots * ProgramSize(bank));
}

std::vector<std::uint8_t> VirtualKarma::CombiBankDump(int bank) const {
    if (!ValidSlot(bank, 0)) {
        return {};
    }
    std::lock_guard lock(m_mutex);
    return BuildDump(kFuncCombiBankDump, static_cast<std::uint8_t>(0x10 + bank), CombiSlot(bank, 0),
                     kSlots * kCombiSize);
}

std::vector<std::uint8_t> VirtualKarma::CurrentCombiDump() const {
    std::lock_guard lock(m_mutex);
    return BuildDump(kFuncCurrentCombiDump, 0x00, m_current.data(), m_current.size());
}

std::vector<std::uint8_t> VirtualKarma::IdentityReply() const {
    std::lock_guard lock(m_mutex);
    // Family 5D 00, member 05 00, then a software revision of its own.
    return {sysex::kSysExStart,
            0x7E,
            m_channel,
            0x06,
            0x02,
            sysex::kKorgId,
            sysex::kKarmaModel,
            0x00,
            0x05,
            0x00,
            0x01,
            0x00,
            0x00,
            0x00,
            sysex::kSysExEnd};
}

std::vector<std::uint8_t> VirtualKarma::GeneratedProgram(int bank, int slot) {
    if (!ValidSlot(bank, slot)) {
        return {};
    }
    return bank == kMossBank ? Generate("MOSS", 2, bank, slot, kMossProgramSize)
                             : Generate("Prog", 1, bank, slot, kPcmProgramSize);
}

std::vector<std::uint8_t> VirtualKarma::GeneratedCombi(int bank, int slot) {
    if (!ValidSlot(bank, slot)) {
        return {};
    }
    return Generate("Combi", 4, bank, slot, kCombiSize);
}

void VirtualKarma::AppendReply(std::vector<std::uint8_t> bytes, bool isDump,
                               std::vector<midi::MidiTimedBytes>* reply) const {
    if (!m_faults.stray.empty()) {
        reply->push_back({0, m_faults.stray});
    }
    const std::size_t split = m_faults.pauseAfterBytes;
    if (isDump && m_faults.pauseDumps && split < bytes.size()) {
        // The carrier goes quiet for pauseMs after the first `split` bytes.
        if (split > 0) {
            reply->push_back({0, Bytes(bytes.begin(), bytes.begin() + split)});
        }
        reply->push_back({m_faults.pauseMs, Bytes(bytes.begin() + split, bytes.end())});
        return;
    }
    reply->push_back({0, std::move(bytes)});
}

void VirtualKarma::HandleMessage(const std::uint8_t* message, std::size_t length,
                                 std::vector<midi::MidiTimedBytes>* reply) {
    std::vector<midi::MidiTimedBytes> discard;
    std::string line;
    AnswerLog log;
    {
        std::lock_guard lock(m_mutex);
        line = HandleLocked(message, length, reply != nullptr ? reply : &discard);
        log = m_log;
    }
    if (log && !line.empty()) {
        log(line);
    }
}

std::string VirtualKarma::HandleLocked(const std::uint8_t* message, std::size_t length,
                                       std::vector<midi::MidiTimedBytes>* reply) {
    using namespace sysex;
    if (message == nullptr || length < kIdentityRequestLength || message[0] != kSysExStart) {
        return {};
    }
    const std::uint8_t g = ChannelByte(m_channel);
    auto status = [g](std::uint8_t function) { return StatusReply(g, function); };

    // Identity Request, to every device (7F) or to its own id. Answered even when silent, so
    // that the program finds it and the other faults can be tried.
    if (length == kIdentityRequestLength && message[1] == 0x7E &&
        (message[2] == 0x7F || message[2] == m_channel) && message[3] == 0x06 &&
        message[4] == 0x01 && message[5] == kSysExEnd) {
        reply->push_back({0,
                          {kSysExStart, 0x7E, m_channel, 0x06, 0x02, kKorgId, kKarmaModel, 0x00,
                           0x05, 0x00, 0x01, 0x00, 0x00, 0x00, kSysExEnd}});
        return "identity request: answered";
    }

    if (message[1] != kKorgId || message[2] != g || message[3] != kKarmaModel) {
        return {};  // another manufacturer, model or channel
    }
    const std::uint8_t function = message[4];
    if (m_faults.silent) {
        return "silent: ignored a message";
    }

    if (function == kFuncProgramBankDumpRequest || function == kFuncCombiDumpRequest) {
        if (length != kDumpRequestLength || message[6] != 0 || message[7] != 0 ||
            message[8] != kSysExEnd) {
            return {};
        }
        const std::uint8_t which = message[5];
        const bool programs = function == kFuncProgramBankDumpRequest;
        const bool bankRequest = which >= 0x10 && which < 0x10 + kBanks;
        if (!bankRequest && (programs || which != 0x20)) {
            return {};
        }
        const int bank = which - 0x10;
        const std::string what = !bankRequest ? std::string("current Combination")
                                 : programs   ? BankName("Program", bank)
                                              : BankName("Combination", bank);
        if (m_faults.refuseDumps) {
            AppendReply(status(kFuncFailed), false, reply);
            return what + " dump request: refused";
        }
        Bytes dump;
        if (!bankRequest) {
            dump = BuildDump(kFuncCurrentCombiDump, 0x00, m_current.data(), m_current.size());
        } else if (programs) {
            dump = BuildDump(kFuncProgramBankDump, which, ProgramSlot(bank, 0),
                             kSlots * ProgramSize(bank));
        } else {
            dump = BuildDump(kFuncCombiBankDump, which, CombiSlot(bank, 0), kSlots * kCombiSize);
        }
        const std::string line = what + " dump: " + std::to_string(dump.size()) + " bytes";
        AppendReply(std::move(dump), true, reply);
        return line;
    }

    if (function == kFuncItemWrite || function == kFuncProgramWrite) {
        return HandleWriteLocked(message, length, function == kFuncProgramWrite, reply);
    }
    return {};
}

std::string VirtualKarma::HandleWriteLocked(const std::uint8_t* message, std::size_t length,
                                            bool program,
                                            std::vector<midi::MidiTimedBytes>* reply) {
    using namespace sysex;
    const std::uint8_t g = ChannelByte(m_channel);
    auto status = [g](std::uint8_t function) { return StatusReply(g, function); };
    // Exactly one packed record of the size the bank holds (996 bytes for a Combination; 804
    // for a Program of bank A..E, 416 for one of the MOSS bank F), for bank A..F and slot
    // 0..127, with nothing but data bytes between F0 and F7. Anything else is refused unstored.
    const int bank = length > kHeaderLength ? message[6] - 0x20 : -1;
    const bool validBank = bank >= 0 && bank < kBanks;
    const std::size_t size = !validBank ? 0 : program ? ProgramSize(bank) : kCombiSize;
    const bool wellFormed =
        validBank && length == ItemWriteLength(size) && message[length - 1] == kSysExEnd &&
        message[5] == 0 &&
        std::all_of(message + 1, message + length - 1, [](std::uint8_t b) { return b < 0x80; });
    const std::string kind = program ? "Program" : "Combination";
    if (!wellFormed) {
        AppendReply(status(kFuncFailed), false, reply);
        // The Combination's line stays as it was: logs and tests read it.
        return std::string(program ? "item write Program" : "item write") + ": malformed (" +
               std::to_string(length) + " bytes), failed";
    }
    const int slot = message[7];
    char target[16];
    std::snprintf(target, sizeof target, "%c-%03d", BankLetter(bank), slot);
    const std::string what = "item write " + kind + " " + target;
    if (m_faults.errorWrites) {
        const std::uint8_t code = m_faults.errorCode & 0x7F;
        AppendReply({kSysExStart, kKorgId, g, kKarmaModel, kFuncError, code, kSysExEnd}, false,
                    reply);
        return what + ": error " + std::to_string(code);
    }
    if (m_faults.failWrites ||
        (m_faults.failAfterWrites && m_writesStored >= *m_faults.failAfterWrites)) {
        AppendReply(status(kFuncFailed), false, reply);
        return what + ": failed";
    }
    ++m_writesStored;
    Bytes data(message, message + length);
    unsigned long decoded = data.size();
    UnpackSysEx(static_cast<unsigned>(kHeaderLength), data.data(), &decoded);
    // No record size fills whole groups of 7, so the closing F7 decodes as one more byte.
    std::memcpy(program ? ProgramSlot(bank, slot) : CombiSlot(bank, slot), data.data(), size);
    AppendReply(status(kFuncCompleted), false, reply);
    return what + ": stored";
}

}  // namespace bq
