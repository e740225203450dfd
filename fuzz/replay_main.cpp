// Runs a fuzz target's inputs once each, without libFuzzer: the seed corpus
// and the inputs that once crashed, as tests of the ordinary (gcc) build
// under its sanitizers. Arguments are files or directories of them.
#include <dirent.h>
#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

int run_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "can not read %s\n", path.c_str());
    return 1;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int failed = 0, ran = 0;
  for (int i = 1; i < argc; ++i) {
    struct stat info {};
    if (stat(argv[i], &info) != 0) continue;  // a target without such inputs
    if (!S_ISDIR(info.st_mode)) {
      failed += run_file(argv[i]);
      ++ran;
      continue;
    }
    DIR* dir = opendir(argv[i]);
    for (dirent* entry = dir ? readdir(dir) : nullptr; entry != nullptr; entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      failed += run_file(std::string(argv[i]) + "/" + entry->d_name);
      ++ran;
    }
    if (dir != nullptr) closedir(dir);
  }
  std::printf("%d inputs\n", ran);
  return failed == 0 && ran > 0 ? 0 : 1;
}
