#include "cli/job_files.h"

#include <cctype>

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

LoadSummary LoadInputs(Station& station, CliFrontend& frontend,
                       const std::vector<std::string>& inputs) {
  LoadSummary summary;
  bool firstObject = true;
  for (const auto& in : inputs) {
    frontend.openPaths.clear();
    frontend.openPaths.push_back(in);
    if (IsProjectFile(in)) {
      if (!station.SpdBtnLdPrjClick()) {
        summary.outcome = LoadOutcome::Failed;
        return summary;
      }
      continue;
    }
    const LoadResult result = station.LoadObjectFileCommand(!firstObject, InputKindOf(in));
    if (result.status == LoadStatus::IoError || result.status == LoadStatus::Cancelled) {
      summary.outcome = LoadOutcome::Failed;
      return summary;
    }
    firstObject = false;
    summary.lineErrors += result.lineErrors;
  }
  return summary;
}

OutputKind OutputKindOf(const std::string& path) {
  const std::string ext = LowerExtension(path);
  if (ext == ".bin") return OutputKind::Binary;
  if (ext == ".hex") return OutputKind::IntelHex;
  if (ext == ".s19" || ext == ".srec" || ext == ".mot") return OutputKind::SRecord;
  if (ext == ".kvn") return OutputKind::Project;
  return OutputKind::Unknown;
}

bool SaveMemory(Station& station, CliFrontend& frontend, const std::string& path) {
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
  return station.FileSaveBtnClick();
}

bool SaveProject(Station& station, CliFrontend& frontend, const std::string& path) {
  frontend.saveChoice = FileChoice{path, 1};
  return station.SavetoProjectFile1Click();
}

}  // namespace korvan::cli
