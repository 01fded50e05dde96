#include "core/trace/wire_trace.h"

#include <cerrno>
#include <cstring>
#include <ctime>

namespace korvan::trace {

namespace {

// The writer falls this far behind only when the disk stalls; what comes meanwhile is dropped
// (and said in the trace) rather than held without bound.
constexpr std::size_t kMaxQueuedBytes = 256u << 20;

std::string WallClock() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

}  // namespace

double WireTrace::Now() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  // Whole microseconds, as written.
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec / 1000) / 1e6;
}

WireTrace::WireTrace(const std::string& path, TraceOptions options)
    : options_(std::move(options)), path_(path) {
  file_ = std::fopen(path.c_str(), "w");
  if (!file_) {
    Fail(std::strerror(errno));
    closed_ = true;
    return;
  }
  nlohmann::ordered_json head;
  head["kind"] = "trace";
  head["program"] = options_.program;
  head["clock"] = "monotonic";
  head["started"] = WallClock();
  head["full"] = options_.full;
  char t[32];
  std::snprintf(t, sizeof t, "%.6f", Now());
  std::string line = std::string("{\"t\":") + t + "," + head.dump().substr(1) + "\n";
  if (std::fputs(line.c_str(), file_) < 0 || std::fflush(file_) != 0) Fail(std::strerror(errno));
  writer_ = std::thread([this] { Run(); });
}

WireTrace::~WireTrace() {
  Close();
}

bool WireTrace::Writing() const {
  std::lock_guard lock(mutex_);
  return !failed_;
}

void WireTrace::Fail(const std::string& text) {
  {
    std::lock_guard lock(mutex_);
    if (failed_) return;
    failed_ = true;
  }
  if (options_.problem) {
    options_.problem("wire trace " + path_ + " cannot be written (" + text +
                     "); the run goes on without it");
  }
}

void WireTrace::Bytes(int channel, const std::string& port, Direction direction,
                      std::span<const std::uint8_t> block) {
  if (block.empty()) return;
  Item item;
  item.time = Now();
  item.channel = channel;
  item.port = port;
  item.direction = direction;
  item.bytes.assign(block.begin(), block.end());
  Post(std::move(item));
}

void WireTrace::Mark(int channel, const std::string& port, Event event, std::uint32_t flags) {
  Item item;
  item.time = Now();
  item.channel = channel;
  item.port = port;
  item.isEvent = true;
  item.event = event;
  item.flags = flags;
  Post(std::move(item));
}

void WireTrace::Post(Item item) {
  {
    std::lock_guard lock(mutex_);
    if (closed_ || closing_ || failed_) return;
    if (queuedBytes_ + item.bytes.size() > kMaxQueuedBytes) {
      dropped_ += item.bytes.size();
      return;
    }
    queuedBytes_ += item.bytes.size();
    queue_.push_back(std::move(item));
  }
  wake_.notify_one();
}

WireCutter& WireTrace::Cutter(int channel, const std::string& port, Direction direction) {
  const auto key = std::make_tuple(channel, port, static_cast<int>(direction));
  auto it = cutters_.find(key);
  if (it == cutters_.end()) {
    it = cutters_.emplace(key, WireCutter(channel, port, direction, options_.full)).first;
  }
  return it->second;
}

void WireTrace::Handle(const Item& item, std::string& out) {
  const auto sink = [&out](std::string line) {
    out += line;
    out += '\n';
  };
  if (!item.isEvent) {
    Cutter(item.channel, item.port, item.direction).Feed(item.time, item.bytes, sink);
    return;
  }
  // Events are written as coming from the programmer's side of the line for a hang-up and a
  // line error (the station hears them), from the PC's for opening and closing.
  WireCutter& out1 = Cutter(item.channel, item.port, Direction::ToProgrammer);
  WireCutter& in1 = Cutter(item.channel, item.port, Direction::FromProgrammer);
  switch (item.event) {
    case Event::Open:
      sink(out1.EventLine(item.time, "open"));
      break;
    case Event::Close:
      out1.Cut(item.time, sink);
      in1.Cut(item.time, sink);
      sink(out1.EventLine(item.time, "close"));
      break;
    case Event::Hangup:
      out1.Cut(item.time, sink);
      in1.Cut(item.time, sink);
      sink(in1.EventLine(item.time, "hangup"));
      break;
    case Event::LineError:
      sink(in1.EventLine(item.time, "line-error", item.flags));
      break;
  }
}

void WireTrace::Run() {
  std::deque<Item> batch;
  std::string out;
  for (;;) {
    std::uint64_t dropped = 0;
    bool closing = false;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return closing_ || !queue_.empty(); });
      batch.swap(queue_);
      queuedBytes_ = 0;
      dropped = dropped_;
      dropped_ = 0;
      closing = closing_;
    }
    out.clear();
    for (const Item& item : batch) Handle(item, out);
    if (dropped > 0) {
      out += "{\"t\":" + std::to_string(Now()) +
             ",\"kind\":\"lost\",\"bytes\":" + std::to_string(dropped) + "}\n";
    }
    batch.clear();
    if (file_ && !out.empty()) {
      const bool ok =
          std::fwrite(out.data(), 1, out.size(), file_) == out.size() && std::fflush(file_) == 0;
      if (!ok) {
        Fail(std::strerror(errno));
        std::fclose(file_);
        file_ = nullptr;
      }
    }
    if (closing) break;
  }
}

void WireTrace::Close() {
  {
    std::lock_guard lock(mutex_);
    if (closed_) return;
    closing_ = true;
  }
  wake_.notify_one();
  if (writer_.joinable()) writer_.join();
  if (file_) {
    // Frames left open at the end are written as cut noise.
    std::string out;
    const auto sink = [&out](std::string line) {
      out += line;
      out += '\n';
    };
    for (auto& [key, cutter] : cutters_) cutter.Cut(Now(), sink);
    const bool ok = std::fwrite(out.data(), 1, out.size(), file_) == out.size();
    if (std::fclose(file_) != 0 || !ok) Fail(std::strerror(errno));
    file_ = nullptr;
  }
  std::lock_guard lock(mutex_);
  closed_ = true;
}

}  // namespace korvan::trace
