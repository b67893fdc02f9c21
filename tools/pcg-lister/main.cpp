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
#include "tools/cli/CommandLine.h"

namespace {

// The view's labels; the lister links the model only, not the string table.
const char* const kCombinations = "Combinations";
const char* const kPrograms = "Programs";
const char* const kCombiBankNames[] = {"Bank A", "Bank B", "Bank C", "Bank D", "Bank E", "Bank F"};
const char* const kProgramBankNames[] = {"Bank A", "Bank B", "Bank C",
                                         "Bank D", "Bank E", "Bank F (MOSS)"};

enum Id { kFind, kCompare, kCsv, kTimbres, kHelp };

// The commands are options that come first; the rest of the arguments are theirs.
const bq::cli::Program kCommandLine = {
    "bankquill-pcg",
    "usage: bankquill-pcg FILE...\n"
    "       bankquill-pcg --find TEXT PATH...\n"
    "       bankquill-pcg --compare A B\n"
    "       bankquill-pcg --csv FILE...\n"
    "       bankquill-pcg --timbres FILE...\n",
    "\n"
    "Prints the Combinations and Programs of Karma PCG files as the PCG window shows them.\n"
    "\n",
    23,
    {
        {kFind, "find", 0, true, "TEXT PATH...",
         "the items whose name contains TEXT, letters in any case, in the\n"
         "files and, with their subfolders, the folders given (files ending\n"
         "in .pcg, any case): file, kind, bank, slot and name, separated by\n"
         "tabs. Exits with 0 when something matched, 1 when nothing did."},
        {kCompare, "compare", 0, false, "A B",
         "slot by slot: same, moved TO (the same record at another slot of\n"
         "B, which is named), changed, only in A or only in B, each with the\n"
         "names in A and in B; then a summary line. Exits with 0 when the\n"
         "files hold the same items in the same slots, 1 when they differ.\n"
         "A same Combination whose Int or Both timbres play Programs that\n"
         "differ between A and B gets a seventh field, \"programs differ:\"\n"
         "and those Programs (\"A 012, F 003\")."},
        {kCsv, "csv", 0, false, "FILE...", "every item as CSV: file,kind,bank,slot,name."},
        {kTimbres, "timbres", 0, false, "FILE...",
         "a line per timbre that plays an internal Program (status Int or\n"
         "Both): file, Combination bank, slot and name, timbre 1 to 8,\n"
         "status, Program bank (A to F, or GM and the bank number, such as\n"
         "GM6), Program slot and the name the file holds there (empty when\n"
         "it holds none, and for GM), separated by tabs."},
        {kHelp, "help", 0, false, nullptr, "this text."},
        {kHelp, nullptr, 'h', false, nullptr, nullptr},
    },
    "\n"
    "A file that cannot be read is reported on standard error: listing, --find, --csv and\n"
    "--timbres go on with the next (all but --find then exit with 1), --compare exits with 2.\n"
    "Wrong arguments exit with 2.\n",
    bq::cli::Complete::PcgFiles,
};

int BadUsage() {
    std::fputs(kCommandLine.usage, stderr);
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

int ListFiles(const std::vector<std::string>& paths) {
    int status = 0;
    for (const std::string& path : paths) {
        CKorgPCGFile file;
        const HRESULT hr = file.Load(path.c_str());
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

// A command is the first argument; anything else there that starts with '-' is a mistyped
// option rather than a file (name such a file ./-x).
int main(int argc, char** argv) {
    if (bq::cli::PrintDocumentation(kCommandLine, argc, argv)) {
        return 0;
    }
    bq::cli::Parsed parsed;
    if (!bq::cli::Parse(kCommandLine, argc, argv, &parsed) || parsed.options.size() > 1) {
        return BadUsage();
    }
    const std::vector<std::string>& rest = parsed.operands;
    if (parsed.options.empty()) {
        return rest.empty() ? BadUsage() : ListFiles(rest);
    }
    const bq::cli::Given& command = parsed.options.front();
    switch (command.id) {
        case kHelp:
            if (!rest.empty()) {
                return BadUsage();
            }
            std::fputs(bq::cli::HelpText(kCommandLine).c_str(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        case kFind:
            return rest.empty() ? BadUsage() : bq::lister::FindCommand(command.value, rest);
        case kCompare:
            return rest.size() == 2 ? bq::lister::CompareCommand(rest[0], rest[1]) : BadUsage();
        case kCsv:
            return rest.empty() ? BadUsage() : bq::lister::CsvCommand(rest);
        case kTimbres:
            return rest.empty() ? BadUsage() : bq::lister::TimbresCommand(rest);
    }
    return BadUsage();
}
