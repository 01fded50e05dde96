#include "core/image/job_check.h"

#include "core/util/format.h"

namespace korvan {

LoadedExtent ExtentOfLoad(const LoadResult& load, ObjectFileKind kind, std::uint64_t fileSize) {
  LoadedExtent extent;
  extent.fileSize = fileSize;
  if (kind == ObjectFileKind::Binary) {
    extent.empty = fileSize == 0;
    extent.lowest = load.lowest;
    extent.highest = extent.lowest + (fileSize == 0 ? 0 : fileSize - 1);
    return extent;
  }
  extent.empty = load.lowest > load.highest;
  extent.lowest = load.lowest;
  extent.highest = load.highest;
  return extent;
}

std::optional<JobCheckProblem> CheckLoadedFile(std::string_view file, ObjectFileKind kind,
                                               const LoadedExtent& extent,
                                               const ImageWindows& windows, std::string_view part) {
  const std::string name(file);
  const std::string chip(part.empty() ? "the part" : part);
  const std::uint64_t flashBytes =
      static_cast<std::uint64_t>(windows.flashEnd) - windows.flashStart + 1;
  const std::string window =
      Format("%s flash 0x%08X..0x%08X, %u KiB", chip.c_str(), windows.flashStart, windows.flashEnd,
             static_cast<unsigned>(flashBytes / 1024));
  if (extent.empty) {
    return JobCheckProblem{JobCheckFault::Empty, Format("%s holds no data: nothing to program (%s)",
                                                        name.c_str(), window.c_str())};
  }
  const std::string span =
      Format("0x%08llX..0x%08llX", static_cast<unsigned long long>(extent.lowest),
             static_cast<unsigned long long>(extent.highest));
  if (kind == ObjectFileKind::Binary && extent.fileSize > flashBytes) {
    return JobCheckProblem{
        JobCheckFault::LargerThanFlash,
        Format("%s is %llu bytes, larger than the flash (%s)", name.c_str(),
               static_cast<unsigned long long>(extent.fileSize), window.c_str())};
  }
  if (kind == ObjectFileKind::Binary && extent.fileSize > kBinFileLimit) {
    return JobCheckProblem{
        JobCheckFault::BinaryCut,
        Format("%s is %llu bytes; only its first 1 MiB would be read (%s)", name.c_str(),
               static_cast<unsigned long long>(extent.fileSize), window.c_str())};
  }
  if (extent.highest < windows.flashStart || extent.lowest > windows.flashEnd) {
    return JobCheckProblem{JobCheckFault::NothingInFlash,
                           Format("%s: data at %s, not one byte inside the flash (%s)",
                                  name.c_str(), span.c_str(), window.c_str())};
  }
  if (extent.lowest < windows.flashStart || extent.highest > windows.flashEnd) {
    return JobCheckProblem{JobCheckFault::OutsideFlash,
                           Format("%s: data at %s, partly outside the flash (%s)", name.c_str(),
                                  span.c_str(), window.c_str())};
  }
  return std::nullopt;
}

}  // namespace korvan
