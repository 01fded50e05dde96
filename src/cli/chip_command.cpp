// korvan-cli chip PART [--series INDEX]: confirms a part as the chip dialog would, applies it
// with the option-byte defaults and prints the chip record, the control bytes the part sets,
// the option-byte checksum and the two option-byte dump lines. A name the catalogue does not
// list is shown as the dialog takes a typed name, with a note on stderr.
// korvan-cli chip --list [--series INDEX] [--json]: the catalogue, one part per line.
#include <iostream>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/command.h"
#include "cli/part_names.h"
#include "core/chips/chip_setup.h"
#include "core/util/format.h"

namespace korvan::cli {

namespace {

class ChipCommand : public Command {
 public:
  CLI::App* Setup(CLI::App& app) override {
    CLI::App* sub = app.add_subcommand(
        "chip",
        "Show the chip record of a part: as confirmed in the chip dialog and applied with the "
        "option-byte defaults.");
    sub->add_option("PART", part_, "Part number, listed or typed (e.g. N32G452CBL7)");
    sub->add_flag("--list", list_,
                  "List the catalogue (of --series only, when given): series index, series "
                  "name, position in its list, part");
    sub->add_flag("--json", json_, "With --list: one JSON object per part and line");
    sub->add_option("--series", series_,
                    "Series selected in the dialog, 0..8 (default: the series listing PART, "
                    "else 0 as a typed name)")
        ->check(CLI::Range(0, kSeriesCount - 1));
    sub->footer(
        "Exit status: 0 shown (a typed name too, with a note on stderr), 2 usage error, 3 the "
        "output could not be written.");
    return sub;
  }

  int Run() override {
    if (list_) {
      if (!part_.empty()) {
        std::cerr << "chip: --list takes no PART\n";
        return kExitUsage;
      }
      return List();
    }
    if (json_) {
      std::cerr << "chip: --json goes with --list\n";
      return kExitUsage;
    }
    if (part_.empty()) {
      std::cerr << "chip: PART is required (or --list)\n";
      return kExitUsage;
    }
    if (!PositionInSeries(series_.value_or(FindPart(part_) ? FindPart(part_)->series : 0), part_)) {
      std::cerr << "chip: "
                << (CataloguePart(part_) && !FindPart(part_)
                        ? "'" + part_ + "' is not spelt as the catalogue spells it ('" +
                              *CataloguePart(part_) + "')"
                        : UnknownPartMessage(part_))
                << "; shown as the chip dialog takes a typed name\n";
    }
    ChipRecord chip;
    // The control bytes as the window holds them before any part is chosen.
    std::uint8_t linkCtrl = 0x7C, eraseCtrl = 0x80, checkCtrl = 0x00, familyCtrl = 0x00;
    OptionByteImage optionBytes{};
    ChipView view;
    ConfirmAndApplyChip(chip, {linkCtrl, eraseCtrl, checkCtrl, familyCtrl}, optionBytes, view,
                        part_, series_);
    const OptionChecksum sum = OptionSum(optionBytes);
    const auto dump = DumpOptionBytes(optionBytes, chip.optionByteLength);

    std::cout << "chipName=" << chip.chipName << '\n'
              << Format("familyCode=0x%02X\n", chip.familyCode)
              << Format("partIndex=%d\n", chip.partIndex)
              << Format("flashSizeKB=%d\n", chip.flashSizeKB)
              << Format("flashStart=0x%08X\n", chip.flashStart)
              << Format("flashEnd=0x%08X\n", chip.flashEnd)
              << Format("eepStart=0x%08X\n", chip.eepStart)
              << Format("eepEnd=0x%08X\n", chip.eepEnd)
              << Format("optionByteLength=%d\n", chip.optionByteLength)
              << Format("editorLayout=0x%02X\n", chip.editorLayout)
              << "editor=" << OptionByteEditorName(OptionByteEditorFor(chip)) << '\n'
              << Format("checkCtrl=0x%02X\n", checkCtrl)
              << Format("familyCtrl=0x%02X\n", familyCtrl)
              << Format("isM0Family=%d\n", chip.isM0Family)
              << Format("isG43xOrL4Family=%d\n", chip.isG43xOrL4Family)
              << Format("isN32G020=%d\n", chip.isN32G020)
              << Format("isN32G430G401=%d\n", chip.isN32G430G401)
              << Format("optionSum=0x%04X\n", sum.optionSum)
              << Format("optionSumInv=0x%04X\n", sum.optionSumInv) << dump[0] << '\n'
              << dump[1] << '\n';
    std::cout.flush();
    return std::cout ? kExitOk : kExitIo;
  }

 private:
  int List() {
    const std::span<const std::string_view> names = SeriesNames();
    for (int series = 0; series < kSeriesCount; ++series) {
      if (series_ && *series_ != series) continue;
      const auto parts = PartsOfSeries(series);
      for (std::size_t position = 0; position < parts.size(); ++position) {
        const std::string seriesName(names[static_cast<std::size_t>(series)]);
        const std::string part(parts[position]);
        if (json_) {
          nlohmann::ordered_json j = {{"series", series},
                                      {"series_name", seriesName},
                                      {"position", position},
                                      {"part", part}};
          std::cout << j.dump() << '\n';
        } else {
          std::cout << series << '\t' << seriesName << '\t' << position << '\t' << part << '\n';
        }
      }
    }
    std::cout.flush();
    return std::cout ? kExitOk : kExitIo;
  }

  std::string part_;
  std::optional<int> series_;
  bool list_ = false;
  bool json_ = false;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::ChipCommand;
KORVAN_REGISTER_COMMAND(ChipCommand, "chip")
