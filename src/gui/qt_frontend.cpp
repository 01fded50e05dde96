#include "gui/qt_frontend.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

#include "core/chips/chip_select_form.h"
#include "gui/dialogs.h"
#include "gui/option_byte_dialogs.h"

namespace korvan::gui {

QStringList NameFilters(const std::string& filter) {
  const QStringList parts = QString::fromStdString(filter).split('|');
  QStringList filters;
  static const QRegularExpression trailingMasks(R"(\s*\([^()]*\)\s*$)");
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString description = parts[i];
    description.remove(trailingMasks);
    QStringList masks;
    for (QString mask : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
      mask = mask.trimmed();
      masks << (mask == "*.*" ? QStringLiteral("*") : mask);
    }
    if (masks.isEmpty()) masks << "*";
    filters << QStringLiteral("%1 (%2)").arg(description.trimmed(), masks.join(' '));
  }
  return filters;
}

QtFrontend::QtFrontend(QWidget* parent)
    : parent_(parent), ofsAddr_(std::make_unique<TFormOfsAddr>()) {}

QtFrontend::~QtFrontend() = default;

Answer QtFrontend::Ask(MessageKind kind, const std::string& text, Buttons buttons) {
  QMessageBox box(parent_);
  switch (kind) {
    case MessageKind::Plain:
      box.setWindowTitle("Korvan200NAT");
      break;
    case MessageKind::Information:
      box.setIcon(QMessageBox::Information);
      box.setWindowTitle("Information");
      break;
    case MessageKind::Warning:
      box.setIcon(QMessageBox::Warning);
      box.setWindowTitle("Warning");
      break;
    case MessageKind::Error:
      box.setIcon(QMessageBox::Critical);
      box.setWindowTitle("Error");
      break;
    case MessageKind::Confirmation:
      box.setIcon(QMessageBox::Question);
      box.setWindowTitle("Confirm");
      break;
  }
  box.setText(QString::fromStdString(text));
  // The box's escape button is also what its close box answers.
  switch (buttons) {
    case Buttons::Ok:
      box.setStandardButtons(QMessageBox::Ok);
      box.setEscapeButton(QMessageBox::Ok);
      break;
    case Buttons::OkAbort:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Abort);
      box.setEscapeButton(QMessageBox::Abort);
      break;
    case Buttons::YesAbort:
      box.setStandardButtons(QMessageBox::Yes | QMessageBox::Abort);
      box.setEscapeButton(QMessageBox::Abort);
      break;
    case Buttons::OkCancel:
      box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
      box.setEscapeButton(QMessageBox::Cancel);
      break;
  }
  switch (box.exec()) {
    case QMessageBox::Ok:
      return Answer::Ok;
    case QMessageBox::Yes:
      return Answer::Yes;
    case QMessageBox::Cancel:
      return Answer::Cancel;
    case QMessageBox::Abort:
      return Answer::Abort;
    default:
      return buttons == Buttons::Ok         ? Answer::Ok
             : buttons == Buttons::OkCancel ? Answer::Cancel
                                            : Answer::Abort;
  }
}

std::optional<FileChoice> QtFrontend::ChooseFile(const FileDialog& d, bool save) {
  QFileDialog dialog(parent_, QString::fromStdString(d.title),
                     QString::fromStdString(d.initialDir));
  dialog.setAcceptMode(save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  const QStringList filters = NameFilters(d.filter);
  dialog.setNameFilters(filters);
  if (d.filterIndex >= 1 && d.filterIndex <= filters.size()) {
    dialog.selectNameFilter(filters[d.filterIndex - 1]);
  }
  QString suffix = QString::fromStdString(d.defaultExt);
  suffix.remove(QRegularExpression(R"(^\*?\.)"));
  if (!suffix.isEmpty()) dialog.setDefaultSuffix(suffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  const int index = static_cast<int>(filters.indexOf(dialog.selectedNameFilter()));
  return FileChoice{dialog.selectedFiles().first().toStdString(), index < 0 ? 1 : index + 1};
}

std::optional<FileChoice> QtFrontend::ChooseOpenFile(const FileDialog& dialog) {
  if (nextOpen_) {
    FileChoice choice{*nextOpen_, 1};
    nextOpen_.reset();
    return choice;
  }
  return ChooseFile(dialog, false);
}

std::optional<FileChoice> QtFrontend::ChooseSaveFile(const FileDialog& dialog) {
  return ChooseFile(dialog, true);
}

std::optional<std::string> QtFrontend::AskLoadOffset(const std::string& shown) {
  return ofsAddr_->Ask(shown, parent_);
}

std::optional<ReadAddressEntry> QtFrontend::AskReadAddress(const std::string& shownAddress,
                                                           int shownLength) {
  TSetAddressForm dialog(parent_);
  return dialog.Ask(shownAddress, shownLength);
}

void QtFrontend::ShowChipDialog(korvan::TNChipSelectForm& model) {
  gui::TNChipSelectForm dialog(model, parent_);
  dialog.exec();
}

void QtFrontend::ShowOptionByteEditor(OptionByteEditor& editor) {
  if (auto* m = dynamic_cast<korvan::TN32xOptBForm*>(&editor)) {
    gui::TN32xOptBForm dialog(*m, parent_);
    dialog.exec();
  } else if (auto* m0 = dynamic_cast<korvan::TNxM0OptBForm*>(&editor)) {
    gui::TNxM0OptBForm dialog(*m0, parent_);
    dialog.exec();
  } else if (auto* g430 = dynamic_cast<korvan::TN32G430xOptBForm*>(&editor)) {
    gui::TN32G430xOptBForm dialog(*g430, parent_);
    dialog.exec();
  }
}

}  // namespace korvan::gui
