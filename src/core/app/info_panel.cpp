#include "core/app/info_panel.h"

namespace korvan {

void InfoPanel::AddInfoLine(std::string_view text) {
  std::string line = "> " + TimeText(clock_()) + " ";
  line += text;
  lines_.push_back(std::move(line));
  if (listener_) listener_->InfoLineAdded(lines_.back());
}

void InfoPanel::AddLine(std::string_view text) {
  lines_.emplace_back(text);
  if (listener_) listener_->InfoLineAdded(lines_.back());
}

void InfoPanel::ClearInformation1Click() {
  lines_.clear();
  if (listener_) listener_->InfoCleared();
}

std::string InfoPanel::CopytoCli1Click(std::string_view selectedText) const {
  return selectedText.empty() ? Text() : std::string(selectedText);
}

std::string InfoPanel::Text() const {
  std::string text;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (i) text += '\n';
    text += lines_[i];
  }
  return text;
}

}  // namespace korvan
