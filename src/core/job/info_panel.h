// The information panel (InfoMemo): everything the station tells the operator during work, one line
// at a time, appended at the end and never trimmed; emptied only by "Clear Information". At
// shutdown its lines become the log file of the run (core/app/log_file.h).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/util/clock.h"

namespace korvan {

// The window implements this to follow the panel; every call comes on the station's thread,
// right after the change.
class InfoMemoListener {
 public:
  virtual ~InfoMemoListener() = default;
  virtual void InfoLineAdded(const std::string& line) = 0;
  virtual void InfoCleared() = 0;
};

// The separator: 43 dots.
inline constexpr std::string_view kSeparator = "...........................................";

class InfoMemo {
 public:
  explicit InfoMemo(Clock clock = SystemLocalTime) : clock_(std::move(clock)) {}

  void SetListener(InfoMemoListener* listener) { listener_ = listener; }

  // Appends "> " + HH:mm:ss + " " + text.
  void AddInfoLine(std::string_view text);
  // Appends the text as it stands, without time (the control line, the empty start-up line,
  // read-back dumps).
  void AddLine(std::string_view text);
  // Appends the 43-dot separator.
  void AddSeparator() { AddLine(kSeparator); }

  // "Clear Information".
  void ClearInformation1Click();
  // "Copy Information": the text for the clipboard; the selection, or the whole panel when
  // nothing is selected.
  std::string CopytoCli1Click(std::string_view selectedText) const;

  const std::vector<std::string>& Lines() const { return lines_; }
  std::size_t LineCount() const { return lines_.size(); }
  // The panel's text, lines joined by "\n".
  std::string Text() const;

  const Clock& clock() const { return clock_; }

 private:
  Clock clock_;
  InfoMemoListener* listener_ = nullptr;
  std::vector<std::string> lines_;
};

}  // namespace korvan
