// The resource section read whole and written anew: an unchanged tree gives the same leaves with
// the same bytes, a grown or shrunk leaf moves what follows and keeps the headers true, and the
// real programs of the samples (when present) survive the round trip.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "formats/pe_image.hpp"
#include "formats/resource_section.hpp"
#include "support/fixtures.hpp"

namespace falcet {
namespace {

namespace fs = std::filesystem;

struct Leaf {
  ResourceName type, name;
  std::uint32_t language;
  std::string data;
  bool operator==(const Leaf&) const = default;
};

std::vector<Leaf> leavesOf(const std::string& file) {
  const ByteSpan bytes = testing::asBytes(file);
  const auto image = readPeImage(bytes);
  EXPECT_TRUE(image);
  std::vector<Leaf> out;
  if (!image) return out;
  bool complete = false;
  for (const ResourceEntry& e : readResources(MemoryReader(bytes), *image, &complete)) {
    EXPECT_TRUE(e.offset);
    if (!e.offset) continue;
    out.push_back({e.type, e.name, e.language, file.substr(static_cast<std::size_t>(*e.offset), e.size)});
  }
  EXPECT_TRUE(complete);
  return out;
}

std::string relay(const std::string& file, const std::function<void(ResourceTree&)>& edit = {}) {
  const ByteSpan bytes = testing::asBytes(file);
  const auto image = readPeImage(bytes);
  if (!image) return {};
  auto tree = readResourceTree(bytes, *image);
  EXPECT_TRUE(tree);
  if (!tree) return {};
  if (edit) edit(*tree);
  const ResourceLayout layout = replaceResourceSection(bytes, *image, *tree);
  EXPECT_EQ(layout.error, ResourceLayoutError::None);
  if (!layout.image) return {};
  return std::string(layout.image->bytes.begin(), layout.image->bytes.end());
}

// What the loader relies on: sections in rising order without overlap, SizeOfImage covering them
// on the section alignment, raw sizes on the file alignment.
void expectSoundHeaders(const std::string& file) {
  const auto image = readPeImage(testing::asBytes(file));
  ASSERT_TRUE(image);
  std::uint64_t end = 0;
  for (const PeSection& s : image->sections) {
    EXPECT_GE(s.virtualAddress, end) << s.name;
    EXPECT_EQ(s.virtualAddress % image->sectionAlignment, 0u) << s.name;
    EXPECT_EQ(s.rawSize % image->fileAlignment, 0u) << s.name;
    EXPECT_LE(std::uint64_t{s.rawOffset} + s.rawSize, file.size()) << s.name;
    end = std::uint64_t{s.virtualAddress} + std::max(s.virtualSize, s.rawSize);
  }
  EXPECT_EQ(image->sizeOfImage % image->sectionAlignment, 0u);
  EXPECT_GE(image->sizeOfImage, end);
  EXPECT_LT(image->sizeOfImage, end + image->sectionAlignment);
}

ResourceName id(std::uint32_t n) { return {n, {}, false}; }
ResourceName named(std::u16string s) { return {0, std::move(s), true}; }

TEST(ResourceSection, UnchangedTreeGivesTheSameLeaves) {
  for (const bool is64 : {false, true}) {
    testing::PeLayout layout;
    layout.is64 = is64;
    layout.rcdata = {{"TFORM1", "TPF0 one"}, {"TABOUT", "TPF0 two, longer"}};
    layout.relocations = true;
    layout.overlay = "overlay bytes";
    const std::string file = testing::peProgram(layout);
    const std::string again = relay(file);
    EXPECT_EQ(leavesOf(again), leavesOf(file)) << is64;
    expectSoundHeaders(again);
    EXPECT_EQ(again.substr(again.size() - 13), "overlay bytes");
  }
}

// A leaf grown past the section's end moves .reloc (and its directory) and the overlay behind it;
// one made smaller keeps every section where it was.
TEST(ResourceSection, GrownAndShrunkLeaves) {
  testing::PeLayout layout;
  layout.rcdata = {{"TFORM1", "TPF0 one"}, {"TABOUT", "TPF0 two"}};
  layout.relocations = true;
  layout.overlay = "tail";
  const std::string file = testing::peProgram(layout);
  const auto before = readPeImage(testing::asBytes(file));
  ASSERT_TRUE(before);
  const std::string big(70000, 'x');
  const std::string grown = relay(file, [&](ResourceTree& t) {
    t.find(id(kRtRcData), named(u"TFORM1"), 0)->data.assign(big.begin(), big.end());
  });
  auto expected = leavesOf(file);
  for (Leaf& l : expected)
    if (l.name == named(u"TFORM1")) l.data = big;
  EXPECT_EQ(leavesOf(grown), expected);
  expectSoundHeaders(grown);
  const auto after = readPeImage(testing::asBytes(grown));
  ASSERT_TRUE(after);
  const PeSection& reloc = after->sections.back();
  EXPECT_EQ(reloc.name, ".reloc");
  EXPECT_GT(reloc.virtualAddress, before->sections.back().virtualAddress);
  EXPECT_EQ(after->directory(kPeRelocations).address, reloc.virtualAddress);
  EXPECT_EQ(grown.substr(reloc.rawOffset, 8), file.substr(before->sections.back().rawOffset, 8));
  EXPECT_EQ(grown.substr(grown.size() - 4), "tail");

  const std::string shrunk = relay(file, [&](ResourceTree& t) { t.find(id(kRtRcData), named(u"TFORM1"), 0)->data.resize(2); });
  const auto small = readPeImage(testing::asBytes(shrunk));
  ASSERT_TRUE(small);
  for (std::size_t i = 0; i < small->sections.size(); ++i) {
    EXPECT_EQ(small->sections[i].virtualAddress, before->sections[i].virtualAddress);
    EXPECT_EQ(small->sections[i].rawOffset, before->sections[i].rawOffset);
  }
  EXPECT_EQ(shrunk.size(), file.size());
}

// Leaves added keep the tree's order (names first, then numbers rising) and read back.
TEST(ResourceSection, InsertedLeavesReadBack) {
  testing::PeLayout layout;
  layout.rcdata = {{"TFORM1", "TPF0"}};
  const std::string file = testing::peProgram(layout);
  const std::string out = relay(file, [](ResourceTree& t) {
    ResourceLeaf icon;
    icon.type = id(kRtIcon);
    icon.name = id(7);
    icon.language = 1033;
    icon.data = {1, 2, 3};
    t.insert(icon);
    icon.name = id(2);
    t.insert(icon);
    ResourceLeaf main;
    main.type = id(kRtGroupIcon);
    main.name = named(u"MAINICON");
    main.data = {9};
    t.insert(main);
  });
  const auto leaves = leavesOf(out);
  ASSERT_EQ(leaves.size(), 4u);
  EXPECT_EQ(leaves[0].type, id(kRtIcon));
  EXPECT_EQ(leaves[0].name, id(2));
  EXPECT_EQ(leaves[1].name, id(7));
  EXPECT_EQ(leaves[2].type, id(kRtRcData));
  EXPECT_EQ(leaves[3].name, named(u"MAINICON"));
  EXPECT_EQ(leaves[3].data, "\x09");
}

// Every real program of the samples: the tree written back unchanged reads the same, and a leaf
// grown by 64 KiB too.
TEST(ResourceSection, SamplePrograms) {
  const fs::path samples = FALCET_SAMPLES_DIR;
  if (!fs::exists(samples / "MANIFEST.tsv")) GTEST_SKIP() << "no samples at " << samples;
  int programs = 0;
  for (const char* folder : {"vbexe", "delphiexe", "lazarusexe"}) {
    if (!fs::exists(samples / folder)) continue;
    for (const auto& entry : fs::directory_iterator(samples / folder)) {
      if (entry.path().extension() != ".exe") continue;
      SCOPED_TRACE(entry.path().filename().string());
      const std::string file = testing::readFile(entry.path());
      const std::string same = relay(file);
      EXPECT_EQ(leavesOf(same), leavesOf(file));
      expectSoundHeaders(same);
      const std::string grown = relay(file, [](ResourceTree& t) { t.leaves.front().data.resize(t.leaves.front().data.size() + 65536, 0); });
      EXPECT_EQ(leavesOf(grown).size(), leavesOf(file).size());
      expectSoundHeaders(grown);
      ++programs;
    }
  }
  EXPECT_GT(programs, 0);
}

}  // namespace
}  // namespace falcet
