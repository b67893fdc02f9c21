#include "Commands.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <system_error>

#include "ListerText.h"
#include "model/ItemCatalog.h"
#include "model/ItemExport.h"
#include "model/KorgPCGFile.h"
#include "model/ProgramUsers.h"
#include "model/SameSound.h"
#include "model/Timbres.h"

namespace bq::lister {

namespace {

namespace fs = std::filesystem;

const char* const kFolderContext = "Search Folder";

void Write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
}

// Errors name their file: a search passes over many. Standard output is flushed first to
// keep results and errors in order on a shared terminal.
void ReportFailure(const std::string& path, const std::string& text) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s\n", Printable(path).c_str(), text.c_str());
}

bool LoadOrReport(CKorgPCGFile& file, const std::string& path) {
    const HRESULT hr = file.Load(path.c_str());
    if (FAILED(hr)) {
        ReportFailure(path, LoadErrorText(hr));
        return false;
    }
    return true;
}

bool IsPcgName(const fs::path& path) {
    std::string extension = path.extension().string();
    return FoldCase(extension) == ".pcg";
}

std::string BankText(long bank) {
    return std::string(1, BankLetter(bank));
}

class Finder {
public:
    explicit Finder(const std::string& text) : m_text(text) {}

    void SearchPath(const std::string& path) {
        std::error_code ec;
        // A folder named on the command line is searched even through a symbolic link.
        if (fs::is_directory(path, ec)) {
            SearchFolder(path);
        } else {
            SearchFile(path);  // anything else named is tried, and its failure reported
        }
    }

    bool Matched() const { return m_matched; }

private:
    void SearchFile(const std::string& path) {
        CKorgPCGFile file;
        if (!LoadOrReport(file, path)) {
            return;
        }
        const ItemCatalog catalog = ItemCatalog::FromRoot(*file.GetRootContainer());
        catalog.Find(m_text, m_hits);
        if (m_hits.empty()) {
            return;
        }
        m_matched = true;
        const std::string shown = Printable(path);
        std::string out;
        for (const std::uint32_t i : m_hits) {
            const ItemCatalog::Entry& e = catalog.At(i);
            out += shown + '\t' + KindName(e.kind) + '\t' + BankLetter(e.bank) + '\t' +
                   SlotText(e.slot) + '\t' + PrintableName(e.name) + '\n';
        }
        Write(out);
    }

    // In name order, so that the output is the same on every run. Linked folders inside are
    // not followed: a link to a parent would never end.
    void SearchFolder(const fs::path& folder) {
        std::error_code ec;
        std::vector<fs::directory_entry> entries;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            entries.push_back(*it);
        }
        if (ec) {
            ReportFailure(folder.string(), std::string(kFolderContext) + ". " +
                                               ResultText(HResultFromErrno(ec.value())));
            return;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const fs::directory_entry& a, const fs::directory_entry& b) {
                      return a.path().filename().native() < b.path().filename().native();
                  });
        for (const fs::directory_entry& entry : entries) {
            std::error_code ignored;
            const bool link = entry.is_symlink(ignored);
            if (!link && entry.is_directory(ignored)) {
                SearchFolder(entry.path());
                continue;
            }
            if (!IsPcgName(entry.path())) {
                continue;
            }
            // Only regular files are opened: a pipe named .pcg would wait for a writer for
            // ever. A link that leads nowhere is reported like a missing file.
            const fs::file_status target = entry.status(ignored);
            if (fs::is_regular_file(target) || (link && !fs::exists(target))) {
                SearchFile(entry.path().string());
            }
        }
    }

    std::string m_text;
    std::vector<std::uint32_t> m_hits;
    bool m_matched = false;
};

const char* StatusText(SlotStatus status) {
    switch (status) {
        case SlotStatus::Same:
            return "same";
        case SlotStatus::MovedTo:
            return "moved TO";
        case SlotStatus::Changed:
            return "changed";
        case SlotStatus::OnlyInA:
            return "only in A";
        case SlotStatus::OnlyInB:
            return "only in B";
    }
    return "";
}

std::string NameAt(const ItemCatalog& catalog, std::size_t index) {
    return index == ItemCatalog::npos ? std::string() : PrintableName(catalog.At(index).name);
}

// For a Combination that is the same in both files: its internal Programs that A and B hold
// differently, as "programs differ: A 012, F 003"; empty when none do.
std::string ProgramsDiffer(const ItemCatalog& a, const ItemCatalog& b, std::size_t combi) {
    std::string differ;
    for (const ProgramRef program : DifferingPrograms(a, combi, b, false)) {
        differ += (differ.empty() ? "programs differ: " : ", ") + ProgramRefText(program);
    }
    return differ;
}

