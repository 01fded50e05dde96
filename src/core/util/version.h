// The station's version, as the About dialog and --version show it.
#pragma once

namespace korvan {

#ifndef KORVAN_VERSION_TEXT
#define KORVAN_VERSION_TEXT "2.9"
#endif

// "V2.9"
inline constexpr const char* kStationVersion = "V" KORVAN_VERSION_TEXT;

}  // namespace korvan
