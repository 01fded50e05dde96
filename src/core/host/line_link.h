// A station's link to the line database: the forwarder of its production records (on a thread
// of its own) and what it reports, brought to the station's thread. When the database cannot be
// reached, and again when it can, the information panel says so once; the front end hears the
// same notice (the command line's --json prints it as an event).
//
// The notices travel through the station's serial event queue, which the window and the
// command-line loop both drain, so no front end needs a loop of its own for them.
#pragma once

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "core/app/station.h"
#include "core/host/serial_guard.h"
#include "core/job/frontend.h"
#include "core/line/line_database.h"
#include "core/line/line_forwarder.h"

namespace korvan {

// The line database named by KORVAN_RECORDS_DB, when set and not empty.
std::optional<std::string> LineDatabaseFromEnvironment();

class LineLink final : public EventReceiver {
 public:
  using NoticeHandler = std::function<void(const LineNotice&)>;

  // Forwards the records of the store in `recordFolder` to the database at `url`. `onNotice`
  // (may be empty) runs on the station's thread, after the panel line.
  LineLink(Station& station, std::filesystem::path recordFolder, std::string url,
           NoticeHandler onNotice = {}, LineForwarderOptions options = {});
  ~LineLink();
  LineLink(const LineLink&) = delete;
  LineLink& operator=(const LineLink&) = delete;

  // Starts forwarding (the backlog a stopped station left first); false and *error when the
  // record store cannot be opened.
  bool Start(std::string* error);
  // See LineForwarder::Flush.
  bool Flush(std::chrono::milliseconds limit) { return forwarder_.Flush(limit); }
  bool Flush(std::chrono::milliseconds limit, std::optional<std::size_t>* waiting) {
    return forwarder_.Flush(limit, waiting);
  }
  LineForwarder& forwarder() { return forwarder_; }
  const std::string& url() const { return url_; }

  // EventReceiver: the notices waiting, on the station's thread.
  void HandleEvent(Event& event) override;

 private:
  void Notice(const LineNotice& notice);  // the forwarder's thread

  Station& station_;
  const std::string url_;
  NoticeHandler onNotice_;
  std::mutex mutex_;
  std::deque<LineNotice> notices_;
  LineForwarder forwarder_;
};

// What reserving a run's serial numbers on the line database found.
struct LineReservation {
  bool reached = false;  // the database answered (else `error` says why not)
  std::string error;
  // Numbers another station reserved, or an OK part on the line got (empty: all reserved).
  std::vector<SerialHolder> holders;
};

// Reserves the numbers of the enabled `plans` (one per station of four) for this station, in
// one transaction of the line database. With holders found nothing is reserved unless
// `allowReused`. A plan with nothing to reserve reaches no database and finds no holder.
LineReservation ReserveOnLine(LineLink& link, const std::vector<SerialPlan>& plans,
                              bool allowReused);

// The window's check on the line before Download and Auto, after the station's own: true to go
// on. Numbers held elsewhere on the line, or a database that cannot be reached, are put to the
// operator through `frontend` with OK/Cancel; OK reserves anyway, or goes on with the
// station's own guard only.
bool ConfirmLineSerialNumbers(Station& station, LineLink& link, int stationNumber,
                              Frontend& frontend);

}  // namespace korvan
