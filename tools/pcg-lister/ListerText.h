#pragma once

#include <string>

#include "model/Result.h"

// Texts the lister's commands share.
namespace bq::lister {

// Control characters would break the one-item-per-line output or drive the terminal: they
// are shown as '?'.
std::string Printable(std::string text);
// A name for the UTF-8 outputs: as Printable, the C1 controls of Latin-1 (0x80..0x9F) as
// '?' too, then Latin-1 as UTF-8, as the windows show names.
std::string PrintableName(const std::string& name);

// "Load PCG File. " and the reason, or the Triton refusal, as the desktop program says it.
std::string LoadErrorText(HRESULT hr);

}  // namespace bq::lister
