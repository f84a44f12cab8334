#include "formats/icon_group.hpp"

#include <algorithm>
#include <cstring>
#include <optional>

namespace falcet {
namespace {

struct IconImage {
  const unsigned char* entry;  // the 12 bytes shared by the file's and the group's directory
  ByteSpan bytes;
};

// The images of an icon file (reserved 0, type 1, a count, 16-byte entries ending with the
// image's size and offset); nullopt when the bytes are no whole icon file.
std::optional<std::vector<IconImage>> iconImages(ByteSpan file) {
  const auto reserved = u16le(file, 0), type = u16le(file, 2), count = u16le(file, 4);
  if (!reserved || *reserved != 0 || !type || *type != 1 || !count || *count == 0) return std::nullopt;
  std::vector<IconImage> out;
  for (std::uint16_t i = 0; i < *count; ++i) {
    const std::int64_t e = 6 + 16 * std::int64_t{i};
    const auto size = u32le(file, e + 8), offset = u32le(file, e + 12);
    if (!size || !offset || !fitsIn(file.size(), *offset, *size)) return std::nullopt;
    out.push_back({file.data() + e, file.subspan(*offset, *size)});
  }
  return out;
}

struct GroupImage {
  const unsigned char* entry;
  std::uint16_t id;
};

// The entries of a group's data (14 bytes each, the image's number last).
std::optional<std::vector<GroupImage>> groupImages(ByteSpan data) {
  const auto type = u16le(data, 2), count = u16le(data, 4);
  if (!type || *type != 1 || !count || !fitsIn(data.size(), 6, 14 * std::size_t{*count})) return std::nullopt;
  std::vector<GroupImage> out;
  for (std::uint16_t i = 0; i < *count; ++i) {
    const std::int64_t e = 6 + 14 * std::int64_t{i};
    out.push_back({data.data() + e, *u16le(data, e + 12)});
  }
  return out;
}

ResourceName number(std::uint32_t n) { return {n, {}, false}; }

// The image leaf of that number, the group's language first.
ResourceLeaf* imageLeaf(ResourceTree& tree, std::uint16_t id, std::uint32_t language) {
  if (ResourceLeaf* l = tree.find(number(kRtIcon), number(id), language)) return l;
  for (ResourceLeaf& l : tree.leaves)
    if (l.type == number(kRtIcon) && l.name == number(id)) return &l;
  return nullptr;
}

}  // namespace

std::vector<ResourceLeaf*> groupsCopying(ResourceTree& tree, ByteSpan iconFile) {
  std::vector<ResourceLeaf*> out;
  const auto images = iconImages(iconFile);
  if (!images) return out;
  for (ResourceLeaf& group : tree.leaves) {
    if (group.type != number(kRtGroupIcon)) continue;
    const auto entries = groupImages(group.data);
    if (!entries || entries->size() != images->size()) continue;
    bool same = true;
    for (std::size_t i = 0; same && i < entries->size(); ++i) {
      const ResourceLeaf* leaf = imageLeaf(tree, (*entries)[i].id, group.language);
      const ByteSpan want = (*images)[i].bytes;
      same = leaf && leaf->data.size() == want.size() && std::equal(want.begin(), want.end(), leaf->data.begin());
    }
    if (same) out.push_back(&group);
  }
  return out;
}

bool replaceGroupIcon(ResourceTree& tree, ResourceLeaf& group, ByteSpan iconFile) {
  const auto images = iconImages(iconFile);
  const auto old = groupImages(group.data);
  if (!images || !old || images->size() > 0xFFFF) return false;
  const ResourceName groupType = group.type, groupName = group.name;
  const std::uint32_t language = group.language;

  // The numbers: the group's own first, then new ones after the highest in use.
  std::uint32_t highest = 0;
  for (const ResourceLeaf& l : tree.leaves)
    if (l.type == number(kRtIcon) && !l.name.named) highest = std::max(highest, l.name.id);
  std::vector<std::uint16_t> ids;
  std::vector<std::uint32_t> languages;
  for (std::size_t i = 0; i < images->size(); ++i) {
    if (i < old->size()) {
      const ResourceLeaf* leaf = imageLeaf(tree, (*old)[i].id, language);
      ids.push_back((*old)[i].id);
      languages.push_back(leaf ? leaf->language : language);
    } else {
      if (highest >= 0xFFFF) return false;
      ids.push_back(static_cast<std::uint16_t>(++highest));
      languages.push_back(language);
    }
  }
  // Numbers this group no longer needs, where no other group names them.
  std::vector<std::uint16_t> unused;
  for (std::size_t i = images->size(); i < old->size(); ++i) unused.push_back((*old)[i].id);
  for (const ResourceLeaf& l : tree.leaves) {
    if (l.type != number(kRtGroupIcon) || &l == &group) continue;
    if (const auto other = groupImages(l.data))
      for (const GroupImage& g : *other) std::erase(unused, g.id);
  }

  std::vector<unsigned char> data(6 + 14 * images->size());
  std::memcpy(data.data(), group.data.data(), 4);
  data[4] = static_cast<unsigned char>(images->size());
  data[5] = static_cast<unsigned char>(images->size() >> 8);
  for (std::size_t i = 0; i < images->size(); ++i) {
    unsigned char* e = data.data() + 6 + 14 * i;
    std::memcpy(e, (*images)[i].entry, 12);
    e[12] = static_cast<unsigned char>(ids[i]);
    e[13] = static_cast<unsigned char>(ids[i] >> 8);
  }
  // From here on the group's leaf may move (insert and erase shift the leaves).
  for (std::uint16_t id : unused) tree.erase(number(kRtIcon), number(id));
  for (std::size_t i = 0; i < images->size(); ++i) {
    const ByteSpan bytes = (*images)[i].bytes;
    if (ResourceLeaf* leaf = imageLeaf(tree, ids[i], languages[i])) {
      leaf->data.assign(bytes.begin(), bytes.end());
    } else {
      ResourceLeaf fresh;
      fresh.type = number(kRtIcon);
      fresh.name = number(ids[i]);
      fresh.language = languages[i];
      fresh.data.assign(bytes.begin(), bytes.end());
      tree.insert(std::move(fresh));
    }
  }
  tree.find(groupType, groupName, language)->data = std::move(data);
  return true;
}

}  // namespace falcet
