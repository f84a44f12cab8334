#include "formats/picture_format.hpp"

#include <cstring>

namespace falcet {
namespace {

constexpr std::string_view kNames[] = {"bmp", "ico", "cur", "gif", "jpg", "png", "wmf", "emf", "bin"};

}  // namespace

PictureFormat sniffPictureFormat(ByteSpan b) {
  const unsigned char* d = b.data();
  const std::size_t n = b.size();
  auto starts = [&](const char* sig, std::size_t len) { return n >= len && std::memcmp(d, sig, len) == 0; };
  if (starts("\x89PNG\r\n\x1A\n", 8)) return PictureFormat::Png;
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return PictureFormat::Gif;
  if (starts("\xFF\xD8\xFF", 3)) return PictureFormat::Jpg;
  if (starts("BM", 2)) return PictureFormat::Bmp;
  if (starts("\x00\x00\x01\x00", 4)) return PictureFormat::Ico;
  if (starts("\x00\x00\x02\x00", 4)) return PictureFormat::Cur;
  if (starts("\xD7\xCD\xC6\x9A", 4)) return PictureFormat::Wmf;
  if (n >= 44 && starts("\x01\x00\x00\x00", 4) && std::memcmp(d + 40, " EMF", 4) == 0) return PictureFormat::Emf;
  if (starts("\x01\x00\x09\x00", 4) || starts("\x02\x00\x09\x00", 4)) return PictureFormat::Wmf;
  return PictureFormat::Bin;
}

std::string_view formatName(PictureFormat format) { return kNames[static_cast<std::size_t>(format)]; }

std::optional<PictureFormat> formatFromName(std::string_view name) {
  for (std::size_t i = 0; i < std::size(kNames); ++i)
    if (kNames[i] == name) return static_cast<PictureFormat>(i);
  return std::nullopt;
}

}  // namespace falcet
