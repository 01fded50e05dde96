// Machine-readable and quiet forms of the run's output.
//
// JSON Lines: every event is one JSON object on a line of its own, with "event" naming it:
//   info        {"event":"info","line":"> 14:03:22 芯片1 ：编程操作成功!"}
//   search {"event":"search","channels":[{"channel":1,"port":…,"identity":…,"connected":true}]}
//   gauge       {"event":"gauge","channel":1,"progress":18,"maximum":64,"colour":"blue",
//                "enabled":true}
//   step        {"event":"step","step":"auto","ok":false,"note":"","channels":[{"channel":2,
//                "port":…,"ok":false,"result":"failed","status":35,"command":7,
//                "auto_cycle":true,"message":…,"serial_number":null,"note":""}]}
//   stand_alone {"event":"stand_alone","channel":3,"code":6,"verdict":"OK"}
//   problem     {"event":"problem","text":"port /dev/ttyUSB3: does not exist"}
//               (a refused input, an unusable port, no programmer, a record not written, a stop
//               signal; a channel whose record was not written has "result":"not_recorded")
//   summary     {"event":"summary","exit_status":1,"ok":false,"steps":[{"step":…,"ok":…}],
//                "failed_channels":[2]}
// The summary is always the last line.
#pragma once

#include <iosfwd>
#include <memory>

#include "cli/run_output.h"

namespace korvan::cli {

std::unique_ptr<RunOutput> MakeJsonOutput(std::ostream& out);

// Passes everything on to `inner` but the panel lines and gauge changes.
std::unique_ptr<RunOutput> MakeQuietOutput(std::unique_ptr<RunOutput> inner);

}  // namespace korvan::cli
