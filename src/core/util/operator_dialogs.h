// The plain dialogs through which the core asks the operator something: message boxes, file
// choices and the two address dialogs. Rooms below the station (image readers, project files,
// option-byte editors) ask through this interface; the station's `Frontend`
// (core/job/frontend.h) adds the dialogs that show models of the core.
//
// Threading: called only on the front end's thread (the thread that runs the station), and it
// may block there; a blocked question stalls every channel, as a modal box does.
#pragma once

#include <optional>
#include <string>

namespace korvan {

// The look of a message box; the window picks its icon and title from it.
enum class MessageKind {
  Plain,        // no icon
  Information,  // "i" icon
  Warning,
  Error,
  Confirmation,  // question mark
};

// The buttons a message box offers.
enum class Buttons {
  Ok,
  OkAbort,   // reader errors: OK goes on with the next line, Abort stops reading
  YesAbort,  // verify mismatch
  OkCancel,  // level-2 read protection
};

// The button that closed the box. Closing a box without a button answers the box's
// "negative" choice (Abort or Cancel; Ok for a box that has nothing else).
enum class Answer { Ok, Yes, Abort, Cancel };

// A file dialog as the station describes it. `filter` is a list of description and mask
// pairs separated by vertical bars ("All Files (*.*)|*.*|Intel Hex Files(*.HEX)|*.HEX");
// `filterIndex` is 1-based, the entry preselected.
struct FileDialog {
  std::string title;
  std::string filter;
  int filterIndex = 1;
  std::string defaultExt;
  std::string initialDir;
};

// The file chosen and the filter entry (1-based) that was selected when OK was pressed.
struct FileChoice {
  std::string path;
  int filterIndex = 1;
};

// What the read-address dialog returns: the address as typed and the length of its spin edit.
struct ReadAddressEntry {
  std::string addressText;
  int length = 32;
};

class OperatorDialogs {
 public:
  virtual ~OperatorDialogs() = default;

  // A modal message box with `text` (UTF-8) and the given buttons; returns the button pressed.
  virtual Answer Ask(MessageKind kind, const std::string& text, Buttons buttons) = 0;

  // Open and save dialogs; nullopt when the operator cancels.
  virtual std::optional<FileChoice> ChooseOpenFile(const FileDialog& dialog) = 0;
  virtual std::optional<FileChoice> ChooseSaveFile(const FileDialog& dialog) = 0;

  // The load-offset dialog of a raw binary file. `shown` is the text the edit box opens with
  // ("0x08000000"); returns the text as entered on OK, nullopt when closed without OK.
  virtual std::optional<std::string> AskLoadOffset(const std::string& shown) = 0;

  // The read-address dialog: opens with `shownAddress` and `shownLength`; nullopt without OK.
  virtual std::optional<ReadAddressEntry> AskReadAddress(const std::string& shownAddress,
                                                         int shownLength) = 0;

  // Convenience: an information box with one OK button.
  void Inform(const std::string& text) { Ask(MessageKind::Information, text, Buttons::Ok); }
};

}  // namespace korvan
