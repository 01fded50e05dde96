
// korvan-cli convert: loads object files (or a project) the way the window's file commands do
// and saves the flash window, or a project, by the output's extension.
//   korvan-cli convert --chip PART [--series I] [--offset ADDR] [--abort-on-error] IN... OUT
// The first IN is loaded as "Load Object File" (image erased first), each further IN as "Load
// More Data"; an IN ending in .kvn is loaded as a project. Everything runs through the station's
// own handlers, as the window's commands do: the information panel's lines go to stdout; reader
// line errors, the out-of-chip warning and file errors go to stderr.
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_frontend.h"
#include "cli/command.h"
#include "cli/job_files.h"
#include "cli/part_names.h"
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
        "Exit status: 0 saved, 1 an input was refused (line errors, no data, data outside the "
        "part's flash; nothing saved), 2 usage error (an unknown part included), 3 an input "
        "could not be read or the output could not be written.");
    sub->add_option("--chip", part_,
                    "Part number from the catalogue, any letter case (korvan-cli chip --list); "
                    "not needed when the first IN is a .kvn");
    sub->add_flag("--typed-name", typedName_,
                  "Take a --chip name that is not in the catalogue as the chip dialog takes a "
                  "typed name (the flash size and window derived from it are shown)");
    sub->add_option("--series", series_, "Series selected in the chip dialog, 0..8")
        ->check(CLI::Range(0, kSeriesCount - 1));
    sub->add_option("--offset", offset_,
                    "Address of a binary input, 0..0xFFFFFFFF (decimal, 0x... or $...; default: "
                    "the flash start)");
    sub->add_flag("--abort-on-error", abortOnError_,
                  "Answer Abort to the first line error (the default: nothing is saved)");
    sub->add_flag("--ignore-line-errors", ignoreLineErrors_,
                  "Answer OK to line errors: read on, and save what was read");
    sub->add_flag("--allow-outside", allowOutside_,
                  "Save even when an input holds no data inside the part's flash, data outside "
                  "it, or more than it holds (only warned about, as the window does)");
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
    if (offset_) {
      if (auto problem = RangeProblem("--offset", *offset_, 0xFFFFFFFF); !problem.empty()) {
        std::cerr << "convert: " << problem << '\n';
        return kExitUsage;
      }
    }
    if (abortOnError_ && ignoreLineErrors_) {
      std::cerr << "convert: --abort-on-error and --ignore-line-errors exclude each other\n";
      return kExitUsage;
    }
    for (const auto& in : inputs) {
      std::error_code ec;
      if (in == output || std::filesystem::equivalent(in, output, ec)) {
        std::cerr << "convert: the output " << output << " is also an input\n";
        return kExitUsage;
      }
    }
    if (part_) {
      std::string note, error;
      const auto part = ResolvePart(*part_, typedName_, series_, note, error);
      if (!part) {
        std::cerr << "convert: " << error << '\n';
        return kExitUsage;
      }
      if (!note.empty()) std::cerr << "convert: " << note << '\n';
      part_ = *part;
    }

    CliFrontend frontend(std::cout, std::cerr);
    frontend.abortOnError = !ignoreLineErrors_;
    frontend.loadOffset = offset_;
    frontend.chipPart = part_;
    frontend.chipSeries = series_;
    Station station(frontend);
    PanelPrinter printer;
    station.SetListener(&printer);
    station.InitView();
    if (part_) station.DevButtonClick();

    const LoadSummary loaded = LoadInputs(station, frontend, inputs, {allowOutside_});
    if (loaded.outcome == LoadOutcome::Failed) {
      std::cerr << "convert: " << loaded.problem << '\n';
      return kExitIo;
    }
    if (loaded.outcome == LoadOutcome::Refused) {
      std::cerr << "convert: " << loaded.problem << "; nothing saved\n";
      return kExitFailed;
    }
    if (loaded.lineErrors > 0 && !ignoreLineErrors_) {
      std::cerr << "convert: " << LineErrorProblem(loaded)
                << "; answered Abort, nothing saved (--ignore-line-errors reads on)\n";
      return kExitFailed;
    }

    const bool saved = outKind == OutputKind::Project ? SaveProject(station, frontend, output)
                                                      : SaveMemory(station, frontend, output);
    if (!saved) return kExitIo;
    return kExitOk;
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
  bool ignoreLineErrors_ = false;
  bool allowOutside_ = false;
  bool typedName_ = false;
  std::vector<std::string> files_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::ConvertCommand;
KORVAN_REGISTER_COMMAND(ConvertCommand)
