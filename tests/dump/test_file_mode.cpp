#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dump/file_mode.h"
#include "dump/row_printer.h"
#include "pcapfile/capture_reader.h"
#include "pcapfile/saved_file.h"
#include "tests/decode/golden_frames.h"

namespace netvane {
namespace {

using namespace netvane::testing;

TEST(LooksLikeCaptureFile, MagicNumbers) {
  const struct {
    Bytes head;
    bool capture;
  } cases[] = {
      {{0xD4, 0xC3, 0xB2, 0xA1}, true},  {{0xA1, 0xB2, 0xC3, 0xD4}, true},
      {{0x4D, 0x3C, 0xB2, 0xA1}, true},  {{0xA1, 0xB2, 0x3C, 0x4D}, true},
      {{0x0A, 0x0D, 0x0D, 0x0A}, true},  {{0x0A, 0x0D, 0x0D, 0x0B}, false},
      {{0xD4, 0xC3, 0xB2}, false},       {{}, false},
      {{0x00, 0x0C, 0x29, 0x1A}, false}, {{0xFF, 0xFF, 0xFF, 0xFF}, false},
  };
  for (const auto& c : cases) EXPECT_EQ(LooksLikeCaptureFile(c.head), c.capture) << c.head.size();
}

std::string Capture(std::FILE* f) {
  std::fflush(f);
  std::rewind(f);
  std::string out;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, f)) > 0) out.append(buffer, got);
  return out;
}

// Broadcast frames take no number when left out; the others are numbered on
// without gaps.
TEST(RowPrinter, NumbersOnlyPrintedFrames) {
  const Bytes broadcast = Ethernet(kBroadcast, kHostA, 0x86DD);
  const Bytes unicast = Ethernet(kHostB, kHostA, 0x86DD);
  const struct {
    bool noBroadcast;
    const char* numbers;
    uint32_t last;
  } cases[] = {{false, "1234", 4}, {true, "12", 2}};
  for (const auto& c : cases) {
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    std::string numbers;
    {
      RowPrinter printer(out, PrintOptions{c.noBroadcast, false, false});
      for (const Bytes* f : {&broadcast, &unicast, &broadcast, &unicast}) printer.Print(*f);
      EXPECT_EQ(printer.LastNumber(), c.last);
    }
    const std::string text = Capture(out);
    std::fclose(out);
    std::size_t at = 0;
    while (at < text.size()) {
      numbers += text[at];
      at = text.find('\n', at) + 1;
    }
    EXPECT_EQ(numbers, c.numbers);
  }
}

TEST(RowPrinter, TreeLinesAndHexDumpFollowTheRow) {
  std::FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  {
    RowPrinter printer(out, PrintOptions{false, true, true});
    Bytes f = Ethernet(kHostB, kHostA, 0x86DD);
    printer.Print(f);
    printer.Print({});
  }
  EXPECT_EQ(Capture(out),
            "1\t00:0C:29:1A:2B:3C\t52:54:00:AB:CD:EF\t\t\tIP version 6\n"
            "Ethernet Header\n"
            "  Destination Address - 52:54:00:AB:CD:EF\t[0/18]\n"
            "  Source Address - 00:0C:29:1A:2B:3C\t[18/18]\n"
            "  Protocol - 0x86DD\t[36/6]\n"
            "52 54 00 AB CD EF 00 0C 29 1A 2B 3C 86 DD \n"
            "2\t\t\t\t\t\n"
            "\n");
  std::fclose(out);
}

class FileModeTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& name, const Bytes& bytes) {
    const std::string path = ::testing::TempDir() + "netvane_file_mode_" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    paths_.push_back(path);
    return path;
  }
  void TearDown() override {
    for (const auto& p : paths_) std::remove(p.c_str());
  }
  std::pair<int, std::string> Run(const std::vector<std::string>& files, PrintOptions options = {}) {
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    FileModeOptions fileOptions;
    fileOptions.print = options;
    const int status = RunFileMode(files, fileOptions, out, err);
    std::string text = Capture(out);
    errors_ = Capture(err);
    std::fclose(out);
    std::fclose(err);
    return {status, text};
  }
  std::vector<std::string> paths_;
  std::string errors_;
};