// Prints what `lines` makes of each file's catalogue, in the order given; a file that cannot be
// read is reported and the others go on. 1 when one could not be read or printing failed.
int EachCatalog(const std::vector<std::string>& files,
                const std::function<void(const std::string& shown, const ItemCatalog& catalog,
                                         std::string* out)>& lines) {
    int status = 0;
    std::string out;
    for (const std::string& path : files) {
        CKorgPCGFile file;
        if (!LoadOrReport(file, path)) {
            status = 1;
            continue;
        }
        out.clear();
        lines(Printable(path), ItemCatalog::FromRoot(*file.GetRootContainer()), &out);
        Write(out);
    }
    if (std::fflush(stdout) != 0) {
        status = 1;
    }
    return status;
}

}  // namespace

int FindCommand(const std::string& text, const std::vector<std::string>& paths) {
    Finder finder(text);
    for (const std::string& path : paths) {
        finder.SearchPath(path);
    }
    const bool written = std::fflush(stdout) == 0;
    return finder.Matched() && written ? 0 : 1;
}

int CompareCommand(const std::string& pathA, const std::string& pathB) {
    CKorgPCGFile fileA;
    CKorgPCGFile fileB;
    const bool loadedA = LoadOrReport(fileA, pathA);
    const bool loadedB = LoadOrReport(fileB, pathB);
    if (!loadedA || !loadedB) {
        return 2;
    }
    const ItemCatalog a = ItemCatalog::FromRoot(*fileA.GetRootContainer());
    const ItemCatalog b = ItemCatalog::FromRoot(*fileB.GetRootContainer());
    const Comparison comparison = Compare(a, b);
    std::string out;
    for (const SlotComparison& s : comparison.slots) {
        std::string status = StatusText(s.status);
        if (s.status == SlotStatus::MovedTo) {
            const ItemCatalog::Entry& to = b.At(s.movedTo);
            status += ' ' + BankText(to.bank) + ' ' + SlotText(to.slot);
        }
        out += std::string(KindName(s.kind)) + '\t' + BankLetter(s.bank) + '\t' + SlotText(s.slot) +
               '\t' + status + '\t' + NameAt(a, s.a) + '\t' + NameAt(b, s.b);
        // A same Combination may still sound different when its Programs differ: a seventh
        // field says so, leaving the six that scripts read as they were.
        if (s.status == SlotStatus::Same && s.kind == ItemKind::Combination) {
            const std::string differ = ProgramsDiffer(a, b, s.a);
            if (!differ.empty()) {
                out += '\t' + differ;
            }
        }
        out += '\n';
    }
    const ComparisonSummary& sum = comparison.summary;
    char summary[160];
    std::snprintf(summary, sizeof summary,
                  "%zu same, %zu moved, %zu changed, %zu only in A, %zu only in B\n", sum.same,
                  sum.movedTo, sum.changed, sum.onlyInA, sum.onlyInB);
    out += summary;
    Write(out);
    if (std::fflush(stdout) != 0) {
        return 2;
    }
    return sum.Identical() ? 0 : 1;
}

int CsvCommand(const std::vector<std::string>& files) {
    std::string header;
    AppendCsvLine(header, {"file", "kind", "bank", "slot", "name"});
    Write(header);
    return EachCatalog(files,
                       [](const std::string& shown, const ItemCatalog& catalog, std::string* out) {
                           for (std::size_t i = 0; i < catalog.Size(); ++i) {
                               const ItemCatalog::Entry& e = catalog.At(i);
                               AppendCsvLine(*out, {shown, KindName(e.kind), BankText(e.bank),
                                                    SlotText(e.slot), PrintableName(e.name)});
                           }
                       });
}

int TimbresCommand(const std::vector<std::string>& files) {
    return EachCatalog(files, [](const std::string& shown, const ItemCatalog& catalog,
                                 std::string* out) {
        for (std::size_t i = 0; i < catalog.Size(); ++i) {
            const ItemCatalog::Entry& e = catalog.At(i);
            if (e.kind != ItemKind::Combination) {
                break;  // Combinations come first
            }
            const std::string combi = shown + '\t' + BankLetter(e.bank) + '\t' + SlotText(e.slot) +
                                      '\t' + PrintableName(e.name) + '\t';
            for (const Timbre& t : ReadTimbres(catalog.Item(i))) {
                if (!t.PlaysInternalProgram()) {
                    continue;
                }
                *out +=
                    combi + std::to_string(t.number) + '\t' + TimbreStatusName(t.status) + '\t' +
                    ProgramBankText(t.programBank) + '\t' + SlotText(t.programSlot) + '\t' +
                    NameAt(catalog, ProgramIndex(catalog, {t.programBank, t.programSlot})) + '\n';
            }
        }
    });
}

}  // namespace bq::lister
