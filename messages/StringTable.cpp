#include "messages/StringTable.h"

#include <algorithm>
#include <iterator>

namespace bq {
namespace {

struct Entry {
    StringId id;
    const char* text;
};

constexpr Entry kStrings[] = {
#include "strings.inc"
};

const char* StringText(StringId id) {
    auto it = std::find_if(std::begin(kStrings), std::end(kStrings),
                           [id](const Entry& e) { return e.id == id; });
    return it == std::end(kStrings) ? "" : it->text;
}

}  // namespace

QString LoadString(StringId id) {
    return QString::fromUtf8(StringText(id));
}

QString KindText(ItemKind kind) {
    return LoadString(kind == ItemKind::Combination ? StringId::KindCombination
                                                    : StringId::KindProgram);
}

}  // namespace bq
