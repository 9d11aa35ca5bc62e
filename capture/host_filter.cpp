#include "capture/host_filter.h"

#include <arpa/inet.h>
#include <pcap/pcap.h>

#include <memory>

namespace netvane {

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

std::string BothFilters(const std::string& first, const std::string& second) {
  const auto blank = [](const std::string& e) { return e.find_first_not_of(" \t\r\n") == std::string::npos; };
  if (blank(first)) return blank(second) ? std::string() : second;
  if (blank(second)) return first;
  return "(" + first + ") and (" + second + ")";
}

namespace {

std::string AddressText(const helper::Endpoint& end) {
  char text[INET6_ADDRSTRLEN] = {};
  inet_ntop(end.family == 6 ? AF_INET6 : AF_INET, end.address.data(), text, sizeof text);
  return text;
}

std::string Direction(const helper::Endpoint& from, const helper::Endpoint& to) {
  return "(src host " + AddressText(from) + " and src port " + std::to_string(from.port) + " and dst host " +
         AddressText(to) + " and dst port " + std::to_string(to.port) + ")";
}

}  // namespace

std::string WithoutConnection(const std::string& expression, const helper::SshConnection& connection) {
  const std::string exclusion = "not (tcp and (" + Direction(connection.client, connection.server) + " or " +
                                Direction(connection.server, connection.client) + "))";
  return expression.empty() ? exclusion : "(" + expression + ") and " + exclusion;
}

bool CompileFilter(const std::string& expression, int snapLength, uint32_t netmask,
                   std::vector<helper::FilterInstruction>& program, std::string& error) {
  program.clear();
  const std::unique_ptr<pcap_t, decltype(&pcap_close)> dead(pcap_open_dead(DLT_EN10MB, snapLength),
                                                            pcap_close);
  if (!dead) {
    error = "the capture library cannot compile filters";
    return false;
  }
  bpf_program compiled{};
  if (pcap_compile(dead.get(), &compiled, expression.c_str(), 0, netmask) < 0) {
    error = pcap_geterr(dead.get());
    return false;
  }
  const size_t count = compiled.bf_len;
  if (count > helper::kMaxFilterInstructions) {
    pcap_freecode(&compiled);
    error = "the filter needs " + std::to_string(count) + " instructions; the kernel takes at most " +
            std::to_string(helper::kMaxFilterInstructions);
    return false;
  }
  program.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const bpf_insn& in = compiled.bf_insns[i];
    program.push_back({in.code, in.jt, in.jf, in.k});
  }
  pcap_freecode(&compiled);
  return true;
}

}  // namespace netvane
