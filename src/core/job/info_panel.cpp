#include "core/job/info_panel.h"

namespace korvan {

void InfoMemo::AddInfoLine(std::string_view text) {
  std::string line = "> " + TimeText(clock_()) + " ";
  line += text;
  lines_.push_back(std::move(line));
  if (listener_) listener_->InfoLineAdded(lines_.back());
}

void InfoMemo::AddLine(std::string_view text) {
  lines_.emplace_back(text);
  if (listener_) listener_->InfoLineAdded(lines_.back());
}

void InfoMemo::ClearInformation1Click() {
  lines_.clear();
  if (listener_) listener_->InfoCleared();
}

std::string InfoMemo::CopytoCli1Click(std::string_view selectedText) const {
  return selectedText.empty() ? Text() : std::string(selectedText);
}

std::string InfoMemo::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i) text += '\n';
    text += lines_[i];
  }
  return text;
}

}  // namespace korvan
