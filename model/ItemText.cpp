#include "model/ItemText.h"

#include <cstdio>

#include "model/KarmaObject.h"

namespace bq {

std::string ItemText(long slot, const CKarmaObject& item) {
    char text[26] = {};
    // Every real slot has three digits; spelled out by hand, as a window fills 1,536 of these.
    if (slot >= 0 && slot <= 999) {
        text[0] = static_cast<char>('0' + slot / 100);
        text[1] = static_cast<char>('0' + slot / 10 % 10);
        text[2] = static_cast<char>('0' + slot % 10);
        text[3] = ' ';
        text[4] = ':';
        text[5] = ' ';
    } else {
        std::snprintf(text, sizeof text, "%.3ld : ", slot);
    }
    item.GetName(text + 6, 19);
    return text;
}

}  // namespace bq
