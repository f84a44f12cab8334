// Runs a fuzz target without libFuzzer: every file of the given folders (or the files given) once,
// then, with --seconds N, random mutations of those inputs until N seconds have passed. A finding
// aborts the process, so a non-zero exit is a failure. The mutations use a fixed seed, so a run
// can be repeated. An input that makes the target abort is kept as ./crash-replay.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

std::string readAllBytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The input being run, and where to keep it when the target aborts on it.
const std::string* g_current = nullptr;
std::string g_crashFile;

extern "C" void keepCrashInput(int sig) {
  if (g_current && !g_crashFile.empty()) {
    int fd = ::open(g_crashFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      ssize_t ignored = ::write(fd, g_current->data(), g_current->size());
      (void)ignored;
      ::close(fd);
    }
  }
  ::signal(sig, SIG_DFL);
  ::raise(sig);
}

void runOne(const std::string& input) {
  g_current = &input;
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(input.data()), input.size());
}

std::string mutate(std::string s, std::mt19937_64& rng) {
  const int steps = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < steps; ++i) {
    const auto op = rng() % 5;
    const std::size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
    switch (op) {
      case 0:  // flip a byte
        if (!s.empty()) s[at % s.size()] = static_cast<char>(rng());
        break;
      case 1:  // insert bytes
        s.insert(at, std::string(1 + rng() % 8, static_cast<char>(rng())));
        break;
      case 2:  // erase bytes
        if (!s.empty()) s.erase(at % s.size(), 1 + rng() % 8);
        break;
      case 3:  // a boundary value
        if (!s.empty()) {
          static const char values[] = {0, 1, 0x7F, static_cast<char>(0x80), static_cast<char>(0xFF)};
          s[at % s.size()] = values[rng() % sizeof values];
        }
        break;
      default:  // duplicate a piece
        if (!s.empty()) {
          const std::size_t from = rng() % s.size();
          s.insert(at, s.substr(from, 1 + rng() % 16));
        }
        break;
    }
  }
  if (s.size() > 1 << 16) s.resize(1 << 16);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 0;
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--seconds" && i + 1 < argc) {
      seconds = std::atof(argv[++i]);
      continue;
    }
    std::filesystem::path p(arg);
    if (!std::filesystem::exists(p)) {
      std::fprintf(stderr, "no such corpus: %s\n", arg.c_str());
      return 2;
    }
    if (std::filesystem::is_directory(p)) {
      std::vector<std::filesystem::path> files;
      for (const auto& e : std::filesystem::directory_iterator(p))
        if (e.is_regular_file()) files.push_back(e.path());
      std::sort(files.begin(), files.end());
      for (const auto& f : files) inputs.push_back(readAllBytes(f));
    } else {
      inputs.push_back(readAllBytes(p));
    }
  }
  g_crashFile = (std::filesystem::current_path() / "crash-replay").string();
  std::signal(SIGABRT, keepCrashInput);
  std::signal(SIGSEGV, keepCrashInput);
  // Inputs are read first: a target may change the working folder when it starts.
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  for (const auto& in : inputs) runOne(in);
  std::size_t mutated = 0;
  if (seconds > 0) {
    if (inputs.empty()) inputs.emplace_back();
    std::mt19937_64 rng(20261209);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
      for (int k = 0; k < 64; ++k, ++mutated) runOne(mutate(inputs[rng() % inputs.size()], rng));
    }
  }
  std::printf("replayed %zu inputs, %zu mutations\n", inputs.size(), mutated);
  return 0;
}
