#include <cstdio>
#include "support/fixtures.hpp"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#ifndef _WIN32
#include <unistd.h>
#endif

#include "formats/pe_image.hpp"
#include "settings/ini_file.hpp"

#ifndef FALCET_SHIPPED_INI
#define FALCET_SHIPPED_INI "Falcet.ini"
#endif

namespace falcet::testing {

std::string u32le(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[static_cast<std::size_t>(i)] = static_cast<char>(v >> (8 * i));
  return s;
}

std::string upperHex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string u16le(std::uint16_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

namespace {
std::string noise(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}
}  // namespace

std::string bmpImage(int width, int height, unsigned seed) {
  const std::uint32_t rowBytes = static_cast<std::uint32_t>((width * 3 + 3) / 4 * 4);
  const std::uint32_t pixels = rowBytes * static_cast<std::uint32_t>(height);
  const std::uint32_t total = 54 + pixels;
  std::string s = "BM" + u32le(total) + u32le(0) + u32le(54);
  s += u32le(40) + u32le(static_cast<std::uint32_t>(width)) + u32le(static_cast<std::uint32_t>(height)) +
       u16le(1) + u16le(24) + u32le(0) + u32le(pixels) + u32le(2835) + u32le(2835) + u32le(0) + u32le(0);
  s += noise(pixels, seed);
  return s;
}

std::string icoImage(unsigned seed) {
  // One 16 x 16 32-bit image: directory, then BITMAPINFOHEADER, pixels and the AND mask.
  const std::uint32_t body = 40 + 16 * 16 * 4 + 16 * 4;
  std::string s = u16le(0) + u16le(1) + u16le(1);
  s += std::string{16, 16, 0, 0} + u16le(1) + u16le(32) + u32le(body) + u32le(22);
  s += u32le(40) + u32le(16) + u32le(32) + u16le(1) + u16le(32) + u32le(0) + u32le(16 * 16 * 4) +
       u32le(0) + u32le(0) + u32le(0) + u32le(0);
  s += noise(16 * 16 * 4, seed) + std::string(16 * 4, '\0');
  return s;
}

std::string gifImage(unsigned seed) {
  return "GIF89a" + u16le(1) + u16le(1) + std::string("\x80\x00\x00", 3) + noise(6, seed) +
         std::string("\x2C\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0\x3B", 16);
}

std::string pngImage(unsigned seed) {
  // IHDR: 1 x 1, 8 bits, RGB; a CRC that nothing here checks.
  return std::string("\x89PNG\r\n\x1A\n", 8) + u32le(0x0D000000) + "IHDR" +
         std::string("\0\0\0\x01\0\0\0\x01\x08\x02\0\0\0", 13) + noise(4, seed) +
         std::string("\0\0\0\0IEND\xAE\x42\x60\x82", 12);
}

std::string jpegImage(std::size_t bodyBytes, unsigned seed) {
  // SOI, APP0 (JFIF), SOF0 (8 bits, 8 x 8, one component), SOS, entropy-coded bytes (no 0xFF, so
  // no marker inside), EOI.
  std::string body = noise(bodyBytes, seed);
  for (char& c : body)
    if (c == '\xFF') c = '\xFE';
  return std::string("\xFF\xD8\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 20) +
         std::string("\xFF\xC0\x00\x0B\x08\x00\x08\x00\x08\x01\x01\x11\x00", 13) +
         std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10) + body + std::string("\xFF\xD9", 2);
}

std::string vbPictureBlob(const std::string& image) {
  const auto n = static_cast<std::uint32_t>(image.size());
  return u32le(n + 8) + std::string("lt\0\0", 4) + u32le(n) + image;
}

std::string vbFormFile(const std::vector<std::string>& images) {
  std::string s = "VERSION 5.00\r\nBegin VB.Form Form1\r\n   Caption = \"Filters\"\r\n";
  s += std::string("\x08\0\0\0lt\0\0\0\0\0\0", 12);  // an empty picture
  for (const std::string& image : images) {
    s += vbPictureBlob(image);
    s += "SetStretchBltMode";
  }
  return s;
}

VbFormPair vbFormPair(const std::vector<std::string>& images, const std::string& blobName) {
  VbFormPair pair;
  auto reference = [&](std::size_t offset) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "%04zX", offset);
    return "\"" + blobName + "\":" + hex;
  };
  pair.text = "VERSION 5.00\r\nBegin VB.Form Form1\r\n   Caption         =   \"Form1\"\r\n";
  for (std::size_t i = 0; i < images.size(); ++i) {
    pair.text += "   Begin VB.Image Image" + std::to_string(i + 1) + "\r\n      Picture         =   " +
                 reference(pair.blobs.size()) + "\r\n   End\r\n";
    pair.blobs += vbPictureBlob(images[i]);
    const std::string caption = "a long caption after picture " + std::to_string(i + 1);
    pair.text += "   Begin VB.Label Label" + std::to_string(i + 1) + "\r\n      Caption         =   $" +
                 reference(pair.blobs.size()) + "\r\n   End\r\n";
    pair.blobs += u32le(static_cast<std::uint32_t>(caption.size())) + caption;
  }
  pair.text += "End\r\n";
  return pair;
}

