#include "model/Result.h"

#include <cerrno>
#include <cstring>

namespace bq {

std::string ResultText(HRESULT code) {
    if (code == E_UNEXPECTED) {
        return "The file is not a valid Karma PCG file, or it is damaged.";
    }
    if (code == E_FAIL) {
        return "The file contains a section that this program does not recognise.";
    }
    const auto bits = static_cast<std::uint32_t>(code);
    if ((bits & 0xFFFF0000u) == 0x80070000u) {
        // 0x8007000E is the out-of-memory code whatever errno 14 means on this system.
        const int e = code == E_OUTOFMEMORY ? ENOMEM : static_cast<int>(bits & 0xFFFFu);
        return std::strerror(e);
    }
    return {};
}

}  // namespace bq
