#include "support/fake_frontend.h"

namespace korvan::testing {

namespace {
template <typename T>
T Take(std::deque<T>& queue, T fallback) {
  if (queue.empty()) return fallback;
  T value = std::move(queue.front());
  queue.pop_front();
  return value;
}

// With nothing scripted, a box is answered with its first button, as an operator pressing
// Enter would.
Answer FirstButton(Buttons buttons) {
  switch (buttons) {
    case Buttons::YesAbort:
      return Answer::Yes;
    case Buttons::Ok:
    case Buttons::OkAbort:
    case Buttons::OkCancel:
      return Answer::Ok;
  }
  return Answer::Ok;
}
}  // namespace

std::vector<std::string> FakeFrontend::Texts() const {
  std::vector<std::string> texts;
  texts.reserve(questions.size());
  for (const auto& q : questions) texts.push_back(q.text);
  return texts;
}

Answer FakeFrontend::Ask(MessageKind kind, const std::string& text, Buttons buttons) {
  questions.push_back({kind, text, buttons});
  return Take(answers, FirstButton(buttons));
}

std::optional<FileChoice> FakeFrontend::ChooseOpenFile(const FileDialog& dialog) {
  openDialogs.push_back(dialog);
  return Take(openChoices, std::optional<FileChoice>{});
}

std::optional<FileChoice> FakeFrontend::ChooseSaveFile(const FileDialog& dialog) {
  saveDialogs.push_back(dialog);
  return Take(saveChoices, std::optional<FileChoice>{});
}

std::optional<std::string> FakeFrontend::AskLoadOffset(const std::string& shown) {
  loadOffsetPrompts.push_back(shown);
  return Take(loadOffsets, std::optional<std::string>{shown});
}

std::optional<ReadAddressEntry> FakeFrontend::AskReadAddress(const std::string& shownAddress,
                                                             int shownLength) {
  return Take(readAddresses,
              std::optional<ReadAddressEntry>{ReadAddressEntry{shownAddress, shownLength}});
}

void FakeFrontend::ShowChipDialog(TNChipSelectForm& dialog) {
  ++chipDialogsShown;
  auto action = Take(chipDialogActions, std::function<void(TNChipSelectForm&)>{});
  if (action) action(dialog);
}

void FakeFrontend::ShowOptionByteEditor(OptionByteEditor& editor) {
  ++optionByteEditorsShown;
  auto action = Take(optionByteEditorActions, std::function<void(OptionByteEditor&)>{});
  if (action) action(editor);
}

}  // namespace korvan::testing
