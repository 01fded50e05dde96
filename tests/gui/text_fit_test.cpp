// Every text of the window and its dialogs fits its control: labels, status panels, check boxes,
// radio buttons, push and tool buttons, group titles, read-only edits and every entry of every
// combo box, measured with the controls' own fonts and styles. The program runs once at scale 1,
// once with QT_SCALE_FACTOR=1.5 and once on an X display (Xvfb), each its own test entry; each
// case leaves a screenshot whose name carries the scale (and the platform, when not offscreen).
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QStatusBar>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTextDocument>
#include <QToolButton>
#include <QtTest>
#include <functional>
#include <memory>

#include "core/chips/chip_select_form.h"
#include "emulated_station.h"
#include "gui/dialogs.h"
#include "gui/option_byte_dialogs.h"
#include "gui_test_support.h"
#include "support/chosen_chip.h"

using namespace korvan;
using korvan::testing::ChosenChip;
using korvan::testing::Click;
using korvan::testing::EmulatedStation;
using korvan::testing::Screenshot;
using korvan::testing::WhenModal;

namespace {

// Shown, or on a page of a tab widget that another page hides: what the operator can bring up.
bool Showable(const QWidget* widget, const QWidget* top) {
  for (const QWidget* w = widget; w && w != top; w = w->parentWidget()) {
    if (w->isHidden() && !qobject_cast<const QStackedWidget*>(w->parentWidget())) return false;
  }
  return true;
}

QString Plain(QString text) {
  // A single & marks the shortcut letter and takes no room.
  text.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
  text.remove('&');
  text.replace(QChar(1), QChar('&'));
  return text;
}

int LineWidth(const QFontMetrics& metrics, const QString& text) {
  int widest = 0;
  for (const QString& line : text.split('\n')) {
    widest = std::max(widest, metrics.horizontalAdvance(line));
  }
  return widest;
}

struct Fit {
  QString text;
  int needs = 0;
  int has = 0;
};

// What each kind of control needs for its text and has for it.
std::vector<Fit> Fits(QWidget& w) {
  std::vector<Fit> fits;
  const QFontMetrics metrics(w.font());
  QStyle* style = w.style();
  if (auto* label = qobject_cast<QLabel*>(&w)) {
    if (label->text().isEmpty()) return fits;
    if (label->wordWrap()) {
      // A wrapped text needs its height.
      fits.push_back({label->text(), label->heightForWidth(label->width()), label->height()});
      return fits;
    }
    int textWidth = LineWidth(metrics, label->text());
    if (label->textFormat() == Qt::RichText ||
        (label->textFormat() == Qt::AutoText && Qt::mightBeRichText(label->text()))) {
      QTextDocument document;
      document.setDefaultFont(label->font());
      document.setHtml(label->text());
      document.setDocumentMargin(0);
      textWidth = static_cast<int>(std::ceil(document.idealWidth()));
    }
    int indent = label->indent();
    if (indent < 0) indent = label->frameWidth() > 0 ? metrics.horizontalAdvance('x') / 2 : 0;
    const bool aligned = (label->alignment() & (Qt::AlignLeft | Qt::AlignRight)) != 0;
    fits.push_back({label->text(), textWidth + 2 * label->margin() + (aligned ? indent : 0),
                    label->contentsRect().width()});
  } else if (qobject_cast<QCheckBox*>(&w) || qobject_cast<QRadioButton*>(&w)) {
    auto* button = static_cast<QAbstractButton*>(&w);
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    const bool check = qobject_cast<QCheckBox*>(&w) != nullptr;
    const QRect contents = style->subElementRect(
        check ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents, &option, button);
    fits.push_back(
        {button->text(), metrics.horizontalAdvance(Plain(button->text())), contents.width()});
    // The whole control as the style lays it out (indicator, spacing, text and the margins
    // around them) must fit too: a style that draws the text a few pixels further in clips it.
    fits.push_back({button->text(), button->sizeHint().width(), button->width()});
  } else if (auto* push = qobject_cast<QPushButton*>(&w)) {
    if (push->text().isEmpty()) return fits;
    QStyleOptionButton option;
    option.initFrom(push);
    option.text = push->text();
    const QRect contents = style->subElementRect(QStyle::SE_PushButtonContents, &option, push);
    const int iconRoom = push->icon().isNull() ? 0 : push->iconSize().width() + 4;
    fits.push_back({push->text(), metrics.horizontalAdvance(Plain(push->text())) + iconRoom,
                    contents.width()});
  } else if (auto* tool = qobject_cast<QToolButton*>(&w)) {
    if (tool->text().isEmpty()) return fits;
    fits.push_back({tool->text(), tool->sizeHint().width(), tool->width()});
  } else if (auto* combo = qobject_cast<QComboBox*>(&w)) {
    QStyleOptionComboBox option;
    option.initFrom(combo);
    option.editable = combo->isEditable();
    const QRect field =
        style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo);
    QStringList texts;
    for (int i = 0; i < combo->count(); ++i) texts << combo->itemText(i);
    if (!combo->placeholderText().isEmpty()) texts << combo->placeholderText();
    for (const QString& text : texts) {
      // The closed box draws its entry with a small margin on either side.
      fits.push_back({text, metrics.horizontalAdvance(text) + 4, field.width()});
    }
  } else if (auto* group = qobject_cast<QGroupBox*>(&w)) {
    if (group->title().isEmpty()) return fits;
    fits.push_back(
        {group->title(), metrics.horizontalAdvance(Plain(group->title())) + 12, group->width()});
  } else if (auto* edit = qobject_cast<QLineEdit*>(&w)) {
    // The edits of spin and combo boxes show numbers and entries checked elsewhere.
    if (qobject_cast<QAbstractSpinBox*>(edit->parentWidget()) ||
        qobject_cast<QComboBox*>(edit->parentWidget())) {
      return fits;
    }
    const QString text = edit->text().isEmpty() ? edit->placeholderText() : edit->text();
    if (text.isEmpty()) return fits;
    QStyleOptionFrame option;
    option.initFrom(edit);
    option.lineWidth = edit->hasFrame() ? style->pixelMetric(QStyle::PM_DefaultFrameWidth) : 0;
    const QRect contents = style->subElementRect(QStyle::SE_LineEditContents, &option, edit);
    // QLineEdit keeps a horizontal margin of 2 pixels inside its contents.
    fits.push_back({text, metrics.horizontalAdvance(text) + 4, contents.width()});
  }
  return fits;
}

