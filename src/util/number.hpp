#pragma once
// Numbers read from settings keys and log fields. Every function reports a failure as an empty
// optional; none throws.
//
// Integer keys (parseInteger):  blanks* [sign] (digits ["." digits] | "." digits) blanks*
//                            |  blanks* "&H" hexdigits{1,8} blanks*      (case-insensitive)
//   A fraction is rounded to the nearest integer, halves to the even one. Hex is read as a
//   32-bit pattern, so "&HFFFFFFFF" is -1. A value outside the signed 32-bit range is an overflow.
// Log fields (parseLeadingNumber): leading blanks, then the decimal number at the start of the
//   text; anything after it is ignored; no number at all reads as 0. Rounding and range as above.
// Font sizes (parseFixed4): a decimal number kept as value x 10,000, rounded half to even beyond
//   four decimals; the 64-bit range holds any size.

#include <cstdint>
#include <optional>
#include <string_view>

namespace falcet {

[[nodiscard]] std::optional<std::int32_t> parseInteger(std::string_view text);
[[nodiscard]] std::optional<std::int16_t> parseInteger16(std::string_view text);
[[nodiscard]] std::optional<std::int32_t> parseLeadingNumber(std::string_view text);
[[nodiscard]] std::optional<std::int64_t> parseFixed4(std::string_view text);
// A whole decimal number (as parseInteger's decimal form, with any number of decimals).
[[nodiscard]] std::optional<double> parseDecimal(std::string_view text);

}  // namespace falcet
