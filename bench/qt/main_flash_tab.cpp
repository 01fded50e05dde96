// Showing the "Main Flash" tab for a 4 MiB image: from the image being in the buffer to the
// table's rows painted on screen. The viewer is rebuilt whole on every load, so this is what an
// operator waits for after each load; it must stay under 20 ms.
//
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QEvent>
#include <QTableView>

#include "gui/main_window.h"
#include "gui/qt_frontend.h"

namespace {

// Counts the paints of the table's viewport, so the benchmark knows rows were really painted.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

// Answers every question with its default, so nothing modal stops the run.
class SilentFrontend : public korvan::gui::QtFrontend {
 public:
  korvan::Answer Ask(korvan::MessageKind, const std::string&, korvan::Buttons) override {
    return korvan::Answer::Ok;
  }
};

void BM_MainFlashTabFourMebibytes(benchmark::State& state) {
  SilentFrontend frontend;
  korvan::gui::TKorvanNATxPrg window(&frontend, korvan::StationEnvironment{"/nonexistent", "", ""});
  window.show();
  QApplication::processEvents();

  korvan::Station& station = window.station();
  auto& flash = station.image().flash;
  for (std::size_t i = 0; i < flash.size(); ++i) flash[i] = static_cast<std::uint8_t>(i * 7);
  const std::uint32_t start = station.chip().flashStart;
  const std::uint32_t end = start + static_cast<std::uint32_t>(flash.size()) - 1;

  QTableView* table = window.ui.HexViewer;
  PaintCounter counter;
  table->viewport()->installEventFilter(&counter);

  for (auto _ : state) {
    station.FillFlashView(start, end);
    window.ui.ViewPageCtrl->setCurrentWidget(window.ui.TabSheetFlash);
    // The table lays itself out after the model reset and paints the rows on screen.
    QApplication::processEvents();

    state.PauseTiming();
    window.ui.ViewPageCtrl->setCurrentWidget(window.ui.ChipSett);
    QApplication::processEvents();
    state.ResumeTiming();
  }
  state.counters["rows"] = static_cast<double>(window.flashModel().rowCount());
  state.counters["paints"] =
      static_cast<double>(counter.paints) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_MainFlashTabFourMebibytes)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
