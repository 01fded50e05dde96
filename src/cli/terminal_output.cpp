#include "cli/terminal_output.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "core/util/format.h"

namespace korvan::cli {

bool IsLiveTerminal(int fd) {
  const char* term = std::getenv("TERM");
  return ::isatty(fd) == 1 && term != nullptr && *term != '\0' && std::strcmp(term, "dumb") != 0;
}

TerminalOptions TerminalOptionsFor(int fd) {
  TerminalOptions options;
  winsize size{};
  if (::ioctl(fd, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) options.columns = size.ws_col;
  const char* noColour = std::getenv("NO_COLOR");
  options.colour = noColour == nullptr || *noColour == '\0';
  return options;
}

namespace {

using Clock = std::chrono::steady_clock;

// The steps whose gauge counts KiB of the image (the others run with time or stages).
bool CountsKiB(const std::string& step) {
  return step == "download" || step == "program" || step == "verify" || step == "auto" ||
         step.rfind("read-memory", 0) == 0;
}

struct Live {
  bool shown = false;  // has a live line in the current step
  GaugeState gauge;
  Clock::time_point since;  // the first progress of the step
  int firstProgress = 0;
};

class TerminalOutput : public RunOutput {
 public:
  TerminalOutput(std::ostream& out, std::ostream& err, TerminalOptions options)
      : out_(out), plain_(MakeTextOutput(out, err)), options_(options) {}

  void InfoLine(const std::string& line) override {
    Clear();
    plain_->InfoLine(line);
    Draw();
  }

  void SearchEnded(const std::vector<ChannelReport>& channels) override {
    plain_->SearchEnded(channels);
  }

  void StepStarted(const std::string& step) override {
    step_ = step;
    for (Live& live : live_) live = Live{};
  }

  void GaugeChanged(int channel, const GaugeState& gauge) override {
    if (channel < 1) return;
    if (live_.size() < static_cast<std::size_t>(channel))
      live_.resize(static_cast<std::size_t>(channel));
    Live& live = live_[static_cast<std::size_t>(channel - 1)];
    const Clock::time_point now = Clock::now();
    if (!live.shown) {
      if (!gauge.enabled || step_.empty()) return;
      live.shown = true;
      live.since = now;
      live.firstProgress = gauge.progress;
    }
    live.gauge = gauge;
    // A redraw per KiB would flood a slow terminal: at most ten a second, and every end.
    if (now - lastDraw_ < std::chrono::milliseconds(100) && gauge.progress < gauge.maximum) {
      return;
    }
    Clear();
    Draw();
  }

  void StepEnded(const StepReport& report) override {
    Clear();
    for (Live& live : live_) live = Live{};
    step_.clear();
    plain_->StepEnded(report);
  }

  void StandAloneResult(int channel, std::uint8_t code) override {
    Clear();
    plain_->StandAloneResult(channel, code);
    Draw();
  }

  void Problem(const std::string& text) override {
    Clear();
    plain_->Problem(text);
    Draw();
  }

  void JobReady(const std::string& fingerprint) override {
    Clear();
    plain_->JobReady(fingerprint);
    Draw();
  }

  void Finished(int exitStatus) override {
    Clear();
    plain_->Finished(exitStatus);
  }

 private:
  std::string Line(int channel, const Live& live) const {
    const GaugeState& g = live.gauge;
    const int maximum = std::max(g.maximum, 1);
    const int progress = std::clamp(g.progress, 0, maximum);
    const int percent = progress * 100 / maximum;
    constexpr int kBar = 20;
    const int filled = progress * kBar / maximum;
    std::string bar = std::string(static_cast<std::size_t>(filled), '#') +
                      std::string(static_cast<std::size_t>(kBar - filled), '-');
    if (options_.colour) {
      bar = (g.colour == GaugeColour::Red ? "\x1b[31m" : "\x1b[34m") + bar + "\x1b[0m";
    }
    std::string text =
        Format("ch%d %-12s [%s] %3d%%", channel, step_.c_str(), bar.c_str(), percent);
    const double seconds = std::chrono::duration<double>(Clock::now() - live.since).count();
    const int done = progress - std::min(live.firstProgress, progress);
    if (CountsKiB(step_)) {
      text += Format("  %d/%d KiB", progress, maximum);
      if (seconds > 0.2 && done > 0) text += Format("  %.1f KiB/s", done / seconds);
    }
    if (seconds > 0.2 && done > 0 && progress < maximum) {
      const double left = (maximum - progress) * seconds / done;
      text += Format("  ETA %ds", static_cast<int>(left + 0.5));
    }
    return text;
  }

  // Visible width: the colour sequences take no columns.
  std::string Cut(const std::string& text) const {
    const auto limit = static_cast<std::size_t>(std::max(options_.columns - 1, 10));
    std::string out;
    std::size_t width = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\x1b') {
        const std::size_t end = text.find('m', i);
        out += text.substr(i, end - i + 1);
        i = end;
        continue;
      }
      if (width < limit) out += text[i];
      ++width;
    }
    return out;
  }

  void Draw() {
    drawn_ = 0;
    for (int n = 1; n <= static_cast<int>(live_.size()); ++n) {
      const Live& live = live_[static_cast<std::size_t>(n - 1)];
      if (!live.shown) continue;
      out_ << Cut(Line(n, live)) << "\x1b[K\n";
      ++drawn_;
    }
    out_ << std::flush;
    lastDraw_ = Clock::now();
  }

  // Takes the live lines away; what comes next is written where they were.
  void Clear() {
    if (drawn_ == 0) return;
    out_ << "\x1b[" << drawn_ << "F\x1b[J";
    drawn_ = 0;
  }

  std::ostream& out_;
  std::unique_ptr<RunOutput> plain_;
  TerminalOptions options_;
  std::string step_;
  // By channel, as many as have reported.
  std::vector<Live> live_ = std::vector<Live>(kChannelCount);
  int drawn_ = 0;
  Clock::time_point lastDraw_{};
};

}  // namespace

std::unique_ptr<RunOutput> MakeTerminalOutput(std::ostream& out, std::ostream& err,
                                              TerminalOptions options) {
  return std::make_unique<TerminalOutput>(out, err, options);
}

}  // namespace korvan::cli
