// Names as messages show them.
#include "base/escaped_name.h"

std::string escaped_name(const std::string& name) {
  std::string shown;
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\\') {
      shown += "\\\\";
    } else if (byte < 0x20 || byte == 0x7F) {
      static const char kHex[] = "0123456789abcdef";
      shown += "\\x";
      shown += kHex[byte >> 4];
      shown += kHex[byte & 15];
    } else {
      shown += c;
    }
  }
  return shown;
}
