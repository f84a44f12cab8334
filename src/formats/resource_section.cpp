#include "formats/resource_section.hpp"

#include <algorithm>
#include <cstring>
#include <map>

namespace falcet {
namespace {

constexpr std::uint32_t kInitializedData = 0x40;  // IMAGE_SCN_CNT_INITIALIZED_DATA
constexpr std::size_t kDebugDirectory = 6;
constexpr std::size_t kBoundImports = 11;

std::uint32_t alignUp(std::uint64_t value, std::uint32_t alignment) {
  if (alignment == 0) return static_cast<std::uint32_t>(value);
  return static_cast<std::uint32_t>((value + alignment - 1) / alignment * alignment);
}

// The order of entries in a directory: named ones first (in the order they came), then numbers
// rising.
bool entryBefore(const ResourceName& a, const ResourceName& b) {
  if (a.named != b.named) return a.named;
  return !a.named && a.id < b.id;
}

// The end of a section's bytes in memory.
std::uint64_t virtualEnd(const PeSection& s) { return std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize); }

}  // namespace

ResourceLeaf* ResourceTree::find(const ResourceName& type, const ResourceName& name, std::uint32_t language) {
  for (ResourceLeaf& l : leaves)
    if (l.type == type && l.name == name && l.language == language) return &l;
  return nullptr;
}

ResourceLeaf& ResourceTree::insert(ResourceLeaf leaf) {
  // After the last leaf that comes before it or shares its type and name.
  auto at = leaves.begin();
  for (auto it = leaves.begin(); it != leaves.end(); ++it) {
    const bool typeBefore = entryBefore(it->type, leaf.type);
    const bool sameType = it->type == leaf.type;
    if (typeBefore || (sameType && (entryBefore(it->name, leaf.name) ||
                                    (it->name == leaf.name && it->language <= leaf.language))))
      at = it + 1;
  }
  // A new leaf takes its directories' headers from a neighbour of the same type.
  for (const ResourceLeaf& l : leaves) {
    if (l.type != leaf.type) continue;
    leaf.typeHeader = l.typeHeader;
    leaf.nameHeader = l.nameHeader;
    break;
  }
  return *leaves.insert(at, std::move(leaf));
}

void ResourceTree::erase(const ResourceName& type, const ResourceName& name) {
  std::erase_if(leaves, [&](const ResourceLeaf& l) { return l.type == type && l.name == name; });
}

std::optional<ResourceTree> readResourceTree(ByteSpan file, const PeImage& image, ResourceLayoutError* why) {
  auto fail = [&](ResourceLayoutError e) -> std::optional<ResourceTree> {
    if (why) *why = e;
    return std::nullopt;
  };
  const PeDataDirectory dir = image.directory(kPeResources);
  const PeSection* section = dir.address ? image.sectionOfRva(dir.address) : nullptr;
  const auto root = dir.address ? image.offsetOfRva(dir.address) : std::nullopt;
  if (!section || !root || !fitsIn(file.size(), *root, 16)) return fail(ResourceLayoutError::Unreadable);
  bool complete = false;
  const std::vector<ResourceEntry> entries = readResources(MemoryReader(file), image, &complete);
  if (!complete) return fail(ResourceLayoutError::Unreadable);
  // The tree is rewritten from the section's start: whatever else the section held would be lost.
  if (dir.address != section->virtualAddress) return fail(ResourceLayoutError::DataElsewhere);
  ResourceTree tree;
  std::memcpy(tree.rootHeader.data(), file.data() + *root, 12);
  const std::int64_t sectionStart = section->rawOffset, sectionEnd = std::int64_t{section->rawOffset} + section->rawSize;
  for (const ResourceEntry& e : entries) {
    if (!e.offset || *e.offset < sectionStart || *e.offset + e.size > sectionEnd || e.typeDirectory < 0 ||
        e.nameDirectory < 0 || !fitsIn(file.size(), e.typeDirectory, 12) || !fitsIn(file.size(), e.nameDirectory, 12))
      return fail(ResourceLayoutError::DataElsewhere);
    ResourceLeaf leaf;
    leaf.type = e.type;
    leaf.name = e.name;
    leaf.language = e.language;
    leaf.codePage = e.codePage;
    leaf.data.assign(file.begin() + *e.offset, file.begin() + *e.offset + e.size);
    std::memcpy(leaf.typeHeader.data(), file.data() + e.typeDirectory, 12);
    std::memcpy(leaf.nameHeader.data(), file.data() + e.nameDirectory, 12);
    leaf.oldOffset = *e.offset;
    leaf.oldSize = e.size;
    tree.leaves.push_back(std::move(leaf));
  }
  if (why) *why = ResourceLayoutError::None;
  return tree;
}