namespace {
std::string shortString(std::string_view s) { return static_cast<char>(s.size()) + std::string(s); }
std::string binaryProperty(std::string_view name, const std::string& block) {
  return shortString(name) + '\x0A' + u32le(static_cast<std::uint32_t>(block.size())) + block;
}
}  // namespace

std::string delphiNewerFormStream(const std::string& collectionImage, const std::string& fillPng) {
  std::string stream = "TPF0" + shortString("TForm1") + shortString("Form1");
  stream += shortString("Caption") + '\x06' + shortString("Image.Data PNG");
  stream += '\0';
  stream += shortString("TImageCollection") + shortString("ImageCollection1");
  stream += shortString("Images") + '\x0E' + '\x01';  // collection, one item
  stream += shortString("Name") + '\x06' + shortString("Item0");
  stream += shortString("SourceImages") + '\x0E' + '\x01';
  stream += binaryProperty("Image.Data", collectionImage);
  stream += std::string("\0\0\0\0", 4);  // item, SourceImages, item, Images
  stream += '\0';
  stream += '\0';
  stream += shortString("TRectangle") + shortString("Rectangle1");
  stream += binaryProperty("Fill.Bitmap.Bitmap.PNG", fillPng);
  stream += std::string("\0\0\0", 3);
  return stream;
}

std::string delphiDfmFile(const std::string& pictureBmp, const std::string& glyphBmp,
                          const std::string& icon) {
  std::string stream = "TPF0" + shortString("TForm1") + shortString("Form1");
  stream += shortString("Left") + std::string("\x03\x10\x00", 3);  // a 16-bit integer
  stream += binaryProperty("Icon.Data", icon);
  stream += '\0';
  stream += shortString("TImage") + shortString("Image1");
  stream += binaryProperty("Picture.Data",
                           shortString("TBitmap") + u32le(static_cast<std::uint32_t>(pictureBmp.size())) + pictureBmp);
  stream += std::string("\0\0", 2);
  stream += shortString("TSpeedButton") + shortString("Button1");
  stream += binaryProperty("Glyph.Data", u32le(static_cast<std::uint32_t>(glyphBmp.size())) + glyphBmp);
  stream += std::string("\0\0", 2);
  stream += '\0';
  std::string header = std::string("\xFF\x0A\x00", 3) + "TFORM1" + '\0' + std::string("\x30\x10", 2) +
                       u32le(static_cast<std::uint32_t>(stream.size()));
  return header + stream;
}

std::string peFile(std::string_view firstSection, std::uint16_t sections, const std::string& payload) {
  std::string s(0x80, '\0');
  s[0] = 'M';
  s[1] = 'Z';
  s.replace(60, 4, u32le(0x80));
  s += std::string("PE\0\0", 4);
  s += u16le(0x14C) + u16le(sections) + std::string(16, '\0');  // the file header
  s += std::string(224, '\0');                                 // the optional header
  std::string name(firstSection.substr(0, 8));
  name.resize(8, '\0');
  s += name + std::string(32, '\0');
  s += payload;
  if (s.size() < 1024) s.resize(1024, '\0');
  return s;
}

namespace {

std::uint32_t alignUp(std::uint32_t v, std::uint32_t a) { return (v + a - 1) / a * a; }

// A resource section at rva: RCDATA (10), one name directory, each name with language 0.
std::string resourceSection(const std::vector<std::pair<std::string, std::string>>& items, std::uint32_t rva) {
  const auto n = static_cast<std::uint32_t>(items.size());
  auto dir = [](std::uint16_t named, std::uint16_t ids) { return std::string(12, '\0') + u16le(named) + u16le(ids); };
  // Layout: root (1 entry), names (n entries), n language directories (1 entry each), n data
  // entries, the name strings, then the data (aligned to 8).
  const std::uint32_t rootSize = 16 + 8, namesAt = rootSize, langsAt = namesAt + 16 + 8 * n;
  const std::uint32_t entriesAt = langsAt + n * (16 + 8), stringsAt = entriesAt + 16 * n;
  std::string strings;
  std::vector<std::uint32_t> stringOffsets;
  for (const auto& [name, data] : items) {
    stringOffsets.push_back(stringsAt + static_cast<std::uint32_t>(strings.size()));
    strings += u16le(static_cast<std::uint16_t>(name.size()));
    for (char c : name) strings += u16le(static_cast<unsigned char>(c));
  }
  std::uint32_t dataAt = alignUp(stringsAt + static_cast<std::uint32_t>(strings.size()), 8);
  std::string out = dir(0, 1) + u32le(10) + u32le(0x80000000u | namesAt);
  out += dir(static_cast<std::uint16_t>(n), 0);
  for (std::uint32_t i = 0; i < n; ++i)
    out += u32le(0x80000000u | stringOffsets[i]) + u32le(0x80000000u | (langsAt + i * 24));
  for (std::uint32_t i = 0; i < n; ++i) out += dir(0, 1) + u32le(0) + u32le(entriesAt + 16 * i);
  std::string data;
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::string& bytes = items[i].second;
    out += u32le(rva + dataAt + static_cast<std::uint32_t>(data.size())) + u32le(static_cast<std::uint32_t>(bytes.size())) +
           u32le(0) + u32le(0);
    data += bytes;
    data.resize(alignUp(static_cast<std::uint32_t>(data.size()), 8), '\0');
  }
  out += strings;
  out.resize(dataAt, '\0');
  return out + data;
}

