#include "core/protocol/names.h"

namespace korvan::protocol {

std::string_view CommandName(std::uint8_t command, std::uint16_t parameter) {
  if (command == kCmdChip) {
    for (const ChipCommandRow& row : kChipCommandRows) {
      if (row.parameter == parameter) return row.name;
    }
  }
  for (const CommandRow& row : kCommandRows) {
    if (row.command == command) return row.name;
  }
  return {};
}

const StatusRow* FindStatus(std::uint8_t status) {
  for (const StatusRow& row : kStatusRows) {
    if (row.status == status) return &row;
  }
  return nullptr;
}

std::string_view StatusName(std::uint8_t status) {
  const StatusRow* row = FindStatus(status);
  return row ? row->name : std::string_view();
}

}  // namespace korvan::protocol
