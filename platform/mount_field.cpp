#include "platform/mount_field.h"

namespace netvane {

std::string UnescapeMountField(std::string_view field) {
  const auto octal = [&](std::size_t at) {
    return at < field.size() && field[at] >= '0' && field[at] <= '7';
  };
  std::string out;
  out.reserve(field.size());
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      out += static_cast<char>((field[i + 1] - '0') << 6 | (field[i + 2] - '0') << 3 | (field[i + 3] - '0'));
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

}  // namespace netvane
