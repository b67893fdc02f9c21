#include "model/PcgWriter.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "model/KarmaBank.h"
#include "model/KarmaObject.h"
#include "model/KorgPCGFile.h"
#include "model/KorgPCGSection.h"
#include "model/PcgMemory.h"
#include "model/Ref.h"

namespace bq::pcg {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHeaderSize = 16;
constexpr std::size_t kChunkHeaderSize = 8;
constexpr std::size_t kSubHeaderSize = 12;
// "KORG", the Karma's product byte, byte 6 zero; the rest as the demo file has it.
constexpr std::uint8_t kFileHeader[kHeaderSize] = {'K',  'O',  'R',  'G',  0x5D, 0x00, 0x00, 0x00,
                                                   0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

void Put32(Bytes& out, std::size_t at, std::uint32_t value) {
    out[at] = static_cast<std::uint8_t>(value >> 24);
    out[at + 1] = static_cast<std::uint8_t>(value >> 16);
    out[at + 2] = static_cast<std::uint8_t>(value >> 8);
    out[at + 3] = static_cast<std::uint8_t>(value);
}

// Appends a chunk header whose size is filled in by EndChunk; returns where it stands.
std::size_t BeginChunk(Bytes& out, const char* tag) {
    const std::size_t at = out.size();
    out.insert(out.end(), tag, tag + 4);
    out.resize(out.size() + 4);
    return at;
}

void EndChunk(Bytes& out, std::size_t at) {
    Put32(out, at + 4, static_cast<std::uint32_t>(out.size() - at - kChunkHeaderSize));
}

// A leaf: the sub-header (count, the record size as second word, bank index), then the records.
void AppendLeaf(Bytes& out, const char* tag, const Bytes& records, std::size_t recordSize,
                int bank) {
    const std::size_t at = BeginChunk(out, tag);
    const std::size_t sub = out.size();
    out.resize(out.size() + kSubHeaderSize);
    Put32(out, sub, static_cast<std::uint32_t>(records.size() / recordSize));
    Put32(out, sub + 4, static_cast<std::uint32_t>(recordSize));
    Put32(out, sub + 8, static_cast<std::uint32_t>(bank));
    out.insert(out.end(), records.begin(), records.end());
    EndChunk(out, at);
}

bool CheckBank(const Bytes& records, std::size_t recordSize, bool combination, int bank,
               std::string* problem) {
    if (records.size() % recordSize == 0 && records.size() / recordSize <= kBankSlots) {
        return true;
    }
    if (problem != nullptr) {
        *problem = BankTitle(combination, bank) + " holds " + std::to_string(records.size()) +
                   " bytes, not up to 128 records of " + std::to_string(recordSize) + " bytes";
    }
    return false;
}

std::string SystemText(int error) {
    return std::strerror(error);
}

std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

PcgWriteResult Failure(PcgWriteStep step, HRESULT code, std::string reason) {
    return PcgWriteResult{step, code, std::move(reason)};
}

// The temporary file, removed on every way out unless it was renamed over the target.
class TemporaryFile {
public:
    ~TemporaryFile() {
        if (m_fd >= 0) {
            ::close(m_fd);
        }
        if (!m_path.empty()) {
            ::unlink(m_path.c_str());
        }
    }

    // A new file next to the target, hidden, with a name of this process and call alone. Its
    // permissions are the usual ones for a new file (the umask applies).
    int Create(const std::string& target) {
        static std::atomic<unsigned> counter{0};
        const std::string folder = FolderOf(target);
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string path = folder + "/." + BaseName(target) + "-" + std::to_string(::getpid()) +
                               "-" + std::to_string(counter.fetch_add(1)) + ".tmp";
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                m_fd = fd;
                m_path = std::move(path);
                return 0;
            }
            if (errno != EEXIST) {
                return errno;
            }
        }
        return EEXIST;
    }

    int Close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 ? 0 : errno;
    }

    // After the rename the file is the target's: nothing to remove.
    void Keep() { m_path.clear(); }

    int Fd() const { return m_fd; }
    const std::string& Path() const { return m_path; }

private:
    int m_fd = -1;
    std::string m_path;
};

int WriteAll(int fd, const Bytes& bytes, const PcgWriteHooks* hooks) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t size = bytes.size() - done;
        const long n = hooks != nullptr && hooks->write
                           ? hooks->write(fd, bytes.data() + done, size)
                           : static_cast<long>(::write(fd, bytes.data() + done, size));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (n == 0) {
            return ENOSPC;  // no progress: the device takes nothing more
        }
        done += static_cast<std::size_t>(n);
    }
    return 0;
}

