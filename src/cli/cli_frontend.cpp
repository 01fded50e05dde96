#include "cli/cli_frontend.h"

#include <ostream>

#include "core/chips/chip_select_form.h"
#include "core/chips/chip_setup.h"

namespace korvan::cli {

Answer CliFrontend::Ask(MessageKind kind, const std::string& text, Buttons buttons) {
  const bool problem = kind == MessageKind::Error || kind == MessageKind::Warning;
  const bool lineError = buttons == Buttons::OkAbort && text.rfind("Line ", 0) == 0;
  if (lineError) {
    if (lineErrors++ == 0) firstLineError = text;
    if (lineErrorsOfFile_++ < kShownLineErrors) err_ << text << '\n';
  } else {
    (problem ? err_ : out_) << text << '\n';
  }
  if (kind == MessageKind::Error) ++errorBoxes;
  if (kind == MessageKind::Warning) ++warningBoxes;
  switch (buttons) {
    case Buttons::OkAbort:
      return abortOnError ? Answer::Abort : Answer::Ok;
    case Buttons::YesAbort:
      return abortOnError || abortOnMismatch ? Answer::Abort : Answer::Yes;
    case Buttons::OkCancel:
      return Answer::Cancel;  // no confirmation without an operator
    case Buttons::Ok:
      break;
  }
  return Answer::Ok;
}

void CliFrontend::EndLineErrors(int count) {
  if (count > kShownLineErrors) {
    err_ << "... and " << count - kShownLineErrors << " more line errors\n";
  }
  lineErrorsOfFile_ = 0;
}

std::optional<FileChoice> CliFrontend::ChooseOpenFile(const FileDialog&) {
  if (openPaths.empty()) return std::nullopt;
  FileChoice choice{openPaths.front(), 1};
  openPaths.pop_front();
  return choice;
}
std::optional<FileChoice> CliFrontend::ChooseSaveFile(const FileDialog&) {
  auto choice = saveChoice;
  saveChoice.reset();
  return choice;
}

void CliFrontend::ShowChipDialog(TNChipSelectForm& dialog) {
  if (!chipPart) return;
  // The series and position the operator would click, then the name as typed.
  const CatalogueEntry selection = DialogSelectionFor(*chipPart, chipSeries);
  dialog.ListBoxSeries.itemIndex = selection.series;
  dialog.ListBoxSeriesClick();
  dialog.ListBoxChips.itemIndex = selection.position;
  dialog.ListBoxChipsClick();
  dialog.EditSelChip.text = *chipPart;
  dialog.BitBtnOKClick();
}

std::optional<std::string> CliFrontend::AskLoadOffset(const std::string& shown) {
  return loadOffset ? *loadOffset : shown;
}

std::optional<ReadAddressEntry> CliFrontend::AskReadAddress(const std::string& shownAddress,
                                                            int shownLength) {
  if (readAddress) return *readAddress;
  return ReadAddressEntry{shownAddress, shownLength};
}

}  // namespace korvan::cli
