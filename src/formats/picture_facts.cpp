#include "formats/picture_facts.hpp"

#include "formats/picture_format.hpp"

#include <limits>

namespace falcet {
namespace {

// A size as the facts give it: in 64-bit arithmetic, and unknown where it is no size an image
// can have (negative, or beyond what an int holds).
std::optional<int> dimension(std::int64_t v) {
  if (v < 0 || v > std::numeric_limits<int>::max()) return std::nullopt;
  return static_cast<int>(v);
}

// BMP: "BM", u32 file size, ..., u32 header size at 14, then BITMAPCOREHEADER (12: u16 width and
// height) or BITMAPINFOHEADER and later (i32 width and height, u16 bits at 28).
void bmpFacts(ByteSpan b, PictureFacts& f) {
  const auto fileSize = u32le(b, 2);
  const auto header = u32le(b, 14);
  if (!fileSize || !header) return;
  if (*header == 12) {
    f.width = u16le(b, 18).value_or(0);
    f.height = u16le(b, 20).value_or(0);
    if (auto bits = u16le(b, 24)) f.bits = *bits;
  } else if (*header >= 40) {
    if (auto w = i32le(b, 18)) f.width = dimension(*w);
    if (auto h = i32le(b, 22)) f.height = dimension(*h < 0 ? -std::int64_t{*h} : std::int64_t{*h});
    if (auto bits = u16le(b, 28)) f.bits = *bits;
  }
  f.images = 1;
  f.complete = *fileSize >= 14 + *header && *fileSize <= b.size();
}

// ICO/CUR: 0, type, u16 count, then 16-byte entries (width, height (0 = 256), colours, 0, planes
// or hot spot, bits or hot spot, u32 bytes, u32 offset).
void iconFacts(ByteSpan b, PictureFacts& f, bool cursor) {
  const auto count = u16le(b, 4);
  if (!count || *count == 0) return;
  f.images = *count;
  bool complete = true;
  int best = -1;
  for (int i = 0; i < *count; ++i) {
    const std::int64_t e = 6 + 16 * i;
    const auto w = u8at(b, e), h = u8at(b, e + 1);
    const auto bytes = u32le(b, e + 8), offset = u32le(b, e + 12);
    if (!w || !h || !bytes || !offset) return;
    if (static_cast<std::uint64_t>(*offset) + *bytes > b.size()) complete = false;
    const int width = *w ? *w : 256, height = *h ? *h : 256;
    if (width * height <= best) continue;
    best = width * height;
    f.width = width;
    f.height = height;
    std::optional<int> bits;
    if (!cursor) bits = u16le(b, e + 6).value_or(0);
    if (!bits || *bits == 0) {
      // From the image itself: a DIB header's bit count, or a PNG's.
      if (u32le(b, *offset) == 40u) bits = u16le(b, *offset + 14).value_or(0);
      else if (u32be(b, *offset + 12) == 0x49484452u) bits = u8at(b, *offset + 24).value_or(0);
    }
    if (bits && *bits) f.bits = *bits;
    else f.bits.reset();
  }
  f.complete = complete;
}

// Sub-blocks (length byte, bytes) up to a zero length; the offset after them, or nothing.
std::optional<std::int64_t> skipSubBlocks(ByteSpan b, std::int64_t at) {
  for (;;) {
    const auto n = u8at(b, at);
    if (!n) return std::nullopt;
    at += 1 + *n;
    if (*n == 0) return at;
  }
}

// GIF: header, logical screen (u16 width, height, packed), global colour table, then blocks:
// 2C image (descriptor, local table, code size, sub-blocks), 21 extension, 3B trailer.
void gifFacts(ByteSpan b, PictureFacts& f) {
  const auto w = u16le(b, 6), h = u16le(b, 8);
  const auto packed = u8at(b, 10);
  if (!w || !h || !packed) return;
  f.width = *w;
  f.height = *h;
  f.bits = ((*packed >> 4) & 7) + 1;
  std::int64_t at = 13 + ((*packed & 0x80) ? 3 * (2 << (*packed & 7)) : 0);
  int frames = 0;
  for (;;) {
    const auto block = u8at(b, at);
    if (!block) break;
    if (*block == 0x3B) {
      f.complete = true;
      break;
    }
    if (*block == 0x2C) {
      const auto local = u8at(b, at + 9);
      if (!local) break;
      ++frames;
      at += 10 + ((*local & 0x80) ? 3 * (2 << (*local & 7)) : 0) + 1;  // descriptor, table, code size
    } else if (*block == 0x21) {
      at += 2;
    } else {
      break;
    }
    const auto next = skipSubBlocks(b, at);
    if (!next) break;
    at = *next;
  }
  f.images = frames;
}

// JPEG: FF D8, then segments FF xx with a u16 length (big-endian); SOFn holds precision, height,
// width and components; after SOS the entropy-coded data runs to the next marker; FF D9 ends it.
void jpegFacts(ByteSpan b, PictureFacts& f) {
  std::int64_t at = 2;
  f.images = 1;
  for (;;) {
    auto ff = u8at(b, at);
    auto marker = u8at(b, at + 1);
    if (!ff || !marker || *ff != 0xFF) return;
    if (*marker == 0xFF) {  // fill bytes
      ++at;
      continue;
    }
    if (*marker == 0xD9) {
      f.complete = true;
      return;
    }
    if (*marker == 0x01 || (*marker >= 0xD0 && *marker <= 0xD7)) {
      at += 2;
      continue;
    }
    const auto length = u16be(b, at + 2);
    if (!length || *length < 2) return;
    const bool sof = *marker >= 0xC0 && *marker <= 0xCF && *marker != 0xC4 && *marker != 0xC8 && *marker != 0xCC;
    if (sof) {
      const auto precision = u8at(b, at + 4), components = u8at(b, at + 9);
      if (auto h = u16be(b, at + 5)) f.height = *h;
      if (auto w = u16be(b, at + 7)) f.width = *w;
      if (precision && components) f.bits = *precision * *components;
    }
    at += 2 + *length;
    if (*marker == 0xDA) {  // entropy-coded data: to the next marker that is not a stuffed byte or a restart
      for (;;) {
        const auto c = u8at(b, at), d = u8at(b, at + 1);
        if (!c || !d) return;
        if (*c == 0xFF && *d != 0x00 && !(*d >= 0xD0 && *d <= 0xD7)) break;
        ++at;
      }
    }
  }
}

// PNG: signature, then chunks (u32 length, type, data, CRC); IHDR first, IEND last.
void pngFacts(ByteSpan b, PictureFacts& f) {
  if (u32be(b, 12) != 0x49484452u) return;
  if (auto w = u32be(b, 16)) f.width = dimension(*w);
  if (auto h = u32be(b, 20)) f.height = dimension(*h);
  if (auto depth = u8at(b, 24)) f.bits = *depth;
  f.images = 1;
  std::int64_t at = 8;
  for (;;) {
    const auto length = u32be(b, at), type = u32be(b, at + 4);
    if (!length || !type) return;
    const std::int64_t end = at + 12 + *length;
    if (end > static_cast<std::int64_t>(b.size())) return;
    if (*type == 0x49454E44u) {  // IEND
      f.complete = true;
      return;
    }
    at = end;
  }
}

// Placeable WMF: D7CDC69A, handle, bounding box (i16 left, top, right, bottom), units per inch,
// ..., then the METAHEADER whose u32 at +6 is the size in 16-bit words. Plain WMF: the METAHEADER
// alone. The size is in the metafile's units: left unknown.
void wmfFacts(ByteSpan b, PictureFacts& f, bool placeable) {
  const std::int64_t header = placeable ? 22 : 0;
  const auto words = u32le(b, header + 6);
  f.images = 1;
  f.complete = words && header + static_cast<std::int64_t>(*words) * 2 <= static_cast<std::int64_t>(b.size());
}

// EMF: the header record (type 1) with the bounds in pixels (i32 left, top, right, bottom at 8)
// and the whole size in bytes at 48.
void emfFacts(ByteSpan b, PictureFacts& f) {
  const auto left = i32le(b, 8), top = i32le(b, 12), right = i32le(b, 16), bottom = i32le(b, 20);
  if (left && top && right && bottom) {
    f.width = dimension(std::int64_t{*right} - *left + 1);
    f.height = dimension(std::int64_t{*bottom} - *top + 1);
  }
  const auto bytes = u32le(b, 48);
  f.images = 1;
  f.complete = bytes && *bytes <= b.size();
}

}  // namespace

PictureFacts readPictureFacts(ByteSpan b) {
  PictureFacts f;
  const PictureFormat format = sniffPictureFormat(b);
  f.format = std::string(formatName(format));
  switch (format) {
    case PictureFormat::Bmp: bmpFacts(b, f); break;
    case PictureFormat::Ico: iconFacts(b, f, false); break;
    case PictureFormat::Cur: iconFacts(b, f, true); break;
    case PictureFormat::Gif: gifFacts(b, f); break;
    case PictureFormat::Jpg: jpegFacts(b, f); break;
    case PictureFormat::Png: pngFacts(b, f); break;
    case PictureFormat::Wmf: wmfFacts(b, f, u32le(b, 0) == 0x9AC6CDD7u); break;
    case PictureFormat::Emf: emfFacts(b, f); break;
    case PictureFormat::Bin: f.complete = true; break;  // unknown bytes: nothing to check
  }
  return f;
}

}  // namespace falcet
