// The question "does this file hold exactly these bytes", asked for many files at once, gives the
// answers the one-file question gives, for every kind of file a picture's name may lead to.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "platform/file_io.hpp"
#include "support/fixtures.hpp"

namespace falcet {
namespace {

TEST(HeldFiles, ManyAtOnceAnswerAsOneAtATime) {
  testing::TempDir dir;
  const std::string picture = "GIF89a" + std::string(600, 'x');
  struct Case {
    const char* name;
    bool held;
  };
  const std::vector<Case> cases = {
      {"same", true},          {"other", false},       {"longer", false}, {"shorter", false},
      {"missing", false},      {"folder", false},      {"link", false},   {"pipe", false},
      {"readonly", false},     {"empty-file", false},
  };
  auto make = [&](const std::string& name, const std::filesystem::path& path) {
    if (name == "same") testing::writeFile(path.string(), picture);
    if (name == "other") testing::writeFile(path.string(), "GIF89a" + std::string(600, 'y'));
    if (name == "longer") testing::writeFile(path.string(), picture + "z");
    if (name == "shorter") testing::writeFile(path.string(), picture.substr(0, picture.size() - 1));
    if (name == "folder") std::filesystem::create_directory(path);
    if (name == "link") {
      testing::writeFile(path.string() + ".target", picture);
      std::filesystem::create_symlink(path.string() + ".target", path);
    }
    if (name == "pipe") {
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);  // must not be waited on
    }
    if (name == "readonly") {
      testing::writeFile(path.string(), picture);
      std::filesystem::permissions(path, std::filesystem::perms::owner_read);
    }
    if (name == "empty-file") testing::writeFile(path.string(), "");
  };
  // Batches of 1, of a few and of more than one submission holds, each case at every place.
  std::vector<std::filesystem::path> paths;
  std::vector<bool> expected;
  for (int round = 0; round < 8; ++round)
    for (const Case& c : cases) {
      paths.push_back(dir.path() / (std::string(c.name) + "." + std::to_string(round)));
      make(c.name, paths.back());
      // Root opens a read-only file for writing all the same.
      expected.push_back(c.held || (std::string(c.name) == "readonly" && ::geteuid() == 0));
    }
  for (std::size_t batch : {std::size_t{1}, std::size_t{3}, std::size_t{80}}) {
    for (std::size_t from = 0; from < paths.size(); from += batch) {
      std::vector<HeldCheck> checks;
      for (std::size_t k = from; k < std::min(paths.size(), from + batch); ++k)
        checks.push_back({&paths[k], picture, !expected[k]});
      filesHoldExactly(checks);
      for (std::size_t k = 0; k < checks.size(); ++k) {
        SCOPED_TRACE(paths[from + k].filename().string() + " in a batch of " + std::to_string(batch));
        EXPECT_EQ(checks[k].held, expected[from + k]);
        EXPECT_EQ(fileHoldsExactly(paths[from + k], picture), expected[from + k]);
      }
    }
  }
  // Nothing was changed, and no descriptor was left open.
  EXPECT_EQ(testing::readFile(paths[0].string()), picture);
  const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  EXPECT_LT(probe, 16);
  ::close(probe);
}

}  // namespace
}  // namespace falcet
