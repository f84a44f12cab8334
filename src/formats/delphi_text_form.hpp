#pragma once
// Delphi, C++Builder, Lazarus and FireMonkey forms saved as text (.dfm, .lfm, .fmx, .xfm): the
// objects and properties of a form stream, one per line. The reader accepts
//
//   form     := object
//   object   := ("object" | "inherited" | "inline") [Name ":"] Class ["[" n "]"] line
//               { property | object } "end"
//   property := Path "=" value            Path: identifiers joined by "."
//   value    := "{" hex... "}"            a binary value, over lines or on one line
//             | "<" { "item" { property } "end" } ">"   a collection ("end>" closes both)
//             | anything else on the line (strings, numbers, sets, lists: skipped)
//
// Only binary values are kept. A binary value's hex, decoded, is exactly the value of the binary
// stream (the bytes after the tag 0A and their u32 length). Lines are taken as they come; a line
// that is none of the above is skipped, so a string or list continued over lines costs nothing.
// What cannot be read is refused whole: a binary value with a character that is no hex digit or
// space, an odd number of digits, or no closing brace; "end" with nothing open.
//
// The binary view: every binary value in file order as a binary stream stores a property, its
// name as a short string, the tag 0A, the u32 length and the decoded bytes. The kinds of a binary
// form find their pictures in it at the same places relative to the value; offsets in the view
// are what the log of a text form records.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/bytes.hpp"

namespace falcet {

struct TextFormValue {
  std::size_t line = 0;           // 1-based line of the property
  std::size_t hexBegin = 0;       // text offset just after "{"
  std::size_t hexEnd = 0;         // text offset of "}"
  std::string name;               // the property path as written ("Picture.Data")
  std::string path;               // as a binary stream's reader names it ("TForm1.Image1.Picture.Data")
  std::vector<unsigned char> bytes;  // decoded
  std::int64_t viewBegin = -1;    // where bytes start in the binary view; -1: not in it (name too long)
  // How the hex is laid out, to write it again alike.
  bool oneLine = false;           // "{HEX}" on the property line
  std::string head;               // from "{" to the first digit (the line end and the first indent)
  std::string lineStart;          // what starts every further hex line (line end and indent)
  std::size_t digitsPerLine = 64;
  std::string tail;               // from the last digit to "}"
  bool lowerCase = false;
};

struct TextForm {
  std::vector<TextFormValue> values;  // in file order
  std::vector<unsigned char> view;    // the binary view (see above)
};

// Whether bytes start (after a UTF-8 byte-order mark and blanks) with "object", "inherited" or
// "inline" and a blank, in any letter case.
[[nodiscard]] bool looksLikeTextForm(ByteSpan bytes);

// The form's binary values and view; nullopt when it cannot be read (badLine: the line where).
[[nodiscard]] std::optional<TextForm> readTextForm(ByteSpan text, std::size_t* badLine = nullptr);

// The decoded values a changed binary view holds, walked as the form's view is built (each
// value's name and tag as before, its length from the view): nullopt when the view does not
// hold exactly the form's values.
[[nodiscard]] std::optional<std::vector<std::vector<unsigned char>>> valuesOfView(const TextForm& form, ByteSpan view);

// The text with the hex of every value whose bytes differ from newValues rewritten in the
// value's own layout (the indent of its first hex line, as many digits a line, the letter case,
// the closing brace where it stood, the line ends after "{"); every other byte as it was.
[[nodiscard]] std::vector<unsigned char> rewriteTextForm(ByteSpan text, const TextForm& form,
                                                         const std::vector<std::vector<unsigned char>>& newValues);

}  // namespace falcet
