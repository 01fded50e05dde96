// Object files and projects given on korvan-cli's command line, loaded through the job desk's
// file commands exactly as the window's "Load Object File", "Load More Data" and "Load From
// Project File" load them. Shared by every sub-command that takes IN... files.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

#include "cli/cli_frontend.h"
#include "core/image/readers.h"
#include "core/job/job_desk.h"

namespace korvan::cli {

// The extension of `path`'s file name, lower case, with its dot ("" when there is none).
std::string LowerExtension(const std::string& path);

// The reader for an input file: the window's ".HEX", ".S1x" and ".BIN", plus the S-record
// extensions korvan-cli writes (".srec", ".mot"), so that its own output reads back.
ObjectFileKind InputKindOf(const std::string& path);

bool IsProjectFile(const std::string& path);

// The text of a usage error for the first input that is neither an object file nor a project,
// "" when all are usable.
std::string CheckInputNames(const std::vector<std::string>& inputs);

enum class LoadOutcome {
  Loaded,   // every file read (line errors may have been reported)
  Failed,   // a file could not be read; the rest were not tried
  Refused,  // a file's data do not fit the part (empty, outside its flash, too long)
};

struct LoadSummary {
  LoadOutcome outcome = LoadOutcome::Loaded;
  int lineErrors = 0;
  std::string lineErrorFile;   // the file of the first line error
  std::string firstLineError;  // its text ("Line 3 Data Error : 16.")
  int firstLineErrorCode = 0;  // its record's result code (16)
  std::string problem;         // why a file failed or was refused, naming it
};

// What the job checks let through.
struct LoadChecks {
  // Data outside the part's flash, or an image that does not fit it, only warned about as the
  // window does (--allow-outside); otherwise such an input is refused.
  bool allowOutside = false;
};

// The options of a sub-command that loads a job (run, convert): the part and how its inputs are
// read.
struct JobInputOptions {
  std::optional<std::string> part;    // --chip
  bool typedName = false;             // --typed-name
  std::optional<int> series;          // --series
  std::optional<std::string> offset;  // --offset
  bool abortOnError = false;          // --abort-on-error
  bool ignoreLineErrors = false;      // --ignore-line-errors
  bool allowOutside = false;          // --allow-outside

  // The texts that differ between the sub-commands.
  struct Texts {
    const char* chipNotNeeded;  // the end of --chip's help: when it may be left out
    const char* chipRequired;   // the usage error when it is left out and may not be
    const char* abortOnError;
    const char* ignoreLineErrors;
    const char* allowOutside;
  };

  void AddTo(CLI::App& sub, const Texts& texts);
  // The first usage problem of these options for a job that starts with a project or not (""
  // when none): --chip left out, --offset out of range, both line-error answers.
  std::string Problem(bool projectFirst, const Texts& texts) const;
  // Turns --chip into the catalogue's spelling, or with --typed-name keeps it as given and
  // leaves the note on it in `note`. False with `error` set when the name is refused.
  bool ResolveChip(std::string& note, std::string& error);
  // The answers to the station's questions while the job is loaded.
  void ApplyTo(CliFrontend& frontend) const;
  LoadChecks Checks() const { return {allowOutside}; }
};

// Loads `inputs` in order: a .kvn as a project, the first object file as "Load Object File"
// (image erased first), each further one as "Load More Data". The desk's questions go to
// `frontend`, which must be the one it asks through. The chip must already be chosen unless the
// first input is a project. An input that cannot be read is named before the desk is asked to
// load it;
// each object file loaded is checked against the part's flash window (CheckLoadedFile). Loading
// stops at the first failed or refused input, and at a line error answered Abort.
LoadSummary LoadInputs(JobDesk& desk, CliFrontend& frontend, const std::vector<std::string>& inputs,
                       const LoadChecks& checks = {});

// The one line that tells why line errors stop the job: the file, how many, the first one.
std::string LineErrorProblem(const LoadSummary& summary);

enum class OutputKind { Binary, IntelHex, SRecord, Project, Unknown };

// The file an output name asks for: .bin, .hex, .s19/.srec/.mot or .kvn.
OutputKind OutputKindOf(const std::string& path);

// "Save Memory to File" of the flash window to `path`, in the format its extension names (binary,
// Intel HEX or S-record). False when the extension names none of them or the save failed (the
// desk has then reported why).
bool SaveMemory(JobDesk& desk, CliFrontend& frontend, const std::string& path);

// "Save to Project File" to `path`. False when refused or failed.
bool SaveProject(JobDesk& desk, CliFrontend& frontend, const std::string& path);

}  // namespace korvan::cli
