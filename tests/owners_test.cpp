#include "transfer/owners.hpp"

#include <gtest/gtest.h>

#include "support/fixtures.hpp"
#include "transfer/picture_list.hpp"

namespace falcet {
namespace {

using testing::asBytes;
using testing::u16le;
using testing::u32le;

std::string shortString(std::string_view s) { return static_cast<char>(s.size()) + std::string(s); }
std::string binary(std::string_view name, const std::string& block) {
  return shortString(name) + '\x0A' + u32le(static_cast<std::uint32_t>(block.size())) + block;
}

// The owner of the bytes of `needle` (which occurs once) in `hay`.
std::optional<std::string> ownerOfText(const Owners& owners, const std::string& hay, const std::string& needle) {
  const std::size_t at = hay.find(needle);
  EXPECT_NE(at, std::string::npos) << needle;
  EXPECT_EQ(hay.find(needle, at + 1), std::string::npos) << needle << " occurs twice";
  return owners.of(static_cast<std::int64_t>(at), static_cast<std::int64_t>(needle.size()));
}

TEST(DelphiOwners, EveryBinaryPropertyNamesFormClassComponentAndPath) {
  const std::string dfm = testing::delphiDfmFile("BMP-PICTURE", "BMP-GLYPH", "ICON-BYTES");
  const Owners owners(delphiStreamOwners(asBytes(dfm)));
  EXPECT_EQ(ownerOfText(owners, dfm, "ICON-BYTES"), "TForm1.Icon.Data");
  EXPECT_EQ(ownerOfText(owners, dfm, "BMP-PICTURE"), "TForm1.Image1.Picture.Data");
  EXPECT_EQ(ownerOfText(owners, dfm, "BMP-GLYPH"), "TForm1.Button1.Glyph.Data");
  EXPECT_EQ(ownerOfText(owners, dfm, "TForm1"), std::nullopt);  // not inside a value

  const std::string stream = testing::delphiNewerFormStream("COLLECTION-PNG", "FILL-PNG");
  const Owners newer(delphiStreamOwners(asBytes(stream)));
  EXPECT_EQ(ownerOfText(newer, stream, "COLLECTION-PNG"),
            "TForm1.ImageCollection1.Images[0].SourceImages[0].Image.Data");
  EXPECT_EQ(ownerOfText(newer, stream, "FILL-PNG"), "TForm1.Rectangle1.Fill.Bitmap.Bitmap.PNG");
}

// Every kind of value is stepped over by its own size, so the properties after it are found; a
// flagged (inherited, positioned) child, ordered collection items and several streams in one
// program's bytes, as in a program's resources.
TEST(DelphiOwners, ValuesOfEveryTagAreSteppedOver) {
  std::string values;
  values += shortString("I8") + '\x02' + '\x05';
  values += shortString("I16") + '\x03' + u16le(7);
  values += shortString("I32") + '\x04' + u32le(7);
  values += shortString("Ext") + '\x05' + std::string(10, '\x11');
  values += shortString("Str") + '\x06' + shortString("text");
  values += shortString("Id") + '\x07' + shortString("clRed");
  values += shortString("F") + '\x08' + shortString("T") + '\x09' + shortString("Nil") + '\x0D';
  values += shortString("Set") + '\x0B' + shortString("akLeft") + shortString("akTop") + '\0';
  values += shortString("LStr") + '\x0C' + u32le(3) + "abc";
  values += shortString("Lst") + '\x01' + '\x06' + shortString("a") + '\x02' + '\x01' + '\0';
  values += shortString("Sgl") + '\x0F' + std::string(4, '\x22');
  values += shortString("Cur") + '\x10' + std::string(8, '\x22') + shortString("Date") + '\x11' + std::string(8, '\x22');
  values += shortString("WStr") + '\x12' + u32le(2) + std::string("a\0b\0", 4);
  values += shortString("I64") + '\x13' + std::string(8, '\x33') + shortString("U8") + '\x14' + u32le(2) + "xy";
  values += shortString("Dbl") + '\x15' + std::string(8, '\x44');
  const std::string form = "TPF0" + shortString("TMainForm") + shortString("MainForm") + values +
                           binary("Icon.Data", "FORM-ICON") + '\0' +
                           // an inherited child with a position: flags F3, then the position value
                           '\xF3' + '\x02' + '\x04' + shortString("TImage") + shortString("Logo") +
                           shortString("Items") + '\x0E' + '\x02' + '\x00' + '\x01' + shortString("N") + '\x02' + '\x01' + '\0' +
                           '\x02' + '\x01' + '\x01' + binary("Bitmap.PNG", "SECOND-ITEM") + '\0' + '\0' +
                           binary("Picture.Data", "LOGO-BITMAP") + std::string(3, '\0');
  const std::string other = "TPF0" + shortString("TAbout") + shortString("About") + binary("Icon.Data", "ABOUT-ICON") + std::string(2, '\0');
  const std::string program = "MZ code " + form + " more code " + other + " end";
  const Owners owners(delphiStreamOwners(asBytes(program)));
  EXPECT_EQ(ownerOfText(owners, program, "FORM-ICON"), "TMainForm.Icon.Data");
  EXPECT_EQ(ownerOfText(owners, program, "SECOND-ITEM"), "TMainForm.Logo.Items[1].Bitmap.PNG");
  EXPECT_EQ(ownerOfText(owners, program, "LOGO-BITMAP"), "TMainForm.Logo.Picture.Data");
  EXPECT_EQ(ownerOfText(owners, program, "ABOUT-ICON"), "TAbout.Icon.Data");
}

TEST(DelphiOwners, BrokenStreamsKeepWhatWasReadAndNeverReadOutside) {
  const std::string dfm = testing::delphiDfmFile("BMP-PICTURE", "BMP-GLYPH", "ICON-BYTES");
  const std::size_t glyph = dfm.find("BMP-GLYPH");
  // Cut inside the glyph's value: its length runs past the end, so it has no owner.
  const std::string cut = dfm.substr(0, glyph + 3);
  const Owners owners(delphiStreamOwners(asBytes(cut)));
  EXPECT_EQ(ownerOfText(owners, cut, "BMP-PICTURE"), "TForm1.Image1.Picture.Data");
  EXPECT_EQ(owners.of(static_cast<std::int64_t>(glyph), 3), std::nullopt);
  // An unknown value tag, and nesting deeper than any form: no crash, nothing after them.
  std::string bad = "TPF0" + shortString("TForm1") + shortString("Form1") + shortString("X") + '\x7F' + "junk";
  EXPECT_TRUE(delphiStreamOwners(asBytes(bad)).empty());
  std::string deep = "TPF0" + shortString("TForm1") + shortString("Form1") + '\0';
  for (int i = 0; i < 100000; ++i) deep += shortString("TPanel") + shortString("P") + '\0';
  EXPECT_TRUE(delphiStreamOwners(asBytes(deep)).empty());
  for (const std::string& s : {std::string("TPF0"), std::string("TPF0\x06TF"), std::string("xxTPF0\xF2")})
    EXPECT_TRUE(delphiStreamOwners(asBytes(s)).empty());
}

// Crafted inputs cost what their length costs: a chain of broken streams is read once, a form
// text nested far deeper than any form keeps its owners short, and many properties are looked up
// without scanning them all (each a single step here).
TEST(OwnersAtScale, CraftedInputsStayBounded) {
  std::string chain;
  for (int i = 0; i < 20000; ++i) chain += "TPF0" + shortString("TForm1");  // each breaks at the next
  EXPECT_TRUE(delphiStreamOwners(asBytes(chain)).empty());

  std::string text = "Begin VB.Form Form1\r\n";
  for (int i = 0; i < 50000; ++i) text += "BeginProperty P" + std::to_string(i) + "\r\n Picture = \"Form1.frx\":0000\r\n";
  const std::string blob = testing::vbPictureBlob("PICTURE");
  const auto owned = vbCompanionOwners(text, "Form1.frx", asBytes(blob));
  ASSERT_FALSE(owned.empty());
  EXPECT_LE(owned.size(), 64u);
  for (const OwnedRange& r : owned) EXPECT_LT(r.owner.size(), 64u * 8u);

  std::vector<OwnedRange> many;
  for (std::int64_t i = 0; i < 40000; ++i) many.push_back({10 * i, 10 * i + 8, "P" + std::to_string(i)});
  many.push_back({0, 400000, "Form"});
  const Owners owners(std::move(many));
  EXPECT_EQ(owners.of(123450, 4), "P12345");
  EXPECT_EQ(owners.of(123458, 2), "Form");
  EXPECT_EQ(owners.of(400000, 1), std::nullopt);
}

TEST(VbCompanionOwners, NestingNamesFormControlAndProperty) {
  const std::string icon = testing::vbPictureBlob("FORM-ICON"), list1 = testing::vbPictureBlob("LIST-IMAGE-1"),
                    arr = testing::vbPictureBlob("ARRAY-IMAGE"), inner = testing::vbPictureBlob("INNER-PICTURE");
  const std::string blobs = icon + u32le(5) + "Arial" + list1 + arr + inner;
  auto at = [&](const std::string& part) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04zX", blobs.find(part));
    return std::string(hex);
  };
  const std::string text =
      "VERSION 5.00\r\n"
      "Object = \"{831FDD16-0C5C-11D2-A9FC-0000F8754DA1}#2.0#0\"; \"MSCOMCTL.OCX\"\r\n"
      "Begin VB.Form frmMain \r\n"
      "   Icon            =   \"frmMain.frx\":" + at(icon) + "\r\n"
      "   BeginProperty Font \r\n      Name = \"Arial\"\r\n   EndProperty\r\n"
      "   Begin MSComctlLib.ImageList ilsIcons \r\n"
      "      BeginProperty Images {2C247F25-8591-11D1-B16A-00C0F0283628} \r\n"
      "         BeginProperty ListImage1 {2C247F27-8591-11D1-B16A-00C0F0283628} \r\n"
      "            Picture         =   \"frmMain.frx\":" + at(list1) + "\r\n"
      "         EndProperty\r\n"
      "      EndProperty\r\n"
      "   End\r\n"
      "   Begin VB.PictureBox Frame1 \r\n"
      "      Begin VB.Image imgState \r\n"
      "         Picture         =   \"FRMMAIN.FRX\":" + at(arr) + "\r\n"
      "         Index           =   2\r\n"
      "      End\r\n"
      "      Picture         =   \"frmMain.frx\":" + at(inner) + "\r\n"
      "      Picture2        =   \"other.frx\":0000\r\n"
      "   End\r\n"
      "End\r\n";
  const Owners owners(vbCompanionOwners(text, "some/folder/frmMain.frx", asBytes(blobs)));
  EXPECT_EQ(ownerOfText(owners, blobs, "FORM-ICON"), "frmMain.Icon");
  EXPECT_EQ(ownerOfText(owners, blobs, "LIST-IMAGE-1"), "frmMain.ilsIcons.Images.ListImage1.Picture");
  EXPECT_EQ(ownerOfText(owners, blobs, "ARRAY-IMAGE"), "frmMain.imgState(2).Picture");
  EXPECT_EQ(ownerOfText(owners, blobs, "INNER-PICTURE"), "frmMain.Frame1.Picture");
  EXPECT_EQ(ownerOfText(owners, blobs, "Arial"), std::nullopt);  // a blob nobody refers to

