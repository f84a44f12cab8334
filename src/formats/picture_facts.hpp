#pragma once
// What a picture's own header says about it, read without decoding and bounds-checked: its format
// (the names of FileExt=*), size, colour depth, number of images, and whether the file holds the
// whole image (its own structure ends within the file; bytes after the end are allowed).

#include <optional>
#include <string>

#include "base/bytes.hpp"

namespace falcet {

struct PictureFacts {
  std::string format;                // bmp, ico, cur, gif, jpg, png, wmf, emf, or bin
  std::optional<int> width, height;  // pixels (icons and cursors: the largest image)
  std::optional<int> bits;           // bits per pixel (GIF, PNG: the header's colour depth)
  std::optional<int> images;         // icon entries, GIF frames; 1 for the others
  bool complete = false;             // the image's structure ends within the bytes
};

[[nodiscard]] PictureFacts readPictureFacts(ByteSpan bytes);

}  // namespace falcet
