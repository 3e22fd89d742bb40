#pragma once
// Flash addresses as texts: what the window's hexadecimal edits can hold, and what an operator
// may type for one on the command line.
#include <optional>
#include <string>
#include <string_view>

// The most hexadecimal digits an address edit takes.
inline constexpr std::size_t kAddressDigits = 8;

// True when text is 1 to 8 hexadecimal digits (either case) and nothing else: a text the
// window's address edit could have produced.
bool PELOR_IsAddressText(std::string_view text);

// A typed address: 1 to 8 hexadecimal digits, optionally after "0x" or "0X". Returns the digits
// without the prefix, or nothing when the text is anything else.
std::optional<std::string> PELOR_TypedAddress(std::string_view text);
