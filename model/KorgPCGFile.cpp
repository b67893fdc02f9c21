#include "model/KorgPCGFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "model/KorgPCGSection.h"

namespace {

constexpr std::uint32_t kHeaderSize = 16;
constexpr std::uint32_t kChunkHeaderSize = 8;

std::uint32_t BigEndian32(const unsigned char* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

HRESULT LastSystemError() {
    return HResultFromErrno(errno);
}

}  // namespace

// What GetFile() hands out while Load runs: the descriptor, the read-ahead buffer, the reader's
// position and the current container depth. The buffer holds the file's bytes from
// `bufferStart` up to `bufferStart + filled`, which is where the descriptor stands; the
// reader's position lies within that span, at its end once every buffered byte is taken.
namespace bq::pcg {
struct OpenFile {
    int fd = -1;
    std::unique_ptr<unsigned char[]> buffer;
    std::uint64_t bufferStart = 0;
    std::uint32_t filled = 0;
    std::uint64_t position = 0;
    int depth = 0;
};

namespace {

// One read at the descriptor's place, called when every buffered byte has been taken. A short
// read is kept as it is (the caller asks again for the rest); `*got` is 0 only at the end of
// the file. A failed read leaves the buffer as it was.
HRESULT Refill(OpenFile& open, std::uint32_t* got) {
    *got = 0;
    for (;;) {
        const ssize_t n = ::read(open.fd, open.buffer.get(), kReadAheadSize);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return LastSystemError();
        }
        open.bufferStart = open.position;
        open.filled = static_cast<std::uint32_t>(n);
        *got = open.filled;
        return S_OK;
    }
}

}  // namespace

HRESULT ReadFile(void* file, void* buffer, std::uint32_t count, std::uint32_t* got) {
    *got = 0;
    auto* open = static_cast<OpenFile*>(file);
    if (open == nullptr) {
        return E_UNEXPECTED;
    }
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (*got < count) {
        const auto offset = static_cast<std::uint32_t>(open->position - open->bufferStart);
        const std::uint32_t available = open->filled - offset;
        if (available == 0) {
            std::uint32_t more = 0;
            const HRESULT hr = Refill(*open, &more);
            if (FAILED(hr)) {
                return hr;
            }
            if (more == 0) {
                break;  // end of file
            }
            continue;
        }
        const std::uint32_t n = std::min(available, count - *got);
        std::memcpy(bytes + *got, open->buffer.get() + offset, n);
        *got += n;
        open->position += n;
    }
    return S_OK;
}

// A move within the buffered bytes costs no system call; any other one seeks, and drops the
// buffer. A target before the start of the file fails as the seek does (EINVAL).
HRESULT MoveFilePointer(void* file, std::int64_t distance) {
    auto* open = static_cast<OpenFile*>(file);
    if (open == nullptr) {
        return E_UNEXPECTED;
    }
    const std::int64_t to = static_cast<std::int64_t>(open->position) + distance;
    const auto start = static_cast<std::int64_t>(open->bufferStart);
    if (to >= start && to <= start + std::int64_t{open->filled}) {
        open->position = static_cast<std::uint64_t>(to);
        return S_OK;
    }
    const off_t at = ::lseek(open->fd, static_cast<off_t>(to), SEEK_SET);
    if (at < 0) {
        return LastSystemError();
    }
    open->position = static_cast<std::uint64_t>(at);
    open->bufferStart = open->position;
    open->filled = 0;
    return S_OK;
}

std::uint64_t FilePosition(void* file) {
    auto* open = static_cast<OpenFile*>(file);
    return open != nullptr ? open->position : 0;
}

bool EnterContainer(void* file) {
    auto* open = static_cast<OpenFile*>(file);
    if (open == nullptr || open->depth >= kMaxContainerDepth) {
        return false;
    }
    ++open->depth;
    return true;
}

void LeaveContainer(void* file) {
    auto* open = static_cast<OpenFile*>(file);
    if (open != nullptr && open->depth > 0) {
        --open->depth;
    }
}

}  // namespace bq::pcg

CKorgPCGFile::CKorgPCGFile() : m_rootContainer(new (std::nothrow) CKarmaRootContainer()) {}

