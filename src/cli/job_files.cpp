#include "cli/job_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/command.h"
#include "cli/part_names.h"
#include "core/chips/catalogue.h"
#include "core/image/job_check.h"
#include "core/util/format.h"

namespace korvan::cli {

std::string LowerExtension(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const auto dot = path.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  std::string ext = path.substr(dot);
  for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ext;
}

ObjectFileKind InputKindOf(const std::string& path) {
  const ObjectFileKind kind = ObjectFileKindOf(path);
  if (kind != ObjectFileKind::Unknown) return kind;
  const std::string ext = LowerExtension(path);
  if (ext == ".srec" || ext == ".mot") return ObjectFileKind::SRecord;
  return ObjectFileKind::Unknown;
}

bool IsProjectFile(const std::string& path) {
  return LowerExtension(path) == ".kvn";
}

std::string CheckInputNames(const std::vector<std::string>& inputs) {
  for (const auto& in : inputs) {
    if (!IsProjectFile(in) && InputKindOf(in) == ObjectFileKind::Unknown) {
      return "an input must end in .hex, .s19 (.s1x, .srec, .mot), .bin, .elf (.axf, .out) or "
             ".kvn: " +
             in;
    }
  }
  return "";
}

void JobInputOptions::AddTo(CLI::App& sub, const Texts& texts) {
  sub.add_option("--chip", part,
                 std::string("Part number from the catalogue, any letter case (korvan-cli chip "
                             "--list); not needed when ") +
                     texts.chipNotNeeded);
  sub.add_flag("--typed-name", typedName,
               "Take a --chip name that is not in the catalogue as the chip dialog takes a "
               "typed name (the flash size and window derived from it are shown)");
  sub.add_option("--series", series, "Series selected in the chip dialog, 0..8")
      ->check(CLI::Range(0, kSeriesCount - 1));
  sub.add_option("--offset", offset,
                 "Address of a binary input, 0..0xFFFFFFFF (decimal, 0x... or $...; default: "
                 "the flash start)");
  sub.add_flag("--abort-on-error", abortOnError, texts.abortOnError);
  sub.add_flag("--ignore-line-errors", ignoreLineErrors, texts.ignoreLineErrors);
  sub.add_flag("--allow-outside", allowOutside, texts.allowOutside);
}

std::string JobInputOptions::Problem(bool projectFirst, const Texts& texts) const {
  if (!projectFirst && !part) return texts.chipRequired;
  if (offset) {
    if (auto problem = RangeProblem("--offset", *offset, 0xFFFFFFFF); !problem.empty()) {
      return problem;
    }
  }
  if (abortOnError && ignoreLineErrors) {
    return "--abort-on-error and --ignore-line-errors exclude each other";
  }
  return "";
}

bool JobInputOptions::ResolveChip(std::string& note, std::string& error) {
  if (!part) return true;
  const auto resolved = ResolvePart(*part, typedName, series, note, error);
  if (!resolved) return false;
  part = *resolved;
  return true;
}

void JobInputOptions::ApplyTo(CliFrontend& frontend) const {
  frontend.abortOnError = !ignoreLineErrors;
  frontend.loadOffset = offset;
  frontend.chipPart = part;
  frontend.chipSeries = series;
}

namespace {

// Why `path` cannot be read as an input ("" when it can), and its length.
std::string InputProblem(const std::string& path, std::uint64_t& size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return "cannot read " + path + ": " + std::strerror(errno);
  struct stat st {};
  std::string problem;
  if (::fstat(fd, &st) != 0) {
    problem = "cannot read " + path + ": " + std::strerror(errno);
  } else if (S_ISDIR(st.st_mode)) {
    problem = "cannot read " + path + ": it is a folder";
  }
  size = static_cast<std::uint64_t>(st.st_size);
  ::close(fd);
  return problem;
}

}  // namespace

LoadSummary LoadInputs(JobDesk& desk, CliFrontend& frontend, const std::vector<std::string>& inputs,
                       const LoadChecks& checks) {
  LoadSummary summary;
  bool firstObject = true;
  for (const auto& in : inputs) {
    std::uint64_t size = 0;
    if (std::string problem = InputProblem(in, size); !problem.empty()) {
      summary.outcome = LoadOutcome::Failed;
      summary.problem = std::move(problem);
      return summary;
    }
    frontend.openPaths.clear();
    frontend.openPaths.push_back(in);
    if (IsProjectFile(in)) {
      if (!desk.SpdBtnLdPrjClick()) {
        summary.outcome = LoadOutcome::Failed;
        summary.problem = "the project " + in + " could not be loaded";
        return summary;
      }
      continue;
    }
    const ObjectFileKind kind = InputKindOf(in);
    const int shownBefore = frontend.lineErrors;
    const LoadResult result = desk.LoadObjectFileCommand(!firstObject, kind);
    if (result.status == LoadStatus::IoError || result.status == LoadStatus::Cancelled) {
      summary.outcome = LoadOutcome::Failed;
      summary.problem = result.status == LoadStatus::IoError
                            ? "cannot read " + in + ": " + result.message
                            : "the load of " + in + " was refused";
      return summary;
    }
    firstObject = false;
    if (result.lineErrors > 0 && summary.lineErrors == 0) {
      summary.lineErrorFile = in;
      summary.firstLineError = frontend.firstLineError;
      summary.firstLineErrorCode = result.firstErrorCode;
    }
    summary.lineErrors += result.lineErrors;
    frontend.EndLineErrors(frontend.lineErrors - shownBefore);
    if (result.status == LoadStatus::Aborted) return summary;
    if (checks.allowOutside) continue;
    // Each file is checked on its own data; the image keeps the extent the window's "Load More
    // Data" leaves.
    const LoadedExtent extent = ExtentOfLoad(result, kind, size);
    if (const auto problem = CheckLoadedFile(in, kind, extent, desk.job().Image().windows,
                                             desk.job().chip.chipName)) {
      summary.outcome = LoadOutcome::Refused;
      summary.problem = problem->text;
      return summary;
    }
  }
  return summary;
}

std::string LineErrorProblem(const LoadSummary& summary) {
  const char* meaning = "";
  switch (summary.firstLineErrorCode) {
    case kRecordBadStart:
      meaning = " (not a record)";
      break;
    case kRecordBadS19Type:
      meaning = " (unknown S-record type)";
      break;
    case kRecordBadAddressField:
      meaning = " (address record with a non-zero offset field)";
      break;
    case kRecordBadChecksum:
      meaning = " (checksum wrong or line cut short)";
      break;
    case kRecordBadHexType:
      meaning = " (unknown record type)";
      break;
    case kRecordOutsideWindows:
      meaning = " (data outside the part's memory)";
      break;
    default:
      break;
  }
  return Format("%s: %d line error(s), the first: %s%s", summary.lineErrorFile.c_str(),
                summary.lineErrors, summary.firstLineError.c_str(), meaning);
}

OutputKind OutputKindOf(const std::string& path) {
  const std::string ext = LowerExtension(path);
  if (ext == ".bin") return OutputKind::Binary;
  if (ext == ".hex") return OutputKind::IntelHex;
  if (ext == ".s19" || ext == ".srec" || ext == ".mot") return OutputKind::SRecord;
  if (ext == ".kvn") return OutputKind::Project;
  return OutputKind::Unknown;
}

bool SaveMemory(JobDesk& desk, CliFrontend& frontend, const std::string& path) {
  // The entries of the save dialog: 1 binary, 2 Intel HEX, 3 S-record.
  int filter = 0;
  switch (OutputKindOf(path)) {
    case OutputKind::Binary:
      filter = 1;
      break;
    case OutputKind::IntelHex:
      filter = 2;
      break;
    case OutputKind::SRecord:
      filter = 3;
      break;
    case OutputKind::Project:
    case OutputKind::Unknown:
      return false;
  }
  frontend.saveChoice = FileChoice{path, filter};
  return desk.FileSaveBtnClick();
}

bool SaveProject(JobDesk& desk, CliFrontend& frontend, const std::string& path) {
  frontend.saveChoice = FileChoice{path, 1};
  return desk.SavetoProjectFile1Click();
}

}  // namespace korvan::cli
