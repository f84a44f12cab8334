#pragma once
// VB form text (.frm, .ctl, .dsr, .pag, .dob): the "X.frx":HHHH references into the blob file
// beside it, and the Begin / BeginProperty nesting that says whose property each one is.
//
//   Begin VB.Form Form1                    Begin VB.Image Image1
//      Icon = "Form1.frx":0000                Index = 2
//      BeginProperty Font {GUID}              Picture = "Form1.frx":014A
//      EndProperty                         End
//
// The text is in the locale's character set; names come out as UTF-8.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace falcet {

// The last component of a name as a project writes it (after either slash).
[[nodiscard]] std::string_view lastNameComponent(std::string_view name);

// One reference in a form text: '"' name '"' ':' and one to eight hex digits, the name on one
// line.
struct CompanionReference {
  std::string file;                  // the name's last component, UTF-8
  std::int64_t offset = 0;
  std::size_t digitsBegin = 0;       // where the offset's digits stand in the text
  std::size_t digitsEnd = 0;
};

// The first reference in text at or after from, or nullopt. A '"' byte is never the second byte
// of a double-byte character in the character sets VB used (Big5, GBK, Shift-JIS all start their
// second bytes at 0x40), so the bytes can be read as they are.
[[nodiscard]] std::optional<CompanionReference> findReference(std::string_view text, std::size_t from);

// A reference with the property it is the value of: "Form1.imgState(2).Picture" (the form, the
// control with its index in a control array, the property path through BeginProperty).
struct OwnedReference {
  CompanionReference ref;
  std::string owner;
};

// Every reference that is a property's value, in the order the controls close.
[[nodiscard]] std::vector<OwnedReference> parseFormText(std::string_view text);

// Which references are the blob file blobFileName's (UTF-8; any folder ignored): those naming
// it; a blob file copied under another name keeps the project's name in its form text, so failing
// those, the references whose name ends the name on disk ("Form1.frx" in "Copy of Form1.frx"),
// failing those all references when they all name one file.
[[nodiscard]] std::vector<OwnedReference> referencesOf(std::vector<OwnedReference> all, std::string_view blobFileName);

}  // namespace falcet