std::string SlotName(bool combination, int bank, long slot) {
    char text[8];
    std::snprintf(text, sizeof text, "%03ld", slot);
    return BankTitle(combination, bank) + ", slot " + text;
}

// Compares what the reader put in one bank with the records written there; empty when equal,
// else the first place that differs.
template <typename Item, typename Bank, typename Get>
std::string CompareBank(Bank* bank, Get get, const Bytes& records, std::size_t recordSize,
                        bool combination, int index) {
    if (bank == nullptr) {
        return BankTitle(combination, index);
    }
    const long count = static_cast<long>(records.size() / recordSize);
    for (long slot = 0; slot < kBankSlots; ++slot) {
        const auto item = Ref<Item>::Adopt(get(*bank, slot));
        if (slot >= count) {
            if (item) {
                return SlotName(combination, index, slot);  // written empty, read back full
            }
            continue;
        }
        unsigned long size = 0;
        const unsigned char* data = item ? item->GetData(&size) : nullptr;
        if (data == nullptr || size != recordSize ||
            std::memcmp(data, records.data() + slot * recordSize, recordSize) != 0) {
            return SlotName(combination, index, slot);
        }
    }
    return {};
}

// The reader passes over "MBK1": the MOSS bank is found through the section tree and its
// payload read from the file. Empty when it matches the memory, else what differs.
std::string CompareMoss(const CKorgPCGFile& file, const std::string& path, const Bytes& moss) {
    const std::string title = BankTitle(false, kMossBank);
    const std::vector<MossChunk> chunks = FindMossChunks(file);
    if (chunks.size() != (moss.empty() ? 0u : 1u)) {
        return title;
    }
    if (moss.empty()) {
        return {};
    }
    const MossChunk& chunk = chunks.front();
    Bytes payload;
    if (chunk.bankIndex != kMossBank || chunk.count != moss.size() / kMossProgramRecordSize ||
        chunk.payloadSize != moss.size() || !ReadMossPayload(path, chunk, &payload) ||
        payload != moss) {
        return title;
    }
    return {};
}

// Reads the file back with the program's own reader; empty when every bank holds exactly what
// the memory holds, else the first place that differs. *code is the reader's failure, if any.
std::string ReadBack(const std::string& path, const KarmaMemory& memory, HRESULT* code) {
    auto file = std::unique_ptr<CKorgPCGFile>(new (std::nothrow) CKorgPCGFile());
    if (file == nullptr) {
        *code = E_OUTOFMEMORY;
        return {};
    }
    *code = file->Load(path.c_str());
    if (FAILED(*code)) {
        return {};
    }
    CKarmaRootContainer* root = file->GetRootContainer();
    if (root == nullptr) {
        *code = E_OUTOFMEMORY;
        return {};
    }
    const Bytes none;
    for (int bank = 0; bank < kMemoryBanks; ++bank) {
        // The MOSS bank's records are not read into bank F: it must come back empty there.
        const Bytes& programs = bank == kMossBank ? none : memory.programs[bank];
        std::string differs = CompareBank<CKarmaProgram>(
            root->GetProgramBank(bank),
            [](CKarmaProgramBank& b, long slot) { return b.GetProgram(slot); }, programs,
            ProgramRecordSize(bank), false, bank);
        if (differs.empty()) {
            differs = CompareBank<CKarmaCombi>(
                root->GetCombiBank(bank),
                [](CKarmaCombiBank& b, long slot) { return b.GetCombi(slot); }, memory.combis[bank],
                kCombiRecordSize, true, bank);
        }
        if (!differs.empty()) {
            return differs;
        }
    }
    return CompareMoss(*file, path, memory.programs[kMossBank]);
}

}  // namespace

std::string BankTitle(bool combination, int bank) {
    if (bank < 0 || bank >= kMemoryBanks) {
        return {};
    }
    std::string title = combination ? "Combination Bank " : "Program Bank ";
    title += static_cast<char>('A' + bank);
    if (!combination && bank == kMossBank) {
        title += " (MOSS)";
    }
    return title;
}

bool KarmaMemory::Complete() const {
    for (int bank = 0; bank < kMemoryBanks; ++bank) {
        if (programs[bank].size() != kBankSlots * ProgramRecordSize(bank) ||
            combis[bank].size() != kBankSlots * kCombiRecordSize) {
            return false;
        }
    }
    return true;
}

