#include "model/ItemText.h"

#include <cstdio>

#include "model/KarmaObject.h"

namespace bq {

std::string ItemText(long slot, const CKarmaObject& item) {
    char text[26] = {};
    std::snprintf(text, sizeof text, "%.3ld : ", slot);
    item.GetName(text + 6, 19);
    return text;
}

}  // namespace bq
