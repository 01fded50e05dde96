#include "core/host/serial_guard.h"

#include <algorithm>
#include <limits>

#include "core/host/record_writer.h"
#include "core/job/job_form.h"
#include "core/job/serial_numbers.h"
#include "core/util/format.h"

namespace korvan {

std::vector<int> ConnectedChannels(const Station& station) {
  std::vector<int> channels;
  for (int n = 1; n <= kChannelCount; ++n) {
    if (station.channel(n).connected) channels.push_back(n);
  }
  return channels;
}

SerialPlan PlanSerialNumbers(const Station& station, const std::vector<int>& channels,
                             int stationNumber, std::uint32_t partsWithoutLimit) {
  SerialPlan plan;
  // The numbers as the next command assembles them from the form, without touching either.
  JobForm form = station.form();
  JobSettings settings = station.settings();
  if (AssembleJobSettings(form, station.chip(), settings)) return plan;  // the command refuses
  if (!settings.snEnable) return plan;
  plan.enabled = true;
  plan.chip = station.chip().chipName;
  plan.address = settings.snAddress;
  const std::uint32_t parts =
      settings.countEnable == kEnabled ? settings.countLimit : partsWithoutLimit;
  const std::uint64_t span =
      static_cast<std::uint64_t>(settings.snGain) * (parts > 0 ? parts - 1 : 0);
  for (int n : channels) {
    if (n < 1 || n > kChannelCount) continue;
    SerialUse use;
    use.channel = (stationNumber - 1) * kChannelCount + n;
    use.first = settings.snStart[static_cast<std::size_t>(n - 1)];
    const std::uint64_t last = use.first + span;
    use.last = last > std::numeric_limits<std::uint32_t>::max()
                   ? std::numeric_limits<std::uint32_t>::max()
                   : static_cast<std::uint32_t>(last);
    plan.uses.push_back(use);
  }
  return plan;
}

std::optional<SerialOverlap> FindSerialOverlap(const std::vector<SerialPlan>& plans) {
  // Channels of the same chip and address, ordered by their first number: an overlap shows
  // between neighbours.
  struct Entry {
    const SerialPlan* plan;
    SerialUse use;
  };
  std::vector<Entry> entries;
  for (const SerialPlan& plan : plans) {
    if (!plan.enabled) continue;
    for (const SerialUse& use : plan.uses) entries.push_back({&plan, use});
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    if (a.plan->chip != b.plan->chip) return a.plan->chip < b.plan->chip;
    if (a.plan->address != b.plan->address) return a.plan->address < b.plan->address;
    if (a.use.first != b.use.first) return a.use.first < b.use.first;
    return a.use.channel < b.use.channel;
  });
  std::optional<SerialOverlap> found;
  for (std::size_t i = 1; i < entries.size(); ++i) {
    const Entry& a = entries[i - 1];
    const Entry& b = entries[i];
    if (a.plan->chip != b.plan->chip || a.plan->address != b.plan->address) continue;
    if (b.use.first > a.use.last) continue;
    if (!found || b.use.first < found->second.first) found = SerialOverlap{a.use, b.use};
  }
  return found;
}

std::string SerialOverlapText(const SerialOverlap& overlap) {
  const SerialUse& a = overlap.first;
  const SerialUse& b = overlap.second;
  return Format(
      "channels %d and %d would both number parts from %u (0x%08X): channel %d from 0x%08X to "
      "0x%08X, channel %d from 0x%08X to 0x%08X",
      a.channel, b.channel, b.first, b.first, a.channel, a.first, a.last, b.channel, b.first,
      b.last);
}

std::uint32_t DefaultSerialStart(int channel, int channelCount) {
  if (channelCount < 1 || channel < 1) return 0;
  const std::uint64_t share = (std::uint64_t{1} << 32) / static_cast<std::uint64_t>(channelCount);
  return static_cast<std::uint32_t>(share * static_cast<std::uint64_t>(channel - 1));
}

std::optional<SerialClash> FindSerialClash(const RecordStore& store, const SerialPlan& plan) {
  if (!plan.enabled) return std::nullopt;
  std::optional<SerialClash> first;
  for (const SerialUse& use : plan.uses) {
    auto earlier = store.FirstOkSerialInRange(plan.chip, plan.address, use.first, use.last);
    if (!earlier) continue;
    const std::uint32_t serial = earlier->record.serialNumber.value_or(0);
    if (!first || serial < first->earlier.record.serialNumber.value_or(0)) {
      first = SerialClash{use, std::move(*earlier)};
    }
  }
  return first;
}

std::string SerialClashText(const SerialPlan& plan, const SerialClash& clash) {
  const ProductionRecord& r = clash.earlier.record;
  const std::uint32_t serial = r.serialNumber.value_or(0);
  return Format(
      "serial number %u (0x%08X) of channel %d was already given to an OK part of %s at "
      "0x%08X: channel %d, %s, chip UID %s",
      serial, serial, clash.use.channel, plan.chip.c_str(), plan.address, r.channel, r.time.c_str(),
      r.chipUid ? r.chipUid->c_str() : "(not read)");
}

std::vector<std::string> ContinueSerialNumbers(Station& station, const RecordStore& store,
                                               const std::vector<int>& channels,
                                               int stationNumber) {
  std::vector<std::string> lines;
  const SerialPlan plan = PlanSerialNumbers(station, channels, stationNumber);
  if (!plan.enabled) return lines;
  JobForm form = station.form();
  JobSettings settings = station.settings();
  AssembleJobSettings(form, station.chip(), settings);
  const std::uint32_t step = settings.snGain != 0 ? settings.snGain : 1;
  for (const SerialUse& use : plan.uses) {
    const auto highest = store.HighestOkSerial(plan.chip, plan.address, use.channel);
    if (!highest) continue;
    const std::uint32_t next = *highest + step;  // 32-bit, wrapping as the programmers do
    const int local = (use.channel - 1) % kChannelCount;
    station.form().SNEdit(local).text = SerialNumberText(next, station.form().ChkBoxSNDP.checked);
    lines.push_back(
        Format("channel %d continues at serial number %u after %u", use.channel, next, *highest));
  }
  return lines;
}

bool ConfirmSerialNumbers(Station& station, RecordWriter& writer, Frontend& frontend) {
  const SerialPlan plan =
      PlanSerialNumbers(station, ConnectedChannels(station), writer.stationNumber());
  if (!plan.enabled || plan.uses.empty()) return true;
  RecordKeeper& keeper = writer.keeper();
  if (auto error = keeper.Open()) {
    return frontend.Ask(MessageKind::Warning,
                        "The record store cannot be read, so the serial numbers cannot be "
                        "checked against earlier parts:\n" +
                            *error + "\n\nGo on anyway?",
                        Buttons::OkCancel) == Answer::Ok;
  }
  const auto clash = FindSerialClash(*keeper.store(), plan);
  if (!clash) return true;
  return frontend.Ask(MessageKind::Warning,
                      "Serial numbers already used: " + SerialClashText(plan, *clash) +
                          ".\n\nProgram the parts with these numbers anyway?",
                      Buttons::OkCancel) == Answer::Ok;
}

}  // namespace korvan