  // References to another blob file are another file's: named as on disk, or with the project's
  // name at the end of the name on disk.
  for (const char* name : {"other.frx", "Backup of other.frx"})
    EXPECT_EQ(ownerOfText(Owners(vbCompanionOwners(text, name, asBytes(blobs))), blobs, "FORM-ICON"), "frmMain.Frame1.Picture2");
  EXPECT_EQ(ownerOfText(Owners(vbCompanionOwners(text, "Copy of frmMain.frx", asBytes(blobs))), blobs, "FORM-ICON"),
            "frmMain.Icon");
  // A blob file the companion does not name at all: only when the companion names one blob file.
  EXPECT_TRUE(vbCompanionOwners(text, "renamed.frx", asBytes(blobs)).empty());
  const std::string single = "Begin VB.Form F\r\n Icon = \"F.frx\":0000\r\nEnd\r\n";
  EXPECT_EQ(ownerOfText(Owners(vbCompanionOwners(single, "renamed.frx", asBytes(blobs))), blobs, "FORM-ICON"), "F.Icon");
  // Offsets past the blob file and a text cut off inside a control give nothing wrong.
  const std::string cut = text.substr(0, text.find("   End\r\n"));
  EXPECT_EQ(ownerOfText(Owners(vbCompanionOwners(cut, "frmMain.frx", asBytes(blobs))), blobs, "LIST-IMAGE-1"),
            "frmMain.ilsIcons.Images.ListImage1.Picture");
  EXPECT_TRUE(vbCompanionOwners("Begin VB.Form F\r\nIcon = \"F.frx\":FFFFFF\r\nEnd\r\n", "F.frx", asBytes(blobs)).empty());
}

// A 32-bit PE whose entry point pushes the VB5! header's address; its form table names two forms.
std::string vbProgram(const std::string& form1Data, const std::string& form2Data, std::string_view name2) {
  const std::uint32_t base = 0x400000, textVa = 0x1000, textRaw = 0x200;
  std::string s(0x200, '\0');
  s[0] = 'M';
  s[1] = 'Z';
  s.replace(0x3C, 4, u32le(0x80));
  std::string pe = std::string("PE\0\0", 4) + u16le(0x14C) + u16le(1) + std::string(12, '\0') + u16le(224) + u16le(0x102);
  std::string opt(224, '\0');
  opt.replace(0, 2, u16le(0x10B));
  opt.replace(16, 4, u32le(textVa));  // the entry point
  opt.replace(28, 4, u32le(base));
  pe += opt + std::string(".text\0\0\0", 8) + u32le(0x1000) + u32le(textVa) + u32le(0x1000) + u32le(textRaw) + std::string(16, '\0');
  s.replace(0x80, pe.size(), pe);
  std::string text(0x1000, '\0');
  auto va = [&](std::size_t off) { return base + textVa + static_cast<std::uint32_t>(off); };
  text.replace(0, 5, "\x68" + u32le(va(0x10)));
  text.replace(0x10, 4, "VB5!");
  text.replace(0x10 + 0x44, 2, u16le(2));
  text.replace(0x10 + 0x4C, 4, u32le(va(0x100)));
  auto form = [&](std::size_t entry, std::size_t off, const std::string& data, std::string_view name) {
    text.replace(entry + 0x40, 4, u32le(static_cast<std::uint32_t>(0x64 + name.size() + 1 + data.size())));
    text.replace(entry + 0x48, 4, u32le(va(off)));
    text.replace(off + 0x62, 2, u16le(static_cast<std::uint16_t>(name.size())));
    text.replace(off + 0x64, name.size() + 1 + data.size(), std::string(name) + '\0' + data);
  };
  form(0x100, 0x400, form1Data, "frmMain");
  form(0x150, 0x800, form2Data, name2);
  return s + text;
}

TEST(VbProgramOwners, TheFormTableGivesEachFormsRange) {
  const std::string program = vbProgram("MAIN-PICTURE", "ABOUT-PICTURE", "frmAbout");
  const Owners owners(vbProgramOwners(asBytes(program)));
  EXPECT_EQ(ownerOfText(owners, program, "MAIN-PICTURE"), "frmMain");
  EXPECT_EQ(ownerOfText(owners, program, "ABOUT-PICTURE"), "frmAbout");
  EXPECT_EQ(ownerOfText(owners, program, "VB5!"), std::nullopt);
  // A form whose name is not a name is left without owner; the other keeps its own.
  const std::string odd = vbProgram("MAIN-PICTURE", "ABOUT-PICTURE", "a b");
  const Owners some(vbProgramOwners(asBytes(odd)));
  EXPECT_EQ(ownerOfText(some, odd, "MAIN-PICTURE"), "frmMain");
  EXPECT_EQ(ownerOfText(some, odd, "ABOUT-PICTURE"), std::nullopt);
  // Every cut of the program reads within its bytes.
  for (std::size_t n = 0; n < program.size(); n += 97) (void)vbProgramOwners(asBytes(program.substr(0, n)));
  EXPECT_TRUE(vbProgramOwners(asBytes(testing::peFile(".text", 1, "VB5!"))).empty());
}

TEST(ListOwners, ABlobFileNamesItsPicturesThroughTheCompanionBesideIt) {
  testing::TempDir dir;
  const auto pair = testing::vbFormPair({testing::gifImage(1), testing::bmpImage(4, 4, 2)}, "Form1.frx");
  testing::writeFile(dir.file("Form1.frx"), pair.blobs);
  Session session;
  session.pictureKinds = testing::shippedKinds();
  session.SourceKind = SourceKindValue::VbBin;
  auto found = ListPictures(session, dir.file("Form1.frx"));
  ASSERT_TRUE(found);
  ASSERT_EQ(found->size(), 2u);
  EXPECT_EQ((*found)[0].owner, std::nullopt);  // no companion yet
  testing::writeFile(dir.file("Form1.frm"), pair.text);
  found = ListPictures(session, dir.file("Form1.frx"));
  ASSERT_TRUE(found);
  EXPECT_EQ((*found)[0].owner, "Form1.Image1.Picture");
  EXPECT_EQ((*found)[1].owner, "Form1.Image2.Picture");
}

}  // namespace
}  // namespace falcet

