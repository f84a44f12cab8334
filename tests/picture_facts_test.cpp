#include "formats/picture_facts.hpp"

#include <gtest/gtest.h>

#include <ostream>

#include "support/fixtures.hpp"

namespace falcet {
namespace {

struct FactsCase {
  const char* name;
  std::string bytes;
  const char* format;
  std::optional<int> width, height, bits, images;
  bool complete;
};

void PrintTo(const FactsCase& c, std::ostream* os) { *os << c.name << " (" << c.bytes.size() << " bytes)"; }

class Facts : public ::testing::TestWithParam<FactsCase> {};

TEST_P(Facts, ReadFromTheHeaders) {
  const FactsCase& c = GetParam();
  const PictureFacts f = readPictureFacts(testing::asBytes(c.bytes));
  EXPECT_EQ(f.format, c.format);
  EXPECT_EQ(f.width, c.width);
  EXPECT_EQ(f.height, c.height);
  EXPECT_EQ(f.bits, c.bits);
  EXPECT_EQ(f.images, c.images);
  EXPECT_EQ(f.complete, c.complete);
}

std::string cut(const std::string& s, std::size_t n) { return s.substr(0, s.size() - n); }

// Headers that claim sizes no image has: unknown, never a wrapped or negative number.
std::string bmpWithHeight(std::int32_t height) {
  std::string b = testing::bmpImage(8, 4, 1);
  return b.replace(22, 4, testing::u32le(static_cast<std::uint32_t>(height)));
}
std::string pngOfSize(std::uint32_t w, std::uint32_t h) {
  std::string p = testing::pngImage(1);
  auto be = [](std::uint32_t v) {
    return std::string{static_cast<char>(v >> 24), static_cast<char>(v >> 16), static_cast<char>(v >> 8), static_cast<char>(v)};
  };
  return p.replace(16, 4, be(w)).replace(20, 4, be(h));
}
std::string emfWithBounds(std::int32_t left, std::int32_t right) {
  std::string e = testing::u32le(1) + testing::u32le(88) + testing::u32le(static_cast<std::uint32_t>(left)) + testing::u32le(0) +
                  testing::u32le(static_cast<std::uint32_t>(right)) + testing::u32le(9) + std::string(16, '\0') + " EMF" +
                  testing::u32le(0x10000) + testing::u32le(88);
  e.resize(88, '\0');
  return e;
}

INSTANTIATE_TEST_SUITE_P(
    Formats, Facts,
    ::testing::Values(
        FactsCase{"Bmp", testing::bmpImage(8, 4, 1), "bmp", 8, 4, 24, 1, true},
        FactsCase{"BmpPadded", testing::bmpImage(8, 4, 1) + "pad", "bmp", 8, 4, 24, 1, true},
        FactsCase{"BmpOneByteShort", cut(testing::bmpImage(8, 4, 1), 1), "bmp", 8, 4, 24, 1, false},
        FactsCase{"Ico", testing::icoImage(1), "ico", 16, 16, 32, 1, true},
        FactsCase{"IcoCut", cut(testing::icoImage(1), 10), "ico", 16, 16, 32, 1, false},
        FactsCase{"Gif", testing::gifImage(1), "gif", 1, 1, 1, 1, true},
        FactsCase{"GifNoTrailer", cut(testing::gifImage(1), 1), "gif", 1, 1, 1, 1, false},
        FactsCase{"Png", testing::pngImage(1), "png", 1, 1, 8, 1, true},
        FactsCase{"PngNoIend", cut(testing::pngImage(1), 12), "png", 1, 1, 8, 1, false},
        FactsCase{"Jpeg", testing::jpegImage(50, 1), "jpg", 8, 8, 8, 1, true},
        FactsCase{"JpegPadded", testing::jpegImage(50, 1) + std::string(3, '\0'), "jpg", 8, 8, 8, 1, true},
        FactsCase{"JpegNoEoi", cut(testing::jpegImage(50, 1), 2), "jpg", 8, 8, 8, 1, false},
        FactsCase{"BmpTopDown", bmpWithHeight(-4), "bmp", 8, 4, 24, 1, true},
        FactsCase{"BmpHeightIntMin", bmpWithHeight(INT32_MIN), "bmp", 8, std::nullopt, 24, 1, true},
        FactsCase{"PngHuge", pngOfSize(4294967295u, 4294967295u), "png", std::nullopt, std::nullopt, 8, 1, true},
        FactsCase{"Emf", emfWithBounds(0, 9), "emf", 10, 10, std::nullopt, 1, true},
        FactsCase{"EmfWideBounds", emfWithBounds(INT32_MIN, INT32_MAX), "emf", std::nullopt, 10, std::nullopt, 1, true},
        FactsCase{"Unknown", "not a picture", "bin", std::nullopt, std::nullopt, std::nullopt, std::nullopt, true}),
    [](const auto& row) { return std::string(row.param.name); });

}  // namespace
}  // namespace falcet
