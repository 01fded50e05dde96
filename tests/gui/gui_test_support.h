// Helpers of the window's tests: answering modal dialogs from inside their event loop, clicking
// controls by object name, and saving screenshots for review.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "gui/qt_frontend.h"

namespace korvan::testing {

// Runs `act` on the next modal dialog as soon as it is shown (inside its exec), so that a test
// can click a dialog that a handler opens and waits for.
inline void WhenModal(std::function<void(QWidget&)> act, int triesLeft = 500) {
  QTimer::singleShot(10, [act = std::move(act), triesLeft]() mutable {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal->isVisible()) {
      act(*modal);
      // A failed check inside `act` returns early; the dialog must not stay open then.
      if (modal->isVisible()) modal->close();
    } else if (triesLeft > 0) {
      WhenModal(std::move(act), triesLeft - 1);
    }
  });
}

template <typename T = QWidget>
T* Child(QWidget& parent, const char* name) {
  T* child = parent.findChild<T*>(QString::fromLatin1(name));
  if (!child) qWarning("no control named %s", name);
  return child;
}

// Clicks a control where the operator would: a radio button or check box on its indicator (only
// the indicator and the text take clicks), anything else in its middle.
inline void Click(QWidget* widget) {
  QVERIFY(widget);
  const bool indicator = widget->inherits("QRadioButton") || widget->inherits("QCheckBox");
  const QPoint at = indicator ? QPoint(8, widget->height() / 2) : widget->rect().center();
  QTest::mouseClick(widget, Qt::LeftButton, Qt::NoModifier, at);
}

// Clicks the item of `list` whose text is `text`; double-clicks when asked.
inline void ClickItem(QListWidget* list, const QString& text, bool twice = false) {
  QVERIFY(list);
  const auto found = list->findItems(text, Qt::MatchExactly);
  QVERIFY2(!found.isEmpty(), qPrintable(text));
  list->scrollToItem(found.first());
  const QPoint at = list->visualItemRect(found.first()).center();
  QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
  if (twice) QTest::mouseDClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, at);
}

// Saves `widget` as <build>/screenshots/<name>.png.
inline void Screenshot(QWidget& widget, const QString& name) {
  QDir().mkpath(KORVAN_SCREENSHOT_DIR);
  widget.grab().save(QStringLiteral(KORVAN_SCREENSHOT_DIR "/%1.png").arg(name));
}

// The window's real dialogs, except that message boxes and file choices are scripted: every
// question is recorded with its text and answered from the queues (OK and cancel by default).
class ScriptedQtFrontend : public gui::QtFrontend {
 public:
  std::vector<std::string> questions;
  std::deque<Answer> answers;
  std::deque<std::string> openFiles;
  std::deque<FileChoice> saveFiles;

  Answer Ask(MessageKind, const std::string& text, Buttons) override {
    questions.push_back(text);
    if (answers.empty()) return Answer::Ok;
    const Answer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  std::optional<FileChoice> ChooseOpenFile(const FileDialog&) override {
    if (openFiles.empty()) return std::nullopt;
    FileChoice choice{openFiles.front(), 1};
    openFiles.pop_front();
    return choice;
  }
  std::optional<FileChoice> ChooseSaveFile(const FileDialog&) override {
    if (saveFiles.empty()) return std::nullopt;
    FileChoice choice = saveFiles.front();
    saveFiles.pop_front();
    return choice;
  }
};

}  // namespace korvan::testing