namespace falcet {
namespace {

std::vector<std::string> described(const std::vector<OwnedRange>& ranges) {
  std::vector<std::string> out;
  for (const OwnedRange& r : ranges) out.push_back(std::to_string(r.begin) + "-" + std::to_string(r.end) + " " + r.owner);
  return out;
}

// Read from an open file (as for a source exported in pieces) the owners are the same as in
// memory: a stream marker cut by the border of the search's pieces, values longer than the
// reading buffer, a form table far from the header.
TEST(OwnersFromAFile, SameAsInMemory) {
  testing::TempDir dir;
  const std::string dfm = testing::delphiDfmFile(std::string(100000, 'b'), "GLYPH", "ICON");
  const std::string stream = dfm.substr(dfm.find("TPF0"));
  const std::string program = vbProgram(std::string(70000, 'm'), "ABOUT", "frmAbout");
  const std::string inputs[] = {std::string((1 << 20) - 2, 'x') + stream + stream, stream, program};
  for (const std::string& bytes : inputs) {
    const std::string path = dir.file("source");
    testing::writeFile(path, bytes);
    FileDescriptor fd = openRegularForRead(path);
    ASSERT_TRUE(fd.valid());
    const FileReader file(fd, static_cast<std::int64_t>(bytes.size()));
    const MemoryReader memory(asBytes(bytes));
    EXPECT_EQ(described(delphiStreamOwners(file)), described(delphiStreamOwners(memory)));
    EXPECT_EQ(described(vbProgramOwners(file)), described(vbProgramOwners(memory)));
  }
  EXPECT_EQ(delphiStreamOwners(asBytes(inputs[0])).size(), 6u);
  EXPECT_EQ(vbProgramOwners(asBytes(inputs[2])).size(), 2u);
}

}  // namespace
}  // namespace falcet
