// The line database's PostgreSQL client: the module korvan-line-pg.so, the only code of the
// station that uses libpqxx and libpq. LineDatabase (line_database.cpp) loads it when a line
// database is first used and calls it through its table (line_module.h).
#include <libpq-fe.h>

#include <charconv>
#include <cstdio>
#include <memory>
#include <pqxx/pqxx>

#include "core/line/line_database.h"
#include "core/line/line_module.h"

// An open line database: its URL and, while it holds, its connection.
struct korvan::LineSession {
  std::string url;
  std::string shownAs;  // the URL with its password left out, for messages
  std::unique_ptr<pqxx::connection> connection;
};

namespace korvan {
namespace {

// The migrations, oldest first: migration i brings the schema to version i + 1.
constexpr const char* kMigrations[] = {
    // 1: the production records of every station.
    "CREATE TABLE production_records ("
    "  line_id bigserial PRIMARY KEY,"
    "  station_id text NOT NULL,"
    "  station_row bigint NOT NULL,"
    "  record_id text NOT NULL,"
    "  host text NOT NULL,"
    "  station_number integer NOT NULL,"
    "  channel integer NOT NULL,"
    "  port text NOT NULL,"
    "  programmer text NOT NULL,"
    "  chip text NOT NULL,"
    "  origin text NOT NULL,"
    "  time text NOT NULL,"
    "  local_date text NOT NULL,"
    "  image_crc integer NOT NULL,"
    "  image_sum integer NOT NULL,"
    "  option_sum integer NOT NULL,"
    "  serial_number bigint,"
    "  serial_number_address bigint,"
    "  chip_uid text,"
    "  result integer NOT NULL,"
    "  result_text text NOT NULL,"
    "  pass boolean NOT NULL,"
    "  interrupted boolean NOT NULL,"
    "  ok_count bigint NOT NULL,"
    "  ng_count bigint NOT NULL,"
    "  received_at timestamptz NOT NULL DEFAULT now(),"
    "  UNIQUE (station_id, record_id));"
    "CREATE INDEX production_records_chip_uid ON production_records (chip_uid);"
    "CREATE INDEX production_records_serial ON production_records"
    "  (chip, serial_number_address, serial_number) WHERE pass;",
    // 2: serial numbers reserved by the stations before they write them.
    "CREATE TABLE serial_reservations ("
    "  id bigserial PRIMARY KEY,"
    "  station_id text NOT NULL,"
    "  host text NOT NULL,"
    "  channel integer NOT NULL,"
    "  chip text NOT NULL,"
    "  address bigint NOT NULL,"
    "  first_serial bigint NOT NULL,"
    "  last_serial bigint NOT NULL,"
    "  reserved_at timestamptz NOT NULL DEFAULT now());"
    "CREATE INDEX serial_reservations_range ON serial_reservations"
    "  (chip, address, first_serial);",
    // 3: serial numbers worked out from the downloaded settings (stand-alone parts) say so.
    "ALTER TABLE production_records"
    "  ADD COLUMN serial_number_derived boolean NOT NULL DEFAULT false;",
    // 4: the fingerprint of the job that programmed each part, the jobs released for the line,
    // and the line's settings (whether its stations run released jobs only).
    "ALTER TABLE production_records ADD COLUMN job_fingerprint text;"
    "CREATE TABLE approved_jobs ("
    "  fingerprint text PRIMARY KEY,"
    "  part text NOT NULL,"
    "  label text NOT NULL,"
    "  approved_by text NOT NULL,"
    "  approved_at timestamptz NOT NULL DEFAULT now(),"
    "  revoked_at timestamptz);"
    "CREATE TABLE line_settings (name text PRIMARY KEY, value text NOT NULL);",
};
static_assert(std::size(kMigrations) == LineDatabase::kSchemaVersion);

// The advisory lock every station takes to migrate: one migration at a time on the database.
constexpr long long kMigrationLock = 0x4b6f7276616e4c31LL;  // "KorvanL1"

// libpq's messages span lines (a hint on a line of its own): one line for the panel.
std::string OneLine(const char* text) {
  std::string out;
  for (const char* c = text; *c != '\0'; ++c) {
    const bool space = *c == '\n' || *c == '\t' || *c == '\r' || *c == ' ';
    if (space) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += *c;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// A host that does not answer must not hold a station's forwarder (or its start) for the
// minutes TCP would wait: a connection attempt gives up after a few seconds unless the URL says.
std::string WithConnectTimeout(const std::string& url) {
  if (url.find("connect_timeout") != std::string::npos) return url;
  if (url.rfind("postgresql://", 0) == 0 || url.rfind("postgres://", 0) == 0) {
    return url + (url.find('?') == std::string::npos ? "?" : "&") + "connect_timeout=5";
  }
  return url + " connect_timeout=5";
}

std::string OriginText(RecordOrigin origin) {
  return origin == RecordOrigin::StandAlone ? "stand-alone" : "auto";
}

std::string Nullable(pqxx::transaction_base& work, const std::optional<std::string>& value) {
  return value ? work.quote(*value) : std::string("NULL");
}

std::string Nullable(const std::optional<std::uint32_t>& value) {
  return value ? std::to_string(*value) : std::string("NULL");
}

constexpr const char* kRecordColumns =
    "line_id, station_id, station_row, record_id, host, station_number, channel, port, "
    "programmer, chip, origin, time, image_crc, image_sum, option_sum, serial_number, "
    "serial_number_address, chip_uid, result, result_text, pass, interrupted, ok_count, "
    "ng_count, serial_number_derived, job_fingerprint";

LineRecord ReadRecord(const pqxx::row& row) {
  LineRecord out;
  out.lineId = row[0].as<std::int64_t>();
  out.stationId = row[1].as<std::string>();
  out.stationRow = row[2].as<std::int64_t>();
  ProductionRecord& r = out.record;
  r.recordId = row[3].as<std::string>();
  r.host = row[4].as<std::string>();
  r.station = row[5].as<int>();
  r.channel = row[6].as<int>();
  r.port = row[7].as<std::string>();
  r.programmer = row[8].as<std::string>();
  r.chip = row[9].as<std::string>();
  r.origin =
      row[10].as<std::string>() == "stand-alone" ? RecordOrigin::StandAlone : RecordOrigin::Auto;
  r.time = row[11].as<std::string>();
  r.imageCrc = static_cast<std::uint16_t>(row[12].as<int>());
  r.imageSum = static_cast<std::uint16_t>(row[13].as<int>());
  r.optionSum = static_cast<std::uint16_t>(row[14].as<int>());
  if (!row[15].is_null()) r.serialNumber = static_cast<std::uint32_t>(row[15].as<std::int64_t>());
  if (!row[16].is_null()) {
    r.serialNumberAddress = static_cast<std::uint32_t>(row[16].as<std::int64_t>());
  }
  if (!row[17].is_null()) r.chipUid = row[17].as<std::string>();
  r.result = row[18].as<int>();
  r.resultText = row[19].as<std::string>();
  r.pass = row[20].as<bool>();
  r.interrupted = row[21].as<bool>();
  r.okCount = static_cast<std::uint32_t>(row[22].as<std::int64_t>());
  r.ngCount = static_cast<std::uint32_t>(row[23].as<std::int64_t>());
  r.serialNumberDerived = row[24].as<bool>();
  if (!row[25].is_null()) r.jobFingerprint = row[25].as<std::string>();
  return out;
}

std::string ConnectionStringProblem(const std::string& url) {
  char* message = nullptr;
  PQconninfoOption* options = PQconninfoParse(url.c_str(), &message);
  if (!options) {
    std::string text = message ? OneLine(message) : "libpq cannot read it";
    PQfreemem(message);
    return text;
  }
  std::string problem;
  for (PQconninfoOption* o = options; o->keyword && problem.empty(); ++o) {
    if (std::string_view(o->keyword) != "port" || !o->val) continue;
    // A port for every host, comma separated.
    std::string_view ports = o->val;
    while (problem.empty()) {
      const std::size_t comma = ports.find(',');
      const std::string_view port = ports.substr(0, comma);
      unsigned long value = 0;
      const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
      if (!port.empty() &&
          (ec != std::errc() || end != port.data() + port.size() || value == 0 || value > 65535)) {
        problem = "port " + std::string(port) + " is not 1..65535";
      }
      if (comma == std::string_view::npos) break;
      ports.remove_prefix(comma + 1);
    }
  }
  PQconninfoFree(options);
  return problem;
}

// Opens the session's connection unless it holds.
bool Open(LineSession& session, std::string* error) {
  if (session.connection && session.connection->is_open()) return true;
  try {
    session.connection = std::make_unique<pqxx::connection>(WithConnectTimeout(session.url));
    return true;
  } catch (const std::exception& e) {
    session.connection.reset();
    *error = "cannot connect to the line database " + session.shownAs + ": " + OneLine(e.what());
    return false;
  }
}

bool Migrate(LineSession& session, std::string* error) {
  try {
    pqxx::work work(*session.connection);
    work.exec("SELECT pg_advisory_xact_lock(" + std::to_string(kMigrationLock) + ")");
    work.exec("CREATE TABLE IF NOT EXISTS schema_version (version integer NOT NULL)");
    const pqxx::result current = work.exec("SELECT coalesce(max(version), 0) FROM schema_version");
    const int version = current[0][0].as<int>();
    if (version > LineDatabase::kSchemaVersion) {
      *error = "the line database " + session.shownAs + " has schema version " +
               std::to_string(version) + ", newer than this station knows (" +
               std::to_string(LineDatabase::kSchemaVersion) + ")";
      return false;
    }
    for (int v = version; v < LineDatabase::kSchemaVersion; ++v) {
      work.exec(kMigrations[v]);
      work.exec("INSERT INTO schema_version (version) VALUES (" + std::to_string(v + 1) + ")");
    }
    work.commit();
    return true;
  } catch (const std::exception& e) {
    *error = "cannot set up the line database " + session.shownAs + ": " + OneLine(e.what());
    session.connection.reset();
    return false;
  }
}

LineSession* Connect(const std::string& url, const std::string& shownAs, std::string* error) {
  try {
    auto session = std::make_unique<LineSession>();
    session->url = url;
    session->shownAs = shownAs;
    if (!Open(*session, error) || !Migrate(*session, error)) return nullptr;
    return session.release();
  } catch (const std::exception& e) {
    *error = "cannot connect to the line database " + shownAs + ": " + OneLine(e.what());
    return nullptr;
  }
}

void Close(LineSession* session) {
  delete session;
}

int SchemaVersion(LineSession* session, std::string* error) {
  if (!Open(*session, error)) return -1;
  try {
    pqxx::nontransaction work(*session->connection);
    return work.exec("SELECT coalesce(max(version), 0) FROM schema_version")[0][0].as<int>();
  } catch (const std::exception& e) {
    *error = OneLine(e.what());
    session->connection.reset();
    return -1;
  }
}

std::optional<std::size_t> Insert(LineSession* session, const std::string& stationId,
                                  const std::vector<StoredRecord>& records, std::string* error) {
  if (records.empty()) return 0;
  if (!Open(*session, error)) return std::nullopt;
  try {
    pqxx::work work(*session->connection);
    std::string sql =
        "INSERT INTO production_records (station_id, station_row, record_id, host, "
        "station_number, channel, port, programmer, chip, origin, time, local_date, image_crc, "
        "image_sum, option_sum, serial_number, serial_number_address, chip_uid, result, "
        "result_text, pass, interrupted, ok_count, ng_count, serial_number_derived, "
        "job_fingerprint) VALUES ";
    const std::string station = work.quote(stationId);
    bool first = true;
    for (const StoredRecord& stored : records) {
      const ProductionRecord& r = stored.record;
      // A record from before records had ids is known by its row in the station's store.
      const std::string recordId =
          r.recordId.empty() ? "row-" + std::to_string(stored.rowId) : r.recordId;
      if (!first) sql += ',';
      first = false;
      sql += '(' + station + ',' + std::to_string(stored.rowId) + ',' + work.quote(recordId) + ',' +
             work.quote(r.host) + ',' + std::to_string(r.station) + ',' +
             std::to_string(r.channel) + ',' + work.quote(r.port) + ',' + work.quote(r.programmer) +
             ',' + work.quote(r.chip) + ',' + work.quote(OriginText(r.origin)) + ',' +
             work.quote(r.time) + ',' + work.quote(r.time.substr(0, 10)) + ',' +
             std::to_string(r.imageCrc) + ',' + std::to_string(r.imageSum) + ',' +
             std::to_string(r.optionSum) + ',' + Nullable(r.serialNumber) + ',' +
             Nullable(r.serialNumberAddress) + ',' + Nullable(work, r.chipUid) + ',' +
             std::to_string(r.result) + ',' + work.quote(r.resultText) + ',' +
             (r.pass ? "true" : "false") + ',' + (r.interrupted ? "true" : "false") + ',' +
             std::to_string(r.okCount) + ',' + std::to_string(r.ngCount) + ',' +
             (r.serialNumberDerived ? "true" : "false") + ',' +
             (r.jobFingerprint.empty() ? std::string("NULL") : work.quote(r.jobFingerprint)) + ')';
    }
    sql += " ON CONFLICT (station_id, record_id) DO NOTHING";
    const pqxx::result result = work.exec(sql);
    work.commit();
    return static_cast<std::size_t>(result.affected_rows());
  } catch (const std::exception& e) {
    *error = std::string("the line database refused the records: ") + OneLine(e.what());
    session->connection.reset();
    return std::nullopt;
  }
}

std::optional<std::vector<LineRecord>> Find(LineSession* session, const RecordQuery& query,
                                            std::string* error) {
  if (!Open(*session, error)) return std::nullopt;
  try {
    pqxx::nontransaction work(*session->connection);
    std::string sql =
        std::string("SELECT ") + kRecordColumns + " FROM production_records WHERE true";
    if (query.chipUid) sql += " AND chip_uid = " + work.quote(*query.chipUid);
    if (query.serialNumber) sql += " AND serial_number = " + std::to_string(*query.serialNumber);
    if (query.since) sql += " AND local_date >= " + work.quote(*query.since);
    if (query.until) sql += " AND local_date <= " + work.quote(*query.until);
    if (query.channel) sql += " AND channel = " + std::to_string(*query.channel);
    if (query.pass) sql += std::string(" AND pass = ") + (*query.pass ? "true" : "false");
    sql += " ORDER BY line_id";
    if (query.limit != 0) sql += " LIMIT " + std::to_string(query.limit);
    std::vector<LineRecord> out;
    for (const pqxx::row& row : work.exec(sql)) out.push_back(ReadRecord(row));
    return out;
  } catch (const std::exception& e) {
    *error = std::string("the line database query failed: ") + OneLine(e.what());
    session->connection.reset();
    return std::nullopt;
  }
}

std::optional<std::vector<SerialHolder>> Reserve(LineSession* session, const std::string& stationId,
                                                 const std::string& host,
                                                 const std::vector<SerialRange>& ranges,
                                                 bool allowReused, std::string* error) {
  if (!Open(*session, error)) return std::nullopt;
  try {
    pqxx::work work(*session->connection);
    // One reservation at a time across the line: the check and the insert see the same table.
    work.exec("LOCK TABLE serial_reservations IN SHARE ROW EXCLUSIVE MODE");
    const std::string station = work.quote(stationId);
    std::vector<SerialHolder> holders;
    for (const SerialRange& range : ranges) {
      const std::string same =
          "chip = " + work.quote(range.chip) + " AND address = " + std::to_string(range.address);
      const std::string first = std::to_string(range.first);
      const std::string last = std::to_string(range.last);
      const pqxx::result reserved = work.exec(
          "SELECT station_id, host, channel, first_serial, last_serial FROM serial_reservations"
          " WHERE station_id <> " +
          station + " AND " + same + " AND first_serial <= " + last +
          " AND last_serial >= " + first + " ORDER BY first_serial, id LIMIT 1");
      const pqxx::result recorded = work.exec(
          "SELECT station_id, host, channel, serial_number, serial_number FROM production_records"
          " WHERE pass AND chip = " +
          work.quote(range.chip) + " AND serial_number_address = " + std::to_string(range.address) +
          " AND serial_number BETWEEN " + first + " AND " + last +
          " ORDER BY serial_number, line_id LIMIT 1");
      const bool isRecord = reserved.empty() && !recorded.empty();
      const pqxx::result& found = isRecord ? recorded : reserved;
      if (found.empty()) continue;
      SerialHolder holder;
      holder.asked = range;
      holder.stationId = found[0][0].as<std::string>();
      holder.host = found[0][1].as<std::string>();
      holder.channel = found[0][2].as<int>();
      holder.first = static_cast<std::uint32_t>(found[0][3].as<std::int64_t>());
      holder.last = static_cast<std::uint32_t>(found[0][4].as<std::int64_t>());
      holder.recorded = isRecord;
      holders.push_back(std::move(holder));
    }
    if (!holders.empty() && !allowReused) return holders;  // rolled back
    for (const SerialRange& range : ranges) {
      work.exec("DELETE FROM serial_reservations WHERE station_id = " + station + " AND chip = " +
                work.quote(range.chip) + " AND address = " + std::to_string(range.address) +
                " AND channel = " + std::to_string(range.channel));
      work.exec(
          "INSERT INTO serial_reservations (station_id, host, channel, chip, address, "
          "first_serial, last_serial) VALUES (" +
          station + ',' + work.quote(host) + ',' + std::to_string(range.channel) + ',' +
          work.quote(range.chip) + ',' + std::to_string(range.address) + ',' +
          std::to_string(range.first) + ',' + std::to_string(range.last) + ')');
    }
    work.commit();
    return holders;
  } catch (const std::exception& e) {
    *error =
        std::string("the line database could not reserve serial numbers: ") + OneLine(e.what());
    session->connection.reset();
    return std::nullopt;
  }
}

// Times as ISO 8601 in UTC, to the second: "2024-03-01T09:30:00+00:00".
constexpr const char* kApprovedColumns =
    "fingerprint, part, label, approved_by, "
    "to_char(approved_at AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"+00:00\"'), "
    "to_char(revoked_at AT TIME ZONE 'UTC', 'YYYY-MM-DD\"T\"HH24:MI:SS\"+00:00\"')";

ApprovedJob ReadApproved(const pqxx::row& row) {
  ApprovedJob job;
  job.fingerprint = row[0].as<std::string>();
  job.part = row[1].as<std::string>();
  job.label = row[2].as<std::string>();
  job.approvedBy = row[3].as<std::string>();
  job.approvedAt = row[4].as<std::string>();
  if (!row[5].is_null()) job.revokedAt = row[5].as<std::string>();
  return job;
}

std::optional<ApprovedJob> Approve(LineSession* session, const ApprovedJob& job,
                                   std::string* error) {
  if (!Open(*session, error)) return std::nullopt;
  try {
    pqxx::work work(*session->connection);
    const pqxx::result row = work.exec(
        "INSERT INTO approved_jobs (fingerprint, part, label, approved_by) VALUES (" +
        work.quote(job.fingerprint) + ',' + work.quote(job.part) + ',' + work.quote(job.label) +
        ',' + work.quote(job.approvedBy) +
        ") ON CONFLICT (fingerprint) DO UPDATE SET part = excluded.part, label = excluded.label,"
        " approved_by = excluded.approved_by, approved_at = now(), revoked_at = NULL"
        " RETURNING " +
        kApprovedColumns);
    work.commit();
    return ReadApproved(row[0]);
  } catch (const std::exception& e) {
    *error = std::string("the line database could not approve the job: ") + OneLine(e.what());
    session->connection.reset();
    return std::nullopt;
  }
}

std::optional<ApprovedJob> Revoke(LineSession* session, const std::string& fingerprint,
                                  std::string* error) {
  if (!Open(*session, error)) return std::nullopt;
  try {
    pqxx::work work(*session->connection);
    const pqxx::result row = work.exec(
        "UPDATE approved_jobs SET revoked_at = now() WHERE fingerprint = " +
        work.quote(fingerprint) + " AND revoked_at IS NULL RETURNING " + kApprovedColumns);
    work.commit();
    if (row.empty()) {
      error->clear();
      return std::nullopt;
    }
    return ReadApproved(row[0]);
  } catch (const std::exception& e) {
    *error = std::string("the line database could not revoke the job: ") + OneLine(e.what());
    session->connection.reset();
    return std::nullopt;
  }
}

std::optional<std::vector<ApprovedJob>> ApprovedJobs(LineSession* session, std::string* error) {
  if (!Open(*session, error)) return std::nullopt;
  try {
    pqxx::nontransaction work(*session->connection);
    std::vector<ApprovedJob> jobs;
    for (const pqxx::row& row :
         work.exec(std::string("SELECT ") + kApprovedColumns +
                   " FROM approved_jobs ORDER BY approved_at, fingerprint")) {
      jobs.push_back(ReadApproved(row));
    }
    return jobs;
  } catch (const std::exception& e) {
    *error = std::string("the line database query failed: ") + OneLine(e.what());
    session->connection.reset();
    return std::nullopt;
  }
}

constexpr const char* kRequireApprovedJobs = "require_approved_jobs";

std::optional<bool> RequiresApprovedJobs(LineSession* session, std::string* error) {
  if (!Open(*session, error)) return std::nullopt;
  try {
    pqxx::nontransaction work(*session->connection);
    const pqxx::result row = work.exec(
        std::string("SELECT value FROM line_settings WHERE name = '") + kRequireApprovedJobs + "'");
    return !row.empty() && row[0][0].as<std::string>() == "on";
  } catch (const std::exception& e) {
    *error = std::string("the line database query failed: ") + OneLine(e.what());
    session->connection.reset();
    return std::nullopt;
  }
}

bool SetRequireApprovedJobs(LineSession* session, bool required, std::string* error) {
  if (!Open(*session, error)) return false;
  try {
    pqxx::work work(*session->connection);
    work.exec(std::string("INSERT INTO line_settings (name, value) VALUES ('") +
              kRequireApprovedJobs + "', '" + (required ? "on" : "off") +
              "') ON CONFLICT (name) DO UPDATE SET value = excluded.value");
    work.commit();
    return true;
  } catch (const std::exception& e) {
    *error = std::string("the line database could not change the setting: ") + OneLine(e.what());
    session->connection.reset();
    return false;
  }
}

constexpr LineModule kModule = {
    .abi = kLineModuleAbi,
    .layout = kLineModuleLayout,
    .connect = &Connect,
    .close = &Close,
    .schemaVersion = &SchemaVersion,
    .insert = &Insert,
    .find = &Find,
    .reserve = &Reserve,
    .approve = &Approve,
    .revoke = &Revoke,
    .approvedJobs = &ApprovedJobs,
    .requiresApprovedJobs = &RequiresApprovedJobs,
    .setRequireApprovedJobs = &SetRequireApprovedJobs,
    .connectionStringProblem = &ConnectionStringProblem,
};

}  // namespace
}  // namespace korvan

extern "C" __attribute__((visibility("default"))) const korvan::LineModule* korvan_line_module(
    int abi, std::uint64_t layout) {
  if (abi != korvan::kLineModuleAbi || layout != korvan::kLineModuleLayout) return nullptr;
  return &korvan::kModule;
}