// The same frames give the same lines from pcap, pcapng and raw files.
TEST_F(FileModeTest, PcapPcapngAndRawAgree) {
  const std::vector<Bytes> frames{TcpFrame(Ip4Header{}, TcpHeader{}), Ethernet(kBroadcast, kHostA, 0x0806),
                                  Bytes{0x01, 0x02, 0x03}};
  const auto [pcapStatus, pcap] = Run({Write("a.pcap", PcapImage(frames))}, {false, true, true});
  const auto [ngStatus, ng] = Run({Write("a.pcapng", PcapngImage(frames))}, {false, true, true});
  std::vector<std::string> raws;
  for (std::size_t i = 0; i < frames.size(); ++i) raws.push_back(Write("raw" + std::to_string(i), frames[i]));
  const auto [rawStatus, raw] = Run(raws, {false, true, true});
  EXPECT_EQ(pcapStatus, 0);
  EXPECT_EQ(ngStatus, 0);
  EXPECT_EQ(rawStatus, 0);
  EXPECT_FALSE(pcap.empty());
  EXPECT_EQ(pcap, ng);
  EXPECT_EQ(pcap, raw);
}

TEST_F(FileModeTest, DamageStopsTheFileButNotTheRun) {
  const std::vector<Bytes> frames{Ethernet(kHostB, kHostA, 0x86DD), Ethernet(kHostB, kHostA, 0x0801)};
  Bytes cut = PcapImage(frames);
  cut.resize(cut.size() - 3);
  const std::string damaged = Write("cut.pcap", cut);
  const std::string fine = Write("fine.pcap", PcapImage(frames));
  const auto [status, text] = Run({damaged, fine});
  EXPECT_EQ(status, 1);
  EXPECT_NE(errors_.find(damaged + ": "), std::string::npos) << errors_;
  // One frame from the damaged file, then both of the next, numbered on.
  EXPECT_EQ(text,
            "1\t00:0C:29:1A:2B:3C\t52:54:00:AB:CD:EF\t\t\tIP version 6\n"
            "2\t00:0C:29:1A:2B:3C\t52:54:00:AB:CD:EF\t\t\tIP version 6\n"
            "3\t00:0C:29:1A:2B:3C\t52:54:00:AB:CD:EF\t\t\tX.75 Internet\n");
}

TEST_F(FileModeTest, StatusOfTheWorstFile) {
  const std::string ethernet = Write("eth.pcap", PcapImage({Ethernet(kHostB, kHostA, 0x86DD)}));
  const std::string sll = Write("sll.pcap", PcapImage({Bytes(16, 0)}, 113));
  const std::string missing = ::testing::TempDir() + "netvane_file_mode_missing";
  // No capture, and too big for a saved frame: refused, as the window refuses it.
  const std::string big = Write("big.bin", Bytes(kMaxFrameFileBytes + 1, 0x41));
  const struct {
    std::vector<std::string> files;
    int status;
  } cases[] = {{{ethernet}, 0},
               {{missing, ethernet}, 1},
               {{sll, ethernet}, 2},
               {{missing, sll}, 2},
               {{big, ethernet}, 1}};
  for (const auto& c : cases) EXPECT_EQ(Run(c.files).first, c.status) << c.files.size();
  Run({sll});
  EXPECT_NE(errors_.find("link type LINUX_SLL is not Ethernet"), std::string::npos) << errors_;
  Run({big});
  EXPECT_NE(errors_.find("too big to be a saved frame"), std::string::npos) << errors_;
}

TEST_F(FileModeTest, EmptyFileIsAnEmptyRawFrame) {
  const auto [status, text] = Run({Write("empty", {})}, {false, true, true});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(text, "1\t\t\t\t\t\n\n");
}

}  // namespace
}  // namespace netvane