bool BuildPcg(const KarmaMemory& memory, Bytes* file, std::string* problem) {
    for (int bank = 0; bank < kMemoryBanks; ++bank) {
        if (!CheckBank(memory.programs[bank], ProgramRecordSize(bank), false, bank, problem) ||
            !CheckBank(memory.combis[bank], kCombiRecordSize, true, bank, problem)) {
            return false;
        }
    }
    Bytes out(kFileHeader, kFileHeader + kHeaderSize);
    std::size_t total = kHeaderSize + 3 * kChunkHeaderSize;
    for (int bank = 0; bank < kMemoryBanks; ++bank) {
        total += 2 * (kChunkHeaderSize + kSubHeaderSize) + memory.programs[bank].size() +
                 memory.combis[bank].size();
    }
    out.reserve(total);
    const std::size_t root = BeginChunk(out, "PCG1");
    const std::size_t programs = BeginChunk(out, "PRG1");
    for (int bank = 0; bank < kMemoryBanks; ++bank) {
        if (!memory.programs[bank].empty()) {
            AppendLeaf(out, bank == kMossBank ? "MBK1" : "PBK1", memory.programs[bank],
                       ProgramRecordSize(bank), bank);
        }
    }
    EndChunk(out, programs);
    const std::size_t combis = BeginChunk(out, "CMB1");
    for (int bank = 0; bank < kMemoryBanks; ++bank) {
        if (!memory.combis[bank].empty()) {
            AppendLeaf(out, "CBK1", memory.combis[bank], kCombiRecordSize, bank);
        }
    }
    EndChunk(out, combis);
    EndChunk(out, root);
    *file = std::move(out);
    return true;
}

PcgWriteResult WritePcgFile(const std::string& path, const KarmaMemory& memory,
                            const PcgWriteHooks* hooks) {
    Bytes bytes;
    std::string problem;
    if (path.empty()) {
        return Failure(PcgWriteStep::Check, HResultFromErrno(ENOENT), "no file name was given");
    }
    try {
        if (!BuildPcg(memory, &bytes, &problem)) {
            return Failure(PcgWriteStep::Check, E_INVALIDARG,
                           "the backup cannot be written: " + problem);
        }
    } catch (const std::bad_alloc&) {
        return Failure(PcgWriteStep::Check, E_OUTOFMEMORY, "not enough memory to build " + path);
    }

    TemporaryFile temporary;
    if (const int error = temporary.Create(path); error != 0) {
        return Failure(PcgWriteStep::Create, HResultFromErrno(error),
                       "cannot create a file in " + FolderOf(path) + ": " + SystemText(error));
    }
    if (const int error = WriteAll(temporary.Fd(), bytes, hooks); error != 0) {
        return Failure(PcgWriteStep::Write, HResultFromErrno(error),
                       "cannot write " + path + ": " + SystemText(error));
    }
    // Synced before the rename: after a crash the target is the old file or the whole new one.
    if (::fsync(temporary.Fd()) != 0) {
        const int error = errno;
        return Failure(PcgWriteStep::Sync, HResultFromErrno(error),
                       "cannot save " + path + " to the disk: " + SystemText(error));
    }
    if (const int error = temporary.Close(); error != 0) {
        return Failure(PcgWriteStep::Sync, HResultFromErrno(error),
                       "cannot save " + path + " to the disk: " + SystemText(error));
    }
    if (hooks != nullptr && hooks->beforeReadBack) {
        hooks->beforeReadBack(temporary.Path());
    }
    HRESULT code = S_OK;
    const std::string differs = ReadBack(temporary.Path(), memory, &code);
    if (FAILED(code)) {
        std::string text = ResultText(code);
        return Failure(PcgWriteStep::ReadBack, code,
                       "the file written for " + path + " cannot be read back" +
                           (text.empty() ? std::string() : ": " + text));
    }
    if (!differs.empty()) {
        return Failure(PcgWriteStep::Compare, E_FAIL,
                       "the file written for " + path +
                           " differs from what was downloaded, first at " + differs);
    }
    if (::rename(temporary.Path().c_str(), path.c_str()) != 0) {
        const int error = errno;
        return Failure(PcgWriteStep::Replace, HResultFromErrno(error),
                       "cannot replace " + path + ": " + SystemText(error));
    }
    temporary.Keep();
    // Makes the rename itself durable. The file is complete and in place whatever this gives
    // (some file systems refuse to sync a folder), so it cannot fail the backup any more.
    const int folder = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return {};
}

}  // namespace bq::pcg
