// Forms saved as text: read into binary values and a binary view, written back only where a
// value changed, in the value's own layout; the graphic classes' kinds found in them; and the
// whole export and import of a text form.

#include <gtest/gtest.h>

#include "formats/delphi_text_form.hpp"
#include "support/fixtures.hpp"
#include "transfer/export.hpp"
#include "transfer/import.hpp"
#include "transfer/log_reader.hpp"
#include "transfer/picture_list.hpp"

namespace falcet {
namespace {

enum class Dialect { Delphi, Lazarus };

// A binary value as the IDEs write it: the property line, lines of 64 digits indented two more,
// "}" after the last digit (Delphi) or on a line of its own (Lazarus).
std::string hexValue(const std::string& indent, const std::string& name, const std::string& bytes, Dialect d,
                     const std::string& eol) {
  std::string out = indent + name + " = {";
  const std::string hex = testing::upperHex(bytes);
  for (std::size_t at = 0; at < hex.size(); at += 64) out += eol + indent + "  " + hex.substr(at, 64);
  out += d == Dialect::Delphi ? "}" : eol + indent + "}";
  return out + eol;
}

// A form with an icon, an image, an image list collection whose item holds a picture, a
// one-line value, and strings that look like values.
std::string textForm(Dialect d, const std::string& eol, const std::string& icon, const std::string& picture,
                     const std::string& itemPng) {
  std::string t = "object Form1: TForm1" + eol + "  Left = 10" + eol + "  Caption = 'Picture.Data = {'" + eol;
  t += hexValue("  ", "Icon.Data", (d == Dialect::Lazarus ? testing::u32le(static_cast<std::uint32_t>(icon.size())) : "") + icon, d, eol);
  t += "  object Image1: TImage" + eol + "    Hint = 'end'" + eol;
  t += hexValue("    ", "Picture.Data", "\x07TBitmap" + testing::u32le(static_cast<std::uint32_t>(picture.size())) + picture, d, eol);
  t += "  end" + eol + "  object List1: TsAlphaImageList" + eol + "    Items = <" + eol + "      item" + eol;
  t += hexValue("        ", "ImgData", itemPng, d, eol);
  t += "      end>" + eol + "    StyleExt = {00070000}" + eol + "  end" + eol + "end" + eol;
  return t;
}

struct DialectCase {
  const char* name;
  Dialect dialect;
  const char* eol;
};

class TextForms : public ::testing::TestWithParam<DialectCase> {};

TEST_P(TextForms, ReadAsTheBinaryValuesWithTheirPaths) {
  const auto& c = GetParam();
  const std::string icon = testing::icoImage(1), bmp = testing::bmpImage(8, 4, 2), png = testing::pngImage(3);
  const std::string text = textForm(c.dialect, c.eol, icon, bmp, png);
  ASSERT_TRUE(looksLikeTextForm(testing::asBytes(text)));
  const auto form = readTextForm(testing::asBytes(text));
  ASSERT_TRUE(form);
  ASSERT_EQ(form->values.size(), 4u);
  EXPECT_EQ(form->values[0].path, "TForm1.Icon.Data");
  EXPECT_EQ(form->values[1].path, "TForm1.Image1.Picture.Data");
  EXPECT_EQ(form->values[2].path, "TForm1.List1.Items[0].ImgData");
  EXPECT_EQ(form->values[3].path, "TForm1.List1.StyleExt");
  EXPECT_TRUE(form->values[3].oneLine);
  const std::string image = std::string(form->values[1].bytes.begin(), form->values[1].bytes.end());
  EXPECT_EQ(image.substr(12), bmp);
  // The view holds each value as a binary stream does: name, 0A, u32 length, bytes.
  const std::string view(form->view.begin(), form->view.end());
  const std::string expect = "\x09Icon.Data\x0A" + testing::u32le(static_cast<std::uint32_t>(form->values[0].bytes.size()));
  EXPECT_EQ(view.substr(0, expect.size()), expect);
  EXPECT_EQ(view.substr(static_cast<std::size_t>(form->values[2].viewBegin), png.size()), png);
}

TEST_P(TextForms, ChangedValueIsWrittenInItsOwnLayoutAndNothingElseMoves) {
  const auto& c = GetParam();
  const std::string icon = testing::icoImage(1), bmp = testing::bmpImage(8, 4, 2), png = testing::pngImage(3);
  const std::string text = textForm(c.dialect, c.eol, icon, bmp, png);
  const auto form = readTextForm(testing::asBytes(text));
  ASSERT_TRUE(form);
  std::vector<std::vector<unsigned char>> values;
  for (const auto& v : form->values) values.push_back(v.bytes);
  EXPECT_EQ(rewriteTextForm(testing::asBytes(text), *form, values), std::vector<unsigned char>(text.begin(), text.end()));
  // The image grows from 8x4 to 16x16: exactly what the IDE would write for the new bytes.
  const std::string larger = testing::bmpImage(16, 16, 5);
  const std::string block = "\x07TBitmap" + testing::u32le(static_cast<std::uint32_t>(larger.size())) + larger;
  values[1].assign(block.begin(), block.end());
  const auto rewritten = rewriteTextForm(testing::asBytes(text), *form, values);
  EXPECT_EQ(std::string(rewritten.begin(), rewritten.end()), textForm(c.dialect, c.eol, icon, larger, png));
}

INSTANTIATE_TEST_SUITE_P(Dialects, TextForms,
                         ::testing::Values(DialectCase{"DelphiLf", Dialect::Delphi, "\n"},
                                           DialectCase{"DelphiCrLf", Dialect::Delphi, "\r\n"},
                                           DialectCase{"LazarusLf", Dialect::Lazarus, "\n"},
                                           DialectCase{"LazarusCrLf", Dialect::Lazarus, "\r\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TextFormRead, RefusesWhatItCannotReadAndSaysTheLine) {
  struct Case {
    const char* text;
    std::size_t line;
  } cases[] = {
      {"object F: TF\n  Icon.Data = {\n    00GG\n  }\nend\n", 3},   // no hex digit
      {"object F: TF\n  Icon.Data = {\n    000\n  }\nend\n", 4},    // odd number of digits
      {"object F: TF\n  Icon.Data = {\n    0000\nend\n", 4},        // never closed
      {"object F: TF\nend\nend\n", 3},                             // end with nothing open
  };
  for (const Case& c : cases) {
    std::size_t line = 0;
    EXPECT_FALSE(readTextForm(testing::asBytes(c.text), &line)) << c.text;
    EXPECT_EQ(line, c.line) << c.text;
  }
}

TEST(TextFormRead, KnownByItsFirstWord) {
  for (const char* yes : {"object Form1: TForm1\n", "\xEF\xBB\xBFinherited Form2: TForm2\r\n", "  INLINE Frame1: TFrame1\n"})
    EXPECT_TRUE(looksLikeTextForm(testing::asBytes(yes))) << yes;
  for (const char* no : {"TPF0\x06TForm1", "objects", "Object", "\xFF\x0A\x00TFORM1"})
    EXPECT_FALSE(looksLikeTextForm(testing::asBytes(no))) << no;
}

// Each graphic class in a Picture.Data value (and AlphaControls' ImgData) is found by its kind
// with the picture's exact length; an unknown class holding a PNG is named by list.
TEST(GraphicClasses, EachLayoutIsFoundByItsKind) {
  const std::string png = testing::pngImage(4), gif = testing::gifImage(5), bmp = testing::bmpImage(6, 6, 6);
  const std::string ico = testing::icoImage(7), jpg = testing::jpegImage(100, 8);
  auto cls = [](const std::string& name) { return static_cast<char>(name.size()) + name; };
  auto len = [](const std::string& p) { return testing::u32le(static_cast<std::uint32_t>(p.size())); };
  struct Case {
    std::string property, value, picture, kind;
  } cases[] = {
      {"Picture.Data", cls("TPNGObject") + png, png, "Delphi.TPicture.TPNGObject"},
      {"Picture.Data", cls("TPNGGraphic") + len(bmp) + bmp, bmp, "Delphi.TPicture.TPNGGraphic"},
      {"Picture.Data", cls("TGIFImage") + gif, gif, "Delphi.TPicture.TGIFImage"},
      {"Picture.Data", cls("TGIFImage") + len(gif) + gif, gif, "Delphi.TPicture.TGIFImage.Sized"},
      {"Picture.Data", cls("TJvGIFImage") + len(gif) + gif, gif, "Delphi.TPicture.TJvGIFImage"},
      {"Picture.Data", cls("TdxPNGImage") + png, png, "Delphi.TPicture.TdxPNGImage"},
      {"Picture.Data", cls("TdxSmartImage") + jpg, jpg, "Delphi.TPicture.TdxSmartImage"},
      {"ImgData", png, png, "AlphaControls.ImgData"},
      {"Picture.Data", cls("TPortableNetworkGraphic") + len(png) + png, png, "Lazarus.TPicture.TPortableNetworkGraphic"},
      {"Picture.Data", cls("TJpegImage") + len(jpg) + jpg, jpg, "Lazarus.TPicture.TJpegImage"},
      {"Picture.Data", cls("TIcon") + len(ico) + ico, ico, "Lazarus.TPicture.TIcon"},
      {"Icon.Data", len(ico) + ico, ico, "Lazarus.IconData"},
      {"Icon.Data", ico, ico, "Delphi.IconData"},
  };
  testing::TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir.file("form.lfm");
    testing::writeFile(path, "object Form1: TForm1\n  object Image1: TImage\n" +
                                 hexValue("    ", c.property, c.value, Dialect::Lazarus, "\n") + "  end\nend\n");
    Session session;
    session.pictureKinds = testing::shippedKinds();
    session.SourceKind = SourceKindValue::DelphiDfm;
    const auto found = ListPictures(session, path);
    ASSERT_TRUE(found) << c.kind;
    ASSERT_EQ(found->size(), 1u) << c.kind;
    EXPECT_EQ(session.pictureKinds[found->front().kind].Name, c.kind);
    EXPECT_EQ(found->front().length, static_cast<std::int32_t>(c.picture.size())) << c.kind;
    EXPECT_EQ(found->front().owner.value_or(""), "TForm1.Image1." + c.property) << c.kind;
  }
  const std::string path = dir.file("unknown.dfm");
  testing::writeFile(path, "object Form1: TForm1\n  object Image1: TImage\n" +
                               hexValue("    ", "Picture.Data", cls("TFancyImage") + png, Dialect::Delphi, "\n") + "  end\nend\n");
  Session session;
  session.pictureKinds = testing::shippedKinds();
  session.SourceKind = SourceKindValue::DelphiDfm;
  ListDetails details;
  const auto found = ListPictures(session, path, &details);
  ASSERT_TRUE(found);
  EXPECT_TRUE(found->empty());
  ASSERT_EQ(details.unknown.size(), 1u);
  EXPECT_EQ(details.unknown[0].property, "TForm1.Image1.Picture.Data");
  EXPECT_EQ(details.unknown[0].format, "png");
}

// Export, a grown picture, import: the text is the form the IDE would write, and the rewritten
// log imports again without a change. An export that finds nothing says so.
TEST(TextFormTransfer, GrownPictureGoesBackAndTheLogImportsAgain) {
  testing::TempDir dir;
  const std::string path = dir.file("Unit1.dfm");
  const std::string icon = testing::icoImage(1), bmp = testing::bmpImage(8, 4, 2), png = testing::pngImage(3);
  testing::writeFile(path, textForm(Dialect::Delphi, "\r\n", icon, bmp, png));
  Session session;
  session.pictureKinds = testing::shippedKinds();
  session.SourceKind = SourceKindValue::DelphiDfm;
  testing::RecordingSink sink;
  std::string source = path;
  ASSERT_TRUE(ExportPictures(session, source, sink));
  ASSERT_TRUE(ReadLog(session, path + ".pic.log", sink));
  ASSERT_EQ(session.LogEntries.size(), 3u);
  const std::string larger = testing::bmpImage(16, 16, 5);
  testing::writeFile(session.LogEntries[1].PicturePath, larger);
  ASSERT_EQ(ImportPictures(session, path + ".pic.log", sink), ImportOutcome::Done);
  EXPECT_EQ(testing::readFile(path), textForm(Dialect::Delphi, "\r\n", icon, larger, png));
  const std::string rebuilt = testing::readFile(path);
  ASSERT_EQ(ImportPictures(session, path + ".pic.log", sink), ImportOutcome::Done);
  EXPECT_EQ(testing::readFile(path), rebuilt);

  const std::string empty = dir.file("Empty.lfm");
  testing::writeFile(empty, "object Form1: TForm1\n  Caption = 'x'\nend\n");
  testing::RecordingSink emptySink;
  std::string emptySource = empty;
  ASSERT_TRUE(ExportPictures(session, emptySource, emptySink));
  ASSERT_FALSE(emptySink.results.empty());
  EXPECT_NE(emptySink.results.back().text.find("沒有找到圖像"), std::string::npos);
}

}  // namespace
}  // namespace falcet
