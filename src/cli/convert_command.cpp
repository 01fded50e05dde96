
// korvan-cli convert: loads object files (or a project) the way the window's file commands do
// and saves the flash window, or a project, by the output's extension.
//   korvan-cli convert --chip PART [--series I] [--offset ADDR] [--abort-on-error] IN... OUT
// The first IN is loaded as "Load Object File" (image erased first), each further IN as "Load
// More Data"; an IN ending in .kvn is loaded as a project. Everything runs through the station's
// own handlers, as the window's commands do: the information panel's lines go to stdout; reader
// line errors, the out-of-chip warning and file errors go to stderr.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_frontend.h"
#include "cli/command.h"
#include "cli/job_files.h"
#include "core/app/station.h"
#include "core/chips/catalogue.h"
#include "core/image/readers.h"
#include "core/util/format.h"

namespace korvan::cli {

namespace {

class ConvertCommand : public Command {
 public:
  CLI::App* Setup(CLI::App& app) override {
    CLI::App* sub = app.add_subcommand(
        "convert",
        "Load object files (HEX, S-record, binary or ELF) or a project as the window does and "
        "save the flash window as "
        ".bin, .hex, .s19/.srec/.mot, or a .kvn project.");
    sub->footer(
        "Exit status: 0 saved, 1 saved but an input had line errors, 2 usage error, 3 an input "
        "could not be read or the output could not be written.");
    sub->add_option("--chip", part_, "Part number (not needed when the first IN is a .kvn)");
    sub->add_option("--series", series_, "Series selected in the chip dialog, 0..8")
        ->check(CLI::Range(0, kSeriesCount - 1));
    sub->add_option("--offset", offset_,
                    "Address of a binary input (decimal, 0x... or $...; default: the flash start)");
    sub->add_flag("--abort-on-error", abortOnError_,
                  "Answer Abort to the first line error (the rest of that file is not read)");
    sub->add_option("FILES", files_, "IN... OUT")->required()->expected(2, -1);
    return sub;
  }

  int Run() override {
    const std::vector<std::string> inputs(files_.begin(), files_.end() - 1);
    const std::string output = files_.back();
    const OutputKind outKind = OutputKindOf(output);
    if (outKind == OutputKind::Unknown) {
      std::cerr << "convert: the output must end in .bin, .hex, .s19, .srec, .mot or .kvn: "
                << output << '\n';
      return kExitUsage;
    }
    if (const std::string problem = CheckInputNames(inputs); !problem.empty()) {
      std::cerr << "convert: " << problem << '\n';
      return kExitUsage;
    }
    const bool projectFirst = IsProjectFile(inputs.front());
    if (!projectFirst && !part_) {
      std::cerr << "convert: --chip is required unless the first input is a project (.kvn)\n";
      return kExitUsage;
    }
    if (offset_ && !ParseInteger(*offset_)) {
      std::cerr << "convert: " << NotAnIntegerMessage(*offset_) << '\n';
      return kExitUsage;
    }

    CliFrontend frontend(std::cout, std::cerr);
    frontend.abortOnError = abortOnError_;
    frontend.loadOffset = offset_;
    frontend.chipPart = part_;
    frontend.chipSeries = series_;
    Station station(frontend);
    PanelPrinter printer;
    station.SetListener(&printer);
    station.InitView();
    if (part_) station.DevButtonClick();

    const LoadSummary loaded = LoadInputs(station, frontend, inputs);
    if (loaded.outcome == LoadOutcome::Failed) return kExitIo;

    const bool saved = outKind == OutputKind::Project ? SaveProject(station, frontend, output)
                                                      : SaveMemory(station, frontend, output);
    if (!saved) return kExitIo;
    return loaded.lineErrors > 0 ? kExitFailed : kExitOk;
  }

 private:
  // Every line of the information panel goes to stdout as it is added.
  class PanelPrinter : public StationListener {
   public:
    void InfoLineAdded(const std::string& line) override { std::cout << line << '\n'; }
  };

  std::optional<std::string> part_;
  std::optional<int> series_;
  std::optional<std::string> offset_;
  bool abortOnError_ = false;
  std::vector<std::string> files_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::ConvertCommand;
KORVAN_REGISTER_COMMAND(ConvertCommand)
