#include "transfer/picture_list.hpp"

#include "transfer/owners.hpp"
#include "transfer/picture_walk.hpp"

namespace falcet {

std::optional<std::vector<FoundPicture>> ListPictures(Session& session, std::string path) {
  if (!LoadSource(path, session.source)) return std::nullopt;
  const unsigned char* bytes = session.source.SourceBytes.data();
  const std::int32_t size = session.source.SourceSize;
  std::vector<FoundPicture> found;
  PictureWalk walk(session.pictureKinds, size);
  const MarkerFilter filter(session.pictureKinds);
  scanPictures(bytes, size, session.pictureKinds, isDelphi(session.SourceKind), filter, [&](const ScanMatch& m) {
    return walk.step(m, [&](const ScanMatch& match) { return bytes + match.start; },
                     [&](const ScanMatch& match, std::int32_t number, const unsigned char*) {
      const ByteSpan picture(bytes + match.start, static_cast<std::size_t>(match.length));
      found.push_back({number, match.start, match.length, match.kind, readPictureFacts(picture), {}});
      return true;
    });
  });
  if (found.empty()) return found;
  const Owners owners = readOwners(ByteSpan(bytes, static_cast<std::size_t>(size)), path);
  for (FoundPicture& p : found) p.owner = owners.of(p.position, p.length);
  return found;
}

}  // namespace falcet
