#include "capture/adapter_list.h"

#include <QString>

#include <cstring>

namespace netvane {

AdapterListWidth AdapterListWidthFor(uint32_t versionWord) {
  const bool topBit = (versionWord & 0x80000000u) != 0;
  const uint32_t major = versionWord & 0xFFu;
  return (topBit && major >= 4) ? AdapterListWidth::Narrow8 : AdapterListWidth::Wide16;
}

namespace {

template <typename Char>
std::vector<std::basic_string<Char>> SplitNames(const void* list, size_t sizeBytes,
                                                const AdapterListLimits& limits) {
  std::vector<std::basic_string<Char>> names;
  if (list == nullptr) return names;
  const size_t count = sizeBytes / sizeof(Char);
  // Read unaligned-safe: the buffer may come from anywhere.
  const auto* bytes = static_cast<const unsigned char*>(list);
  auto at = [&](size_t i) {
    Char c;
    std::memcpy(&c, bytes + i * sizeof(Char), sizeof(Char));
    return c;
  };
  size_t i = 0;
  while (i < count && names.size() < limits.maxNames) {
    size_t end = i;
    while (end < count && at(end) != Char(0)) ++end;
    if (end == count) break;  // no terminating NUL inside the buffer: not a name
    if (end == i) break;      // the empty name closes the list
    const size_t chars = end - i;
    if ((chars + 1) * sizeof(Char) <= limits.slotBytes) {
      std::basic_string<Char> name;
      name.reserve(chars);
      for (size_t k = i; k < end; ++k) name.push_back(at(k));
      names.push_back(std::move(name));
    }
    i = end + 1;
  }
  return names;
}

}  // namespace

std::vector<std::string> WalkAdapterList(const void* list, size_t sizeBytes, AdapterListWidth width,
                                         AdapterListLimits limits) {
  std::vector<std::string> out;
  if (width == AdapterListWidth::Narrow8) {
    for (auto& n : SplitNames<char>(list, sizeBytes, limits)) out.push_back(std::move(n));
  } else {
    for (auto& n : SplitNames<char16_t>(list, sizeBytes, limits)) {
      const QString text = QString::fromUtf16(n.data(), static_cast<qsizetype>(n.size()));
      out.push_back(text.toLocal8Bit().toStdString());
    }
  }
  return out;
}

std::string HostFilterExpression(const std::string& list) {
  if (list.empty()) return {};
  std::string expr = "host ";
  for (char c : list) {
    if (c == ',')
      expr += " or host ";
    else
      expr += c;
  }
  return expr;
}

}  // namespace netvane
