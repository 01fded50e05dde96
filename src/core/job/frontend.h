// The one door through which the station asks the operator something: the plain dialogs
// (core/util/operator_dialogs.h) and the dialogs that render models of the core.
//
// Every modal question of the station (information boxes, the per-line reader error box, the
// verify-mismatch box, the level-2 confirmation, file choices, the two address dialogs) goes
// through this interface. The window answers with real dialogs, the command-line station with
// its flags, the tests with a scripted fake that records every question.
//
// Threading: called only on the front end's thread (the thread that runs the station), and it
// may block there; a blocked question stalls every channel, as a modal box does.
#pragma once

#include "core/util/operator_dialogs.h"

namespace korvan {

// Models of the dialogs a front end renders (core/chips).
class TNChipSelectForm;
class OptionByteEditor;

class Frontend : public OperatorDialogs {
 public:
  // The chip selection dialog, modal. The model has run its FormShow; the front end renders
  // it, forwards the operator's clicks to its handlers and returns when the dialog closes.
  // What the dialog confirmed is already in the chip record then. A front end without dialogs
  // closes it at once, confirming nothing.
  virtual void ShowChipDialog(TNChipSelectForm& dialog) { (void)dialog; }

  // One of the option-byte editors (TN32xOptBForm, TNxM0OptBForm, TN32G430xOptBForm), modal,
  // the same way: the editor changes the option-byte image while it is open; OK keeps, Cancel
  // restores. Without dialogs it closes at once and the image stays as it was.
  virtual void ShowOptionByteEditor(OptionByteEditor& editor) { (void)editor; }
};

}  // namespace korvan
