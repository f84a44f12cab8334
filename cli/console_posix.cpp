#include <unistd.h>

#include <cstdio>

#include "console.hpp"
#include "platform/codepage.hpp"

namespace falcet::cli {

void printText(std::string_view utf8, bool error) {
  std::FILE* stream = error ? stderr : stdout;
  const std::string bytes = utf8ToLocale(utf8);
  std::fwrite(bytes.data(), 1, bytes.size(), stream);
  std::fflush(stream);
}

bool errorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void printUtf8(std::string_view utf8) {
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

}  // namespace falcet::cli

int main(int argc, char** argv) {
  falcet::initLocale();
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(falcet::localeToUtf8(argv[i]));
  return falcet::cli::run(args);
}
