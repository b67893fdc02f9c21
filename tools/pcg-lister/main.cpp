// bankquill-pcg: prints the Combination and Program banks of PCG files as the PCG window
// shows them, finds items by name across files and folders, compares two files slot by slot,
// lists items as CSV and the Programs that Combinations play, so that musicians and scripts can
// catalogue files without the desktop program.
#include <cstdio>
#include <string>
#include <vector>

#include "Commands.h"
#include "ListerText.h"
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

const char* const kUsage =
    "usage: bankquill-pcg FILE...\n"
    "       bankquill-pcg --find TEXT PATH...\n"
    "       bankquill-pcg --compare A B\n"
    "       bankquill-pcg --csv FILE...\n"
    "       bankquill-pcg --timbres FILE...\n";

const char* const kHelp =
    "\n"
    "Prints the Combinations and Programs of Karma PCG files as the PCG window shows them.\n"
    "\n"
    "  --find TEXT PATH...  the items whose name contains TEXT, letters in any case, in the\n"
    "                       files and, with their subfolders, the folders given (files ending\n"
    "                       in .pcg, any case): file, kind, bank, slot and name, separated by\n"
    "                       tabs. Exits with 0 when something matched, 1 when nothing did.\n"
    "  --compare A B        slot by slot: same, moved TO (the same record at another slot of\n"
    "                       B, which is named), changed, only in A or only in B, each with the\n"
    "                       names in A and in B; then a summary line. Exits with 0 when the\n"
    "                       files hold the same items in the same slots, 1 when they differ.\n"
    "                       A same Combination whose Int or Both timbres play Programs that\n"
    "                       differ between A and B gets a seventh field, \"programs differ:\"\n"
    "                       and those Programs (\"A 012, F 003\").\n"
    "  --csv FILE...        every item as CSV: file,kind,bank,slot,name.\n"
    "  --timbres FILE...    a line per timbre that plays an internal Program (status Int or\n"
    "                       Both): file, Combination bank, slot and name, timbre 1 to 8,\n"
    "                       status, Program bank (A to F, or GM and the bank number, such as\n"
    "                       GM6), Program slot and the name the file holds there (empty when\n"
    "                       it holds none, and for GM), separated by tabs.\n"
    "  --help               this text.\n"
    "\n"
    "A file that cannot be read is reported on standard error: listing, --find, --csv and\n"
    "--timbres go on with the next (all but --find then exit with 1), --compare exits with 2.\n"
    "Wrong arguments exit with 2.\n";

int BadUsage() {
    std::fputs(kUsage, stderr);
    return 2;
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
            std::printf("    %s\n", bq::lister::Printable(bq::ItemText(s, *item)).c_str());
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
    std::fprintf(stderr, "%s\n", bq::lister::LoadErrorText(hr).c_str());
}

int ListFiles(int argc, char** argv) {
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

}  // namespace

// Options are taken as the first argument only; anything else there that starts with '-' is
// a mistyped option rather than a file (name such a file ./-x).
int main(int argc, char** argv) {
    if (argc < 2) {
        return BadUsage();
    }
    const std::vector<std::string> rest(argv + 2, argv + argc);
    const std::string first = argv[1];
    if (first == "--help" || first == "-h") {
        if (argc != 2) {
            return BadUsage();
        }
        std::fputs(kUsage, stdout);
        std::fputs(kHelp, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (first == "--find") {
        if (rest.size() < 2) {
            return BadUsage();
        }
        return bq::lister::FindCommand(rest[0], {rest.begin() + 1, rest.end()});
    }
    if (first == "--compare") {
        return rest.size() == 2 ? bq::lister::CompareCommand(rest[0], rest[1]) : BadUsage();
    }
    if (first == "--csv") {
        return rest.empty() ? BadUsage() : bq::lister::CsvCommand(rest);
    }
    if (first == "--timbres") {
        return rest.empty() ? BadUsage() : bq::lister::TimbresCommand(rest);
    }
    if (first.size() > 1 && first[0] == '-') {
        return BadUsage();
    }
    return ListFiles(argc, argv);
}
