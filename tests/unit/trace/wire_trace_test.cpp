// The wire trace: frames, noise and line events through a TracingPort into the trace file.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "../app/app_test_support.h"
#include "core/protocol/codec.h"
#include "core/trace/tracing_port.h"
#include "core/trace/wire_trace.h"
#include "core/util/event_queue.h"
#include "support/hex_bytes.h"

namespace korvan::trace {
namespace {

using korvan::testing::HexBytes;
using korvan::testing::TempDir;
using Bytes = std::vector<std::uint8_t>;

// A line whose far end the test plays: what is sent is taken, what is delivered or a hang-up
// reaches the handlers when the test says so.
struct FakePort final : Port {
  const std::string& CommName() const override { return name; }
  void SetCommName(const std::string& value) override { name = value; }
  void OpenPort() override { open = true; }
  void ClosePort() override { open = false; }
  bool IsOpen() const override { return open; }
  bool SendBlock(const void*, std::uint16_t length) override { return open && length > 0; }
  bool SendQueueEmpty() const override { return true; }
  void SetHandlers(PortHandlers h) override { handlers = std::move(h); }

  std::string name;
  bool open = false;
  PortHandlers handlers;
};

// A frame as the station sends it: header + body, its CRC appended (or spoilt), encoded.
Bytes Frame(Bytes packet, bool badCrc = false) {
  packet.resize(packet.size() + 2);
  protocol::AppendPacketCrc(packet, packet.size() - 2);
  if (badCrc) packet.back() ^= 0x5A;
  Bytes frame(2 * packet.size() + 7);
  frame.resize(protocol::EncodePacket(packet, frame));
  return frame;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  char two[3];
  for (auto b : bytes) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

const Bytes kErase = Frame(HexBytes("93 03 00 1A 12 34 00 00"));
const Bytes kDone = Frame(HexBytes("93 03 00 1A 12 34 01 00 06"));
const Bytes kBadCrc = Frame(HexBytes("93 03 00 1A 12 34 01 00 00"), true);
// A reply byte 0xC0 in the status: escaped on the wire.
const Bytes kEscaped = Frame(HexBytes("9B 00 00 1A 12 34 01 00 C0"));
Bytes Program() {
  Bytes packet = HexBytes("95 00 00 1A 12 34 00 10");
  packet.resize(8 + 4096, 0xA5);
  return Frame(packet);
}

struct Step {
  enum Kind { Send, Deliver, Hangup } kind;
  Bytes bytes;
};

struct Case {
  const char* name;
  std::vector<Step> steps;
  bool full;
  // Each line after the trace's head but the port's opening, as Summary gives it.
  std::vector<std::string> lines;
};

// What a test looks at in a line: direction, kind, then the fields that tell pieces apart.
std::string Summary(const nlohmann::json& j) {
  std::ostringstream s;
  s << j.value("dir", "") << " " << j.value("kind", "");
  for (const char* key : {"command", "status", "name", "param", "reason", "error", "crc"}) {
    if (j.contains(key)) s << " " << key << "=" << j[key].get<std::string>();
  }
  for (const char* key : {"body", "bytes"}) {
    if (j.contains(key)) s << " " << key << "=" << j[key].get<std::size_t>();
  }
  if (j.contains("head")) s << " head=" << j["head"].get<std::string>();
  if (j.contains("raw")) s << " raw=" << j["raw"].get<std::string>();
  return s.str();
}

const std::string kFF = "ffffffffff";

std::vector<Case> Cases() {
  const Bytes program = Program();
  const Bytes noise = HexBytes("12 34 DB");
  return {
      {"request and reply",
       {{Step::Send, kErase}, {Step::Deliver, kDone}},
       false,
       {"pc>prog frame command=0x93 name=erase param=0x0003 crc=ok body=0 bytes=17 raw=" +
            Hex(kErase),
        "prog>pc frame command=0x93 status=0x06 name=done crc=ok body=1 bytes=18 raw=" + Hex(kDone),
        "pc>prog close"}},
      {"big body summarised",
       {{Step::Send, program}},
       false,
       {"pc>prog frame command=0x95 name=program param=0x0000 crc=ok body=4096 bytes=" +
            std::to_string(program.size()) + " head=9500001a12340010",
        "pc>prog close"}},
      {"big body in full",
       {{Step::Send, program}},
       true,
       {"pc>prog frame command=0x95 name=program param=0x0000 crc=ok body=4096 bytes=" +
            std::to_string(program.size()) + " raw=" + Hex(program),
        "pc>prog close"}},
      {"bad CRC",
       {{Step::Deliver, kBadCrc}},
       false,
       {"prog>pc frame command=0x93 status=0x00 name=ok crc=bad body=1 bytes=18 raw=" +
            Hex(kBadCrc),
        "pc>prog close"}},
      {"split across reads, escape and trailer cut",
       {{Step::Deliver, Bytes(kEscaped.begin(), kEscaped.begin() + 10)},  // ends inside DB DC
        {Step::Deliver, Bytes(kEscaped.begin() + 10, kEscaped.end() - 3)},
        {Step::Deliver, Bytes(kEscaped.end() - 3, kEscaped.end())}},
       false,
       {"prog>pc frame command=0x9B status=0xC0 crc=ok body=1 bytes=" +
            std::to_string(kEscaped.size() - 3) +
            " raw=" + Hex(Bytes(kEscaped.begin(), kEscaped.end() - 3)),
        "prog>pc trailer bytes=3 raw=ffffff", "pc>prog close"}},
      {"noise between frames and a delimiter run",
       {{Step::Deliver, Join({noise, kDone, HexBytes("C0"), kDone, HexBytes("77")})}},
       false,
       {"prog>pc noise bytes=3 raw=1234db",
        "prog>pc frame command=0x93 status=0x06 name=done crc=ok body=1 bytes=18 raw=" + Hex(kDone),
        "prog>pc noise bytes=1 raw=c0",
        "prog>pc frame command=0x93 status=0x06 name=done crc=ok body=1 bytes=18 raw=" + Hex(kDone),
        "prog>pc noise bytes=1 raw=77", "pc>prog close"}},
      {"hang-up cuts a frame",
       {{Step::Deliver, Bytes(kDone.begin(), kDone.begin() + 6)}, {Step::Hangup, {}}},
       false,
       {"prog>pc noise reason=cut bytes=6 raw=" + Hex(Bytes(kDone.begin(), kDone.begin() + 6)),
        "prog>pc hangup", "pc>prog close"}},
      {"identity",
       {{Step::Send, HexBytes("C0 A3 A5 35 C0 FF FF FF FF FF")}},
       false,
       {"pc>prog frame command=0xA3 name=identity crc=none bytes=10 raw=c0a3a535c0" + kFF,
        "pc>prog close"}},
  };
}

TEST(WireTrace, EveryPieceOfTheLineBecomesOneLine) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string path = (dir.path() / "wire.jsonl").string();
    auto trace = std::make_shared<WireTrace>(path, TraceOptions{c.full, "test", {}});
    auto fake = std::make_unique<FakePort>();
    FakePort& line = *fake;
    TracingPort port(std::move(fake), trace, 7);
    port.SetCommName("/dev/ttyUSB3");
    port.SetHandlers({});
    port.OpenPort();
    for (const Step& step : c.steps) {
      switch (step.kind) {
        case Step::Send:
          ASSERT_TRUE(
              port.SendBlock(step.bytes.data(), static_cast<std::uint16_t>(step.bytes.size())));
          break;
        case Step::Deliver:
          line.handlers.received(step.bytes);
          break;
        case Step::Hangup:
          line.handlers.hangup();
          break;
      }
    }
    port.ClosePort();
    trace->Close();

    std::istringstream in(korvan::testing::ReadAll(path));
    std::string text;
    ASSERT_TRUE(std::getline(in, text));
    EXPECT_EQ(nlohmann::json::parse(text).value("kind", ""), "trace");
    ASSERT_TRUE(std::getline(in, text));
    EXPECT_EQ(Summary(nlohmann::json::parse(text)), "pc>prog open");
    std::vector<std::string> lines;
    double last = 0;
    while (std::getline(in, text)) {
      const auto j = nlohmann::json::parse(text);
      EXPECT_EQ(j.value("channel", 0), 7);
      EXPECT_EQ(j.value("port", ""), "/dev/ttyUSB3");
      EXPECT_GE(j.value("t", 0.0), last);
      last = j.value("t", 0.0);
      lines.push_back(Summary(j));
    }
    EXPECT_EQ(lines, c.lines);
  }
}

TEST(WireTrace, AFileThatCannotBeWrittenIsToldOnceAndDropsTheRest) {
  std::vector<std::string> problems;
  WireTrace trace(
      "/nonexistent-folder/wire.jsonl",
      TraceOptions{false, "test", [&](const std::string& t) { problems.push_back(t); }});
  trace.Bytes(1, "p", Direction::ToProgrammer, kErase);
  trace.Close();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("/nonexistent-folder/wire.jsonl"), std::string::npos);
  EXPECT_FALSE(trace.Writing());
}

TEST(WireTrace, ChannelsAreNumberedFromTheCallersFirst) {
  TempDir dir;
  const std::string path = (dir.path() / "wire.jsonl").string();
  auto trace = std::make_shared<WireTrace>(path, TraceOptions{});
  PortProvider inner;
  inner.make = [](EventQueue&, int) { return std::make_unique<FakePort>(); };
  PortProvider traced = TracingPortProvider(inner, trace, 5);
  EventQueue events;
  auto port = traced.make(events, 3);
  port->SetCommName("x");
  port->OpenPort();
  trace->Close();
  const std::string all = korvan::testing::ReadAll(path);
  EXPECT_NE(all.find("\"channel\":7"), std::string::npos) << all;
}

}  // namespace
}  // namespace korvan::trace
