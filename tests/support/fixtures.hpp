#pragma once
// Test fixtures made by our own code: small images, VB and Delphi form data, PE files, temporary
// folders and a message sink that records what it was asked to show.

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "transfer/result.hpp"
#include "transfer/picture_kind.hpp"
#include "transfer/source_kind.hpp"
#include "base/bytes.hpp"

namespace falcet {
// Source kinds print as the command line names them, in test names and failures.
inline std::ostream& operator<<(std::ostream& os, SourceKindValue k) { return os << sourceKindOption(k); }
}  // namespace falcet

namespace falcet::testing {

std::string u32le(std::uint32_t v);
std::string u16le(std::uint16_t v);
// Bytes as upper-case hex digits, as form files saved as text write them.
std::string upperHex(const std::string& bytes);

// The bytes of a string, for the readers of base/bytes.hpp.
inline ByteSpan asBytes(const std::string& s) {
  return {reinterpret_cast<const unsigned char*>(s.data()), s.size()};
}

// Complete small image files, each starting with its format's signature.
std::string bmpImage(int width, int height, unsigned seed);
std::string icoImage(unsigned seed);
std::string gifImage(unsigned seed);
std::string pngImage(unsigned seed);
std::string jpegImage(std::size_t bodyBytes, unsigned seed);

// A VB picture blob: u32 L+8, "lt\0\0", u32 L, image.
std::string vbPictureBlob(const std::string& image);
// A VB form data file: some filler text and records, then one picture blob per image.
std::string vbFormFile(const std::vector<std::string>& images);

// A VB blob file and its companion text file: the blob file holds, in order, a picture blob per
// image with a text blob (u32 length, text) after each; the companion names the blob file as
// blobName (letter case as given) and refers to every blob, the pictures as Picture properties,
// the texts as long captions ($"..."), each offset in upper-case hex with four digits or more.
struct VbFormPair {
  std::string blobs;
  std::string text;
};
VbFormPair vbFormPair(const std::vector<std::string>& images, const std::string& blobName);

// A binary .dfm (resource header, then a TPF0 stream) with a TPicture holding a TBitmap, a
// TBitmap Glyph.Data and the form's Icon.Data, from the given images.
std::string delphiDfmFile(const std::string& pictureBmp, const std::string& glyphBmp,
                          const std::string& icon);

// A TPF0 form stream of a newer Delphi program: a TImageCollection whose SourceImages item holds
// `Image.Data` (the image right after the block length), and a FireMonkey rectangle whose fill
// bitmap is stored under the dotted path `Fill.Bitmap.Bitmap.PNG`.
std::string delphiNewerFormStream(const std::string& collectionImage, const std::string& fillPng);

// A binary .dfm with the form's icon and count pictures of several sizes and colours, in TImage
// pictures and TSpeedButton glyphs (for looking at many pictures at once).
std::string delphiFormWithManyPictures(int count);

// A minimal PE file: MZ header, "PE\0\0" at 0x80, the given section count and first section name,
// then payload (padded to at least 1024 bytes in all).
std::string peFile(std::string_view firstSection, std::uint16_t sections, const std::string& payload);

// A well-formed 32- or 64-bit program image as a linker lays it out: headers (FileAlignment 0x200,
// SectionAlignment 0x1000, image base 0x400000), a code section named firstSection holding code,
// an import section naming imports (when any), a resource section with one RCDATA resource per
// entry of rcdata (named as given, language 0), a .reloc section when relocations, and overlay
// after the last section. With checksum, the header checksum is set as the system computes it.
struct PeLayout {
  bool is64 = false;
  std::string firstSection = ".text";
  std::string code = std::string(16, '\x90');
  std::vector<std::string> imports;
  std::vector<std::pair<std::string, std::string>> rcdata;
  bool relocations = false;
  std::string overlay;
  bool checksum = true;
};
std::string peProgram(const PeLayout& layout);

// A kind of the tests' own: "PIC", u32 L, the picture (P = marker + 7), files named .dat.
PictureKind picKind();

// The kinds of the shipped settings file.
PictureKinds shippedKinds();

void writeFile(const std::filesystem::path& path, std::string_view bytes);

// A text quoted for the shell (single quotes).
std::string shellQuoted(const std::string& text);
std::string readFile(const std::filesystem::path& path);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  [[nodiscard]] const std::filesystem::path& path() const { return m_path; }
  [[nodiscard]] std::string file(std::string_view name) const { return (m_path / name).string(); }

 private:
  std::filesystem::path m_path;
};

struct Shown {
  std::string text;
  std::string title;
  MessageKind kind;
};

class RecordingSink : public ResultSink {
 public:
  int show(std::string_view text, std::string_view title, MessageKind kind) override {
    messages.push_back({std::string(text), std::string(title), kind});
    return kind == MessageKind::Question ? answer : kButtonOk;
  }
  // Records the result and shows its text, as a sink without a result view does.
  void showResult(const ResultReport& result) override {
    results.push_back(result);
    ResultSink::showResult(result);
  }
  [[nodiscard]] bool listsPictures() const override { return true; }
  std::vector<Shown> messages;
  std::vector<ResultReport> results;
  int answer = kButtonNo;  // to every question
};

}  // namespace falcet::testing