// Every text in `top` that does not fit its control, one line each.
QStringList ClippedTexts(QWidget& top) {
  QStringList clipped;
  for (QWidget* w : top.findChildren<QWidget*>()) {
    if (!Showable(w, &top)) continue;
    for (const Fit& fit : Fits(*w)) {
      if (fit.needs > fit.has) {
        clipped << QStringLiteral("%1 \"%2\": needs %3 px, has %4")
                       .arg(w->objectName(), fit.text)
                       .arg(fit.needs)
                       .arg(fit.has);
      }
    }
  }
  return clipped;
}

QString ScaleSuffix() {
  const QByteArray scale = qgetenv("QT_SCALE_FACTOR");
  const QString platform = QGuiApplication::platformName() == QStringLiteral("offscreen")
                               ? QString()
                               : QStringLiteral("_") + QGuiApplication::platformName();
  return platform + (scale.isEmpty() || scale == "1"
                         ? QStringLiteral("_scale1")
                         : QStringLiteral("_scale") + QString::fromLatin1(scale));
}

void ExpectWhole(QWidget& top, const QString& screenshot) {
  Screenshot(top, screenshot + ScaleSuffix());
  const QStringList clipped = ClippedTexts(top);
  QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join('\n')));
}

template <typename Model, typename Dialog>
void ExpectEditorWhole(const char* part, const QString& screenshot) {
  ChosenChip c(part);
  Model model(c.image, c.chip, c.frontend);
  model.FormShow();
  Dialog dialog(model);
  dialog.show();
  QVERIFY(QTest::qWaitForWindowExposed(&dialog));
  ExpectWhole(dialog, screenshot);
}

}  // namespace

class TextFitTest : public QObject {
  Q_OBJECT

 private slots:
  void dialogs_data();
  void dialogs();
  void windowAfterDownloadOfAMebibyte();
};

