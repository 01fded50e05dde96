// The line database's PostgreSQL client lives in a module of its own (korvan-line-pg.so), so that
// a program pays for libpqxx and libpq (and the score of libraries they bring) only when it
// reaches a line database: `korvan-cli --version` or `convert` loads none of them. LineDatabase
// opens the module the first time a line database is connected to or a connection string is
// checked, and calls it through the table below; the module is never unloaded.
//
// The table is the whole boundary: one extern "C" entry point hands it out. Its functions take
// and return the core's own types (strings, records, ranges), so the module must come from the
// same build as the program: the entry point refuses a caller of another ABI version or another
// layout of those types, and the program then says the module could not be loaded.
//
// Where the module is looked for, in this order:
//   - the file named by KORVAN_LINE_MODULE, when set and not empty (and nowhere else; a relative
//     path is taken from the working folder);
//   - beside the program (the build tree links it beside every program that uses it);
//   - the package's private library folder, found from the program's folder (bin/ ->
//     lib/<multiarch>/korvan200nat/), so that any installation prefix works.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/line/line_database.h"
#include "core/records/record_store.h"

namespace korvan {

// An open line database inside the module: its URL and connection. Opaque outside the module.
struct LineSession;

// Bump by hand when a function of the table changes its meaning or its signature.
inline constexpr int kLineModuleAbi = 2;

// The sizes of the types that cross the boundary, folded into one number: a module built with
// another layout of them is refused rather than handed records it would misread.
inline constexpr std::uint64_t kLineModuleLayout = [] {
  std::uint64_t stamp = 0xcbf29ce484222325ULL;
  for (const std::uint64_t size :
       {sizeof(std::string), sizeof(ProductionRecord), sizeof(StoredRecord), sizeof(RecordQuery),
        sizeof(LineRecord), sizeof(SerialRange), sizeof(SerialHolder), sizeof(ApprovedJob),
        sizeof(std::optional<ApprovedJob>), sizeof(std::vector<ApprovedJob>),
        sizeof(std::vector<StoredRecord>), sizeof(std::optional<std::vector<LineRecord>>)}) {
    stamp = (stamp ^ size) * 0x100000001b3ULL;
  }
  return stamp;
}();

// What the module does; every function reports a failure in *error (one line, libpq's message
// included) and never throws. The session's connection, once lost, is opened again by the next
// call.
struct LineModule {
  int abi;
  std::uint64_t layout;
  // Connects to `url` and brings the schema up to date (LineDatabase::Connect); nullptr when it
  // cannot. Messages name the database as `shownAs` (LineDatabaseName). The session is the
  // caller's until `close`.
  LineSession* (*connect)(const std::string& url, const std::string& shownAs, std::string* error);
  void (*close)(LineSession* session);
  int (*schemaVersion)(LineSession* session, std::string* error);  // -1 on failure
  std::optional<std::size_t> (*insert)(LineSession* session, const std::string& stationId,
                                       const std::vector<StoredRecord>& records,
                                       std::string* error);
  std::optional<std::vector<LineRecord>> (*find)(LineSession* session, const RecordQuery& query,
                                                 std::string* error);
  std::optional<std::vector<SerialHolder>> (*reserve)(LineSession* session,
                                                      const std::string& stationId,
                                                      const std::string& host,
                                                      const std::vector<SerialRange>& ranges,
                                                      bool allowReused, std::string* error);
  // The approved jobs (LineDatabase::Approve, Revoke, ApprovedJobs) and the line's setting that
  // requires them.
  std::optional<ApprovedJob> (*approve)(LineSession* session, const ApprovedJob& job,
                                        std::string* error);
  std::optional<ApprovedJob> (*revoke)(LineSession* session, const std::string& fingerprint,
                                       std::string* error);
  std::optional<std::vector<ApprovedJob>> (*approvedJobs)(LineSession* session, std::string* error);
  std::optional<bool> (*requiresApprovedJobs)(LineSession* session, std::string* error);
  bool (*setRequireApprovedJobs)(LineSession* session, bool required, std::string* error);
  // What libpq finds wrong in a postgresql:// URL or key=value string (its syntax, a port out
  // of 1..65535); "" when nothing. Nothing is connected to.
  std::string (*connectionStringProblem)(const std::string& url);
};

// The module's file name and the name of its entry point.
inline constexpr const char* kLineModuleFile = "korvan-line-pg.so";
inline constexpr const char* kLineModuleEntry = "korvan_line_module";

// The module, loaded on the first call (from any thread; later calls return the same answer);
// nullptr and *error ("the PostgreSQL client module could not be loaded: ...") when it cannot
// be found, opened, or is not of this build.
const LineModule* LoadLineModule(std::string* error);

}  // namespace korvan

// The module's entry point: its table when `abi` and `layout` are its own, else nullptr.
extern "C" const korvan::LineModule* korvan_line_module(int abi, std::uint64_t layout);
