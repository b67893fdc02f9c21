#pragma once

#include <cstdint>
#include <string>

// Result codes in the layout of a Windows HRESULT. They must stay 32-bit: `long` is 64 bits
// on Linux and 0x8000FFFF has to be negative.
using HRESULT = std::int32_t;

constexpr HRESULT MakeResult(std::uint32_t bits) {
    return static_cast<HRESULT>(bits);
}

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_UNEXPECTED = MakeResult(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = MakeResult(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeResult(0x80070057u);
constexpr HRESULT E_FAIL = MakeResult(0x80004005u);

constexpr bool SUCCEEDED(HRESULT hr) {
    return hr >= 0;
}
constexpr bool FAILED(HRESULT hr) {
    return hr < 0;
}

// A system error number (errno) as a result code: 0x80070000 with its low 16 bits.
constexpr HRESULT HResultFromErrno(int e) {
    return e <= 0 ? static_cast<HRESULT>(e)
                  : MakeResult(0x80070000u | (static_cast<std::uint32_t>(e) & 0xFFFFu));
}

namespace bq {
// The readable text of a result code, for error messages and the lister; empty when the code
// has no text.
std::string ResultText(HRESULT code);
}  // namespace bq
