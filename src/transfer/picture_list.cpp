#include "transfer/picture_list.hpp"

#include "transfer/owners.hpp"
#include "transfer/picture_scan.hpp"

namespace falcet {

std::optional<std::vector<FoundPicture>> ListPictures(Session& session, std::string path) {
  if (!LoadSource(path, session.source)) return std::nullopt;
  const unsigned char* bytes = session.source.SourceBytes.data();
  const std::int32_t size = session.source.SourceSize;
  std::vector<FoundPicture> found;
  std::int32_t counter = 0;
  const MarkerFilter filter(session.pictureKinds);
  scanPictures(bytes, size, session.pictureKinds, isDelphi(session.SourceKind), filter,
               [&](const ScanMatch& m) -> std::int32_t {
                 ++counter;
                 if (!pictureInSource(m, size)) return 0;
                 const ByteSpan picture(bytes + m.start, static_cast<std::size_t>(m.length));
                 found.push_back({counter, m.start, m.length, m.kind, readPictureFacts(picture), {}});
                 return m.length - 1;  // as export goes on after a picture it wrote
               });
  if (found.empty()) return found;
  const Owners owners = readOwners(ByteSpan(bytes, static_cast<std::size_t>(size)), path);
  for (FoundPicture& p : found) p.owner = owners.of(p.position, p.length);
  return found;
}

}  // namespace falcet
