// The three option-byte editors ("Config N32xx Option Byte Wizard") as dialogs over the core's
// editor models. Each control shows the model member of its name; each click calls the model's
// handler of that control and the dialog is drawn again from the model. The bit panels carry the
// pop-up menu PopupMenu1 with "0" (N03) and "1" (N110).
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "core/chips/n32g430x_opt_form.h"
#include "core/chips/n32x_opt_form.h"
#include "core/chips/nxm0_opt_form.h"
#include "ui_n32g430x_opt_form.h"
#include "ui_n32x_opt_form.h"
#include "ui_nxm0_opt_form.h"

class QAction;
class QComboBox;
class QLabel;
class QMenu;
class QPushButton;
class QRadioButton;

namespace korvan::gui {

class OptionByteDialog : public QDialog {
  Q_OBJECT

 public:
  QMenu* PopupMenu1() const { return popup_; }
  QAction* N03() const { return n03_; }
  QAction* N110() const { return n110_; }

  // Draws every bound control from the model.
  void Render();

 protected:
  OptionByteDialog(OptionByteEditor& model, QWidget* parent);

  // Call once after setupUi: the level combo, the two buttons and the bit panels (found by
  // their object names, PnlD0B7 ..).
  void BindCommon(QComboBox* rop, QPushButton* ok, QPushButton* ng);
  void BindRadio(QRadioButton* radio, const RadioView& view, std::function<void()> click);
  // A panel showing the model's caption and visibility, or (captionToo false) only visibility.
  void BindPanel(QWidget* widget, const PanelView& view, bool captionToo = true);
  // Extra drawing of a dialog (its own combos, geometry).
  void OnRender(std::function<void()> render) { extraRender_ = std::move(render); }

  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  struct Radio {
    QRadioButton* radio;
    const RadioView* view;
  };
  struct Panel {
    QWidget* widget;
    const PanelView* view;
    bool caption;
  };
  struct BitPanel {
    QLabel* label;
    int row;
    int bit;
  };

  OptionByteEditor& model_;
  QComboBox* rop_ = nullptr;
  QPushButton* cancel_ = nullptr;
  std::vector<Radio> radios_;
  std::vector<Panel> panels_;
  std::vector<BitPanel> bitPanels_;
  std::function<void()> extraRender_;
  QMenu* popup_ = nullptr;
  QAction* n03_ = nullptr;
  QAction* n110_ = nullptr;
};

class TN32xOptBForm : public OptionByteDialog {
  Q_OBJECT

 public:
  TN32xOptBForm(korvan::TN32xOptBForm& model, QWidget* parent = nullptr);
  Ui::TN32xOptBForm ui;
};

class TNxM0OptBForm : public OptionByteDialog {
  Q_OBJECT

 public:
  TNxM0OptBForm(korvan::TNxM0OptBForm& model, QWidget* parent = nullptr);
  Ui::TNxM0OptBForm ui;
};

class TN32G430xOptBForm : public OptionByteDialog {
  Q_OBJECT

 public:
  TN32G430xOptBForm(korvan::TN32G430xOptBForm& model, QWidget* parent = nullptr);
  Ui::TN32G430xOptBForm ui;
};

}  // namespace korvan::gui
