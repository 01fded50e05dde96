// korvan-cli chip PART [--series INDEX]: confirms a part as the chip dialog would, applies it
// with the option-byte defaults and prints the chip record, the control bytes the part sets,
// the option-byte checksum and the two option-byte dump lines.
#include <iostream>
#include <optional>
#include <string>

#include "cli/command.h"
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
    sub->add_option("PART", part_, "Part number, listed or typed (e.g. N32G452CBL7)")->required();
    sub->add_option("--series", series_,
                    "Series selected in the dialog, 0..8 (default: the series listing PART, "
                    "else 0 as a typed name)")
        ->check(CLI::Range(0, kSeriesCount - 1));
    sub->footer("Exit status: 0 shown, 2 usage error, 3 the output could not be written.");
    return sub;
  }

  int Run() override {
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
  std::string part_;
  std::optional<int> series_;
};

}  // namespace

}  // namespace korvan::cli

using korvan::cli::ChipCommand;
KORVAN_REGISTER_COMMAND(ChipCommand)
