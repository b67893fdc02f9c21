#pragma once

#include <string>

class CKarmaObject;

namespace bq {

// An item node's text: the slot as "%.3ld : " and then the item's name, made the way the
// views make it (a 25-character text, the name written at character 6 with a length of 19).
std::string ItemText(long slot, const CKarmaObject& item);

}  // namespace bq
