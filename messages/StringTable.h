#pragma once

#include <QString>

#include <array>

#include "messages/StringId.h"
#include "model/ItemCatalog.h"

namespace bq {

// The text of a string-table entry; empty for a number without text.
QString LoadString(StringId id);

// "Combination" or "Program", as the windows name an item's kind.
QString KindText(ItemKind kind);

// The names of banks A to F as the bank trees show them; program bank F is the MOSS bank.
inline constexpr std::array<StringId, 6> kCombiBankNames = {StringId::BankA, StringId::BankB,
                                                            StringId::BankC, StringId::BankD,
                                                            StringId::BankE, StringId::BankF};
inline constexpr std::array<StringId, 6> kProgramBankNames = {StringId::BankA, StringId::BankB,
                                                              StringId::BankC, StringId::BankD,
                                                              StringId::BankE, StringId::BankFMoss};

}  // namespace bq
