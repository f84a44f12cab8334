// The question "does this file hold exactly these bytes", asked for many files at once, gives the
// answers the one-file question gives, for every kind of file a picture's name may lead to.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <vector>

#if defined(__linux__) && __has_include(<linux/seccomp.h>)
#include <cstddef>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#define FALCET_CAN_FORBID_RING 1
#endif

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

#ifdef FALCET_CAN_FORBID_RING
// A sandbox that forbids io_uring (as container runtimes do): the files are asked one at a time,
// with the same answers. The rule is set on a thread of its own; it binds only that thread.
TEST(HeldFiles, AnswerWhereTheSystemForbidsTheRing) {
  testing::TempDir dir;
  const std::string picture(700, 'p');
  std::vector<std::filesystem::path> paths;
  for (int k = 0; k < 6; ++k) {
    std::string name = "file";
    name += std::to_string(k);
    paths.push_back(dir.path() / name);
    testing::writeFile(paths.back().string(), k % 2 ? picture : picture + "!");
  }
  std::vector<HeldCheck> checks;
  for (const auto& path : paths) checks.push_back({&path, picture, false});
  bool forbidden = false;
  std::thread([&] {
    sock_filter rules[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_io_uring_setup, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EPERM),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(rules)), rules};
    forbidden = ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
                ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0 &&
                ::syscall(__NR_io_uring_setup, 1, nullptr) < 0 && errno == EPERM;
    filesHoldExactly(checks);
  }).join();
  if (!forbidden) GTEST_SKIP() << "this system lets no filter be set";
  for (std::size_t k = 0; k < checks.size(); ++k) EXPECT_EQ(checks[k].held, k % 2 == 1) << k;
}
#endif

}  // namespace
}  // namespace falcet