// Members go in reverse order: the root container (and with it every bank's items) last.
CKorgPCGFile::~CKorgPCGFile() = default;

tagFileVersion CKorgPCGFile::GetVersion() const {
    return static_cast<tagFileVersion>(m_header != nullptr ? m_header[4] : 0);
}

HRESULT CKorgPCGFile::Load(const char* path) {
    // Loading again replaces the tree, so a failed second load leaves none behind.
    m_rootSection.reset();
    if (path == nullptr) {
        return HResultFromErrno(EINVAL);
    }
    const std::size_t length = std::strlen(path);
    m_path.reset(new (std::nothrow) char[length + 1]);
    if (m_path == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::memcpy(m_path.get(), path, length + 1);
    // Without a root container there is nowhere to put the banks: read nothing.
    if (m_rootContainer == nullptr) {
        return E_OUTOFMEMORY;
    }

    bq::pcg::OpenFile open;
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
    open.fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (open.fd < 0) {
        return LastSystemError();
    }
    // Only regular files are PCG files: a FIFO or a device would block or never end. A folder
    // keeps the answer its first read gives (EISDIR).
    struct stat st = {};
    if (::fstat(open.fd, &st) != 0) {
        const HRESULT hr = LastSystemError();
        ::close(open.fd);
        return hr;
    }
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
        ::close(open.fd);
        return HResultFromErrno(EINVAL);
    }
    ::fcntl(open.fd, F_SETFL, ::fcntl(open.fd, F_GETFL) & ~O_NONBLOCK);
    // Only a hint: the file is read front to back once.
    ::posix_fadvise(open.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    m_file = &open;
    const HRESULT hr = LoadFrom(open);
    m_file = nullptr;
    ::close(open.fd);
    return hr;
}

HRESULT CKorgPCGFile::LoadFrom(bq::pcg::OpenFile& open) {
    m_header.reset(new (std::nothrow) unsigned char[kHeaderSize]());
    if (m_header == nullptr) {
        return E_OUTOFMEMORY;
    }
    open.buffer.reset(new (std::nothrow) unsigned char[bq::pcg::kReadAheadSize]);
    if (open.buffer == nullptr) {
        return E_OUTOFMEMORY;
    }
    std::uint32_t got = 0;
    HRESULT hr = bq::pcg::ReadFile(&open, m_header.get(), kHeaderSize, &got);
    if (FAILED(hr)) {
        return hr;
    }
    if (got < kHeaderSize) {
        return E_UNEXPECTED;
    }
    const unsigned char product = m_header[4];
    if (product != FILE_VERSION_TRITON && product != FILE_VERSION_KARMA) {
        return E_UNEXPECTED;
    }
    if (m_header[6] != 0 || std::memcmp(m_header.get(), "KORG", 4) != 0) {
        return E_UNEXPECTED;
    }
    if (product == FILE_VERSION_TRITON) {
        return E_INVALIDARG;
    }

    unsigned char chunk[kChunkHeaderSize] = {};
    hr = bq::pcg::ReadFile(&open, chunk, kChunkHeaderSize, &got);
    if (FAILED(hr)) {
        return hr;
    }
    if (got < kChunkHeaderSize) {
        return E_UNEXPECTED;
    }
    if (std::memcmp(chunk, "PCG1", 4) != 0) {
        return E_UNEXPECTED;
    }
    struct stat st = {};
    if (::fstat(open.fd, &st) != 0) {
        return LastSystemError();
    }
    // The root chunk must run exactly to the end of the file (32-bit length, as on disk).
    const auto fileLength = static_cast<std::uint32_t>(st.st_size);
    if (fileLength - static_cast<std::uint32_t>(open.position) != BigEndian32(chunk + 4)) {
        return E_UNEXPECTED;
    }

    CKorgPCGSection* made = nullptr;
    hr = CreateSection(chunk, &made);
    if (FAILED(hr)) {
        return hr;
    }
    // "PCG1" always makes a container; the factory's table guarantees the type.
    m_rootSection.reset(static_cast<CKorgPCGRootContainerSection*>(made));
    hr = m_rootSection->Read(chunk, this);
    if (FAILED(hr)) {
        m_rootSection.reset();
        return hr;
    }
    return S_OK;
}
