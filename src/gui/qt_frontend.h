// The Frontend answered with real dialogs: message boxes, file dialogs, the two address dialogs,
// the chip selection dialog and the option-byte editors. Every call is modal and runs a nested
// event loop on the GUI thread, so the window keeps painting while the operator decides, and the
// channels wait (their events are handled only after the box closes, as a modal box stalls them).
#pragma once

#include <QPointer>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <string>

#include "core/job/frontend.h"

namespace korvan::gui {

class TFormOfsAddr;

// A station filter ("desc|mask;mask|desc|mask") as the name filters of a file dialog. Each
// entry keeps its description, without the masks it shows in parentheses, and lists its masks
// separated by blanks; "*.*" becomes "*", so that "All Files" also lists names without a dot.
QStringList NameFilters(const std::string& filter);

class QtFrontend : public Frontend {
 public:
  explicit QtFrontend(QWidget* parent = nullptr);
  ~QtFrontend() override;

  // The window the dialogs are centred on and modal for.
  void SetParent(QWidget* parent) { parent_ = parent; }
  QWidget* parent() const { return parent_; }

  Answer Ask(MessageKind kind, const std::string& text, Buttons buttons) override;
  std::optional<FileChoice> ChooseOpenFile(const FileDialog& dialog) override;
  std::optional<FileChoice> ChooseSaveFile(const FileDialog& dialog) override;
  std::optional<std::string> AskLoadOffset(const std::string& shown) override;
  std::optional<ReadAddressEntry> AskReadAddress(const std::string& shownAddress,
                                                 int shownLength) override;
  void ShowChipDialog(korvan::TNChipSelectForm& dialog) override;
  void ShowOptionByteEditor(OptionByteEditor& editor) override;

  // The next open-file dialog is answered with `path` without being shown (a file named on
  // the command line).
  void AnswerNextOpen(std::string path) { nextOpen_ = std::move(path); }

 private:
  std::optional<FileChoice> ChooseFile(const FileDialog& dialog, bool save);

  QPointer<QWidget> parent_;
  std::optional<std::string> nextOpen_;
  // Created once at start-up and reused, as the program entry creates it.
  std::unique_ptr<TFormOfsAddr> ofsAddr_;
};

}  // namespace korvan::gui
