// bankquill-pcg FILE...: prints the Combination and Program banks of each PCG file as the
// PCG window shows them, so that musicians and scripts can catalogue files without the
// desktop program.
#include <cstdio>
#include <string>

#include "model/ItemText.h"
#include "model/KorgPCGFile.h"
#include "model/Ref.h"

namespace {

// The view's labels; the lister links the model only, not the string table.
const char* const kCombinations = "Combinations";
const char* const kPrograms = "Programs";
const char* const kCombiBankNames[] = {"Bank A", "Bank B", "Bank C", "Bank D", "Bank E", "Bank F"};
const char* const kProgramBankNames[] = {"Bank A", "Bank B", "Bank C",
                                         "Bank D", "Bank E", "Bank F (MOSS)"};
const char* const kLoadContext = "Load PCG File";
const char* const kTritonRefused = "Triton format PCG files are not currently supported.";
const char* const kUnknownError = "An unknown error occurred.";

// Names come from the file: control characters would break the one-item-per-line output
// or drive the terminal, so they are shown as '?'.
std::string Printable(std::string text) {
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            c = '?';
        }
    }
    return text;
}

template <typename GetBank, typename GetItem>
void PrintBanks(const char* const (&names)[6], GetBank bankOf, GetItem itemOf) {
    for (long b = 0; b < 6; ++b) {
        auto* bank = bankOf(b);
        if (bank == nullptr) {
            continue;
        }
        bool named = false;
        for (long s = 0; s < 128; ++s) {
            auto item = bq::Ref<CKarmaObject>::Adopt(itemOf(*bank, s));
            if (!item) {
                continue;
            }
            if (!named) {
                std::printf("  %s\n", names[b]);
                named = true;
            }
            std::printf("    %s\n", Printable(bq::ItemText(s, *item)).c_str());
        }
    }
}

// Groups always show; banks without items are left out.
void PrintTree(CKarmaRootContainer& root) {
    std::printf("%s\n", kCombinations);
    PrintBanks(
        kCombiBankNames, [&root](long b) { return root.GetCombiBank(b); },
        [](CKarmaCombiBank& bank, long s) -> CKarmaObject* { return bank.GetCombi(s); });
    std::printf("%s\n", kPrograms);
    PrintBanks(
        kProgramBankNames, [&root](long b) { return root.GetProgramBank(b); },
        [](CKarmaProgramBank& bank, long s) -> CKarmaObject* { return bank.GetProgram(s); });
}

void PrintLoadError(HRESULT hr) {
    if (hr == E_INVALIDARG) {
        std::fprintf(stderr, "%s\n", kTritonRefused);
        return;
    }
    std::string detail = bq::ResultText(hr);
    if (detail.empty()) {
        detail = kUnknownError;
    }
    std::fprintf(stderr, "%s. %s\n", kLoadContext, detail.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: bankquill-pcg FILE...\n");
        return 2;
    }
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        CKorgPCGFile file;
        const HRESULT hr = file.Load(argv[i]);
        if (FAILED(hr)) {
            std::fflush(stdout);  // keep the order of trees and errors on a shared terminal
            PrintLoadError(hr);
            status = 1;
            continue;
        }
        PrintTree(*file.GetRootContainer());
    }
    if (std::fflush(stdout) != 0) {
        status = 1;
    }
    return status;
}