std::vector<unsigned char> writeResourceSection(const ResourceTree& tree, std::uint32_t sectionRva,
                                                std::vector<std::uint32_t>* dataOffsets) {
  // The tree's shape: types in order, each with its names, each with its languages (leaf indices).
  struct Name {
    ResourceName name;
    std::vector<std::size_t> leaves;
  };
  struct Type {
    ResourceName type;
    std::vector<Name> names;
  };
  std::vector<Type> types;
  for (std::size_t i = 0; i < tree.leaves.size(); ++i) {
    const ResourceLeaf& l = tree.leaves[i];
    auto t = std::find_if(types.begin(), types.end(), [&](const Type& x) { return x.type == l.type; });
    if (t == types.end()) t = types.insert(types.end(), Type{l.type, {}});
    auto n = std::find_if(t->names.begin(), t->names.end(), [&](const Name& x) { return x.name == l.name; });
    if (n == t->names.end()) n = t->names.insert(t->names.end(), Name{l.name, {}});
    n->leaves.push_back(i);
  }
  auto byName = [](const auto& a, const auto& b) { return entryBefore(a, b); };
  std::stable_sort(types.begin(), types.end(), [&](const Type& a, const Type& b) { return byName(a.type, b.type); });
  for (Type& t : types) {
    std::stable_sort(t.names.begin(), t.names.end(), [&](const Name& a, const Name& b) { return byName(a.name, b.name); });
    for (Name& n : t.names)
      std::stable_sort(n.leaves.begin(), n.leaves.end(),
                       [&](std::size_t a, std::size_t b) { return tree.leaves[a].language < tree.leaves[b].language; });
  }

  // Sizes: directories first, then the data entries, then the name strings, then the data.
  std::uint32_t directories = 16 + 8 * static_cast<std::uint32_t>(types.size());
  for (const Type& t : types) {
    directories += 16 + 8 * static_cast<std::uint32_t>(t.names.size());
    for (const Name& n : t.names) directories += 16 + 8 * static_cast<std::uint32_t>(n.leaves.size());
  }
  const std::uint32_t dataEntries = directories;
  std::uint32_t strings = dataEntries + 16 * static_cast<std::uint32_t>(tree.leaves.size());
  std::map<std::u16string, std::uint32_t> stringAt;
  std::uint32_t cursor = strings;
  auto placeString = [&](const ResourceName& n) {
    if (!n.named || stringAt.count(n.name)) return;
    stringAt[n.name] = cursor;
    cursor += 2 + 2 * static_cast<std::uint32_t>(n.name.size());
  };
  for (const Type& t : types) {
    placeString(t.type);
    for (const Name& n : t.names) placeString(n.name);
  }
  std::vector<std::uint32_t> offsets(tree.leaves.size());
  cursor = alignUp(cursor, 8);
  for (const Type& t : types)
    for (const Name& n : t.names)
      for (std::size_t i : n.leaves) {
        offsets[i] = cursor;
        cursor = alignUp(std::uint64_t{cursor} + tree.leaves[i].data.size(), 8);
      }

  std::vector<unsigned char> out(cursor, 0);
  auto put16 = [&](std::uint32_t at, std::uint16_t v) {
    out[at] = static_cast<unsigned char>(v);
    out[at + 1] = static_cast<unsigned char>(v >> 8);
  };
  auto put32 = [&](std::uint32_t at, std::uint32_t v) { storeU32le(out.data() + at, v); };
  auto header = [&](std::uint32_t at, const ResourceDirectoryHeader& h, auto names, auto ids) {
    std::memcpy(out.data() + at, h.data(), h.size());
    put16(at + 12, static_cast<std::uint16_t>(names));
    put16(at + 14, static_cast<std::uint16_t>(ids));
  };
  auto nameWord = [&](const ResourceName& n) { return n.named ? (0x80000000u | stringAt.at(n.name)) : n.id; };
  auto counts = [](const auto& list, auto nameOf) {
    std::size_t named = 0;
    for (const auto& x : list) named += nameOf(x).named ? 1 : 0;
    return std::pair{named, list.size() - named};
  };

  // Breadth first: the root, every type's directory, every name's directory.
  std::uint32_t next = 16 + 8 * static_cast<std::uint32_t>(types.size());
  {
    const auto [named, ids] = counts(types, [](const Type& t) -> const ResourceName& { return t.type; });
    header(0, tree.rootHeader, named, ids);
  }
  std::vector<std::uint32_t> typeDirs;
  for (std::size_t ti = 0; ti < types.size(); ++ti) {
    typeDirs.push_back(next);
    put32(16 + 8 * static_cast<std::uint32_t>(ti), nameWord(types[ti].type));
    put32(16 + 8 * static_cast<std::uint32_t>(ti) + 4, 0x80000000u | next);
    next += 16 + 8 * static_cast<std::uint32_t>(types[ti].names.size());
  }
  std::uint32_t entry = dataEntries;
  for (std::size_t ti = 0; ti < types.size(); ++ti) {
    const Type& t = types[ti];
    const ResourceLeaf& first = tree.leaves[t.names.front().leaves.front()];
    const auto [named, ids] = counts(t.names, [](const Name& n) -> const ResourceName& { return n.name; });
    header(typeDirs[ti], first.typeHeader, named, ids);
    for (std::size_t ni = 0; ni < t.names.size(); ++ni) {
      const Name& n = t.names[ni];
      const std::uint32_t slot = typeDirs[ti] + 16 + 8 * static_cast<std::uint32_t>(ni);
      put32(slot, nameWord(n.name));
      put32(slot + 4, 0x80000000u | next);
      header(next, tree.leaves[n.leaves.front()].nameHeader, 0, n.leaves.size());
      for (std::size_t li = 0; li < n.leaves.size(); ++li) {
        const ResourceLeaf& l = tree.leaves[n.leaves[li]];
        const std::uint32_t langSlot = next + 16 + 8 * static_cast<std::uint32_t>(li);
        put32(langSlot, l.language);
        put32(langSlot + 4, entry);
        put32(entry, sectionRva + offsets[n.leaves[li]]);
        put32(entry + 4, static_cast<std::uint32_t>(l.data.size()));
        put32(entry + 8, l.codePage);
        entry += 16;
        std::memcpy(out.data() + offsets[n.leaves[li]], l.data.data(), l.data.size());
      }
      next += 16 + 8 * static_cast<std::uint32_t>(n.leaves.size());
    }
  }
  for (const auto& [text, at] : stringAt) {
    put16(at, static_cast<std::uint16_t>(text.size()));
    for (std::size_t i = 0; i < text.size(); ++i) put16(at + 2 + 2 * static_cast<std::uint32_t>(i), text[i]);
  }
  if (dataOffsets) *dataOffsets = std::move(offsets);
  return out;
}

