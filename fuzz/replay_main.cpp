// Runs a fuzz harness over every file of a corpus folder, so that the corpus is also a regression
// test in builds without libFuzzer (the Windows build under Wine among them).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR\n", argv[0]);
    return 2;
  }
  size_t count = 0;
  std::error_code ec;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(argv[1], ec)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Copy into an exact-size heap block so that a read past the end is caught by the sanitizers.
    std::vector<uint8_t> exact(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(exact.empty() ? nullptr : exact.data(), exact.size());
    ++count;
  }
  if (ec) {
    std::fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  std::printf("replayed %zu inputs\n", count);
  return 0;
}
