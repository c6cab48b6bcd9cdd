// Entry point that turns a fuzz target into an ordinary program: it runs
// the target once on every file named on the command line, and on every
// file of every folder named there (in name order), and fails if any run
// does. The test suite uses it to replay the committed corpora.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> inputsOf(const fs::path& arg) {
  if (!fs::is_directory(arg)) return {arg};
  std::vector<fs::path> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(arg))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  return files;
}

bool replay(const fs::path& file) {
  // Named first, so that the log of a run that crashes tells the input.
  std::cout << file.string() << std::endl;
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    std::cerr << "cannot read " << file.string() << std::endl;
    return false;
  }
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                std::istreambuf_iterator<char>()};
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                         bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "Usage: " << argv[0] << " FILE_OR_FOLDER..." << std::endl;
    return 2;
  }
  std::size_t replayed = 0;
  for (int a = 1; a < argc; ++a) {
    for (const fs::path& file : inputsOf(argv[a])) {
      if (!replay(file)) return 1;
      ++replayed;
    }
  }
  if (replayed == 0) {
    std::cerr << "no inputs" << std::endl;
    return 1;
  }
  std::cout << "replayed " << replayed << " inputs" << std::endl;
  return 0;
}
