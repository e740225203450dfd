// kolvan's command line on any arguments: the input split at its zero
// bytes into at most eight arguments, read as kolvan reads them, and each
// argument through the number and port readers.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "carrier/port_name.h"
#include "app/options.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string> args{"kolvan"};
  std::string arg;
  for (std::size_t i = 0; i < size && args.size() < 9; ++i) {
    if (data[i] == 0) {
      args.push_back(arg);
      arg.clear();
    } else {
      arg += static_cast<char>(data[i]);
    }
  }
  if (args.size() < 9) args.push_back(arg);
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(&a[0]);
  argv.push_back(nullptr);
  Options options;
  std::string error;
  parse_command_line(static_cast<int>(args.size()), argv.data(), options, error);
  for (const std::string& a : args) parse_int(a.c_str());
  return 0;
}
