// Writes the bundled sample: a small VB form data file holding a few pictures.
//   falcet_make_fixture OUT.bin
// or a Delphi form file with many pictures, for looking at the result view:
//   falcet_make_fixture --many N OUT.dfm
// or a small 32-bit program image holding VB pictures (with a header checksum):
//   falcet_make_fixture --program OUT.exe
// It also checks a program's header checksum for the shell tests (exit 0 when it verifies):
//   falcet_make_fixture --checksum PROG.exe

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "formats/pe_image.hpp"
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
  if (argc == 3 && std::string_view(argv[1]) == "--checksum") {
    const std::string bytes = readFile(argv[2]);
    const auto image = falcet::readPeImage(asBytes(bytes));
    if (!image) return 1;
    const std::uint32_t actual = falcet::peChecksum(asBytes(bytes), image->checksumOffset);
    std::printf("stored %08X actual %08X\n", image->checksum, actual);
    return image->checksum == actual ? 0 : 1;
  }
  if (argc != 2) {
    std::fputs("usage: falcet_make_fixture OUT.bin | --many N OUT.dfm | --program OUT.exe | --checksum PROG.exe\n",
               stderr);
    return 2;
  }
  writeFile(argv[1], vbFormFile({icoImage(1), bmpImage(8, 4, 2), gifImage(3), jpegImage(200, 4)}));
  return 0;
}
