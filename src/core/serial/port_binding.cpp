#include "core/serial/port_binding.h"

#include <algorithm>
#include <filesystem>
#include <set>

#include "core/util/format.h"

namespace korvan {

namespace {

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (true) {
    at = line.find_first_not_of(" \t\r", at);
    if (at == std::string_view::npos) break;
    const std::size_t end = std::min(line.find_first_of(" \t\r", at), line.size());
    fields.push_back(line.substr(at, end - at));
    at = end;
  }
  return fields;
}

}  // namespace

std::optional<std::vector<ChannelBinding>> ParseBindings(std::string_view text, int channelCount,
                                                         std::string* error) {
  std::vector<ChannelBinding> bindings;
  std::set<int> channels;
  std::set<std::string> adapters;
  auto fail = [&](int line, const std::string& why) {
    if (error) *error = Format("line %d: %s", line, why.c_str());
    return std::nullopt;
  };
  int lineNumber = 0;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = std::min(text.find('\n'), text.size());
    std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    line = line.substr(0, std::min(line.find('#'), line.size()));
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.empty()) continue;
    if (fields.size() != 2) return fail(lineNumber, "expected CHANNEL ADAPTER");
    const std::string_view number = fields[0];
    int channel = 0;
    const bool digits =
        !number.empty() && number.size() <= 4 &&
        std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (digits) {
      for (char c : number) channel = channel * 10 + (c - '0');
    }
    if (!digits || channel < 1 || channel > channelCount) {
      return fail(lineNumber, Format("channel %s is not a number from 1 to %d",
                                     std::string(number).c_str(), channelCount));
    }
    if (!channels.insert(channel).second) {
      return fail(lineNumber, Format("channel %d is bound twice", channel));
    }
    const std::string adapter(fields[1]);
    if (!adapters.insert(adapter).second) {
      return fail(lineNumber, Format("adapter %s is bound twice", adapter.c_str()));
    }
    bindings.push_back({channel, adapter, lineNumber});
  }
  return bindings;
}

bool BindingMatches(const SerialPortInfo& port, std::string_view adapter) {
  if (adapter.empty()) return false;
  if (adapter == port.serialNumber || adapter == port.path || adapter == port.byId ||
      adapter == port.byPath) {
    return true;
  }
  // The by-path link's own name, without its folder.
  return !port.byPath.empty() && std::filesystem::path(port.byPath).filename() == adapter;
}

BoundPorts BindPorts(const std::vector<ChannelBinding>& bindings,
                     const std::vector<SerialPortInfo>& found) {
  BoundPorts bound;
  std::vector<bool> taken(found.size(), false);
  std::vector<ChannelBinding> byChannel = bindings;
  std::sort(byChannel.begin(), byChannel.end(),
            [](const ChannelBinding& a, const ChannelBinding& b) { return a.channel < b.channel; });
  for (const ChannelBinding& binding : byChannel) {
    if (binding.channel < 1) continue;
    const auto slot = static_cast<std::size_t>(binding.channel - 1);
    if (bound.ports.size() <= slot) bound.ports.resize(slot + 1);
    bool matched = false;
    for (std::size_t i = 0; i < found.size() && !matched; ++i) {
      if (taken[i] || !BindingMatches(found[i], binding.adapter)) continue;
      taken[i] = true;
      bound.ports[slot] = found[i].path;
      matched = true;
    }
    if (!matched) bound.missing.push_back(binding);
  }
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (!taken[i]) bound.extra.push_back(found[i]);
  }
  return bound;
}

std::string DescribeAdapter(const SerialPortInfo& port) {
  if (port.serialNumber.empty()) return port.path;
  return port.serialNumber + " (" + port.path + ")";
}

}  // namespace korvan
