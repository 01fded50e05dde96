// The small dialogs of the window: the load-offset dialog of raw binary files, the read-address
// dialog, the About box, and the chip selection dialog that renders the core's model.
#pragma once

#include <QDialog>
#include <optional>
#include <string>

#include "core/job/frontend.h"
#include "core/chips/chip_select_form.h"
#include "ui_about_form.h"
#include "ui_chip_select_form.h"
#include "ui_ofs_addr_form.h"
#include "ui_set_address_form.h"

namespace korvan::gui {

// Centres a dialog on `owner` (on the screen when there is none).
void CentreOn(QWidget& dialog, const QWidget* owner);

// "设置BIN文件偏移地址": where a raw binary file goes. Created once with the window and shown
// for every binary load.
class TFormOfsAddr : public QDialog {
  Q_OBJECT

 public:
  explicit TFormOfsAddr(QWidget* parent = nullptr);

  // Shows `shown` in EditOfsAddr and waits; the text on OK, nullopt when closed without OK.
  std::optional<std::string> Ask(const std::string& shown, const QWidget* owner);

  Ui::TFormOfsAddr ui;
};

// "Specify Read Address": start address and length of Read Specific Address.
class TSetAddressForm : public QDialog {
  Q_OBJECT

 public:
  explicit TSetAddressForm(QWidget* parent = nullptr);

  std::optional<ReadAddressEntry> Ask(const std::string& shownAddress, int shownLength);

  Ui::TSetAddressForm ui;
};

// "About": title label, "Version V2.9", the icon and the maker's lines.
class TAboutForm : public QDialog {
  Q_OBJECT

 public:
  explicit TAboutForm(QWidget* parent = nullptr);

  Ui::TAboutForm ui;
};

// "N32Fxx Chip Selection Dialog" over the core's korvan::TNChipSelectForm: the lists and the
// edit show the model, clicks and typing go to its handlers.
class TNChipSelectForm : public QDialog {
  Q_OBJECT

 public:
  // The model has run its FormShow; it must outlive the dialog.
  explicit TNChipSelectForm(korvan::TNChipSelectForm& model, QWidget* parent = nullptr);

  Ui::TNChipSelectForm ui;

 private:
  void Render();
  void SeriesChanged(int row);
  void ChipChanged(int row);

  korvan::TNChipSelectForm& model_;
  bool rendering_ = false;
};

}  // namespace korvan::gui