namespace {

// Whether a data directory other than the resources and the base relocations (and the
// certificate table, which holds a file offset) points into [from, to).
bool othersPointInto(const PeImage& image, std::uint64_t from, std::uint64_t to) {
  for (std::size_t i = 0; i < image.directories.size(); ++i) {
    if (i == kPeResources || i == kPeRelocations || i == kPeCertificates) continue;
    const PeDataDirectory d = image.directories[i];
    if (d.address == 0 || d.size == 0) continue;
    if (d.address < to && std::uint64_t{d.address} + d.size > from) return true;
  }
  return false;
}

// Whether a base relocation block names a page in [from, to): such a page would move.
bool relocationsInto(ByteSpan file, const PeImage& image, std::uint64_t from, std::uint64_t to) {
  const PeDataDirectory d = image.directory(kPeRelocations);
  const auto at = d.address ? image.offsetOfRva(d.address) : std::nullopt;
  if (!at) return false;
  for (std::int64_t p = *at; p + 8 <= *at + d.size;) {
    const auto page = u32le(file, p), size = u32le(file, p + 4);
    if (!page || !size || *size < 8) break;
    if (*page < to && std::uint64_t{*page} + 0x1000 > from) return true;
    p += *size;
  }
  return false;
}

void put32(std::vector<unsigned char>& b, std::int64_t at, std::uint32_t v) { storeU32le(b.data() + at, v); }

}  // namespace

