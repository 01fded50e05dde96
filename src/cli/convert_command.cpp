// Built once the chip, job-settings and codec modules are in the tree.
#if __has_include("core/chips/chip_setup.h") && __has_include(                    \
                                                    "core/app/job_settings.h") && \
                                                    __has_include("core/protocol/codec.h")

// korvan-cli convert: loads object files (or a project) the way the window's file commands do
// and saves the flash window, or a project, by the output's extension.
//   korvan-cli convert --chip PART [--series I] [--offset ADDR] [--abort-on-error] IN... OUT
// The first IN is loaded as "Load Object File" (image erased first), each further IN as "Load
// More Data"; an IN ending in .kvn is loaded as a project. The summary lines of each load go to
// stdout; reader line errors and the out-of-chip warning go to stderr.
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_frontend.h"
#include "cli/command.h"
#include "core/app/job_settings.h"
#include "core/chips/chip_setup.h"
#include "core/image/image_summary.h"
#include "core/image/project.h"
#include "core/image/readers.h"
#include "core/image/writers.h"
#include "core/util/format.h"

namespace korvan::cli {

namespace {

enum class OutputKind { Binary, IntelHex, SRecord, Project, Unknown };

std::string LowerExtension(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

OutputKind OutputKindOf(const std::string& path) {
  const std::string ext = LowerExtension(path);
  if (ext == ".bin") return OutputKind::Binary;
  if (ext == ".hex") return OutputKind::IntelHex;
  if (ext == ".s19" || ext == ".srec" || ext == ".mot") return OutputKind::SRecord;
  if (ext == ".kvn") return OutputKind::Project;
  return OutputKind::Unknown;
}

// The window reads ".HEX", ".S1x" and ".BIN"; the command also takes the S-record extensions it
// writes, so that its own output reads back.
ObjectFileKind InputKindOf(const std::string& path) {
  const ObjectFileKind kind = ObjectFileKindOf(path);
  if (kind != ObjectFileKind::Unknown) return kind;
  const std::string ext = LowerExtension(path);
  if (ext == ".srec" || ext == ".mot") return ObjectFileKind::SRecord;
  return ObjectFileKind::Unknown;
}

std::string BaseName(const std::string& path) {
  const auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

class ConvertCommand : public Command {
 public:
  CLI::App* Setup(CLI::App& app) override {
    CLI::App* sub = app.add_subcommand(
        "convert",
        "Load object files (or a project) as the window does and save the flash window as "
        ".bin, .hex, .s19/.srec/.mot, or a .kvn project.");
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
    for (const auto& in : inputs) {
      if (LowerExtension(in) != ".kvn" && InputKindOf(in) == ObjectFileKind::Unknown) {
        std::cerr << "convert: an input must end in .hex, .s19 (.s1x, .srec, .mot), .bin or "
                     ".kvn: "
                  << in << '\n';
        return kExitUsage;
      }
    }
    const bool projectFirst = LowerExtension(inputs.front()) == ".kvn";
    if (!projectFirst && !part_) {
      std::cerr << "convert: --chip is required unless the first input is a project (.kvn)\n";
      return kExitUsage;
    }
    if (offset_ && !ParseInteger(*offset_)) {
      std::cerr << "convert: " << NotAnIntegerMessage(*offset_) << '\n';
      return kExitUsage;
    }

    state_ = std::make_unique<State>();
    State& s = *state_;
    CliFrontend frontend(std::cout, std::cerr);
    frontend.abortOnError = abortOnError_;
    frontend.loadOffset = offset_;
    if (part_) {
      ConfirmAndApplyChip(s.chip,
                          {s.job.linkCtrl, s.job.eraseCtrl, s.job.checkCtrl, s.job.familyCtrl},
                          s.optionBytes, s.view, *part_, series_);
      ApplyChipWindows(s.image.windows, s.chip);
    }

    int lineErrors = 0;
    bool firstObject = true;
    for (const auto& in : inputs) {
      if (LowerExtension(in) == ".kvn") {
        ProjectContent project;
        std::string error;
        const int result = ReadProjectFile(in, frontend, project, error);
        if (result == kProjectIoError) std::cerr << error << '\n';
        if (result != kProjectOk) return kExitIo;
        s.mode = RestoreProject(project, s.image, s.chip, s.job, s.optionBytes);
      } else {
        std::cout << Format("File \"%s\" has been loaded!", in.c_str()) << '\n';
        const LoadResult result =
            LoadObjectFile(in, s.image, s.optionBytes, frontend,
                           firstObject ? LoadMode::NewImage : LoadMode::Overlay, InputKindOf(in));
        if (result.status == LoadStatus::IoError) {
          std::cerr << result.message << '\n';
          return kExitIo;
        }
        if (firstObject) s.job.loadedFileName = BaseName(in);
        firstObject = false;
        lineErrors += result.lineErrors;
      }
      PrintSummary();
    }

    if (!Save(output, outKind, frontend)) return kExitIo;
    return lineErrors > 0 ? kExitFailed : kExitOk;
  }

 private:
  void PrintSummary() {
    State& s = *state_;
    const ImageSummary summary = SummarizeImage(s.image, s.chip, s.job.checkCtrl, true);
    for (const auto& line : summary.lines) std::cout << line.text << '\n';
    s.job.fileCrc = summary.fileCrc;
    s.job.fileSum = summary.fileSum;
  }

  bool Save(const std::string& path, OutputKind kind, Frontend& frontend) {
    State& s = *state_;
    std::string error;
    bool saved = false;
    const std::uint32_t start = s.chip.flashStart, end = s.chip.flashEnd;
    switch (kind) {
      case OutputKind::Binary:
        saved = SaveBinFile(path, s.image.flash, 0, end - start, error, Durability::Flushed);
        break;
      case OutputKind::IntelHex:
        saved = SaveHexFile(path, s.image.flash, start, start, end, error, Durability::Flushed);
        break;
      case OutputKind::SRecord:
        saved = SaveS19File(path, s.image.flash, start, start, end, error, Durability::Flushed);
        break;
      case OutputKind::Project: {
        const OptionChecksum sums = OptionSum(s.optionBytes);
        s.job.optionSum = sums.optionSum;
        s.job.optionSumInv = sums.optionSumInv;
        const std::uint32_t otpLast = s.chip.otpSize ? s.chip.otpSize - 1u : 0u;
        s.job.otpCrc = s.chip.otpSize ? CRC(s.image.otp, 0, otpLast) : 0;
        s.job.otpSum =
            s.chip.otpSize ? static_cast<std::uint16_t>(ACC(s.image.otp, 0, otpLast)) : 0;
        ProjectMode mode = s.mode;
        mode.otpMode = mode.otpMode || s.chip.otpPresent;
        ProjectContent content;
        saved = MakeProjectContent(s.image, s.chip, s.job, s.optionBytes, s.chip.chipGroup, mode,
                                   DefaultRandomBytes(), content, error) &&
                WriteProjectFile(path, content, frontend, error);
        break;
      }
      case OutputKind::Unknown:
        break;
    }
    if (!saved) std::cerr << error << '\n';
    return saved;
  }

  std::optional<std::string> part_;
  std::optional<int> series_;
  std::optional<std::string> offset_;
  bool abortOnError_ = false;
  std::vector<std::string> files_;

  // The station's state for one conversion, made only when the command runs (every command
  // object exists for every run of korvan-cli).
  struct State {
    ImageBuffer image;
    ChipRecord chip;
    JobSettings job;
    OptionByteImage optionBytes{};
    ChipView view;
    ProjectMode mode;
  };
  std::unique_ptr<State> state_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::ConvertCommand;
KORVAN_REGISTER_COMMAND(ConvertCommand)

#endif
