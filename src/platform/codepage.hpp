#pragma once
// Text is UTF-8 inside the program. The locale's character set (the "ANSI code page" of the
// files this program reads and writes) appears only at the edges: the settings file, the log,
// file names and marker bytes. These functions are the one place where the two meet.
//
// Call initLocale() once at start-up (it runs setlocale(LC_ALL, "")); until then the C locale
// applies and its character set is taken as ASCII-compatible pass-through. On Windows the
// character set is the ANSI code page (GetACP), and paths go UTF-8 <-> UTF-16 directly, never
// through the code page.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace falcet {

// Sets the process locale from the environment. Returns the character set name it found.
std::string initLocale();

// The character set name of the current locale (nl_langinfo(CODESET)).
[[nodiscard]] std::string localeCharset();

// True when the locale's character set is UTF-8 (or plain ASCII), so that conversion is identity.
[[nodiscard]] bool localeIsUtf8();

// UTF-8 -> bytes in the locale's character set. A character that the set cannot hold becomes "?",
// as the platform's own conversion does.
[[nodiscard]] std::string utf8ToLocale(std::string_view utf8);

// Bytes in the locale's character set -> UTF-8. A byte sequence that is not valid in the set
// becomes U+FFFD.
[[nodiscard]] std::string localeToUtf8(std::string_view bytes);

// Bytes in the named character set -> UTF-8, invalid sequences as U+FFFD.
[[nodiscard]] std::string charsetToUtf8(std::string_view bytes, const char* charset);

// The longest start of a UTF-8 text whose locale form has at most maxBytes bytes; never cuts
// inside a character.
[[nodiscard]] std::string cutToLocaleBytes(std::string_view utf8, std::size_t maxBytes);

// A path for the file system from a UTF-8 file name, and back.
[[nodiscard]] std::filesystem::path nativePath(std::string_view utf8);
[[nodiscard]] std::string utf8Path(const std::filesystem::path& path);

// Text that claims to be UTF-8 made well-formed: every byte that does not start a well-formed
// character (RFC 3629) becomes U+FFFD.
[[nodiscard]] std::string wellFormedUtf8(std::string_view bytes);

// UTF-16 bytes (little- or big-endian) -> UTF-8; an unpaired surrogate or an odd last byte
// becomes U+FFFD.
[[nodiscard]] std::string utf16ToUtf8(std::string_view bytes, bool bigEndian);

// For tests: the conversions use this code page (950, 1252, 65001, ...) instead of the system's.
// Windows only; 0 goes back to the system's. Elsewhere the locale decides and this does nothing.
void useCodePageForTesting(unsigned codePage);

// Number of bytes of the UTF-8 character that starts with lead (1 for a stray byte).
[[nodiscard]] std::size_t utf8CharLength(unsigned char lead);

}  // namespace falcet
