#include "helper/filter_program.h"

#include <linux/filter.h>

#include <vector>

namespace netvane::helper {
namespace {

static_assert(kMaxFilterInstructions == BPF_MAXINSNS);

// The opcodes the kernel takes in a socket filter.
bool KnownOpcode(uint16_t code) {
  switch (code) {
    case BPF_ALU | BPF_ADD | BPF_K:
    case BPF_ALU | BPF_ADD | BPF_X:
    case BPF_ALU | BPF_SUB | BPF_K:
    case BPF_ALU | BPF_SUB | BPF_X:
    case BPF_ALU | BPF_MUL | BPF_K:
    case BPF_ALU | BPF_MUL | BPF_X:
    case BPF_ALU | BPF_DIV | BPF_K:
    case BPF_ALU | BPF_DIV | BPF_X:
    case BPF_ALU | BPF_MOD | BPF_K:
    case BPF_ALU | BPF_MOD | BPF_X:
    case BPF_ALU | BPF_AND | BPF_K:
    case BPF_ALU | BPF_AND | BPF_X:
    case BPF_ALU | BPF_OR | BPF_K:
    case BPF_ALU | BPF_OR | BPF_X:
    case BPF_ALU | BPF_XOR | BPF_K:
    case BPF_ALU | BPF_XOR | BPF_X:
    case BPF_ALU | BPF_LSH | BPF_K:
    case BPF_ALU | BPF_LSH | BPF_X:
    case BPF_ALU | BPF_RSH | BPF_K:
    case BPF_ALU | BPF_RSH | BPF_X:
    case BPF_ALU | BPF_NEG:
    case BPF_LD | BPF_W | BPF_ABS:
    case BPF_LD | BPF_H | BPF_ABS:
    case BPF_LD | BPF_B | BPF_ABS:
    case BPF_LD | BPF_W | BPF_LEN:
    case BPF_LD | BPF_W | BPF_IND:
    case BPF_LD | BPF_H | BPF_IND:
    case BPF_LD | BPF_B | BPF_IND:
    case BPF_LD | BPF_IMM:
    case BPF_LD | BPF_MEM:
    case BPF_LDX | BPF_W | BPF_LEN:
    case BPF_LDX | BPF_B | BPF_MSH:
    case BPF_LDX | BPF_IMM:
    case BPF_LDX | BPF_MEM:
    case BPF_ST:
    case BPF_STX:
    case BPF_MISC | BPF_TAX:
    case BPF_MISC | BPF_TXA:
    case BPF_RET | BPF_K:
    case BPF_RET | BPF_A:
    case BPF_JMP | BPF_JA:
    case BPF_JMP | BPF_JEQ | BPF_K:
    case BPF_JMP | BPF_JEQ | BPF_X:
    case BPF_JMP | BPF_JGE | BPF_K:
    case BPF_JMP | BPF_JGE | BPF_X:
    case BPF_JMP | BPF_JGT | BPF_K:
    case BPF_JMP | BPF_JGT | BPF_X:
    case BPF_JMP | BPF_JSET | BPF_K:
    case BPF_JMP | BPF_JSET | BPF_X:
      return true;
    default:
      return false;
  }
}

bool ConditionalJump(uint16_t code) {
  return BPF_CLASS(code) == BPF_JMP && code != (BPF_JMP | BPF_JA);
}

bool UsesScratch(uint16_t code) {
  return code == (BPF_LD | BPF_MEM) || code == (BPF_LDX | BPF_MEM) || code == BPF_ST || code == BPF_STX;
}

std::string At(size_t pc) {
  return "instruction " + std::to_string(pc) + ": ";
}

// Each of the 16 scratch words must be written on every path before it is
// read. Jumps only go forward, so one pass in order sees every way into an
// instruction before the instruction itself.
bool ScratchWrittenBeforeRead(std::span<const FilterInstruction> program, std::string& error) {
  std::vector<uint16_t> writtenOnEveryWayIn(program.size(), 0xFFFF);
  uint16_t written = 0;
  for (size_t pc = 0; pc < program.size(); ++pc) {
    const FilterInstruction& in = program[pc];
    written &= writtenOnEveryWayIn[pc];
    if (in.code == BPF_ST || in.code == BPF_STX) {
      written |= static_cast<uint16_t>(1u << in.k);
    } else if (in.code == (BPF_LD | BPF_MEM) || in.code == (BPF_LDX | BPF_MEM)) {
      if (!(written & (1u << in.k))) {
        error = At(pc) + "reads scratch word " + std::to_string(in.k) + " before it is written";
        return false;
      }
    } else if (in.code == (BPF_JMP | BPF_JA)) {
      writtenOnEveryWayIn[pc + 1 + in.k] &= written;
      written = 0xFFFF;  // nothing falls through
    } else if (ConditionalJump(in.code)) {
      writtenOnEveryWayIn[pc + 1 + in.jt] &= written;
      writtenOnEveryWayIn[pc + 1 + in.jf] &= written;
      written = 0xFFFF;
    }
  }
  return true;
}

}  // namespace

bool CheckFilterProgram(std::span<const FilterInstruction> program, std::string& error) {
  if (program.empty()) {
    error = "empty filter program";
    return false;
  }
  if (program.size() > kMaxFilterInstructions) {
    error = "filter program of " + std::to_string(program.size()) +
            " instructions; the kernel takes at most " + std::to_string(kMaxFilterInstructions);
    return false;
  }
  const size_t length = program.size();
  for (size_t pc = 0; pc < length; ++pc) {
    const FilterInstruction& in = program[pc];
    if (!KnownOpcode(in.code)) {
      error = At(pc) + "unknown opcode " + std::to_string(in.code);
      return false;
    }
    if ((in.code == (BPF_ALU | BPF_DIV | BPF_K) || in.code == (BPF_ALU | BPF_MOD | BPF_K)) && in.k == 0) {
      error = At(pc) + "division by 0";
      return false;
    }
    if ((in.code == (BPF_ALU | BPF_LSH | BPF_K) || in.code == (BPF_ALU | BPF_RSH | BPF_K)) && in.k >= 32) {
      error = At(pc) + "shift by " + std::to_string(in.k);
      return false;
    }
    if (UsesScratch(in.code) && in.k >= BPF_MEMWORDS) {
      error = At(pc) + "no scratch word " + std::to_string(in.k);
      return false;
    }
    const size_t after = length - pc - 1;  // instructions a jump from here may skip, plus one
    if (in.code == (BPF_JMP | BPF_JA) && in.k >= after) {
      error = At(pc) + "jumps past the end";
      return false;
    }
    if (ConditionalJump(in.code) && (in.jt >= after || in.jf >= after)) {
      error = At(pc) + "jumps past the end";
      return false;
    }
  }
  const uint16_t last = program.back().code;
  if (last != (BPF_RET | BPF_K) && last != (BPF_RET | BPF_A)) {
    error = "filter program does not end with a return";
    return false;
  }
  return ScratchWrittenBeforeRead(program, error);
}

}  // namespace netvane::helper
