#include "transfer/picture_list.hpp"

#include <algorithm>
#include <cctype>

#include "transfer/owners.hpp"
#include "transfer/picture_walk.hpp"

namespace falcet {

namespace {

// The values of the source's Delphi form streams (or text form) in which no picture was found,
// that start with a picture signature at one of the places a graphic class puts it.
std::vector<UnknownPicture> unknownPictures(ByteSpan bytes, const std::vector<OwnedRange>& values,
                                            const std::vector<FoundPicture>& found) {
  std::vector<UnknownPicture> out;
  for (const OwnedRange& v : values) {
    if (v.begin < 0 || v.end > static_cast<std::int64_t>(bytes.size()) || v.end <= v.begin) continue;
    const bool holds = std::any_of(found.begin(), found.end(), [&](const FoundPicture& p) {
      return p.position >= v.begin && p.position < v.end;
    });
    if (holds) continue;
    const ByteSpan value = bytes.subspan(static_cast<std::size_t>(v.begin), static_cast<std::size_t>(v.end - v.begin));
    // At the start, after a length, after a class name (a short string of letters), and after
    // a class name and a length.
    std::vector<std::size_t> starts{0, 4};
    const std::size_t name = value[0];
    if (name > 0 && name < 64 && value.size() > name + 1 &&
        std::all_of(value.begin() + 1, value.begin() + 1 + static_cast<std::ptrdiff_t>(name),
                    [](unsigned char c) { return std::isalnum(c) || c == '_'; })) {
      starts.push_back(1 + name);
      starts.push_back(5 + name);
    }
    for (const std::size_t at : starts) {
      if (at + 8 > value.size()) continue;
      // A signature alone is two to four bytes: the header must also give a size.
      const PictureFacts facts = readPictureFacts(value.subspan(at));
      if (facts.format == "bin" || !facts.width || !facts.height) continue;
      out.push_back({v.owner, facts.format, v.begin + static_cast<std::int64_t>(at)});
      break;
    }
  }
  return out;
}

}  // namespace

std::optional<std::vector<FoundPicture>> ListPictures(Session& session, std::string path, ListDetails* details) {
  if (!LoadSource(path, session.source)) return std::nullopt;
  std::optional<TextForm> form;  // a text form's values
  std::size_t badLine = 0;
  if (session.SourceKind == SourceKindValue::DelphiDfm &&
      useTextFormView(session.source, form, badLine) == TextFormLoad::Unreadable) {
    if (details) details->badTextLine = badLine;
    return std::nullopt;
  }
  const unsigned char* bytes = session.source.SourceBytes.data();
  const std::int32_t size = session.source.SourceSize;
  std::vector<FoundPicture> found;
  PictureWalk walk(session.pictureKinds, size);
  const MarkerFilter filter(session.pictureKinds);
  struct Quiet : ResultSink {
    int show(std::string_view, std::string_view, MessageKind) override { return kButtonOk; }
  } quiet;
  std::optional<ProgressMeter> meter(std::in_place, details && details->progress ? *details->progress : quiet, std::int64_t{size});
  scanPictures(bytes, size, session.pictureKinds, isDelphi(session.SourceKind), filter, [&](const ScanMatch& m) {
    meter->at(m.start);
    return walk.step(m, [&](const ScanMatch& match) { return bytes + match.start; },
                     [&](const ScanMatch& match, std::int32_t number, const unsigned char*) {
      const ByteSpan picture(bytes + match.start, static_cast<std::size_t>(match.length));
      found.push_back({number, match.start, match.length, match.kind, readPictureFacts(picture), {}});
      return true;
    });
  });
  meter.reset();
  const ByteSpan all(bytes, static_cast<std::size_t>(size));
  if (details && isDelphi(session.SourceKind))
    details->unknown = unknownPictures(all, form ? textFormOwners(*form) : delphiStreamOwners(all), found);
  if (found.empty()) return found;
  const Owners owners = form ? Owners(textFormOwners(*form)) : readOwners(all, path);
  for (FoundPicture& p : found) p.owner = owners.of(p.position, p.length);
  return found;
}

}  // namespace falcet
