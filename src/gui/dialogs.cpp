#include "gui/dialogs.h"

#include "gui/station_icon.h"

#include <QGuiApplication>
#include <QIcon>
#include <QLineEdit>
#include <QScreen>
#include <QSignalBlocker>

namespace korvan::gui {

void CentreOn(QWidget& dialog, const QWidget* owner) {
  QRect area;
  if (owner && owner->isVisible()) {
    area = owner->window()->frameGeometry();
  } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    area = screen->availableGeometry();
  }
  if (area.isValid()) dialog.move(area.center() - dialog.rect().center());
}

namespace {

void FixSize(QDialog& dialog) {
  dialog.setFixedSize(dialog.size());
  dialog.setWindowFlag(Qt::WindowContextHelpButtonHint, false);
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TFormOfsAddr::TFormOfsAddr(QWidget* parent) : QDialog(parent) {
  ui.setupUi(this);
  FixSize(*this);
  connect(ui.BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
}

std::optional<std::string> TFormOfsAddr::Ask(const std::string& shown, const QWidget* owner) {
  ui.EditOfsAddr->setText(QString::fromStdString(shown));
  ui.EditOfsAddr->selectAll();
  ui.EditOfsAddr->setFocus();
  CentreOn(*this, owner);
  if (exec() != QDialog::Accepted) return std::nullopt;
  return ui.EditOfsAddr->text().toStdString();
}

// ---------------------------------------------------------------------------------------------

TSetAddressForm::TSetAddressForm(QWidget* parent) : QDialog(parent) {
  ui.setupUi(this);
  FixSize(*this);
  ui.SpinEditRD->findChild<QLineEdit*>()->setMaxLength(4);
  connect(ui.BitBtnOK, &QPushButton::clicked, this, &QDialog::accept);
}

std::optional<ReadAddressEntry> TSetAddressForm::Ask(const std::string& shownAddress,
                                                     int shownLength) {
  ui.EditAddr->setText(QString::fromStdString(shownAddress));
  ui.SpinEditRD->setValue(shownLength);
  CentreOn(*this, parentWidget());
  if (exec() != QDialog::Accepted) return std::nullopt;
  return ReadAddressEntry{ui.EditAddr->text().toStdString(), ui.SpinEditRD->value()};
}

// ---------------------------------------------------------------------------------------------

TAboutForm::TAboutForm(QWidget* parent) : QDialog(parent) {
  ui.setupUi(this);
  FixSize(*this);
  ui.ProgramIcon->setPixmap(StationIcon().pixmap(64, 64));
  connect(ui.OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

// ---------------------------------------------------------------------------------------------

TNChipSelectForm::TNChipSelectForm(korvan::TNChipSelectForm& model, QWidget* parent)
    : QDialog(parent), model_(model) {
  ui.setupUi(this);
  resize(korvan::TNChipSelectForm::Width, korvan::TNChipSelectForm::Height);
  FixSize(*this);
  setWindowTitle(QString::fromUtf8(korvan::TNChipSelectForm::Caption.data(),
                                   korvan::TNChipSelectForm::Caption.size()));

  connect(ui.ListBoxSeries, &QListWidget::currentRowChanged, this,
          &TNChipSelectForm::SeriesChanged);
  connect(ui.ListBoxChips, &QListWidget::currentRowChanged, this, &TNChipSelectForm::ChipChanged);
  connect(ui.ListBoxChips, &QListWidget::itemDoubleClicked, this, [this] {
    model_.ListBoxChipsDblClick();
    Render();
  });
  connect(ui.EditSelChip, &QLineEdit::textEdited, this,
          [this](const QString& text) { model_.EditSelChip.text = text.toStdString(); });
  connect(ui.BitBtnOK, &QPushButton::clicked, this, [this] {
    model_.BitBtnOKClick();
    accept();
  });
  connect(ui.BitBtnCancel, &QPushButton::clicked, this, &QDialog::reject);
  Render();
  CentreOn(*this, parent);
}

namespace {

void RenderList(QListWidget& list, const ListBoxView& view) {
  if (list.count() != static_cast<int>(view.items.size())) {
    list.clear();
    for (const std::string& item : view.items) {
      auto* row = new QListWidgetItem(QString::fromStdString(item), &list);
      row->setSizeHint(QSize(0, korvan::TNChipSelectForm::ItemHeight));
    }
  } else {
    for (int i = 0; i < list.count(); ++i) {
      list.item(i)->setText(QString::fromStdString(view.items[static_cast<std::size_t>(i)]));
    }
  }
  list.setCurrentRow(view.itemIndex);
}

}  // namespace

void TNChipSelectForm::Render() {
  rendering_ = true;
  RenderList(*ui.ListBoxSeries, model_.ListBoxSeries);
  RenderList(*ui.ListBoxChips, model_.ListBoxChips);
  ui.EditSelChip->setText(QString::fromStdString(model_.EditSelChip.text));
  rendering_ = false;
}

void TNChipSelectForm::SeriesChanged(int row) {
  if (rendering_ || row < 0) return;
  model_.ListBoxSeries.itemIndex = row;
  model_.ListBoxSeriesClick();
  Render();
}

void TNChipSelectForm::ChipChanged(int row) {
  if (rendering_ || row < 0) return;
  model_.ListBoxChips.itemIndex = row;
  model_.ListBoxChipsClick();
  Render();
}

}  // namespace korvan::gui
