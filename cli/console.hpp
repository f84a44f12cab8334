#pragma once
// The command line's meeting point with the platform: the arguments as UTF-8, and printing UTF-8
// text. On Windows a console gets the text through WriteConsoleW (any script shows), a pipe or
// file gets it in the ANSI code page; elsewhere the text goes out in the locale's character set.

#include <string>
#include <string_view>
#include <vector>

namespace falcet::cli {

// Prints text to standard output (error: standard error), as it is (no line end added).
void printText(std::string_view utf8, bool error);

// Whether standard error is a terminal (a console), where a progress line may be rewritten.
[[nodiscard]] bool errorIsTerminal();

// Prints UTF-8 to standard output as UTF-8 whatever the locale or code page (JSON, RFC 8259);
// a Windows console still gets it through WriteConsoleW.
void printUtf8(std::string_view utf8);

// The program proper, on the arguments as UTF-8 (the first one the program's name).
int run(const std::vector<std::string>& args);

}  // namespace falcet::cli
