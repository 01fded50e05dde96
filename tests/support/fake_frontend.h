// A scripted Frontend for tests: answers come from queues set up by the test (a default
// when a queue is empty), and every question is recorded with its exact text.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/job/frontend.h"

namespace korvan::testing {

class FakeFrontend : public Frontend {
 public:
  struct Question {
    MessageKind kind;
    std::string text;
    Buttons buttons;
  };

  // Scripted answers, consumed in order.
  std::deque<Answer> answers;
  std::deque<std::optional<FileChoice>> openChoices;
  std::deque<std::optional<FileChoice>> saveChoices;
  std::deque<std::optional<std::string>> loadOffsets;
  std::deque<std::optional<ReadAddressEntry>> readAddresses;
  // What the operator does in the chip dialog and the option-byte editors, one entry per
  // opening; an opening with nothing scripted closes the dialog untouched.
  std::deque<std::function<void(TNChipSelectForm&)>> chipDialogActions;
  std::deque<std::function<void(OptionByteEditor&)>> optionByteEditorActions;

  // What was asked, in order.
  std::vector<Question> questions;
  std::vector<FileDialog> openDialogs;
  std::vector<FileDialog> saveDialogs;
  std::vector<std::string> loadOffsetPrompts;
  int chipDialogsShown = 0;
  int optionByteEditorsShown = 0;

  // Texts of the questions asked, for compact assertions.
  std::vector<std::string> Texts() const;

  Answer Ask(MessageKind kind, const std::string& text, Buttons buttons) override;
  std::optional<FileChoice> ChooseOpenFile(const FileDialog& dialog) override;
  std::optional<FileChoice> ChooseSaveFile(const FileDialog& dialog) override;
  std::optional<std::string> AskLoadOffset(const std::string& shown) override;
  std::optional<ReadAddressEntry> AskReadAddress(const std::string& shownAddress,
                                                 int shownLength) override;
  void ShowChipDialog(TNChipSelectForm& dialog) override;
  void ShowOptionByteEditor(OptionByteEditor& editor) override;
};

}  // namespace korvan::testing
