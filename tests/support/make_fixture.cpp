// Writes the bundled sample: a small VB form data file holding a few pictures.
//   falcet_make_fixture OUT.bin

#include <cstdio>

#include "support/fixtures.hpp"

int main(int argc, char** argv) {
  using namespace falcet::testing;
  if (argc != 2) {
    std::fputs("usage: falcet_make_fixture OUT.bin\n", stderr);
    return 2;
  }
  writeFile(argv[1], vbFormFile({icoImage(1), bmpImage(8, 4, 2), gifImage(3), jpegImage(200, 4)}));
  return 0;
}
