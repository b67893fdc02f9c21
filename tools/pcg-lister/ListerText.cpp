#include "ListerText.h"

#include "model/ItemExport.h"

namespace bq::lister {

namespace {

const char* const kLoadContext = "Load PCG File";
const char* const kTritonRefused = "Triton format PCG files are not currently supported.";
const char* const kUnknownError = "An unknown error occurred.";

}  // namespace

std::string Printable(std::string text) {
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            c = '?';
        }
    }
    return text;
}

std::string PrintableName(const std::string& name) {
    std::string text = Printable(name);
    for (char& c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x80 && u <= 0x9F) {
            c = '?';
        }
    }
    return Latin1ToUtf8(text);
}

std::string LoadErrorText(HRESULT hr) {
    if (hr == E_INVALIDARG) {
        return kTritonRefused;
    }
    std::string detail = ResultText(hr);
    if (detail.empty()) {
        detail = kUnknownError;
    }
    return std::string(kLoadContext) + ". " + detail;
}

}  // namespace bq::lister
