// The checks a job's image passes before any part is programmed with it: what one object file
// put into the image, measured against the part's flash window. The window's file commands
// only warn "文件数据超出芯片范围，请确认！" and leave the decision to the operator; a station
// without an operator (the command line) refuses such a job with the reason these checks give.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/image/image_buffer.h"
#include "core/image/readers.h"

namespace korvan {

// The target addresses one load covered. 64-bit, so that a binary placed near the top of the
// address space shows where it really ends instead of wrapping round to 0.
struct LoadedExtent {
  bool empty = true;           // no data byte at all
  std::uint64_t lowest = 0;    // first target address of its data
  std::uint64_t highest = 0;   // last target address of its data
  std::uint64_t fileSize = 0;  // a binary's length on disk (only its first 1 MiB is read)
};

// The extent of the load just made, from the file's own extent in its result (a text file
// without data records shows as empty, whatever the image held before) and, for a binary, the
// file's length.
LoadedExtent ExtentOfLoad(const LoadResult& load, ObjectFileKind kind, std::uint64_t fileSize);

enum class JobCheckFault {
  Empty,            // the file holds no data
  NothingInFlash,   // not one byte lies in the flash window
  OutsideFlash,     // some data lie outside the flash window
  LargerThanFlash,  // a binary longer than the flash
  BinaryCut,        // a binary longer than the 1 MiB the reader takes
};

struct JobCheckProblem {
  JobCheckFault fault;
  // One line naming the file, its extent and the part's flash window.
  std::string text;
};

// Checks one loaded file against the flash window [windows.flashStart, windows.flashEnd] of
// `part` (its name, for the text). nullopt when the file's data lie wholly inside the window.
std::optional<JobCheckProblem> CheckLoadedFile(std::string_view file, ObjectFileKind kind,
                                               const LoadedExtent& extent,
                                               const ImageWindows& windows, std::string_view part);

}  // namespace korvan
