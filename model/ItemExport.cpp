#include "model/ItemExport.h"

namespace bq {

namespace {

// The view's labels; the model has no string table.
const char* const kGroupNames[] = {"Combinations", "Programs"};
const char* const kMossBankName = "Bank F (MOSS)";

bool NeedsQuotes(std::string_view field) {
    return field.find_first_of(",\"\r\n") != std::string_view::npos;
}

void AppendItemLine(std::string& out, const ItemCatalog::Entry& e) {
    out += "    ";
    out += SlotText(e.slot);
    out += " : ";
    out += Latin1ToUtf8(std::string_view(e.name, e.nameLength));
    out += '\n';
}

}  // namespace

std::string Latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80) {
            out += c;
        } else {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

void AppendCsvLine(std::string& out, std::initializer_list<std::string_view> fields) {
    bool first = true;
    for (const std::string_view field : fields) {
        if (!first) {
            out += ',';
        }
        first = false;
        if (!NeedsQuotes(field)) {
            out += field;
            continue;
        }
        out += '"';
        for (const char c : field) {
            out += c;
            if (c == '"') {
                out += '"';
            }
        }
        out += '"';
    }
    out += '\n';
}

std::string ExportCsv(const ItemCatalog& catalog) {
    std::string out;
    AppendCsvLine(out, {"kind", "bank", "slot", "name"});
    for (std::size_t i = 0; i < catalog.Size(); ++i) {
        const ItemCatalog::Entry& e = catalog.At(i);
        const char bank[] = {BankLetter(e.bank), '\0'};
        AppendCsvLine(out, {KindName(e.kind), bank, SlotText(e.slot),
                            Latin1ToUtf8(std::string_view(e.name, e.nameLength))});
    }
    return out;
}

std::string ExportText(const ItemCatalog& catalog) {
    std::string out;
    std::size_t i = 0;
    for (const ItemKind kind : {ItemKind::Combination, ItemKind::Program}) {
        out += kGroupNames[static_cast<int>(kind)];
        out += '\n';
        int bank = -1;
        for (; i < catalog.Size() && catalog.At(i).kind == kind; ++i) {
            const ItemCatalog::Entry& e = catalog.At(i);
            if (e.bank != bank) {
                bank = e.bank;
                if (kind == ItemKind::Program && bank == 5) {
                    out += std::string("  ") + kMossBankName + "\n";
                } else {
                    out += std::string("  Bank ") + BankLetter(bank) + "\n";
                }
            }
            AppendItemLine(out, e);
        }
    }
    return out;
}

}  // namespace bq
