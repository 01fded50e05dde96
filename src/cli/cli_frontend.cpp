#include "cli/cli_frontend.h"

#include <ostream>

namespace korvan::cli {

Answer CliFrontend::Ask(MessageKind kind, const std::string& text, Buttons buttons) {
  const bool problem = kind == MessageKind::Error || kind == MessageKind::Warning;
  (problem ? err_ : out_) << text << '\n';
  if (kind == MessageKind::Error) ++errorBoxes;
  if (kind == MessageKind::Warning) ++warningBoxes;
  switch (buttons) {
    case Buttons::OkAbort:
      return abortOnError ? Answer::Abort : Answer::Ok;
    case Buttons::YesAbort:
      return abortOnError ? Answer::Abort : Answer::Yes;
    case Buttons::OkCancel:
      return Answer::Cancel;  // no confirmation without an operator
    case Buttons::Ok:
      break;
  }
  return Answer::Ok;
}

std::optional<FileChoice> CliFrontend::ChooseOpenFile(const FileDialog&) {
  return std::nullopt;
}
std::optional<FileChoice> CliFrontend::ChooseSaveFile(const FileDialog&) {
  return std::nullopt;
}

std::optional<std::string> CliFrontend::AskLoadOffset(const std::string& shown) {
  return loadOffset ? *loadOffset : shown;
}

std::optional<ReadAddressEntry> CliFrontend::AskReadAddress(const std::string& shownAddress,
                                                            int shownLength) {
  return ReadAddressEntry{shownAddress, shownLength};
}

}  // namespace korvan::cli
