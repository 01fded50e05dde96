// The linker's ELF output (.elf, .axf, .out) as an object file: each loadable segment's file
// bytes at its physical (load) address, which is where the bytes sit in the part's flash (a
// segment that runs from RAM is copied there by the start-up code). The zero-filled tail of a
// segment (memory size beyond file size) and every section outside a loadable segment carry
// nothing to program and are skipped. 32- and 64-bit files of either byte order are read
// through libelf; the segment bytes are then placed by the Intel HEX data-record rules.
//
// Threading: the station's thread only, like the other readers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/image/readers.h"

namespace korvan {

// One loadable segment with file bytes.
struct ElfSegment {
  std::uint32_t index = 0;    // its program-header index, as readelf numbers it
  std::uint32_t address = 0;  // physical (load) address
  std::uint64_t offset = 0;   // where its bytes start in the file
  std::uint32_t size = 0;     // file size (bytes to place)
};

// Reads the program headers of the ELF file `file` into `segments` (in header order).
// Returns the reason when the file is not one the station can load: not ELF, a class or byte
// order other than 32/64-bit little/big-endian, broken headers, a segment whose bytes lie
// beyond the end of the file or whose addresses leave the 32-bit address space, or no
// loadable segment with file bytes at all.
std::optional<std::string> ReadElfSegments(std::string_view file,
                                           std::vector<ElfSegment>& segments);

// Places the segments' bytes (taken from `file`) in 16-byte pieces that do not cross a 16-byte
// boundary, as a HEX file made from the same ELF file would carry them. A segment with data
// near the image but outside every window asks "Segment %u Data Error : %d." once (Error,
// OK/Abort); Abort stops.
LoadResult LoadElfSegments(std::string_view file, const std::vector<ElfSegment>& segments,
                           const ReadTarget& target, OperatorDialogs& frontend, ReadExtent& extent);

// Both steps over a file already in memory; IoError with the reason for a file the station
// cannot load (nothing stored then).
LoadResult LoadElfBytes(std::string_view file, const ReadTarget& target, OperatorDialogs& frontend,
                        ReadExtent& extent);

}  // namespace korvan
