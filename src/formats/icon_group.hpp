#pragma once
// A program's own icon in its resource tree: a group (RT_GROUP_ICON: the icon file's header with a
// resource number in place of each image's offset) and one RT_ICON leaf per image. Compared with
// and replaced by an icon file's bytes.

#include <cstdint>
#include <vector>

#include "base/bytes.hpp"
#include "formats/resource_section.hpp"

namespace falcet {

// The groups of the tree whose images are, in order and byte for byte, those of the icon file.
[[nodiscard]] std::vector<ResourceLeaf*> groupsCopying(ResourceTree& tree, ByteSpan iconFile);

// Makes the group hold the icon file's images: its own numbers kept for as many images as it had,
// new numbers after the highest RT_ICON number for more, numbers it no longer needs (and no other
// group uses) removed. False, with the tree as it was, when iconFile is no icon file.
bool replaceGroupIcon(ResourceTree& tree, ResourceLeaf& group, ByteSpan iconFile);

}  // namespace falcet
