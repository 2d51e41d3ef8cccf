// Runs a fuzz target over stored inputs without libFuzzer: every file named on the command line,
// and every file in every folder named there. A broken invariant aborts the run.

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "fuzz/fuzz_input.h"

namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<fs::path> files;
  for (int i = 1; i < argc; ++i) {
    const fs::path path(argv[i]);
    if (fs::is_directory(path)) {
      for (const auto& entry : fs::directory_iterator(path))
        if (entry.is_regular_file()) files.push_back(entry.path());
    } else {
      files.push_back(path);
    }
  }
  // The same order on every machine.
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::cerr << "no inputs\n";
    return 1;
  }
  for (const fs::path& file : files) {
    const std::vector<std::uint8_t> data = ReadFile(file);
    std::cout << file.filename().string() << " (" << data.size() << " bytes)" << std::endl;
    LLVMFuzzerTestOneInput(data.data(), data.size());
  }
  std::cout << files.size() << " inputs passed\n";
  return 0;
}
