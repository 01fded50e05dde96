// The serial-number guard: before a run that gives parts serial numbers, the record store is
// asked whether an OK part of the same chip already got one of the numbers about to be written
// at the same address. The command-line station refuses such a run (unless told otherwise), the
// window asks the operator. A run with serial numbers off is not checked.
//
// Channels are numbered as the records carry them: channel n of the station of four s is
// (s - 1) * 4 + n.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/app/station.h"
#include "core/job/frontend.h"
#include "core/records/record_store.h"

namespace korvan {

class RecordWriter;

// The numbers the next parts of a channel get.
struct SerialUse {
  int channel = 0;  // as records number it
  std::uint32_t first = 0;
  std::uint32_t last = 0;
};

// An OK part that already has one of the numbers.
struct SerialClash {
  SerialUse use;
  StoredRecord earlier;
};

// What the station is about to write: serial numbers on or off, the chip and address, and per
// channel the numbers (the form as the next command assembles it; `channels` are station-local
// 1..4). Each channel's numbers run from its start value over the parts its programmer may
// number after a download, a step apart: the job's count limit when one is set, else
// `partsWithoutLimit`.
struct SerialPlan {
  bool enabled = false;
  std::string chip;
  std::uint32_t address = 0;
  std::vector<SerialUse> uses;
};
SerialPlan PlanSerialNumbers(const Station& station, const std::vector<int>& channels,
                             int stationNumber, std::uint32_t partsWithoutLimit = 1);

// Two channels of one run whose numbers overlap: both would give the same number to a part.
struct SerialOverlap {
  SerialUse first;
  SerialUse second;
};
// The first overlap (lowest number) among the enabled plans of one run, or nullopt.
std::optional<SerialOverlap> FindSerialOverlap(const std::vector<SerialPlan>& plans);
// "channels 2 and 6 would both number parts from 1073741824 (0x40000000): channel 2 from
// 0x40000000 to 0x40000005, channel 6 from 0x40000000 to 0x40000005"
std::string SerialOverlapText(const SerialOverlap& overlap);

// The start value a channel without a number of its own gets in a run of `channelCount`
// channels: the 32-bit range split evenly, as the window's four defaults split it in quarters
// (channel c of N starts at (c - 1) * (2^32 / N)).
std::uint32_t DefaultSerialStart(int channel, int channelCount);

// The first clash (lowest serial number) of the plan, or nullopt.
std::optional<SerialClash> FindSerialClash(const RecordStore& store, const SerialPlan& plan);

// "serial number 100 (0x00000064) of channel 1 was already given to an OK part of N32G457VEL7 at
// 0x0000FFF0: channel 1, 2026-12-10T17:40:02+00:00, chip UID 0102..."
std::string SerialClashText(const SerialPlan& plan, const SerialClash& clash);

// "Continue": each listed channel's start value becomes the number after the highest the store
// holds for the chip, address and channel (start + step, or + 1 with a step of 0); a channel the
// store holds none for keeps its start value. Changes the form's start values (what the next
// command assembles). Returns one line per channel changed. Nothing when serial numbers are off.
std::vector<std::string> ContinueSerialNumbers(Station& station, const RecordStore& store,
                                               const std::vector<int>& channels, int stationNumber);

// The connected channels of a station (1..4).
std::vector<int> ConnectedChannels(const Station& station);

// The window's check before Download and Auto: true to go on. With a clash (or a store that
// cannot be read) the operator is asked through `frontend` with OK/Cancel.
bool ConfirmSerialNumbers(Station& station, RecordWriter& writer, Frontend& frontend);

}  // namespace korvan
