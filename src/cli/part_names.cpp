#include "cli/part_names.h"

#include <algorithm>
#include <cctype>

#include "core/chips/catalogue.h"
#include "core/chips/chip_setup.h"
#include "core/util/format.h"

namespace korvan::cli {

namespace {

char Upper(char c) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Upper(x) == Upper(y); });
}

}  // namespace

std::size_t EditDistance(std::string_view a, std::string_view b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t above = row[j];
      row[j] = std::min(
          {row[j] + 1, row[j - 1] + 1, diagonal + (Upper(a[i - 1]) == Upper(b[j - 1]) ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::optional<std::string> CataloguePart(std::string_view text) {
  for (int series = 0; series < kSeriesCount; ++series) {
    for (std::string_view part : PartsOfSeries(series)) {
      if (SameIgnoringCase(part, text)) return std::string(part);
    }
  }
  return std::nullopt;
}

std::vector<std::string> NearestParts(std::string_view text, std::size_t count) {
  std::vector<std::pair<std::size_t, std::string>> scored;
  for (int series = 0; series < kSeriesCount; ++series) {
    for (std::string_view part : PartsOfSeries(series)) {
      const std::string name(part);
      if (std::any_of(scored.begin(), scored.end(),
                      [&](const auto& s) { return s.second == name; }))
        continue;
      scored.emplace_back(EditDistance(text, part), name);
    }
  }
  std::stable_sort(scored.begin(), scored.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> nearest;
  for (std::size_t i = 0; i < scored.size() && i < count; ++i) nearest.push_back(scored[i].second);
  return nearest;
}

std::string UnknownPartMessage(std::string_view text) {
  std::string message = "unknown part '" + std::string(text) + "' (not in the catalogue)";
  const auto nearest = NearestParts(text);
  for (std::size_t i = 0; i < nearest.size(); ++i) {
    message += (i == 0 ? "; nearest: " : ", ") + nearest[i];
  }
  return message;
}

std::string TypedPartNote(std::string_view name, std::optional<int> series) {
  ChipRecord chip;
  std::uint8_t linkCtrl = 0x7C, eraseCtrl = 0x80, checkCtrl = 0x00, familyCtrl = 0x00;
  OptionByteImage optionBytes{};
  ChipView view;
  ConfirmAndApplyChip(chip, {linkCtrl, eraseCtrl, checkCtrl, familyCtrl}, optionBytes, view, name,
                      series);
  return Format(
      "typed part '%s' taken as the chip dialog derives it: %d KiB flash at "
      "0x%08X..0x%08X, family 0x%02X",
      std::string(name).c_str(), chip.flashSizeKB, chip.flashStart, chip.flashEnd, chip.familyCode);
}

std::optional<std::string> ResolvePart(const std::string& text, bool typedName,
                                       std::optional<int> series, std::string& note,
                                       std::string& error) {
  if (text.empty()) {
    error = "--chip: an empty part name";
    return std::nullopt;
  }
  if (typedName) {
    note = TypedPartNote(text, series);
    return text;
  }
  if (auto part = CataloguePart(text)) return part;
  error = UnknownPartMessage(text) + "; --typed-name takes it as the chip dialog would";
  return std::nullopt;
}

}  // namespace korvan::cli
