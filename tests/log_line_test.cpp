#include "transfer/log_line.hpp"

#include <gtest/gtest.h>

namespace falcet {
namespace {

TEST(LogLineFormat, RoundTripsEveryField) {
  const LogLine lines[] = {{9, 3, "Pic", "/a/prog.exe.001.bmp"},
                           {-4, 0, "VB.Picture", "D:\\a:b\\c.ico"},
                           {2147483647, -2147483647 - 1, "", ""}};
  for (const LogLine& l : lines) EXPECT_EQ(parseLogLine(formatLogLine(l)), l) << formatLogLine(l);
  EXPECT_EQ(formatLogLine(lines[0]), "9:3:Pic:/a/prog.exe.001.bmp");
}

TEST(LogLineParse, ReadsAsImportDoes) {
  EXPECT_EQ(parseLogLine("  12:3.5x:K:f"), (LogLine{12, 4, "K", "f"}));  // blanks, rounding, tail
  EXPECT_EQ(parseLogLine("ab:2.5:K"), (LogLine{0, 2, "K", ""}));           // no number, half to even
  EXPECT_EQ(parseLogLine("no colon"), (LogLine{0, 0, "", ""}));
  EXPECT_EQ(parseLogLine("1:2:K:D:\\x:y"), (LogLine{1, 2, "K", "D:\\x:y"}));
  EXPECT_EQ(parseLogLine("2147483648:1:K:f"), std::nullopt);
  EXPECT_EQ(parseLogLine("1:-2147483649:K:f"), std::nullopt);
}

}  // namespace
}  // namespace falcet
