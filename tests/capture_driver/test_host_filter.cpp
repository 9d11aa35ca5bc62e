// The filter as the driver builds and compiles it, the helper's check of
// compiled programs, and which adapters the helper opens.
#include <gtest/gtest.h>

#include <linux/filter.h>

#include "capture/host_filter.h"
#include "helper/adapter_check.h"
#include "helper/filter_program.h"

namespace {

using netvane::helper::FilterInstruction;

// The expression, whether it compiles, and that what compiles passes the
// helper's check, which must take everything the library produces.
TEST(HostFilter, BuiltFromTheListCompiledAndChecked) {
  struct Case {
    const char* list;
    const char* expression;
    bool compiles;
  };
  const Case cases[] = {
      {"", "", true},
      {"10.0.0.1", "host 10.0.0.1", true},
      {"10.0.0.1,10.0.0.7", "host 10.0.0.1 or host 10.0.0.7", true},
      {"10.0.0.1,10.0.0.2,10.0.0.3", "host 10.0.0.1 or host 10.0.0.2 or host 10.0.0.3", true},
      {"10.0.0.1,", "host 10.0.0.1 or host ", false},
      {"10.0.0.1, 10.0.0.2", "host 10.0.0.1 or host  10.0.0.2", true},
      {",", "host  or host ", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    const std::string expr = netvane::HostFilterExpression(c.list);
    EXPECT_EQ(expr, c.expression);
    std::vector<FilterInstruction> program;
    std::string error;
    EXPECT_EQ(netvane::CompileFilter(expr, 20000, 0xFFFFFFFF, program, error), c.compiles) << error;
    if (!c.compiles) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_TRUE(netvane::helper::CheckFilterProgram(program, error)) << error;
  }
  // Programs that use scratch memory, jumps both ways and arithmetic.
  for (const char* expr : {"tcp[tcpflags] & (tcp-syn|tcp-fin) != 0", "ip[2:2] - ((ip[0]&0xf)<<2) > 100",
                           "vlan and udp port 53", "ether broadcast or ip6 or arp"}) {
    SCOPED_TRACE(expr);
    std::vector<FilterInstruction> program;
    std::string error;
    ASSERT_TRUE(netvane::CompileFilter(expr, 20000, 0xFFFFFFFF, program, error)) << error;
    EXPECT_TRUE(netvane::helper::CheckFilterProgram(program, error)) << error;
  }
}

TEST(HostFilter, MoreInstructionsThanTheKernelTakesIsACompileError) {
  std::string list;
  for (int i = 1; i <= 200; ++i) list += (i > 1 ? ",10.1.0." : "10.1.0.") + std::to_string(i);
  std::vector<FilterInstruction> program;
  std::string error;
  EXPECT_FALSE(
      netvane::CompileFilter(netvane::HostFilterExpression(list), 20000, 0xFFFFFFFF, program, error));
  EXPECT_NE(error.find("the kernel takes at most 4096"), std::string::npos) << error;
}

TEST(FilterProgramCheck, RefusesWhatTheKernelWould) {
  const FilterInstruction accept{BPF_RET | BPF_K, 0, 0, 0xFFFF};
  struct Case {
    const char* what;
    std::vector<FilterInstruction> program;
    const char* reason;  // empty: accepted
  };
  const Case cases[] = {
      {"one return", {accept}, ""},
      {"empty", {}, "empty"},
      {"4097 instructions", std::vector<FilterInstruction>(4097, accept), "at most 4096"},
      {"unknown opcode", {{0xFF, 0, 0, 0}, accept}, "unknown opcode"},
      {"no return at the end", {{BPF_LD | BPF_IMM, 0, 0, 1}}, "does not end with a return"},
      {"conditional jump past the end", {{BPF_JMP | BPF_JEQ | BPF_K, 0, 1, 0}, accept}, "past the end"},
      {"jump always past the end", {{BPF_JMP | BPF_JA, 0, 0, 1}, accept}, "past the end"},
      {"division by a constant 0", {{BPF_ALU | BPF_DIV | BPF_K, 0, 0, 0}, accept}, "division by 0"},
      {"shift by 32", {{BPF_ALU | BPF_LSH | BPF_K, 0, 0, 32}, accept}, "shift"},
      {"scratch word 16", {{BPF_ST, 0, 0, 16}, accept}, "no scratch word 16"},
      {"scratch read before written", {{BPF_LD | BPF_MEM, 0, 0, 3}, accept}, "before it is written"},
      {"scratch written on one path only",
       {{BPF_JMP | BPF_JEQ | BPF_K, 0, 1, 0}, {BPF_ST, 0, 0, 2}, {BPF_LD | BPF_MEM, 0, 0, 2}, accept},
       "before it is written"},
      {"scratch written on both paths",
       {{BPF_JMP | BPF_JEQ | BPF_K, 0, 2, 0},
        {BPF_ST, 0, 0, 2},
        {BPF_JMP | BPF_JA, 0, 0, 1},
        {BPF_ST, 0, 0, 2},
        {BPF_LD | BPF_MEM, 0, 0, 2},
        accept},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::string error;
    const bool accepted = netvane::helper::CheckFilterProgram(c.program, error);
    if (*c.reason == '\0') {
      EXPECT_TRUE(accepted) << error;
      continue;
    }
    EXPECT_FALSE(accepted);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST(AdapterCheck, OnlyEthernetAndLoopbackInterfacesAreOpened) {
  using netvane::helper::AdapterKind;
  struct Case {
    const char* name;
    AdapterKind kind;
  };
  const Case cases[] = {
      {"lo", AdapterKind::Ethernet},
      // The capture library's own devices, whatever interface may bear the name.
      {"any", AdapterKind::NotEthernet},
      {"nflog", AdapterKind::NotEthernet},
      {"nfqueue", AdapterKind::NotEthernet},
      {"dbus-system", AdapterKind::NotEthernet},
      {"bluetooth0", AdapterKind::NotEthernet},
      {"bluetooth-monitor", AdapterKind::NotEthernet},
      {"usbmon0", AdapterKind::NotEthernet},
      {"nv-nosuch0", AdapterKind::Missing},
      {"a-name-longer-than-ifnamsiz", AdapterKind::Missing},
  };
  const netvane::helper::AdapterChecker checker;
  for (const Case& c : cases) {
    const auto check = checker.Check(c.name);
    EXPECT_EQ(check.kind, c.kind) << c.name << ": " << check.reason;
    EXPECT_EQ(check.reason.empty(), c.kind == AdapterKind::Ethernet) << c.name;
  }
}

}  // namespace
