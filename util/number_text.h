// The one place that turns text into numbers, under two kinds of policy, each reader named
// for its own.
// Lenient, for the windows and the files the tool wrote: a field is read the way the board's
// own tool always read it (leading white space, a sign and the leading digits; whatever
// follows is ignored; a text without digits is 0). Each reader says how it treats white
// space and a number too long for it (saturate, wrap, or refuse), since a changed reading
// would be a changed frame.
// Strict, for the command line, typed addresses and passwords: the whole text must be the
// number, within a given maximum; anything else is refused.
// No reader reads past the end of its text.
#pragma once
#include <cstddef>
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
// A longer run keeps its last eight digits.
uint32_t parseHexAfterPrefix(const std::string& text);
// The same, 64 bits wide, reading no more than the first sixteen digits.
uint64_t parseHex64AfterPrefix(const std::string& text);
// True when text starts with "0x" or "0X".
bool hasHexPrefix(const std::string& text);
// The value of one hex digit (either case), -1 for any other character.
int hexDigitValue(char c);
// Up to maxDigits hex digits from text[*pos] on; advances *pos past them and sets *digits to
// how many were read.
uint64_t readHexDigits(const std::string& text, size_t* pos, int maxDigits, int* digits);

// Fixed point as the board's own tool reads it: an optional leading '-', then every character
// up to '.' or ',' taken as a digit worth (code - '0'), nothing validated; at most `decimals`
// characters after the separator, the rest ignored; the value times 10^decimals, wrapping at
// 64 bits ("12,5", 2 -> 1250; "1.239", 2 -> 123; "" -> 0).
int64_t parseFixedWrapping(const char* text, unsigned decimals);
// The same wrapping at 32 bits, the width of the board's fields; 0 for a null text.
int32_t parseFixed(const char* text, unsigned decimals);
// Leading spaces (only ' '), an optional sign and the leading decimal digits, wrapping at 64
// bits; 0 without digits.
uint64_t parseLeadingDecimalWrapping(const std::string& text);
// At *p: white space, an optional sign and at least one digit, as "%u" reads them (a value
// beyond 32 bits stands at 0xFFFFFFFF, a negative one wraps). Advances *p past the number;
// false, with *p and *out untouched, when no digit follows.
bool readSaturatingU32(const char** p, uint32_t* out);
// At *p: white space, an optional sign and at least one digit, as "%d" reads them (a value
// beyond 64 bits stands at the 64-bit limit, then keeps its low 32 bits). Advances *p past
// the number; false, with *out untouched, when no digit follows.
bool readScanfInt(const char** p, int* out);
// At *p: white space, then any one character, as " %c" reads it; false at the end of text.
bool readScanfChar(const char** p, char* out);

// Which white space may stand before a leading number.
enum class LeadingBlanks { Spaces, SpacesAndTabs, Any };
// Blanks, an optional '+' and at least one decimal digit; what follows is ignored. False,
// with *out untouched, without a digit or when the number does not fit in 32 bits.
bool parseLeadingU32(const char* text, LeadingBlanks blanks, uint32_t* out);

// ---- strict ----
// A whole number as the engineer types it: decimal, or hexadecimal after "0x" ("12" is
// twelve, "0x12" eighteen). Nothing but the digits (no sign, no spaces); false for an empty
// text, another character, or a value above max (*out is then untouched).
bool parseNumberText(const std::string& text, uint64_t max, uint64_t* out);
// Decimal digits only: no sign, no spaces, 1 to maxDigits of them (leading zeros count), the
// value at most max. False otherwise (*out is then untouched).
bool parseStrictDecimal(const std::string& text, size_t maxDigits, uint64_t max, uint64_t* out);
// Hundredths as typed on the command line: "12.5", "12,50", "7", ".5": digits, an optional
// '.' or ',' and at most two decimals, whole part at most 99999999. Signs, letters, spaces, a
// third decimal or a text without digits are refused (*out is then untouched).
bool parseStrictHundredths(const std::string& text, int64_t* out);
