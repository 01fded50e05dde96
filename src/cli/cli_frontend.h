// The command-line station's answers to the core's questions: error and warning boxes are
// written to stderr, the other boxes to stdout, and each is answered with its first button, except
// the reader's line-error box, which is answered Abort when the operator asked to stop at the first
// error. The load-offset question is answered with the address given on the command line (the flash
// start when none was given).
#pragma once

#include <deque>
#include <iosfwd>
#include <optional>
#include <string>

#include "core/job/frontend.h"

namespace korvan::cli {

class CliFrontend : public Frontend {
 public:
  CliFrontend(std::ostream& out, std::ostream& err) : out_(out), err_(err) {}

  bool abortOnError = false;
  // The reader's line-error boxes ("Line %d Data Error : %d."): the first kShownLineErrors of
  // one file are written, the rest only counted (EndLineErrors tells how many were left out).
  static constexpr int kShownLineErrors = 5;
  int lineErrors = 0;          // line-error boxes so far
  std::string firstLineError;  // the text of the first one
  // After a file: "... and N more line errors" when some of its `count` were not written.
  void EndLineErrors(int count);
  // The verify-mismatch question ("Yes" goes on, "Abort" stops): answered Abort when set.
  bool abortOnMismatch = false;
  // What the read-address dialog returns; nullopt: what it opened with.
  std::optional<ReadAddressEntry> readAddress;
  std::optional<std::string> loadOffset;  // nullopt: the dialog's own text (the flash start)
  // The files the open dialogs choose, in order, and the save dialog's choice; without one a
  // dialog is cancelled.
  std::deque<std::string> openPaths;
  std::optional<FileChoice> saveChoice;
  // The part the chip dialog confirms, picked in `chipSeries` when given (as --chip/--series).
  std::optional<std::string> chipPart;
  std::optional<int> chipSeries;

  // How many boxes of each kind were shown.
  int errorBoxes = 0;
  int warningBoxes = 0;

  Answer Ask(MessageKind kind, const std::string& text, Buttons buttons) override;
  std::optional<FileChoice> ChooseOpenFile(const FileDialog& dialog) override;
  std::optional<FileChoice> ChooseSaveFile(const FileDialog& dialog) override;
  std::optional<std::string> AskLoadOffset(const std::string& shown) override;
  std::optional<ReadAddressEntry> AskReadAddress(const std::string& shownAddress,
                                                 int shownLength) override;
  void ShowChipDialog(TNChipSelectForm& dialog) override;

  // Where the boxes are written.
  std::ostream& out() const { return out_; }
  std::ostream& err() const { return err_; }

 private:
  std::ostream& out_;
  std::ostream& err_;
  int lineErrorsOfFile_ = 0;
};

}  // namespace korvan::cli
