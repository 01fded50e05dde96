// The production record of every finished part, written while the station works: one record
// when an Auto cycle ends on a channel (well, failed or timed out), and one for every result a
// programmer working on its own reports. The window and the command-line station both put a
// RecordingListener between the station and their own listener.
//
// Threading: the station's thread, as every listener call.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "core/app/station.h"
#include "core/records/record_keeper.h"

namespace korvan {

class RecordWriter {
 public:
  // Writes into the record store and the day files in `folder` (normally the station's log
  // folder, station.logLocation().shutdownDir once the window was shown). The store is opened
  // here (filing what a crash left unfiled) and, when it cannot be, again at every record.
  RecordWriter(Station& station, std::filesystem::path folder,
               Durability durability = Durability::Synced, ZonedClock clock = SystemZonedTime,
               std::string host = StationHostName());

  // Which station of four this is within the process, 1-based (a command-line station with more
  // than four programmers runs several): its records carry it, and channel n of station s as
  // (s - 1) * 4 + n, the channels numbered across the process. 1 unless set.
  void SetStationNumber(int station) { stationNumber_ = station; }
  int stationNumber() const { return stationNumber_; }

  // From the station's listener. An operation other than an Auto cycle writes nothing.
  void OperationEnded(int channel, const OperationOutcome& outcome);
  void StandAloneResult(int channel, std::uint8_t code);
  // The station was stopped (by `signalNumber`) while `channel` was working on a part: an NG
  // record marked interrupted, with result 128 + signalNumber, whatever the operation was.
  void Interrupted(int channel, int signalNumber);

  // The record a finished part gets; nothing is written.
  ProductionRecord AutoRecord(int channel, const OperationOutcome& outcome) const;
  // A good stand-alone part after a download with serial numbers on carries the number the
  // downloaded settings give it, marked as derived.
  ProductionRecord StandAloneRecord(int channel, std::uint8_t code) const;

  // Records written since the start, and the error of the last record that could not be
  // written (also shown in the information panel).
  std::size_t written() const { return written_; }
  std::size_t failed() const { return failed_; }
  const std::optional<std::string>& lastError() const { return lastError_; }
  const RecordLog& log() const { return keeper_.log(); }
  RecordLog& log() { return keeper_.log(); }
  RecordKeeper& keeper() { return keeper_; }
  // Why the store could not be opened at construction (nullopt when it was).
  const std::optional<std::string>& openError() const { return openError_; }

 private:
  ProductionRecord Common(int channel) const;
  void Write(const ProductionRecord& record);

  Station& station_;
  RecordKeeper keeper_;
  std::optional<std::string> openError_;
  ZonedClock clock_;
  std::string host_;
  int stationNumber_ = 1;
  // Auto cycles per channel by verdict; the station counts the stand-alone results itself.
  std::array<std::uint32_t, kChannelCount> autoOk_{};
  std::array<std::uint32_t, kChannelCount> autoNg_{};
  // What each channel's programmer numbers its stand-alone parts with: the serial-number
  // settings of the last download that ended well on the channel, and the good parts it has
  // reported since (the programmer adds one step per good part).
  struct Numbering {
    bool known = false;  // a download ended well on the channel since the start
    bool enabled = false;
    std::uint32_t start = 0;
    std::uint16_t step = 0;
    std::uint32_t address = 0;
    std::uint32_t goodParts = 0;
    std::string jobFingerprint;  // of the job the download gave it
  };
  std::array<Numbering, kChannelCount> numbering_{};
  std::size_t written_ = 0;
  std::size_t failed_ = 0;
  std::optional<std::string> lastError_;
};

// A StationListener that writes the production records and passes every call on to `next`
// (the front end's own listener; none when null).
class RecordingListener : public StationListener {
 public:
  explicit RecordingListener(RecordWriter& writer, StationListener* next = nullptr)
      : writer_(writer), next_(next) {}

  void InfoLineAdded(const std::string& line) override {
    if (next_) next_->InfoLineAdded(line);
  }
  void InfoCleared() override {
    if (next_) next_->InfoCleared();
  }
  void ViewChanged(ViewPart part) override {
    if (next_) next_->ViewChanged(part);
  }
  void CloseRequested() override {
    if (next_) next_->CloseRequested();
  }
  void OperationEnded(int channel, const OperationOutcome& outcome) override {
    writer_.OperationEnded(channel, outcome);
    if (next_) next_->OperationEnded(channel, outcome);
  }
  void StandAloneResult(int channel, std::uint8_t code) override {
    writer_.StandAloneResult(channel, code);
    if (next_) next_->StandAloneResult(channel, code);
  }
  void ChannelsChanged() override {
    if (next_) next_->ChannelsChanged();
  }

 private:
  RecordWriter& writer_;
  StationListener* next_;
};

}  // namespace korvan
