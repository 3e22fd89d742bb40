#include "jobs/address_text.h"

namespace {

bool IsHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

}  // namespace

bool PELOR_IsAddressText(std::string_view text) {
    if (text.empty() || text.size() > kAddressDigits) return false;
    for (const char c : text) {
        if (!IsHexDigit(c)) return false;
    }
    return true;
}

std::optional<std::string> PELOR_TypedAddress(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (!PELOR_IsAddressText(text)) return std::nullopt;
    return std::string(text);
}