// An import section at rva: one descriptor per library (no functions), then the names.
std::string importSection(const std::vector<std::string>& libraries, std::uint32_t rva) {
  const auto n = static_cast<std::uint32_t>(libraries.size());
  const std::uint32_t namesAt = 20 * (n + 1);
  std::string descriptors, names;
  for (const std::string& library : libraries) {
    const std::uint32_t name = rva + namesAt + static_cast<std::uint32_t>(names.size());
    descriptors += u32le(0) + u32le(0) + u32le(0) + u32le(name) + u32le(0);
    names += library + std::string(1, '\0');
  }
  return descriptors + std::string(20, '\0') + names;
}

}  // namespace

std::string peProgram(const PeLayout& layout) {
  struct Section {
    std::string name, data;
    std::uint32_t flags;
    int directory;  // the data directory it is, or -1
  };
  std::vector<Section> sections;
  sections.push_back({layout.firstSection, layout.code, 0x60000020u, -1});
  std::uint32_t rva = 0x1000 + alignUp(static_cast<std::uint32_t>(layout.code.size()), 0x1000);
  std::vector<std::uint32_t> rvas{0x1000};
  auto add = [&](std::string name, std::string data, std::uint32_t flags, int directory) {
    rvas.push_back(rva);
    rva += alignUp(std::max<std::uint32_t>(1, static_cast<std::uint32_t>(data.size())), 0x1000);
    sections.push_back({std::move(name), std::move(data), flags, directory});
  };
  if (!layout.imports.empty()) add(".idata", importSection(layout.imports, rva), 0xC0000040u, 1);
  if (!layout.rcdata.empty()) add(".rsrc", resourceSection(layout.rcdata, rva), 0x40000040u, 2);
  if (layout.relocations) add(".reloc", u32le(0x1000) + u32le(8), 0x42000040u, 5);

  const std::uint32_t optSize = layout.is64 ? 240 : 224;
  std::string h(0x80, '\0');
  h[0] = 'M', h[1] = 'Z';
  h.replace(60, 4, u32le(0x80));
  h += std::string("PE\0\0", 4);
  h += u16le(layout.is64 ? 0x8664 : 0x14C) + u16le(static_cast<std::uint16_t>(sections.size())) + u32le(0) + u32le(0) +
       u32le(0) + u16le(static_cast<std::uint16_t>(optSize)) + u16le(layout.is64 ? 0x22 : 0x10F);
  std::string opt = u16le(layout.is64 ? 0x20B : 0x10B) + std::string(2, '\0');
  std::uint32_t initialized = 0;
  for (std::size_t i = 1; i < sections.size(); ++i) initialized += alignUp(static_cast<std::uint32_t>(sections[i].data.size()), 0x200);
  opt += u32le(alignUp(static_cast<std::uint32_t>(layout.code.size()), 0x200)) + u32le(initialized) + u32le(0);
  opt += u32le(0x1000) + u32le(0x1000);  // entry point, base of code
  if (layout.is64) opt += u32le(0x400000) + u32le(0);  // image base (64-bit)
  else opt += u32le(0) + u32le(0x400000);            // base of data, image base
  opt += u32le(0x1000) + u32le(0x200) + u16le(4) + u16le(0) + u16le(0) + u16le(0) + u16le(4) + u16le(0) + u32le(0);
  opt += u32le(rva) + u32le(0x400) + u32le(0) + u16le(2) + u16le(0x8140);  // size of image, headers, checksum
  const std::string stack = layout.is64 ? u32le(0x100000) + u32le(0) : u32le(0x100000);
  opt += stack + stack + stack + stack;  // stack and heap reserve and commit
  opt += u32le(0) + u32le(16);
  std::string directories(16 * 8, '\0');
  for (std::size_t i = 0; i < sections.size(); ++i)
    if (sections[i].directory >= 0)
      directories.replace(static_cast<std::size_t>(sections[i].directory) * 8, 8,
                          u32le(rvas[i]) + u32le(static_cast<std::uint32_t>(sections[i].data.size())));
  opt += directories;
  h += opt;
  std::uint32_t raw = 0x400;
  std::string body;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    std::string name = sections[i].name.substr(0, 8);
    name.resize(8, '\0');
    const auto size = static_cast<std::uint32_t>(sections[i].data.size());
    const std::uint32_t rawSize = alignUp(size, 0x200);
    h += name + u32le(size) + u32le(rvas[i]) + u32le(rawSize) + u32le(raw) + std::string(12, '\0') + u32le(sections[i].flags);
    std::string data = sections[i].data;
    data.resize(rawSize, '\0');
    body += data;
    raw += rawSize;
  }
  h.resize(0x400, '\0');
  std::string file = h + body + layout.overlay;
  if (layout.checksum) {
    const std::size_t at = 0x80 + 24 + 64;
    file.replace(at, 4, u32le(peChecksum(asBytes(file), static_cast<std::int64_t>(at))));
  }
  return file;
}