ResourceLayout replaceResourceSection(ByteSpan file, const PeImage& image, const ResourceTree& tree) {
  ResourceLayout result;
  auto refuse = [&](ResourceLayoutError e) {
    result.error = e;
    return result;
  };
  const PeDataDirectory dir = image.directory(kPeResources);
  const PeSection* rsrc = dir.address ? image.sectionOfRva(dir.address) : nullptr;
  if (!rsrc || image.directories.size() <= kPeRelocations) return refuse(ResourceLayoutError::Unreadable);
  const auto index = static_cast<std::size_t>(rsrc - image.sections.data());
  const std::vector<PeSection>& sections = image.sections;

  // The file ends with the last section's bytes; what follows is an overlay, which moves along.
  std::int64_t sectionsEnd = 0;
  for (const PeSection& s : sections) sectionsEnd = std::max<std::int64_t>(sectionsEnd, std::int64_t{s.rawOffset} + s.rawSize);
  sectionsEnd = std::min<std::int64_t>(sectionsEnd, static_cast<std::int64_t>(file.size()));

  // Which layout: the section is last, or only a movable .reloc follows it, or a new section.
  const std::size_t after = sections.size() - 1 - index;
  const bool fileLast = std::int64_t{rsrc->rawOffset} + rsrc->rawSize >= sectionsEnd;
  const bool inPlace = after == 0 && fileLast;
  bool moveReloc = false;
  if (after == 1) {
    const PeSection& next = sections[index + 1];
    const PeDataDirectory relocs = image.directory(kPeRelocations);
    moveReloc = relocs.address == next.virtualAddress && relocs.size <= next.virtualSize &&
                std::int64_t{next.rawOffset} + next.rawSize >= sectionsEnd && next.rawOffset >= rsrc->rawOffset &&
                !othersPointInto(image, next.virtualAddress, virtualEnd(next)) &&
                !relocationsInto(file, image, rsrc->virtualAddress, virtualEnd(next));
  }
  if (inPlace || moveReloc) {
    if (othersPointInto(image, rsrc->virtualAddress, virtualEnd(*rsrc))) return refuse(ResourceLayoutError::PointedInto);
  }
  const bool newSection = !inPlace && !moveReloc;
  const std::int64_t tableEnd = image.optionalHeaderOffset + image.optionalHeaderSize + 40 * std::int64_t(sections.size());
  if (newSection) {
    // One more section header must fit before the first section's bytes, over nothing but zeros
    // (the bound import table often lies right behind the table).
    std::int64_t firstRaw = image.sizeOfHeaders;
    for (const PeSection& s : sections)
      if (s.rawSize) firstRaw = std::min<std::int64_t>(firstRaw, s.rawOffset);
    const PeDataDirectory bound = image.directory(kBoundImports);
    const bool boundInTheWay = bound.address != 0 && bound.address < tableEnd + 40;
    bool zeros = tableEnd + 40 <= firstRaw && fitsIn(file.size(), tableEnd, 40);
    for (std::int64_t i = tableEnd; zeros && i < tableEnd + 40; ++i) zeros = file[static_cast<std::size_t>(i)] == 0;
    if (!zeros || boundInTheWay || sections.size() >= 96) return refuse(ResourceLayoutError::NoRoom);
  }

  const std::uint32_t fa = std::max<std::uint32_t>(image.fileAlignment, 1);
  const std::uint32_t sa = std::max<std::uint32_t>(image.sectionAlignment, 1);
  std::uint32_t lastVirtualEnd = 0;
  for (const PeSection& s : sections) lastVirtualEnd = std::max<std::uint32_t>(lastVirtualEnd, static_cast<std::uint32_t>(virtualEnd(s)));
  const std::uint32_t rva = newSection ? alignUp(lastVirtualEnd, sa) : rsrc->virtualAddress;
  std::vector<std::uint32_t> dataOffsets;
  const std::vector<unsigned char> body = writeResourceSection(tree, rva, &dataOffsets);
  const auto bodySize = static_cast<std::uint32_t>(body.size());

  RelaidImage out;
  out.oldSectionStart = rsrc->rawOffset;
  out.oldSectionEnd = std::int64_t{rsrc->rawOffset} + rsrc->rawSize;
  std::vector<unsigned char>& b = out.bytes;
  const std::int64_t opt = image.optionalHeaderOffset;
  std::int64_t initializedDelta = 0;
  std::int64_t sectionFileStart = 0;
  const std::int64_t overlayStart = sectionsEnd;  // what follows the last section's bytes
  std::int64_t newEnd = 0;
  if (!newSection) {
    // The section keeps its start; it is never made smaller than it was, so a smaller tree
    // leaves everything behind it where it lay.
    const std::uint32_t rawSize = std::max(rsrc->rawSize, alignUp(bodySize, fa));
    const std::uint32_t virtualSize = std::max(rsrc->virtualSize, bodySize);
    b.assign(file.begin(), file.begin() + rsrc->rawOffset);
    b.insert(b.end(), body.begin(), body.end());
    b.resize(std::size_t{rsrc->rawOffset} + rawSize, 0);
    sectionFileStart = rsrc->rawOffset;
    put32(b, rsrc->headerOffset + 8, virtualSize);
    put32(b, rsrc->headerOffset + 16, rawSize);
    if (rsrc->characteristics & kInitializedData) initializedDelta = std::int64_t{rawSize} - rsrc->rawSize;
    if (moveReloc) {
      const PeSection& next = sections[index + 1];
      const std::uint32_t nextRva = alignUp(std::uint64_t{rsrc->virtualAddress} + virtualSize, sa);
      const auto nextRaw = static_cast<std::uint32_t>(b.size());
      const std::int64_t oldNextEnd = std::min<std::int64_t>(std::int64_t{next.rawOffset} + next.rawSize, sectionsEnd);
      out.moved.push_back({next.rawOffset, oldNextEnd, nextRaw});
      b.insert(b.end(), file.begin() + next.rawOffset, file.begin() + oldNextEnd);
      b.resize(std::size_t{nextRaw} + next.rawSize, 0);
      put32(b, next.headerOffset + 12, nextRva);
      put32(b, next.headerOffset + 20, nextRaw);
      put32(b, image.directoriesOffset + 8 * std::int64_t{kPeRelocations},
            nextRva + (image.directory(kPeRelocations).address - next.virtualAddress));
    }
    newEnd = static_cast<std::int64_t>(b.size());
  } else {
    const std::uint32_t raw = alignUp(static_cast<std::uint64_t>(sectionsEnd), fa);
    b.assign(file.begin(), file.begin() + sectionsEnd);
    b.resize(raw, 0);
    b.insert(b.end(), body.begin(), body.end());
    b.resize(std::size_t{raw} + alignUp(bodySize, fa), 0);
    sectionFileStart = raw;
    // The new header behind the last: ".rsrc" again, flags as the old resource section's.
    std::memcpy(b.data() + tableEnd, file.data() + rsrc->headerOffset, 40);
    put32(b, tableEnd + 8, bodySize);
    put32(b, tableEnd + 12, rva);
    put32(b, tableEnd + 16, alignUp(bodySize, fa));
    put32(b, tableEnd + 20, raw);
    const auto count = static_cast<std::uint16_t>(sections.size() + 1);
    b[static_cast<std::size_t>(image.peOffset + 6)] = static_cast<unsigned char>(count);
    b[static_cast<std::size_t>(image.peOffset + 7)] = static_cast<unsigned char>(count >> 8);
    initializedDelta = alignUp(bodySize, fa);
    newEnd = static_cast<std::int64_t>(b.size());
  }
  // The overlay, and debug records in it that name their place by file offset.
  if (overlayStart < static_cast<std::int64_t>(file.size())) {
    out.moved.push_back({overlayStart, static_cast<std::int64_t>(file.size()), newEnd});
    b.insert(b.end(), file.begin() + overlayStart, file.end());
  }
  const PeDataDirectory debug = image.directory(kDebugDirectory);
  if (const auto at = debug.address ? image.offsetOfRva(debug.address) : std::nullopt) {
    for (std::int64_t d = *at; d + 28 <= *at + debug.size; d += 28) {
      const auto pointer = u32le(file, d + 24);
      if (!pointer || *pointer < overlayStart || *pointer >= static_cast<std::int64_t>(file.size())) continue;
      // Where the record lies in the new file (it may itself have moved with .reloc).
      std::int64_t where = d;
      for (const MovedRange& m : out.moved)
        if (d >= m.oldStart && d < m.oldEnd) where = m.newStart + (d - m.oldStart);
      if (where >= out.oldSectionStart && where < out.oldSectionEnd) continue;
      put32(b, where + 24, static_cast<std::uint32_t>(*pointer - overlayStart + newEnd));
    }
  }

  // The headers: the resource directory, the image's size, the initialized data.
  put32(b, image.directoriesOffset + 8 * std::int64_t{kPeResources}, rva);
  put32(b, image.directoriesOffset + 8 * std::int64_t{kPeResources} + 4, bodySize);
  const auto relaid = readPeImage(ByteSpan(b));
  if (!relaid) return refuse(ResourceLayoutError::Unreadable);
  std::uint64_t imageEnd = 0;
  for (const PeSection& s : relaid->sections) imageEnd = std::max(imageEnd, virtualEnd(s));
  put32(b, opt + 56, alignUp(imageEnd, sa));
  const auto initialized = u32le(ByteSpan(b), opt + 8).value_or(0);
  put32(b, opt + 8, static_cast<std::uint32_t>(std::max<std::int64_t>(0, std::int64_t{initialized} + initializedDelta)));

  out.leafOffsets.reserve(dataOffsets.size());
  for (std::uint32_t o : dataOffsets) out.leafOffsets.push_back(sectionFileStart + o);
  result.image = std::move(out);
  return result;
}

std::optional<std::int64_t> relaidOffset(const RelaidImage& relaid, const ResourceTree& tree, std::int64_t offset) {
  for (std::size_t i = 0; i < tree.leaves.size(); ++i) {
    const ResourceLeaf& l = tree.leaves[i];
    if (l.oldOffset && offset >= *l.oldOffset && offset < *l.oldOffset + std::int64_t{l.oldSize})
      return relaid.leafOffsets[i] + (offset - *l.oldOffset);
  }
  for (const MovedRange& m : relaid.moved)
    if (offset >= m.oldStart && offset < m.oldEnd) return m.newStart + (offset - m.oldStart);
  if (offset >= relaid.oldSectionStart && offset < relaid.oldSectionEnd) return std::nullopt;
  return offset;
}

}  // namespace falcet
