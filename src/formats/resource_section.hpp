#pragma once
// A program's resource section as a whole: read into a tree of leaves with their bytes, written
// anew as the linkers lay it out, and put back into the image with the sections, headers and
// data behind it moved to make room (growing or shrinking).

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/bytes.hpp"
#include "formats/pe_image.hpp"

namespace falcet {

// The first 12 bytes of a resource directory: characteristics, time stamp, major and minor
// version. The entry counts are worked out when the tree is written.
using ResourceDirectoryHeader = std::array<unsigned char, 12>;

struct ResourceLeaf {
  ResourceName type, name;
  std::uint32_t language = 0;
  std::uint32_t codePage = 0;
  std::vector<unsigned char> data;
  ResourceDirectoryHeader typeHeader{}, nameHeader{};  // of the directories above it
  std::optional<std::int64_t> oldOffset;               // where its data lay in the file read
  std::uint32_t oldSize = 0;                           // and how long it was there
};

struct ResourceTree {
  ResourceDirectoryHeader rootHeader{};
  std::vector<ResourceLeaf> leaves;  // in the order the tree lists them

  // The leaf of that type, name and language, or nullptr.
  [[nodiscard]] ResourceLeaf* find(const ResourceName& type, const ResourceName& name, std::uint32_t language);
  // Adds a leaf where the tree's order puts it: named entries first, then numbers rising.
  ResourceLeaf& insert(ResourceLeaf leaf);
  // Removes every leaf of that type and name.
  void erase(const ResourceName& type, const ResourceName& name);
};

// Why the resource section cannot be read whole or put back.
enum class ResourceLayoutError {
  None,
  Unreadable,      // no resource directory, or its tree cannot be read
  DataElsewhere,   // some resource data lies outside the resource section, or the tree does not
                   // start it
  PointedInto,     // another data directory points into the section or into what would move
  NoRoom,          // sections that cannot move follow it, and the headers have no room for one more
};

// Reads the whole tree of the image's resource section with every leaf's bytes.
[[nodiscard]] std::optional<ResourceTree> readResourceTree(ByteSpan file, const PeImage& image,
                                                           ResourceLayoutError* why = nullptr);

// The tree's bytes for a section at sectionRva: the directories (root, types, names), the data
// entries, the name strings, then each leaf's data aligned to 8 bytes. dataOffsets (when given)
// gets each leaf's data offset from the start of the section, in leaf order.
[[nodiscard]] std::vector<unsigned char> writeResourceSection(const ResourceTree& tree, std::uint32_t sectionRva,
                                                              std::vector<std::uint32_t>* dataOffsets = nullptr);

// A range of the old file that lies elsewhere in the new one.
struct MovedRange {
  std::int64_t oldStart = 0, oldEnd = 0, newStart = 0;
};

struct RelaidImage {
  std::vector<unsigned char> bytes;
  std::vector<std::int64_t> leafOffsets;  // each leaf's data in the new file, in leaf order
  std::vector<MovedRange> moved;          // what moved besides the resource section
  std::int64_t oldSectionStart = 0, oldSectionEnd = 0;  // the old section's file bytes
};

// The image with its resource section replaced by the tree. The section keeps its place and
// grows or shrinks when it is the last one; a `.reloc` section that follows it (and that nothing
// but its own directory points into) moves behind it; otherwise the tree goes into a new last
// section where the headers have room. Sizes, SizeOfImage, SizeOfInitializedData and the
// directories are set anew, data after the last section (an overlay) moves with the end, and
// debug records there keep pointing at themselves. The checksum is left to the caller.
struct ResourceLayout {
  std::optional<RelaidImage> image;
  ResourceLayoutError error = ResourceLayoutError::None;
};
[[nodiscard]] ResourceLayout replaceResourceSection(ByteSpan file, const PeImage& image, const ResourceTree& tree);

// Where an old file offset lies after the layout: inside a leaf's data, inside a moved range,
// or (before the resource section) where it was. nullopt for bytes that are gone (the old
// section's directories, or data no leaf kept).
[[nodiscard]] std::optional<std::int64_t> relaidOffset(const RelaidImage& relaid, const ResourceTree& tree,
                                                       std::int64_t oldOffset);

}  // namespace falcet
