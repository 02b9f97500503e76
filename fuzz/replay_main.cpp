// Runs a fuzz target's entry point on every file given (or every file in the
// folders given), without libFuzzer: the seed corpus as a regression test in
// the normal build, under g++ and under the sanitizer build alike.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int RunFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int failures = 0;
  int runs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (!entry.is_regular_file()) continue;
        failures += RunFile(entry.path());
        ++runs;
      }
    } else {
      failures += RunFile(arg);
      ++runs;
    }
  }
  LLVMFuzzerTestOneInput(nullptr, 0);  // the empty input
  std::printf("%d inputs replayed\n", runs + 1);
  return failures == 0 && runs > 0 ? 0 : 1;
}
