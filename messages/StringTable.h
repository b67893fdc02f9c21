#pragma once

#include <QString>

namespace bq {

// The text of a string-table entry; empty for a number without text.
QString LoadString(int id);
const char* StringText(int id);

}  // namespace bq
