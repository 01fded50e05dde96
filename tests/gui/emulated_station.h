// The window on emulated programmers: the emulator on pseudo-terminals and a window pointed at
// them through KORVAN_PORTS, as `./run --simulate` does, with the operator's usual steps.
#pragma once

#include <QProgressBar>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <string>
#include <vector>

#include "core/image/writers.h"
#include "gui/dialogs.h"
#include "gui/main_window.h"
#include "gui_test_support.h"
#include "lib/emulator.h"

namespace korvan::testing {

template <typename FrontendType = ScriptedQtFrontend>
struct EmulatedStation {
  QTemporaryDir dir;
  sim::Emulator emulator;
  FrontendType frontend;
  std::unique_ptr<gui::TKorvanNATxPrg> window;

  explicit EmulatedStation(sim::Options options) : emulator(std::move(options)) {
    std::string error;
    if (!emulator.Start(&error)) qFatal("emulator: %s", error.c_str());
    std::string ports;
    for (const std::string& path : emulator.Paths()) ports += (ports.empty() ? "" : ":") + path;
    qputenv("KORVAN_PORTS", QByteArray::fromStdString(ports));
    window = std::make_unique<gui::TKorvanNATxPrg>(
        &frontend, StationEnvironment{dir.path().toStdString(), "", ""});
    // Only the emulated programmers, whatever adapters this machine has.
    window->station().SetPortSources(
        {dir.filePath("no-sysfs").toStdString(), dir.filePath("no-dev").toStdString(), ports});
    window->show();
  }

  Station& station() { return window->station(); }

  int Connected() {
    int count = 0;
    for (int n = 1; n <= kChannelCount; ++n) count += station().channel(n).connected;
    return count;
  }

  void ChooseChip(const QString& series, const QString& part) {
    WhenModal([series, part](QWidget& modal) {
      auto* dialog = qobject_cast<gui::TNChipSelectForm*>(&modal);
      QVERIFY(dialog);
      ClickItem(dialog->ui.ListBoxSeries, series);
      ClickItem(dialog->ui.ListBoxChips, part);
      Click(dialog->ui.BitBtnOK);
    });
    Click(window->ui.DevButton);
  }

  // Loads `size` bytes at 0x08000000 from an Intel HEX file named `name` (in the temporary
  // folder, or its sub-folders when the name has some).
  void LoadHex(std::size_t size, const QString& name = QStringLiteral("firmware.hex")) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>((i * 31) % 251);
    const QString file = dir.filePath(name);
    QDir().mkpath(QFileInfo(file).absolutePath());
    const std::string path = file.toStdString();
    std::string error;
    QVERIFY2(SaveHexFile(path, bytes, 0x08000000, 0x08000000,
                         0x08000000 + static_cast<std::uint32_t>(size) - 1, error),
             error.c_str());
    frontend.openFiles.push_back(path);
    Click(window->ui.SpdBtnOpen);
  }

  bool GaugeFull(int n) {
    QProgressBar* gauge = window->Gauge(n);
    return gauge->isEnabled() && gauge->value() == gauge->maximum();
  }
};

}  // namespace korvan::testing
