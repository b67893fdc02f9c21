#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

#include "model/ItemCatalog.h"

// Item lists for other programs: CSV lines, UTF-8. Names are bytes from the records; the
// views show them as Latin-1, and so do the lists.
namespace bq {

std::string Latin1ToUtf8(std::string_view text);

// One CSV line ending in "\n": the fields joined by commas, a field that holds a comma, a
// double quote, CR or LF written in double quotes with its quotes doubled.
void AppendCsvLine(std::string& out, std::initializer_list<std::string_view> fields);

}  // namespace bq
