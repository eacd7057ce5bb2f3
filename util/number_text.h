// The one place that turns typed text into numbers, under two explicit policies.
// Lenient, for the windows: a field is read the way the board's own tool always read it
// (leading white space, a sign and the leading digits; whatever follows is ignored; a text
// without digits is 0; very long numbers saturate instead of overflowing).
// Strict, for the command line and typed addresses: the whole text must be the number, in
// decimal or 0x-hexadecimal, within a given maximum; anything else is refused.
// No reader reads past the end of its text.
#pragma once
#include <cstdint>
#include <string>

// ---- lenient ----
// Optional white space, sign and leading digits; 0 when there are none (saturates).
int64_t parseLeadingInt(const std::string& text);
// The same taken as "%u" would: negative values wrap to 32 bits.
uint32_t parseUnsigned(const std::string& text);
// Exact decimal real scaled by 10^decimals, truncated toward zero ("2.3", 1 -> 23).
int64_t parseScaledDecimal(const std::string& text, unsigned decimals);
// Hex digits after an optional "0x" prefix ("0x1A2" and "1A2" -> 0x1A2); 0 when none.
uint32_t parseHexAfterPrefix(const std::string& text);

// ---- strict ----
// A whole number as the engineer types it: decimal, or hexadecimal after "0x" ("12" is
// twelve, "0x12" eighteen). Nothing but the digits (no sign, no spaces); false for an empty
// text, another character, or a value above max (*out is then untouched).
bool parseNumberText(const std::string& text, uint64_t max, uint64_t* out);
