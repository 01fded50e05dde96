
// korvan-cli convert: loads object files (or a project) the way the window's file commands do
// and saves the flash window, or a project, by the output's extension.
//   korvan-cli convert --chip PART [--series I] [--offset ADDR] [--abort-on-error] IN... OUT
// The first IN is loaded as "Load Object File" (image erased first), each further IN as "Load
// More Data"; an IN ending in .kvn is loaded as a project. Everything runs through the job desk's
// handlers, as the window's commands do, with no station and no programmer: the information
// panel's lines go to stdout; reader line errors, the out-of-chip warning and file errors go to
// stderr. The output replaces its file whole or not at all; like any build tool's output it is
// made again from its inputs, so it is not waited for on the disk as the window's saves are.
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_frontend.h"
#include "cli/command.h"
#include "cli/job_files.h"
#include "core/image/readers.h"
#include "core/job/job.h"
#include "core/job/job_desk.h"
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
        "could not be read or the output could not be written. The output is written beside "
        "its place and renamed over it once whole: an interrupted run leaves the old file.");
    input_.AddTo(*sub, kTexts);
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
    if (const std::string problem = input_.Problem(IsProjectFile(inputs.front()), kTexts);
        !problem.empty()) {
      std::cerr << "convert: " << problem << '\n';
      return kExitUsage;
    }
    for (const auto& in : inputs) {
      std::error_code ec;
      if (in == output || std::filesystem::equivalent(in, output, ec)) {
        std::cerr << "convert: the output " << output << " is also an input\n";
        return kExitUsage;
      }
    }
    std::string note, error;
    if (!input_.ResolveChip(note, error)) {
      std::cerr << "convert: " << error << '\n';
      return kExitUsage;
    }
    if (!note.empty()) std::cerr << "convert: " << note << '\n';

    CliFrontend frontend(std::cout, std::cerr);
    input_.ApplyTo(frontend);
    // The job alone: no station, no programmer, no port.
    Job job;
    InfoMemo panel;
    PanelPrinter printer;
    panel.SetListener(&printer);
    JobDesk desk(job, panel, frontend, SystemLocalTime);
    desk.SetSaveDurability(Durability::Flushed);
    desk.InitView();
    if (input_.part) desk.DevButtonClick();

    const LoadSummary loaded = LoadInputs(desk, frontend, inputs, input_.Checks());
    if (loaded.outcome == LoadOutcome::Failed) {
      std::cerr << "convert: " << loaded.problem << '\n';
      return kExitIo;
    }
    if (loaded.outcome == LoadOutcome::Refused) {
      std::cerr << "convert: " << loaded.problem << "; nothing saved\n";
      return kExitFailed;
    }
    if (loaded.lineErrors > 0 && !input_.ignoreLineErrors) {
      std::cerr << "convert: " << LineErrorProblem(loaded)
                << "; answered Abort, nothing saved (--ignore-line-errors reads on)\n";
      return kExitFailed;
    }

    const bool saved = outKind == OutputKind::Project ? SaveProject(desk, frontend, output)
                                                      : SaveMemory(desk, frontend, output);
    if (!saved) return kExitIo;
    return kExitOk;
  }

 private:
  // Every line of the information panel goes to stdout as it is added.
  class PanelPrinter : public InfoMemoListener {
   public:
    void InfoLineAdded(const std::string& line) override { std::cout << line << '\n'; }
    void InfoCleared() override {}
  };

  static constexpr JobInputOptions::Texts kTexts{
      "the first IN is a .kvn", "--chip is required unless the first input is a project (.kvn)",
      "Answer Abort to the first line error (the default: nothing is saved)",
      "Answer OK to line errors: read on, and save what was read",
      "Save even when an input holds no data inside the part's flash, data outside it, or more "
      "than it holds (only warned about, as the window does)"};

  JobInputOptions input_;
  std::vector<std::string> files_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::ConvertCommand;
KORVAN_REGISTER_COMMAND(ConvertCommand, "convert")
