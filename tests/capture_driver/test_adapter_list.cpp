// The flat adapter-name list, the platform rule for its character width, the
// names of pseudo-devices and the host-filter expression.
#include <gtest/gtest.h>

#include <pcap/pcap.h>

#include "capture/adapter_list.h"
#include "capture/adapter_scan.h"

namespace {

using netvane::AdapterListWidth;

std::vector<std::string> Walk8(const std::string& bytes, netvane::AdapterListLimits limits = {}) {
  return netvane::WalkAdapterList(bytes.data(), bytes.size(), AdapterListWidth::Narrow8, limits);
}

std::vector<std::string> Walk16(const std::u16string& units) {
  return netvane::WalkAdapterList(units.data(), units.size() * sizeof(char16_t), AdapterListWidth::Wide16);
}

std::string Many(int count) {
  std::string list;
  for (int i = 0; i < count; ++i) list += "eth" + std::to_string(i) + '\0';
  return list + '\0';
}

TEST(AdapterList, NarrowWalk) {
  struct Case {
    const char* name;
    std::string bytes;
    std::vector<std::string> expected;
  };
  const std::string longName(1023, 'n');
  const std::string tooLong(1024, 'x');
  const Case cases[] = {
      {"empty first name", std::string("\0eth0\0\0", 7), {}},
      {"three names in order", std::string("eth0\0wlan0\0br-lan\0\0", 19), {"eth0", "wlan0", "br-lan"}},
      {"what follows the empty name is not read", std::string("a\0\0junk\0\0", 9), {"a"}},
      {"no closing NUL in the buffer", std::string("eth0\0eth1", 9), {"eth0"}},
      {"nothing at all", std::string(), {}},
      {"a name that fills its slot", longName + '\0' + "b" + '\0' + '\0', {longName, "b"}},
      {"a name too long for its slot is left out, not cut", tooLong + '\0' + "b" + '\0' + '\0', {"b"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Walk8(c.bytes), c.expected);
  }
}

TEST(AdapterList, AtMostTwentyNamesAreTaken) {
  const auto names = Walk8(Many(25));
  ASSERT_EQ(names.size(), 20u);
  EXPECT_EQ(names.front(), "eth0");
  EXPECT_EQ(names.back(), "eth19");
  EXPECT_EQ(Walk8(Many(20)).size(), 20u);
}

TEST(AdapterList, WideWalk) {
  struct Case {
    const char* name;
    std::u16string units;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"empty first name", std::u16string(u"\0eth0\0\0", 7), {}},
      {"three names", std::u16string(u"eth0\0eth1\0eth2\0\0", 16), {"eth0", "eth1", "eth2"}},
      // A NUL is a whole zero unit: the zero high bytes of ASCII text are not terminators.
      {"bytes of zero inside units", std::u16string(u"A\0\0", 3), {"A"}},
      {"non-ASCII converted to 8-bit text", std::u16string(u"caf\u00e9\0\0", 6), {"caf\xC3\xA9"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Walk16(c.units), c.expected);
  }
}

TEST(AdapterList, WidthFollowsTheVersionWord) {
  struct Case {
    uint32_t versionWord;
    AdapterListWidth expected;
  };
  const Case cases[] = {
      {0x00000005u, AdapterListWidth::Wide16},   // top bit clear, major 5
      {0x0A280105u, AdapterListWidth::Wide16},   // top bit clear, build bits set
      {0x00000003u, AdapterListWidth::Wide16},   // top bit clear, major 3
      {0x80000003u, AdapterListWidth::Wide16},   // top bit set but major below 4
      {0xC0000A04u, AdapterListWidth::Narrow8},  // top bit set, major 4
      {0x80000005u, AdapterListWidth::Narrow8},  // top bit set, major 5
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.versionWord);
    EXPECT_EQ(netvane::AdapterListWidthFor(c.versionWord), c.expected);
  }
}

TEST(AdapterList, PseudoDeviceNames) {
  struct Case {
    const char* name;
    bool pseudo;
  };
  const Case cases[] = {
      {"any", true},
      {"nflog", true},
      {"nfqueue", true},
      {"dbus-system", true},
      {"dbus-session", true},
      {"bluetooth0", true},
      {"bluetooth-monitor", true},
      {"usbmon0", true},
      {"usbmon12", true},
      {"eth0", false},
      {"lo", false},
      {"anything0", false},
      {"enp0s3", false},
      {"veth1", false},
      {"nflog0x", false},
  };
  for (const Case& c : cases) EXPECT_EQ(netvane::IsPseudoAdapterName(c.name), c.pseudo) << c.name;
}

// The expression, and whether libpcap accepts it for an Ethernet handle.
TEST(HostFilterExpression, BuiltFromTheListAndCompiled) {
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
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  ASSERT_NE(dead, nullptr);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.list);
    const std::string expr = netvane::HostFilterExpression(c.list);
    EXPECT_EQ(expr, c.expression);
    bpf_program program{};
    const bool compiled = pcap_compile(dead, &program, expr.c_str(), 0, PCAP_NETMASK_UNKNOWN) == 0;
    EXPECT_EQ(compiled, c.compiles);
    if (compiled) pcap_freecode(&program);
  }
  pcap_close(dead);
}

}  // namespace
