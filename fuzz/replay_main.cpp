// Replays fuzz inputs without libFuzzer, so any compiler can build a fuzz
// target and CTest can run its seed corpus: every argument is a file, or a
// folder whose files (recursively, in name order) are each fed once.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path path = argv[i];
    if (fs::is_directory(path)) {
      for (const auto &entry : fs::recursive_directory_iterator(path))
        if (entry.is_regular_file()) inputs.push_back(entry.path());
    } else if (fs::is_regular_file(path)) {
      inputs.push_back(path);
    } else {
      std::fprintf(stderr, "replay: %s: no such file or folder\n", argv[i]);
      return 2;
    }
  }
  std::sort(inputs.begin(), inputs.end());
  // An empty corpus would replay nothing and pass: that is a broken set-up.
  if (inputs.empty()) {
    std::fprintf(stderr, "replay: no inputs given\n");
    return 2;
  }
  for (const fs::path &path : inputs) {
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                  std::istreambuf_iterator<char>()};
    std::fprintf(stderr, "replay: %s\n", path.c_str());
    // A fresh copy of exactly the input's size, so a read past its end is
    // seen by AddressSanitizer as it would be under libFuzzer.
    // libFuzzer never hands out a null pointer, not even for an empty input.
    std::vector<uint8_t> data(bytes.begin(), bytes.end());
    static uint8_t no_bytes = 0;
    LLVMFuzzerTestOneInput(data.empty() ? &no_bytes : data.data(), data.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}
