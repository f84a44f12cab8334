#include <gtest/gtest.h>

#include <limits>

#include "base/ascii.hpp"
#include "base/bytes.hpp"

namespace falcet {
namespace {

TEST(Bytes, ReadsLittleEndianAndRefusesOneByteShort) {
  const unsigned char buf[] = {0x01, 0x02, 0x03, 0x04, 0xFF};
  const ByteSpan bytes(buf);
  EXPECT_EQ(u32le(bytes, 0), 0x04030201u);
  EXPECT_EQ(u32le(bytes, 1), 0xFF040302u);
  EXPECT_EQ(i32le(bytes, 1), static_cast<std::int32_t>(0xFF040302u));
  EXPECT_EQ(u16le(bytes, 3), 0xFF04u);
  EXPECT_EQ(u32le(bytes, 2), std::nullopt);  // one byte short
  EXPECT_EQ(u16le(bytes, 4), std::nullopt);
  EXPECT_EQ(u32le(bytes, -1), std::nullopt);
  volatile std::int64_t far = std::numeric_limits<std::int64_t>::max();  // not a constant to fold
  EXPECT_EQ(u32le(bytes, far), std::nullopt);
  EXPECT_EQ(u32le(ByteSpan{}, 0), std::nullopt);
}

TEST(Bytes, WritesOnlyInside) {
  unsigned char buf[6] = {};
  EXPECT_TRUE(putI32le(buf, 2, -2));
  EXPECT_EQ(buf[2], 0xFE);
  EXPECT_EQ(buf[5], 0xFF);
  EXPECT_FALSE(putU32le(buf, 3, 7));  // one byte short: nothing written
  EXPECT_EQ(buf[3], 0xFF);
  EXPECT_FALSE(putU32le(buf, -1, 7));
}

TEST(Ascii, CaseBlanksHexAndNul) {
  EXPECT_EQ(toLowerAscii("A.PIC.Log\xC3\x84"), "a.pic.log\xC3\x84");  // bytes above 0x7F kept
  EXPECT_TRUE(equalsIgnoreCaseAscii("FontFix", "FONTFIX"));
  EXPECT_FALSE(equalsIgnoreCaseAscii("a", "ab"));
  EXPECT_TRUE(endsWithIgnoreCaseAscii("x.PIC.LOG", ".pic.log"));
  EXPECT_FALSE(endsWithIgnoreCaseAscii("log", ".pic.log"));
  EXPECT_EQ(trimBlanks(" \t a b \t"), "a b");
  EXPECT_EQ(trimSpaces(" \ta "), "\ta");
  EXPECT_EQ(hexDigitValue('f'), 15);
  EXPECT_EQ(hexDigitValue('F'), 15);
  EXPECT_EQ(hexDigitValue('g'), -1);
  EXPECT_EQ(CutAtNul(std::string("ab\0c", 4)), "ab");
}

}  // namespace
}  // namespace falcet
