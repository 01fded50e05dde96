// The main window's controls that applying a part changes. The job form embeds this struct; the
// window renders it like the rest of the form (member names are the controls' names).
#pragma once

#include <string>

namespace korvan {

struct ChipView {
  // "SWDIO复用": hidden and unticked for every part except family 0x80 (N32WB03x), which shows
  // it again; its tick becomes linkCtrl bit 2 when the job settings are assembled.
  struct {
    bool visible = false;
    bool checked = false;
  } ChkBoxDlySkp;

  // " 接口电平 " (interface level): item 0 "3.3V", item 1 "5.0V". The window starts on 1;
  // applying a part chooses 0 and enables the group.
  struct {
    int itemIndex = 1;
    bool enabled = true;
  } RadioGpVolt;

  // The flash-size label, "%d KB." after a part is applied.
  struct {
    std::string caption;
  } lbFlashSize;
};

}  // namespace korvan
