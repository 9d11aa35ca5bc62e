#pragma once
// A capture filter as compiled instructions (classic BPF). The capture driver,
// which holds no right, compiles the expression: how long that takes, and
// whatever names it looks up, cost only the caller. The helper takes the
// instructions, checks them as the kernel will, and attaches them.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace netvane::helper {

struct FilterInstruction {
  uint16_t code = 0;
  uint8_t jt = 0;  // conditional jumps: instructions skipped when true
  uint8_t jf = 0;  // ... and when false
  uint32_t k = 0;
  bool operator==(const FilterInstruction&) const = default;
};

// The most instructions the kernel attaches to a socket.
inline constexpr size_t kMaxFilterInstructions = 4096;

// The kernel's own check of a classic filter: 1 to kMaxFilterInstructions
// instructions, only opcodes it knows, jumps that land inside the program,
// no division by a constant 0 and no shift of 32 or more, scratch memory
// written before it is read on every path, and a return at the end. False
// with the first fault, for a person, in `error`.
bool CheckFilterProgram(std::span<const FilterInstruction> program, std::string& error);

}  // namespace netvane::helper
