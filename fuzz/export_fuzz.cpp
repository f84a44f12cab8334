// Export read in pieces against export with the whole file in memory, on arbitrary kind tables,
// sources and piece sizes: the logs and the picture files must be the same.

#include <clocale>
#include <cstdint>
#include <filesystem>

#include "fuzz_support.hpp"
#include "transfer/result.hpp"
#include "transfer/export.hpp"
#include "transfer/session.hpp"

using namespace falcet;

namespace {

struct QuietSink : ResultSink {
  int show(std::string_view, std::string_view, MessageKind) override { return kButtonOk; }
};

// The log with the source's name taken out, then every picture file's bytes.
std::string exportWith(const PictureKinds& kinds, SourceKindValue sourceKind, const std::string& bytes,
                       const std::string& name, std::size_t pieceSize) {
  const std::string path = (fuzz::scratchFolder() / name).string();
  fuzz::writeFileBytes(path, bytes);
  Session session;
  session.pictureKinds = kinds;
  session.SourceKind = sourceKind;
  QuietSink sink;
  std::string typed = path;
  const bool ok = ExportPictures(session, typed, sink, ExportReading{pieceSize});
  std::string log = fuzz::readFileBytes(path + ".pic.log");
  std::string result = ok ? "ok\n" : "failed\n";
  for (std::size_t at = 0; (at = log.find(path, at)) != std::string::npos; at += path.size()) {
    const std::size_t end = log.find("\r\n", at);
    result += fuzz::readFileBytes(log.substr(at, end - at)) + "|";
  }
  for (std::size_t at; (at = log.find(name)) != std::string::npos;) log.replace(at, name.size(), "SRC");
  return log + "#" + result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::setlocale(LC_ALL, "C.UTF-8");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::clearScratch();
  fuzz::InputReader in(data, size);
  const std::uint8_t head = in.u8();
  const auto sourceKind = static_cast<SourceKindValue>(head & 3);
  const std::size_t kindCount = 1 + (head >> 2) % 4;
  const std::size_t pieceSize = 1 + in.u8() % 96;
  PictureKinds kinds;
  for (std::size_t i = 0; i < kindCount; ++i) kinds.push_back(fuzz::readKind(in, i, 5));
  const std::string bytes = in.rest();
  if (bytes.empty()) return 0;
  const std::string whole = exportWith(kinds, sourceKind, bytes, "whole.bin", 0);
  const std::string pieces = exportWith(kinds, sourceKind, bytes, "pieces.bin", pieceSize);
  fuzz::check(whole == pieces, "export in pieces differs from export of the whole file");
  return 0;
}
