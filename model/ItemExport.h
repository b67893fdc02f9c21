#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "model/ItemCatalog.h"

// Lists of items for other programs and for reading: CSV and the tree's own text layout,
// both UTF-8. Names are bytes from the records; the views show them as Latin-1, and so do
// the exports.
namespace bq {

std::string Latin1ToUtf8(std::string_view text);

// One CSV line ending in "\n": the fields joined by commas, a field that holds a comma, a
// double quote, CR or LF written in double quotes with its quotes doubled.
void AppendCsvLine(std::string& out, std::initializer_list<std::string_view> fields);

// The line "kind,bank,slot,name", then one line per item in catalogue order.
std::string ExportCsv(const ItemCatalog& catalog);

// As the bank tree shows the items: "Combinations" and "Programs" always, a bank line for
// each bank holding items ("Bank F (MOSS)" for Program bank F), then "000 : Name" lines.
std::string ExportText(const ItemCatalog& catalog);

}  // namespace bq
