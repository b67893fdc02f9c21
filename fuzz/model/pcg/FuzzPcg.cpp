// Loads arbitrary bytes as a PCG file. Whatever the bytes, the load must not crash, read out
// of bounds, leak or hang; a failed load leaves no section tree; the file is closed after
// the load; and every item that only a bank holds has exactly that one reference.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "model/KorgPCGFile.h"
#include "model/KorgPCGSection.h"

namespace {

[[noreturn]] void Broken(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

// One memory file for the whole run, rewritten for each input; Load opens it by path.
int MemoryFile() {
    static const int fd = ::memfd_create("fuzz_pcg", MFD_CLOEXEC);
    if (fd < 0) {
        Broken("memfd_create failed");
    }
    return fd;
}

void CheckBanks(CKarmaRootContainer& root) {
    for (long b = 0; b < 6; ++b) {
        for (long s = 0; s < 128; ++s) {
            if (CKarmaProgram* p = root.GetProgramBank(b)->GetProgram(s)) {
                if (p->RefCount() != 2) {
                    Broken("a program held by a bank alone has more than one reference");
                }
                p->Release();
            }
            if (CKarmaCombi* c = root.GetCombiBank(b)->GetCombi(s)) {
                if (c->RefCount() != 2) {
                    Broken("a combination held by a bank alone has more than one reference");
                }
                c->Release();
            }
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = MemoryFile();
    if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        Broken("cannot write the memory file");
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    CKorgPCGFile file;
    const HRESULT hr = file.Load(path.c_str());
    if (file.GetFile() != nullptr) {
        Broken("the file stayed open");
    }
    if (FAILED(hr) && file.GetRootSection() != nullptr) {
        Broken("a failed load left a section tree");
    }
    if (SUCCEEDED(hr) && (hr != S_OK || file.GetRootSection() == nullptr)) {
        Broken("a successful load without a section tree");
    }
    CheckBanks(*file.GetRootContainer());
    return 0;
}