void TextFitTest::dialogs_data() {
  QTest::addColumn<QString>("dialog");
  for (const char* name :
       {"n32x_opt_form_N32G452CBL7", "n32x_opt_form_N32L436RBL7", "nxm0_opt_form_N32G003F5Q7",
        "nxm0_opt_form_N32G031K8L7", "n32g430x_opt_form_N32G430K8L7", "chip_select_form",
        "about_form", "ofs_addr_form", "set_address_form"}) {
    QTest::newRow(name) << QString::fromLatin1(name);
  }
}

void TextFitTest::dialogs() {
  QFETCH(QString, dialog);
  if (dialog.startsWith("n32x_opt_form_")) {
    ExpectEditorWhole<korvan::TN32xOptBForm, gui::TN32xOptBForm>(
        dialog.mid(14).toLatin1().constData(), dialog);
  } else if (dialog.startsWith("nxm0_opt_form_")) {
    ExpectEditorWhole<korvan::TNxM0OptBForm, gui::TNxM0OptBForm>(
        dialog.mid(14).toLatin1().constData(), dialog);
  } else if (dialog.startsWith("n32g430x_opt_form_")) {
    ExpectEditorWhole<korvan::TN32G430xOptBForm, gui::TN32G430xOptBForm>(
        dialog.mid(18).toLatin1().constData(), dialog);
  } else if (dialog == "chip_select_form") {
    ChipRecord chip;
    std::uint8_t linkCtrl = 0x7C, eraseCtrl = 0x80, checkCtrl = 0, familyCtrl = 0;
    korvan::TNChipSelectForm model{chip, {linkCtrl, eraseCtrl, checkCtrl, familyCtrl}};
    model.FormShow();
    gui::TNChipSelectForm form(model);
    form.show();
    ExpectWhole(form, dialog);
  } else if (dialog == "about_form") {
    gui::TAboutForm about;
    about.ui.LabelTL->setText("Korvan200NAT Flash MCU Programmer");
    about.show();
    ExpectWhole(about, dialog);
  } else if (dialog == "ofs_addr_form") {
    gui::TFormOfsAddr offset;
    offset.show();
    ExpectWhole(offset, dialog);
  } else if (dialog == "set_address_form") {
    gui::TSetAddressForm address;
    address.show();
    ExpectWhole(address, dialog);
  }
}

// The window as the operator sees it after downloading a 1 MiB image with a long file name to
// four programmers: the eight-digit file checksum, the file name and the panel's lines.
void TextFitTest::windowAfterDownloadOfAMebibyte() {
  EmulatedStation<> rig({});
  gui::TKorvanNATxPrg& w = *rig.window;
  QTRY_COMPARE_WITH_TIMEOUT(rig.Connected(), 4, 10000);
  // A 1 MiB part: the size letter G.
  WhenModal([](QWidget& modal) {
    auto* dialog = qobject_cast<gui::TNChipSelectForm*>(&modal);
    QVERIFY(dialog);
    dialog->ui.EditSelChip->clear();
    QTest::keyClicks(dialog->ui.EditSelChip, "N32G457VGL7");
    Click(dialog->ui.BitBtnOK);
  });
  Click(w.ui.DevButton);
  QCOMPARE(rig.station().chip().flashSizeKB, 1024);
  rig.LoadHex(1024 * 1024, "line-7/N32G457VGL7_motor_controller_rel_4711.hex");
  QVERIFY(rig.station().dataLoaded());
  Click(w.ui.SpdBtnDownLoad);
  QTRY_VERIFY_WITH_TIMEOUT(!rig.station().AnyBusy(), 60000);
  for (int n = 1; n <= 4; ++n) QVERIFY2(rig.GaugeFull(n), qPrintable(QString::number(n)));

  // The file checksum has eight digits here ("0x" and at least seven).
  QVERIFY2(w.StatusPanel(0)->text().size() >= QStringLiteral("文件校验和：0x1234567").size(),
           qPrintable(w.StatusPanel(0)->text()));
  QVERIFY2(w.StatusPanel(2)->text().endsWith("/N32G457VGL7_motor_controller_rel_4711.hex"),
           qPrintable(w.StatusPanel(2)->text()));
  Screenshot(*w.ui.StatusBar1, "status_bar_1MiB" + ScaleSuffix());
  ExpectWhole(w, "main_window_after_download");
}

QTEST_MAIN(TextFitTest)
#include "text_fit_test.moc"
