// The dialogs rendering the core's models, driven by real clicks: the chip selection dialog,
// the three option-byte editors (radio buttons, bit panels and their pop-up menu, the level and
// brown-out combos, OK and Cancel), the two address dialogs, the About box and the message
// boxes of the Frontend.
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

#include "core/chips/chip_select_form.h"
#include "gui/dialogs.h"
#include "gui/option_byte_dialogs.h"
#include "gui/qt_frontend.h"
#include "gui_test_support.h"
#include "support/chosen_chip.h"

using namespace korvan;
using korvan::testing::Child;
using korvan::testing::ChosenChip;
using korvan::testing::Click;
using korvan::testing::ClickItem;
using korvan::testing::Screenshot;
using korvan::testing::WhenModal;

namespace {

QString Caption(QWidget& dialog, const char* name) {
  auto* label = Child<QLabel>(dialog, name);
  return label ? label->text() : QString();
}

bool Checked(QWidget& dialog, const char* name) {
  auto* radio = Child<QRadioButton>(dialog, name);
  return radio && radio->isChecked();
}

void ClickRadio(QWidget& dialog, const char* name) {
  Click(Child<QRadioButton>(dialog, name));
}

// Presses a bit panel with the right button and chooses "0" or "1" from its pop-up menu.
void SetBit(gui::OptionByteDialog& dialog, const char* panel, bool one) {
  QTest::mouseClick(Child<QLabel>(dialog, panel), Qt::RightButton);
  QVERIFY(dialog.PopupMenu1()->isVisible());
  QAction* entry = one ? dialog.N110() : dialog.N03();
  QTest::mouseClick(dialog.PopupMenu1(), Qt::LeftButton, Qt::NoModifier,
                    dialog.PopupMenu1()->actionGeometry(entry).center());
}

// Chooses an entry of a selection-only combo box as the operator does: the list opens and a
// click lands on the entry.
void Choose(QComboBox* combo, int index) {
  QVERIFY(combo);
  combo->showPopup();
  QAbstractItemView* list = combo->view();
  const QRect cell = list->visualRect(list->model()->index(index, 0));
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
  QTRY_VERIFY(!list->isVisible());
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private slots:
  void chipDialogOpensOnFirstSeries();
  void chipDialogSeriesClicks_data();
  void chipDialogSeriesClicks();
  void chipDialogTypedName();
  void chipDialogDoubleClickThenCancel();

  void generalEditorDefaultsAndClicks();
  void generalEditorUser2Group();
  void generalEditorLevel2();
  void level2QuestionIsAWarning_data();
  void level2QuestionIsAWarning();
  void generalEditorCancelAndCloseBox();
  void m0EditorBootVariants();
  void g430EditorClicks();

  void addressDialogs();
  void aboutBox();
  void messageBoxAnswers_data();
  void messageBoxAnswers();
  void fileDialogFilters();
};

// ---------------------------------------------------------------------------------------------
// Chip selection dialog

struct ChipDialogFixture {
  ChipRecord chip;
  std::uint8_t linkCtrl = 0x7C, eraseCtrl = 0x80, checkCtrl = 0, familyCtrl = 0;
  korvan::TNChipSelectForm model{chip, {linkCtrl, eraseCtrl, checkCtrl, familyCtrl}};
  ChipDialogFixture() { model.FormShow(); }
};

void DialogsTest::chipDialogOpensOnFirstSeries() {
  for (int opening = 0; opening < 2; ++opening) {
    ChipDialogFixture f;
    gui::TNChipSelectForm dialog(f.model);
    dialog.show();
    QCOMPARE(dialog.size(), QSize(505, 441));
    QCOMPARE(dialog.windowTitle(), QString("N32Fxx Chip Selection Dialog"));
    QCOMPARE(dialog.ui.ListBoxSeries->count(), 9);
    QCOMPARE(dialog.ui.ListBoxSeries->currentItem()->text(), QString("N32G45xxx"));
    QCOMPARE(dialog.ui.ListBoxChips->currentItem()->text(), QString("N32G452CBL7"));
    QCOMPARE(dialog.ui.EditSelChip->text(), QString("N32G452CBL7"));
    if (opening == 0) {
      ClickItem(dialog.ui.ListBoxSeries, "N32G401xx");
      Click(dialog.ui.BitBtnOK);
      QCOMPARE(f.chip.chipName, std::string("N32G401F6S7-1"));
      Screenshot(dialog, "chip_select_form");
    }
  }
}

void DialogsTest::chipDialogSeriesClicks_data() {
  QTest::addColumn<QString>("series");
  QTest::addColumn<int>("parts");
  QTest::addColumn<QString>("edit");
  QTest::newRow("N32G401xx") << "N32G401xx" << 15 << "N32G401F6S7-1";
  QTest::newRow("Else Chips") << "Else Chips" << 1 << "NSS32LOCK-1";
}

void DialogsTest::chipDialogSeriesClicks() {
  QFETCH(QString, series);
  QFETCH(int, parts);
  QFETCH(QString, edit);
  ChipDialogFixture f;
  gui::TNChipSelectForm dialog(f.model);
  dialog.show();
  ClickItem(dialog.ui.ListBoxSeries, series);
  QCOMPARE(dialog.ui.ListBoxChips->count(), parts);
  QCOMPARE(dialog.ui.EditSelChip->text(), edit);
  QCOMPARE(f.chip.chipConfirmed, 0);
}

void DialogsTest::chipDialogTypedName() {
  ChipDialogFixture f;
  gui::TNChipSelectForm dialog(f.model);
  dialog.show();
  dialog.ui.EditSelChip->clear();
  QTest::keyClicks(dialog.ui.EditSelChip, "N32WB031KEQ6");
  Click(dialog.ui.BitBtnOK);
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
  QCOMPARE(f.chip.chipName, std::string("N32WB031KEQ6"));
  QCOMPARE(f.chip.partIndex, 0);
  QCOMPARE(f.chip.familyCode, 0x80);
  QCOMPARE(f.chip.chipConfirmed, 1);
}

void DialogsTest::chipDialogDoubleClickThenCancel() {
  ChipDialogFixture f;
  gui::TNChipSelectForm dialog(f.model);
  dialog.show();
  ClickItem(dialog.ui.ListBoxSeries, "N32G0xxx");
  ClickItem(dialog.ui.ListBoxChips, "N32G031K8L7", true);
  QVERIFY(dialog.isVisible());
  Click(dialog.ui.BitBtnCancel);
  QCOMPARE(dialog.result(), int(QDialog::Rejected));
  QCOMPARE(f.chip.chipName, std::string("N32G031K8L7"));
  QCOMPARE(f.chip.chipConfirmed, 1);
}

// ---------------------------------------------------------------------------------------------
// Option-byte editors

void DialogsTest::generalEditorDefaultsAndClicks() {
  ChosenChip c("N32G452CBL7");
  korvan::TN32xOptBForm model(c.image, c.chip, c.frontend);
  model.FormShow();
  gui::TN32xOptBForm dialog(model);
  dialog.show();
  Screenshot(dialog, "n32x_opt_form_N32G452CBL7");

  QCOMPARE(dialog.size(), QSize(718, 520));
  QCOMPARE(dialog.windowTitle(), QString("Config N32xx Option Byte Wizard"));
  QCOMPARE(dialog.ui.ComBoxROP->currentIndex(), 0);
  QCOMPARE(Caption(dialog, "PanelATR32xROP"), QString("0xA5/0xFF"));
  QVERIFY(!dialog.ui.PanelUSER2->isVisible());
  QVERIFY(!dialog.ui.PanelRSTPD->isVisible());
  QVERIFY(!dialog.ui.PanelRstPBT->isVisible());
  QCOMPARE(dialog.ui.BitBtnOK->y(), 424);
  for (const char* one : {"RadBtnNtRstStb", "RadBtnNtRstStp", "RadBtnIWGSW"}) {
    QVERIFY2(Checked(dialog, one), one);
  }
  for (const char* panel : {"NATxOptUSER1", "ATR32xOptD0", "ATR32xOptD1", "ATR32xOptWP0",
                            "ATR32xOptWP1", "ATR32xOptWP2", "ATR32xOptWP3"}) {
    QCOMPARE(Caption(dialog, panel), QString("0xFF"));
  }
  QCOMPARE(Caption(dialog, "NATxOptUSER2"), QString("0x8F"));
  QCOMPARE(Caption(dialog, "PnlD0B7"), QString("Bit7=1"));
  QCOMPARE(Caption(dialog, "PnlP3B0"), QString("Bit0=1"));

  ClickRadio(dialog, "RadBtnIWGHW");
  QCOMPARE(c.image[2], 0xFE);
  QCOMPARE(c.image[3], 0x01);
  QCOMPARE(Caption(dialog, "NATxOptUSER1"), QString("0xFE"));
  QVERIFY(Checked(dialog, "RadBtnIWGHW"));
  QVERIFY(!Checked(dialog, "RadBtnIWGSW"));

  SetBit(dialog, "PnlP1B3", false);
  QCOMPARE(c.image[10], 0xF7);
  QCOMPARE(c.image[11], 0x08);
  QCOMPARE(Caption(dialog, "PnlP1B3"), QString("Bit3=0"));
  QCOMPARE(Caption(dialog, "ATR32xOptWP1"), QString("0xF7"));
  SetBit(dialog, "PnlP1B3", true);
  QCOMPARE(c.image[10], 0xFF);
  QCOMPARE(Caption(dialog, "PnlP1B3"), QString("Bit3=1"));

  // A left press selects the bit without opening the menu.
  QTest::mouseClick(Child<QLabel>(dialog, "PnlD0B5"), Qt::LeftButton);
  QVERIFY(!dialog.PopupMenu1()->isVisible());
  QCOMPARE(model.SelectedMask(), 0x20);

  Click(dialog.ui.BitBtnOK);
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
  QCOMPARE(c.image[2], 0xFE);
}

void DialogsTest::generalEditorUser2Group() {
  for (const char* part : {"N32L436RBL7", "N32G435CBL7"}) {
    ChosenChip c(part);
    korvan::TN32xOptBForm model(c.image, c.chip, c.frontend);
    model.FormShow();
    gui::TN32xOptBForm dialog(model);
    dialog.show();
    QCOMPARE(dialog.size(), QSize(718, 660));
    QVERIFY(dialog.ui.PanelUSER2->isVisible());
    QVERIFY(dialog.ui.PanelRSTPD->isVisible());
    QCOMPARE(dialog.ui.ComBoxBOR->currentText(), QString("000　：BOR Level 0"));
    QCOMPARE(Caption(dialog, "NATxOptUSER2"), QString("0x8F"));
    if (std::string(part) == "N32L436RBL7") Screenshot(dialog, "n32x_opt_form_N32L436RBL7");

    Choose(dialog.ui.ComBoxBOR, 3);
    QCOMPARE(dialog.ui.ComBoxBOR->currentText(), QString("011　：BOR Level ３"));
    QCOMPARE(c.image[18], 0xBF);
    QCOMPARE(c.image[19], 0x40);
    ClickRadio(dialog, "RadioButtonnBT0");
    QCOMPARE(c.image[18], 0xBE);
    QCOMPARE(c.image[19], 0x41);
    QCOMPARE(Caption(dialog, "NATxOptUSER2"), QString("0xBE"));
  }
}

void DialogsTest::generalEditorLevel2() {
  ChosenChip c("N32G452CBL7");
  korvan::TN32xOptBForm model(c.image, c.chip, c.frontend);
  model.FormShow();
  gui::TN32xOptBForm dialog(model);
  dialog.show();

  c.frontend.answers = {Answer::Cancel, Answer::Ok};
  Choose(dialog.ui.ComBoxROP, 2);
  QCOMPARE(c.frontend.Texts().back(), std::string("改选项会导致芯片将不可再继续烧写，请确认！"));
  QCOMPARE(dialog.ui.ComBoxROP->currentIndex(), 1);
  QCOMPARE(c.image[0], 0xA5);
  QCOMPARE(c.image[16], 0xFF);
  QCOMPARE(Caption(dialog, "PanelATR32xROP"), QString("0xA5/0xFF"));

  Choose(dialog.ui.ComBoxROP, 2);
  QCOMPARE(dialog.ui.ComBoxROP->currentIndex(), 2);
  QCOMPARE(c.image[0], 0xCC);
  QCOMPARE(c.image[1], 0x33);
  QCOMPARE(c.image[16], 0x33);
  QCOMPARE(c.image[17], 0xCC);
  QCOMPARE(Caption(dialog, "PanelATR32xROP"), QString("0xCC/0x33"));
}

void DialogsTest::level2QuestionIsAWarning_data() {
  QTest::addColumn<int>("press");
  QTest::addColumn<int>("level");
  QTest::newRow("Cancel") << int(QMessageBox::Cancel) << 1;
  QTest::newRow("OK") << int(QMessageBox::Ok) << 2;
}

// The question before level 2 is a real warning box with OK and Cancel.
void DialogsTest::level2QuestionIsAWarning() {
  QFETCH(int, press);
  QFETCH(int, level);
  ChosenChip c("N32G430K8L7");
  gui::QtFrontend frontend;
  korvan::TN32G430xOptBForm model(c.image, c.chip, frontend);
  model.FormShow();
  gui::TN32G430xOptBForm dialog(model);
  dialog.show();
  bool asked = false;
  WhenModal([&asked, press](QWidget& modal) {
    auto* box = qobject_cast<QMessageBox*>(&modal);
    QVERIFY(box);
    QCOMPARE(box->icon(), QMessageBox::Warning);
    QCOMPARE(box->text(), QString("改选项会导致芯片将不可再继续烧写，请确认！"));
    QCOMPARE(box->standardButtons(), QMessageBox::Ok | QMessageBox::Cancel);
    asked = true;
    Click(box->button(static_cast<QMessageBox::StandardButton>(press)));
  });
  Choose(dialog.ui.ComBoxROP, 2);
  QVERIFY(asked);
  QCOMPARE(dialog.ui.ComBoxROP->currentIndex(), level);
  QCOMPARE(c.image[0], level == 2 ? 0xCC : 0xA5);
}

void DialogsTest::generalEditorCancelAndCloseBox() {
  ChosenChip c("N32G452CBL7");
  const OptionByteImage before = c.image;
  {
    korvan::TN32xOptBForm model(c.image, c.chip, c.frontend);
    model.FormShow();
    gui::TN32xOptBForm dialog(model);
    dialog.show();
    ClickRadio(dialog, "RadBtnRstStp");
    SetBit(dialog, "PnlD1B0", false);
    Choose(dialog.ui.ComBoxROP, 1);
    QVERIFY(c.image != before);
    Click(dialog.ui.BitBtnNG);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(c.image == before);
  }
  {
    korvan::TN32xOptBForm model(c.image, c.chip, c.frontend);
    model.FormShow();
    gui::TN32xOptBForm dialog(model);
    dialog.show();
    ClickRadio(dialog, "RadBtnRstStp");
    dialog.close();  // the close box keeps the edits
    QCOMPARE(c.image[2], 0xFD);
  }
  // Reopening shows the edit.
  korvan::TN32xOptBForm model(c.image, c.chip, c.frontend);
  model.FormShow();
  gui::TN32xOptBForm dialog(model);
  dialog.show();
  QVERIFY(Checked(dialog, "RadBtnRstStp"));
  QCOMPARE(Caption(dialog, "NATxOptUSER1"), QString("0xFD"));
}

void DialogsTest::m0EditorBootVariants() {
  {
    ChosenChip c("N32G003F5Q7");
    korvan::TNxM0OptBForm model(c.image, c.chip, c.frontend);
    model.FormShow();
    gui::TNxM0OptBForm dialog(model);
    dialog.show();
    Screenshot(dialog, "nxm0_opt_form_N32G003F5Q7");
    QCOMPARE(dialog.size(), QSize(702, 480));
    QVERIFY(dialog.ui.PanelG00X->isVisible());
    QVERIFY(!dialog.ui.PanelG03X->isVisible());
    QVERIFY(Checked(dialog, "RadioBtnUnLCKF"));
    QVERIFY(Checked(dialog, "RadioBtnPA0RST"));
    QCOMPARE(Caption(dialog, "ATR32xOptUSER"), QString("0xF7"));
    ClickRadio(dialog, "RadioBtnLCKF");
    QCOMPARE(c.image[2], 0xFF);
    QCOMPARE(c.image[3], 0x00);
    QCOMPARE(Caption(dialog, "ATR32xOptUSER"), QString("0xFF"));
  }
  {
    ChosenChip c("N32G031K8L7");
    korvan::TNxM0OptBForm model(c.image, c.chip, c.frontend);
    model.FormShow();
    gui::TNxM0OptBForm dialog(model);
    dialog.show();
    Screenshot(dialog, "nxm0_opt_form_N32G031K8L7");
    QVERIFY(dialog.ui.PanelG03X->isVisible());
    QVERIFY(!dialog.ui.PanelG00X->isVisible());
    for (const char* one : {"RadBtnNtSWBT1", "RadBtnNtBT1", "RadBtnNtBT0"}) {
      QVERIFY2(Checked(dialog, one), one);
    }
    ClickRadio(dialog, "RadBtnSWBT1");
    QCOMPARE(c.image[2], 0xDF);
    QCOMPARE(c.image[3], 0x20);
    c.frontend.answers = {Answer::Ok};
    Choose(dialog.ui.ComBoxROP, 2);
    QCOMPARE(c.image[0], 0xCC);
    QCOMPARE(c.image[16], 0x33);
  }
}

void DialogsTest::g430EditorClicks() {
  ChosenChip c("N32G430K8L7");
  korvan::TN32G430xOptBForm model(c.image, c.chip, c.frontend);
  model.FormShow();
  gui::TN32G430xOptBForm dialog(model);
  dialog.show();
  Screenshot(dialog, "n32g430x_opt_form_N32G430K8L7");
  QCOMPARE(dialog.size(), QSize(718, 623));
  QCOMPARE(dialog.ui.ComBoxROP->currentIndex(), 0);
  QCOMPARE(Caption(dialog, "PanelNAT32xROP"), QString("0xA5/0xFF"));
  QCOMPARE(Caption(dialog, "N32GxOptUSER"), QString("0xFF"));
  QCOMPARE(Caption(dialog, "N32GxOptUSER2"), QString("0xFF"));
  for (const char* one :
       {"RadBtnNtSWSLPN", "RadBtnIWFRZNDB", "RadBtnIWNFRZ2", "RadBtnIWNFRZ", "RadBtnNtRstPD",
        "RadBtnNtRstStp", "RadBtnIWGSW", "RadioButtBT1N", "RadioButtBT0N", "RadioButtSWBTN0"}) {
    QVERIFY2(Checked(dialog, one), one);
  }
  ClickRadio(dialog, "RadBtnIWFRZ2");
  QCOMPARE(c.image[2], 0xEF);
  QCOMPARE(c.image[3], 0x10);
  ClickRadio(dialog, "RadBtnSWSLP");
  QCOMPARE(c.image[2], 0xAF);
  QCOMPARE(c.image[3], 0x50);
  QCOMPARE(Caption(dialog, "N32GxOptUSER"), QString("0xAF"));
  ClickRadio(dialog, "RadioButtSWBT0");
  QCOMPARE(c.image[14], 0xFB);
  QCOMPARE(c.image[15], 0x04);
  QCOMPARE(Caption(dialog, "N32GxOptUSER2"), QString("0xFB"));

  c.frontend.answers = {Answer::Ok};
  Choose(dialog.ui.ComBoxROP, 2);
  QCOMPARE(c.image[0], 0xCC);
  QCOMPARE(c.image[12], 0x33);
  QCOMPARE(c.image[13], 0xCC);
  QCOMPARE(c.image[14], 0xFB);
  Choose(dialog.ui.ComBoxROP, 0);
  QCOMPARE(c.image[0], 0xA5);
  QCOMPARE(c.image[12], 0xFF);
  QCOMPARE(c.image[13], 0x00);
  QCOMPARE(c.image[14], 0xFB);
}

// ---------------------------------------------------------------------------------------------
// Address dialogs, About, message boxes, file dialogs

void DialogsTest::addressDialogs() {
  gui::TSetAddressForm read;
  QCOMPARE(read.windowTitle(), QString("Specify Read Address"));
  WhenModal([](QWidget& modal) {
    auto* form = qobject_cast<gui::TSetAddressForm*>(&modal);
    QVERIFY(form);
    Screenshot(modal, "set_address_form");
    QCOMPARE(form->ui.EditAddr->text(), QString("0x00000000"));
    QCOMPARE(form->ui.SpinEditRD->value(), 32);
    form->ui.EditAddr->selectAll();
    QTest::keyClicks(form->ui.EditAddr, "0x08008004");
    // The spin edit refuses values outside 16..4096.
    form->ui.SpinEditRD->selectAll();
    QTest::keyClicks(form->ui.SpinEditRD, "8");
    QTest::keyClick(form->ui.SpinEditRD, Qt::Key_Tab);
    QCOMPARE(form->ui.SpinEditRD->value(), 32);
    form->ui.SpinEditRD->setValue(5000);
    QCOMPARE(form->ui.SpinEditRD->value(), 4096);
    Click(form->ui.BitBtnOK);
  });
  const auto entry = read.Ask("0x00000000", 32);
  QVERIFY(entry.has_value());
  QCOMPARE(entry->addressText, std::string("0x08008004"));
  QCOMPARE(entry->length, 4096);

  gui::TFormOfsAddr offset;
  QCOMPARE(offset.windowTitle(), QString("设置BIN文件偏移地址"));
  WhenModal([](QWidget& modal) {
    auto* form = qobject_cast<gui::TFormOfsAddr*>(&modal);
    QVERIFY(form);
    Screenshot(modal, "ofs_addr_form");
    QCOMPARE(form->ui.EditOfsAddr->text(), QString("0x08000000"));
    QTest::keyClicks(form->ui.EditOfsAddr, "0x08008000");
    Click(form->ui.BitBtn1);
  });
  QCOMPARE(offset.Ask("0x08000000", nullptr), std::optional<std::string>("0x08008000"));
  WhenModal([](QWidget& modal) { modal.close(); });
  QCOMPARE(offset.Ask("0x08000000", nullptr), std::nullopt);
}

void DialogsTest::aboutBox() {
  gui::TAboutForm about;
  about.show();
  QCOMPARE(about.windowTitle(), QString("About"));
  QCOMPARE(about.ui.Version->text(), QString("Version V2.9"));
  QVERIFY(!about.ui.ProgramIcon->pixmap().isNull());
  about.ui.LabelTL->setText("Korvan200NAT Flash MCU Programmer");
  Screenshot(about, "about_form");
  Click(about.ui.OKButton);
  QVERIFY(!about.isVisible());
}

void DialogsTest::messageBoxAnswers_data() {
  QTest::addColumn<int>("buttons");
  QTest::addColumn<int>("press");  // a QMessageBox::StandardButton, or 0 for Escape
  QTest::addColumn<int>("answer");
  QTest::newRow("OK") << int(Buttons::Ok) << int(QMessageBox::Ok) << int(Answer::Ok);
  QTest::newRow("OK box closed") << int(Buttons::Ok) << 0 << int(Answer::Ok);
  QTest::newRow("reader error Abort")
      << int(Buttons::OkAbort) << int(QMessageBox::Abort) << int(Answer::Abort);
  QTest::newRow("reader error OK")
      << int(Buttons::OkAbort) << int(QMessageBox::Ok) << int(Answer::Ok);
  QTest::newRow("verify Yes") << int(Buttons::YesAbort) << int(QMessageBox::Yes)
                              << int(Answer::Yes);
  QTest::newRow("verify closed") << int(Buttons::YesAbort) << 0 << int(Answer::Abort);
  QTest::newRow("L2 closed") << int(Buttons::OkCancel) << 0 << int(Answer::Cancel);
  QTest::newRow("L2 OK") << int(Buttons::OkCancel) << int(QMessageBox::Ok) << int(Answer::Ok);
}

void DialogsTest::messageBoxAnswers() {
  QFETCH(int, buttons);
  QFETCH(int, press);
  QFETCH(int, answer);
  gui::QtFrontend frontend;
  WhenModal([press](QWidget& modal) {
    auto* box = qobject_cast<QMessageBox*>(&modal);
    QVERIFY(box);
    QCOMPARE(box->text(), QString("Line 3 Data Error : 2."));
    if (press == 0) {
      QTest::keyClick(box, Qt::Key_Escape);
    } else {
      Click(box->button(static_cast<QMessageBox::StandardButton>(press)));
    }
  });
  QCOMPARE(int(frontend.Ask(MessageKind::Error, "Line 3 Data Error : 2.",
                            static_cast<Buttons>(buttons))),
           answer);
}

void DialogsTest::fileDialogFilters() {
  QCOMPARE(
      gui::NameFilters("All Files (*.*)|*.*|All Binary Files (*.Bin)|*.Bin|All Intel Hex "
                       "Files (*.Hex)|*.Hex|All Motorola Hex Files(*.S19)|*.S19;|All "
                       "Hex/Binary Files (*.Hex,*.S1*,*.Bin)|*.Hex;*.S1*;*.Bin"),
      QStringList({"All Files (*)", "All Binary Files (*.Bin)", "All Intel Hex Files (*.Hex)",
                   "All Motorola Hex Files (*.S19)", "All Hex/Binary Files (*.Hex *.S1* *.Bin)"}));
  QCOMPARE(gui::NameFilters("Korvanxx Project Files(*.kvn)|*.kvn"),
           QStringList({"Korvanxx Project Files (*.kvn)"}));
}

QTEST_MAIN(DialogsTest)
#include "dialogs_test.moc"
