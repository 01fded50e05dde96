// The chip state of a station after a part was chosen and applied with the option-byte
// defaults: what the option-byte editor tests open their dialogs on.
#pragma once

#include <cstdint>

#include "core/chips/chip_setup.h"
#include "support/fake_frontend.h"

namespace korvan::testing {

struct ChosenChip {
  explicit ChosenChip(const char* part) {
    ConfirmAndApplyChip(chip, {linkCtrl, eraseCtrl, checkCtrl, familyCtrl}, image, view, part);
  }
  ChipRecord chip;
  std::uint8_t linkCtrl = 0x7C, eraseCtrl = 0x80, checkCtrl = 0, familyCtrl = 0;
  OptionByteImage image{};
  ChipView view;
  FakeFrontend frontend;
};

}  // namespace korvan::testing