PictureKind picKind() {
  PictureKind k;
  k.Name = "Pic";
  k.FileHandleMark = "PIC";
  k.FilePosFix = 7;
  k.BinFileLenPos = -4;
  k.FileExt = "dat";
  return k;
}

std::string delphiFormWithManyPictures(int count) {
  std::string stream = "TPF0" + shortString("TGalleryForm") + shortString("GalleryForm");
  stream += binaryProperty("Icon.Data", icoImage(1));
  stream += '\0';
  for (int i = 0; i < count; ++i) {
    // Pictures of several sizes and colours: a diagonal blend from one colour to another.
    const int width = 16 + (i * 7) % 49, height = 16 + (i * 11) % 33;
    const std::uint32_t rowBytes = static_cast<std::uint32_t>((width * 3 + 3) / 4 * 4);
    std::string pixels(rowBytes * static_cast<std::uint32_t>(height), '\0');
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const int t = 255 * (x + y) / (width + height);
        const std::size_t at = static_cast<std::size_t>(y) * rowBytes + static_cast<std::size_t>(x) * 3;
        pixels[at] = static_cast<char>((i * 37 + t) & 0xFF);
        pixels[at + 1] = static_cast<char>((i * 91) & 0xFF);
        pixels[at + 2] = static_cast<char>((255 - t + i * 13) & 0xFF);
      }
    const std::string bmp = "BM" + u32le(static_cast<std::uint32_t>(54 + pixels.size())) + u32le(0) + u32le(54) +
                            u32le(40) + u32le(static_cast<std::uint32_t>(width)) +
                            u32le(static_cast<std::uint32_t>(height)) + u16le(1) + u16le(24) + u32le(0) +
                            u32le(static_cast<std::uint32_t>(pixels.size())) + u32le(2835) + u32le(2835) +
                            u32le(0) + u32le(0) + pixels;
    const bool glyph = i % 3 == 2;
    stream += shortString(glyph ? "TSpeedButton" : "TImage") + shortString((glyph ? "Button" : "Image") + std::to_string(i + 1));
    stream += glyph ? binaryProperty("Glyph.Data", u32le(static_cast<std::uint32_t>(bmp.size())) + bmp)
                    : binaryProperty("Picture.Data", shortString("TBitmap") + u32le(static_cast<std::uint32_t>(bmp.size())) + bmp);
    stream += std::string("\0\0", 2);
  }
  stream += '\0';
  return std::string("\xFF\x0A\x00", 3) + "TGALLERYFORM" + '\0' + std::string("\x30\x10", 2) +
         u32le(static_cast<std::uint32_t>(stream.size())) + stream;
}

std::string shellQuoted(const std::string& text) {
  std::string q = "'";
  for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

PictureKinds shippedKinds() {
  IniFile ini(".", "test");
  ini.useFile(FALCET_SHIPPED_INI);
  PictureKinds kinds;
  if (!LoadPictureKinds(ini, kinds).ok()) std::abort();
  return kinds;
}

void writeFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

TempDir::TempDir() {
#ifdef _WIN32
  static std::mt19937_64 random{std::random_device{}()};
  for (int attempt = 0;; ++attempt) {
    m_path = std::filesystem::temp_directory_path() / ("falcet-test-" + std::to_string(random() % 1000000000));
    if (std::filesystem::create_directory(m_path)) break;
    if (attempt > 100) std::abort();
  }
#else
  std::string tmpl = (std::filesystem::temp_directory_path() / "falcet-test-XXXXXX").string();
  if (!::mkdtemp(tmpl.data())) std::abort();
  m_path = tmpl;
#endif
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

}  // namespace falcet::testing
