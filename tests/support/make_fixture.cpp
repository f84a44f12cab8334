// Writes the bundled sample: a small VB form data file holding a few pictures.
//   falcet_make_fixture OUT.bin
// or a Delphi form file with many pictures, for looking at the result view:
//   falcet_make_fixture --many N OUT.dfm
// or a small 32-bit program image holding VB pictures (with a header checksum):
//   falcet_make_fixture --program OUT.exe

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "support/fixtures.hpp"

int main(int argc, char** argv) {
  using namespace falcet::testing;
  if (argc == 4 && std::string_view(argv[1]) == "--many") {
    writeFile(argv[3], delphiFormWithManyPictures(std::atoi(argv[2])));
    return 0;
  }
  if (argc == 3 && std::string_view(argv[1]) == "--program") {
    PeLayout layout;
    layout.code = vbFormFile({icoImage(1), bmpImage(8, 4, 2), gifImage(3)});
    writeFile(argv[2], peProgram(layout));
    return 0;
  }
  if (argc != 2) {
    std::fputs("usage: falcet_make_fixture OUT.bin | --many N OUT.dfm | --program OUT.exe\n", stderr);
    return 2;
  }
  writeFile(argv[1], vbFormFile({icoImage(1), bmpImage(8, 4, 2), gifImage(3), jpegImage(200, 4)}));
  return 0;
}
