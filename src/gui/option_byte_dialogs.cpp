#include "gui/option_byte_dialogs.h"

#include <QComboBox>
#include <QCursor>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>

#include "gui/dialogs.h"

namespace korvan::gui {

namespace {

QString Text(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

MouseButton ButtonOf(Qt::MouseButton button) {
  switch (button) {
    case Qt::RightButton:
      return MouseButton::Right;
    case Qt::MiddleButton:
      return MouseButton::Middle;
    default:
      return MouseButton::Left;
  }
}

}  // namespace

OptionByteDialog::OptionByteDialog(OptionByteEditor& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  popup_ = new QMenu(this);
  popup_->setObjectName("PopupMenu1");
  n03_ = popup_->addAction("0");
  n03_->setObjectName("N03");
  n110_ = popup_->addAction("1");
  n110_->setObjectName("N110");
  connect(n03_, &QAction::triggered, this, [this] {
    model_.N03Click();
    Render();
  });
  connect(n110_, &QAction::triggered, this, [this] {
    model_.N110Click();
    Render();
  });
}

void OptionByteDialog::BindCommon(QComboBox* rop, QPushButton* ok, QPushButton* ng) {
  setWindowTitle(Text(kOptionByteEditorCaption));
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);
  rop_ = rop;
  cancel_ = ng;
  for (std::string_view item : OptionByteEditor::ComBoxROPItems()) rop->addItem(Text(item));
  connect(rop, &QComboBox::activated, this, [this](int index) {
    model_.ComBoxROP.itemIndex = index;
    model_.ComBoxROPChange();
    Render();
  });
  connect(ok, &QPushButton::clicked, this, [this] {
    model_.BitBtnOKClick();
    accept();
  });
  connect(ng, &QPushButton::clicked, this, [this] {
    model_.BitBtnNGClick();
    reject();
  });
  for (int row = 0; row < model_.BitRowCount(); ++row) {
    for (int bit = 7; bit >= 0; --bit) {
      const QString name = QString::fromStdString(model_.BitPanelName(row, bit));
      auto* label = findChild<QLabel*>(name);
      if (!label) continue;
      label->installEventFilter(this);
      bitPanels_.push_back({label, row, bit});
    }
  }
}

void OptionByteDialog::BindRadio(QRadioButton* radio, const RadioView& view,
                                 std::function<void()> click) {
  radios_.push_back({radio, &view});
  connect(radio, &QRadioButton::clicked, this, [this, click = std::move(click)] {
    click();
    Render();
  });
}

void OptionByteDialog::BindPanel(QWidget* widget, const PanelView& view, bool captionToo) {
  panels_.push_back({widget, &view, captionToo});
}

void OptionByteDialog::Render() {
  if (rop_) {
    const QSignalBlocker block(rop_);
    rop_->setCurrentIndex(model_.ComBoxROP.itemIndex);
  }
  for (const Radio& r : radios_) {
    // A pair shows what the model holds, even none checked, so exclusivity is lifted meanwhile.
    const QSignalBlocker block(r.radio);
    r.radio->setAutoExclusive(false);
    r.radio->setChecked(r.view->checked);
    r.radio->setAutoExclusive(true);
  }
  for (const Panel& p : panels_) {
    if (p.caption) {
      if (auto* label = qobject_cast<QLabel*>(p.widget)) {
        label->setText(QString::fromStdString(p.view->caption));
      }
    }
    p.widget->setVisible(p.view->visible);
  }
  for (const BitPanel& b : bitPanels_) {
    b.label->setText(QString::fromStdString(model_.BitPanelCaption(b.row, b.bit)));
  }
  if (extraRender_) extraRender_();
}

void OptionByteDialog::keyPressEvent(QKeyEvent* event) {
  // Escape is the Cancel button, which restores the image; the close box keeps the edits.
  if (event->key() == Qt::Key_Escape && cancel_) {
    cancel_->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool OptionByteDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonPress) {
    for (const BitPanel& b : bitPanels_) {
      if (b.label != watched) continue;
      auto* mouse = static_cast<QMouseEvent*>(event);
      if (model_.BitPanelMouseDown(b.row, b.bit, ButtonOf(mouse->button()))) {
        popup_->popup(mouse->globalPosition().toPoint());
      }
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------

TN32xOptBForm::TN32xOptBForm(korvan::TN32xOptBForm& m, QWidget* parent)
    : OptionByteDialog(m, parent) {
  ui.setupUi(this);
  BindCommon(ui.ComBoxROP, ui.BitBtnOK, ui.BitBtnNG);
  for (std::string_view item : korvan::TN32xOptBForm::ComBoxBORItems()) {
    ui.ComBoxBOR->addItem(QString::fromUtf8(item.data(), static_cast<qsizetype>(item.size())));
  }
  connect(ui.ComBoxBOR, &QComboBox::activated, this, [this, &m](int index) {
    m.ComBoxBOR.itemIndex = index;
    m.ComBoxBORChange();
    Render();
  });

  BindPanel(ui.PanelRSTPD, m.PanelRSTPD);
  BindPanel(ui.PanelRstPBT, m.PanelRstPBT, false);
  BindPanel(ui.PanelUSER2, m.PanelUSER2, false);
  BindPanel(ui.PanelATR32xROP, m.PanelATR32xROP);
  BindPanel(ui.NATxOptUSER1, m.NATxOptUSER1);
  BindPanel(ui.ATR32xOptD0, m.ATR32xOptD0);
  BindPanel(ui.ATR32xOptD1, m.ATR32xOptD1);
  BindPanel(ui.ATR32xOptWP0, m.ATR32xOptWP0);
  BindPanel(ui.ATR32xOptWP1, m.ATR32xOptWP1);
  BindPanel(ui.ATR32xOptWP2, m.ATR32xOptWP2);
  BindPanel(ui.ATR32xOptWP3, m.ATR32xOptWP3);
  BindPanel(ui.NATxOptUSER2, m.NATxOptUSER2);

  BindRadio(ui.RadioButton2, m.RadioButton2, [&m] { m.RadioButton2Click(); });
  BindRadio(ui.RadioButton1, m.RadioButton1, [&m] { m.RadioButton1Click(); });
  BindRadio(ui.RadBtnRstStb, m.RadBtnRstStb, [&m] { m.RadBtnRstStbClick(); });
  BindRadio(ui.RadBtnNtRstStb, m.RadBtnNtRstStb, [&m] { m.RadBtnNtRstStbClick(); });
  BindRadio(ui.RadBtnRstStp, m.RadBtnRstStp, [&m] { m.RadBtnRstStpClick(); });
  BindRadio(ui.RadBtnNtRstStp, m.RadBtnNtRstStp, [&m] { m.RadBtnNtRstStpClick(); });
  BindRadio(ui.RadBtnIWGHW, m.RadBtnIWGHW, [&m] { m.RadBtnIWGHWClick(); });
  BindRadio(ui.RadBtnIWGSW, m.RadBtnIWGSW, [&m] { m.RadBtnIWGSWClick(); });
  BindRadio(ui.RadioButtonNSB, m.RadioButtonNSB, [&m] { m.RadioButtonNSBClick(); });
  BindRadio(ui.RadioButtonSB, m.RadioButtonSB, [&m] { m.RadioButtonSBClick(); });
  BindRadio(ui.RadioButtonnBT1, m.RadioButtonnBT1, [&m] { m.RadioButtonnBT1Click(); });
  BindRadio(ui.RadioButtonBT1, m.RadioButtonBT1, [&m] { m.RadioButtonBT1Click(); });
  BindRadio(ui.RadioButtonnBT0, m.RadioButtonnBT0, [&m] { m.RadioButtonnBT0Click(); });
  BindRadio(ui.RadioButtonBT0, m.RadioButtonBT0, [&m] { m.RadioButtonBT0Click(); });

  OnRender([this, &m] {
    const QSignalBlocker block(ui.ComBoxBOR);
    ui.ComBoxBOR->setCurrentIndex(m.ComBoxBOR.itemIndex);
    setFixedSize(m.Width, m.Height);
    ui.BitBtnOK->move(ui.BitBtnOK->x(), m.BitBtnOK.top);
    ui.BitBtnNG->move(ui.BitBtnNG->x(), m.BitBtnNG.top);
  });
  Render();
  CentreOn(*this, parent);
}

// ---------------------------------------------------------------------------------------------

TNxM0OptBForm::TNxM0OptBForm(korvan::TNxM0OptBForm& m, QWidget* parent)
    : OptionByteDialog(m, parent) {
  ui.setupUi(this);
  BindCommon(ui.ComBoxROP, ui.BitBtnOK, ui.BitBtnNG);
  setFixedSize(m.ClientWidth, m.ClientHeight);

  BindPanel(ui.PanelG03X, m.PanelG03X, false);
  BindPanel(ui.PanelG00X, m.PanelG00X, false);
  BindPanel(ui.PanelNAT32xROP, m.PanelNAT32xROP);
  BindPanel(ui.ATR32xOptUSER, m.ATR32xOptUSER);
  BindPanel(ui.ATR32xOptD0, m.ATR32xOptD0);
  BindPanel(ui.ATR32xOptD1, m.ATR32xOptD1);
  BindPanel(ui.ATR32xOptWP0, m.ATR32xOptWP0);
  BindPanel(ui.ATR32xOptWP1, m.ATR32xOptWP1);

  BindRadio(ui.RadBtnSWBT1, m.RadBtnSWBT1, [&m] { m.RadBtnSWBT1Click(); });
  BindRadio(ui.RadBtnNtSWBT1, m.RadBtnNtSWBT1, [&m] { m.RadBtnNtSWBT1Click(); });
  BindRadio(ui.RadBtnBT1, m.RadBtnBT1, [&m] { m.RadBtnBT1Click(); });
  BindRadio(ui.RadBtnNtBT1, m.RadBtnNtBT1, [&m] { m.RadBtnNtBT1Click(); });
  BindRadio(ui.RadBtnBT0, m.RadBtnBT0, [&m] { m.RadBtnBT0Click(); });
  BindRadio(ui.RadBtnNtBT0, m.RadBtnNtBT0, [&m] { m.RadBtnNtBT0Click(); });
  BindRadio(ui.RadioBtnPA0IO, m.RadioBtnPA0IO, [&m] { m.RadioBtnPA0IOClick(); });
  BindRadio(ui.RadioBtnPA0RST, m.RadioBtnPA0RST, [&m] { m.RadioBtnPA0RSTClick(); });
  BindRadio(ui.RadioBtnUnLCKF, m.RadioBtnUnLCKF, [&m] { m.RadioBtnUnLCKFClick(); });
  BindRadio(ui.RadioBtnLCKF, m.RadioBtnLCKF, [&m] { m.RadioBtnLCKFClick(); });
  BindRadio(ui.RadBtnRstPD, m.RadBtnRstPD, [&m] { m.RadBtnRstPDClick(); });
  BindRadio(ui.RadBtnNtRstPD, m.RadBtnNtRstPD, [&m] { m.RadBtnNtRstPDClick(); });
  BindRadio(ui.RadBtnRstStp, m.RadBtnRstStp, [&m] { m.RadBtnRstStpClick(); });
  BindRadio(ui.RadBtnNtRstStp, m.RadBtnNtRstStp, [&m] { m.RadBtnNtRstStpClick(); });
  BindRadio(ui.RadBtnIWGHW, m.RadBtnIWGHW, [&m] { m.RadBtnIWGHWClick(); });
  BindRadio(ui.RadBtnIWGSW, m.RadBtnIWGSW, [&m] { m.RadBtnIWGSWClick(); });
  Render();
  CentreOn(*this, parent);
}

// ---------------------------------------------------------------------------------------------

TN32G430xOptBForm::TN32G430xOptBForm(korvan::TN32G430xOptBForm& m, QWidget* parent)
    : OptionByteDialog(m, parent) {
  ui.setupUi(this);
  BindCommon(ui.ComBoxROP, ui.BitBtnOK, ui.BitBtnNG);
  setFixedSize(m.Width, m.Height);

  BindPanel(ui.PanelNAT32xROP, m.PanelNAT32xROP);
  BindPanel(ui.N32GxOptUSER, m.N32GxOptUSER);
  BindPanel(ui.N32xOptD0, m.N32xOptD0);
  BindPanel(ui.N32xOptD1, m.N32xOptD1);
  BindPanel(ui.N32xOptWP0, m.N32xOptWP0);
  BindPanel(ui.N32xOptWP1, m.N32xOptWP1);
  BindPanel(ui.N32GxOptUSER2, m.N32GxOptUSER2);

  BindRadio(ui.RadBtnSWSLP, m.RadBtnSWSLP, [&m] { m.RadBtnSWSLPClick(); });
  BindRadio(ui.RadBtnNtSWSLPN, m.RadBtnNtSWSLPN, [&m] { m.RadBtnNtSWSLPNClick(); });
  BindRadio(ui.RadBtnIWFRZDB, m.RadBtnIWFRZDB, [&m] { m.RadBtnIWFRZDBClick(); });
  BindRadio(ui.RadBtnIWFRZNDB, m.RadBtnIWFRZNDB, [&m] { m.RadBtnIWFRZNDBClick(); });
  BindRadio(ui.RadBtnIWFRZ2, m.RadBtnIWFRZ2, [&m] { m.RadBtnIWFRZ2Click(); });
  BindRadio(ui.RadBtnIWNFRZ2, m.RadBtnIWNFRZ2, [&m] { m.RadBtnIWNFRZ2Click(); });
  BindRadio(ui.RadBtnIWFRZ, m.RadBtnIWFRZ, [&m] { m.RadBtnIWFRZClick(); });
  BindRadio(ui.RadBtnIWNFRZ, m.RadBtnIWNFRZ, [&m] { m.RadBtnIWNFRZClick(); });
  BindRadio(ui.RadBtnRstPD, m.RadBtnRstPD, [&m] { m.RadBtnRstPDClick(); });
  BindRadio(ui.RadBtnNtRstPD, m.RadBtnNtRstPD, [&m] { m.RadBtnNtRstPDClick(); });
  BindRadio(ui.RadBtnRstStp, m.RadBtnRstStp, [&m] { m.RadBtnRstStpClick(); });
  BindRadio(ui.RadBtnNtRstStp, m.RadBtnNtRstStp, [&m] { m.RadBtnNtRstStpClick(); });
  BindRadio(ui.RadBtnIWGHW, m.RadBtnIWGHW, [&m] { m.RadBtnIWGHWClick(); });
  BindRadio(ui.RadBtnIWGSW, m.RadBtnIWGSW, [&m] { m.RadBtnIWGSWClick(); });
  BindRadio(ui.RadioButtBT1, m.RadioButtBT1, [&m] { m.RadioButtBT1Click(); });
  BindRadio(ui.RadioButtBT1N, m.RadioButtBT1N, [&m] { m.RadioButtBT1NClick(); });
  BindRadio(ui.RadioButtBT0, m.RadioButtBT0, [&m] { m.RadioButtBT0Click(); });
  BindRadio(ui.RadioButtBT0N, m.RadioButtBT0N, [&m] { m.RadioButtBT0NClick(); });
  BindRadio(ui.RadioButtSWBT0, m.RadioButtSWBT0, [&m] { m.RadioButtSWBT0Click(); });
  BindRadio(ui.RadioButtSWBTN0, m.RadioButtSWBTN0, [&m] { m.RadioButtSWBTN0Click(); });
  Render();
  CentreOn(*this, parent);
}

}  // namespace korvan::gui
