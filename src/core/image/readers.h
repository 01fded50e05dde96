// Object-file readers: Intel HEX, Motorola S-record, ELF and raw binary, into the image buffer.
//
// A record's data go to the first window that holds the record's first address (flash, EEP,
// OTP, option byte); all of the record's bytes follow that address. No store ever leaves its
// array, and no record is read past the end of its line: a line shorter than its count needs
// stores nothing and gives code 4.
//
// Threading: the station's thread only (the readers fill the station's image buffer and may
// ask the operator through its dialogs).
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "core/image/image_buffer.h"
#include "core/util/operator_dialogs.h"

namespace korvan {

// Result codes of one record, shown as "Line %d Data Error : %d.".
enum RecordCode : int {
  kRecordOk = 0,               // stored, or ignored
  kRecordBadStart = 1,         // the line does not start with ':' or 'S'
  kRecordBadS19Type = 2,       // S4, S6 or a type character that is no digit
  kRecordBadAddressField = 3,  // HEX type 02/04 whose address field is not 0000
  kRecordBadChecksum = 4,      // checksum wrong, or the line is shorter than its record
  kRecordBadHexType = 5,       // HEX record type other than 00..05
  kRecordOutsideWindows = 16,  // data near the image but outside every window
};

// The arrays and windows one read may store into. `destination` index 0 is target address
// `base`; the flash window's bytes go there. The EEP and OTP windows go to the image's OTP data
// image, the option-byte window to `optionBytes` (the program-option-bytes flag is then set).
struct ReadTarget {
  std::span<std::uint8_t> destination;
  std::uint32_t base = 0;
  ImageBuffer* image = nullptr;
  std::span<std::uint8_t> optionBytes;
};

// Running values of one text-file read.
struct ReadCursor {
  std::uint32_t fileChecksum = 0;
  std::uint32_t highest = 0;
  std::uint32_t lowest = 0xFFFFFFFF;
  std::uint32_t segmentOffset = 0;  // HEX type 02, already times 16
  std::uint32_t linearOffset = 0;   // HEX type 04, already shifted by 16
};

// One Intel HEX record (`line` without its line end) -> RecordCode.
int ParseHexLine(std::string_view line, const ReadTarget& target, ReadCursor& cursor);
// One Motorola S-record -> RecordCode.
int ParseS19Line(std::string_view line, const ReadTarget& target, ReadCursor& cursor);
// Bytes of a binary object file at target address `address`, placed as an Intel HEX data
// record with the same address and bytes would be (extent, window, file checksum, code 16 for
// data near the image but outside every window, far data ignored) -> RecordCode.
int PlaceDataRecord(std::uint32_t address, std::span<const std::uint8_t> data,
                    const ReadTarget& target, ReadCursor& cursor);

enum class LoadStatus {
  Done,       // read to its end (or to a HEX end record)
  Aborted,    // the operator answered Abort to a line error
  Cancelled,  // the load-offset question was declined: nothing changed
  IoError,    // the file could not be opened or read: nothing changed
  NotRead,    // the extension names no format the station reads
};

struct LoadResult {
  LoadStatus status = LoadStatus::Done;
  int lineErrors = 0;  // lines that raised "Line %d Data Error : %d."
  // The first of them: its line (an ELF file's segment) and the record's result code.
  std::uint32_t firstErrorLine = 0;
  int firstErrorCode = 0;
  std::string message;  // the file layer's error for IoError
  // The extent of this file's own data, whatever the image held before (lowest > highest when
  // it placed none).
  std::uint32_t lowest = 0xFFFFFFFF;
  std::uint32_t highest = 0;
};

// Out-values of a whole-file read. lowest/highest are written only once a line has been parsed,
// so a file that ends (or stops) before its first record leaves the caller's values alone.
struct ReadExtent {
  std::uint32_t fileChecksum = 0;
  std::uint32_t highest = 0;
  std::uint32_t lowest = 0xFFFFFFFF;
};

// No record is longer than about 520 characters, and what follows a record's checksum is not
// read: a line longer than this is cut here, and a file reader never holds more of it in memory.
inline constexpr std::size_t kMaxObjectLineLength = 65536;
// Text files are read in chunks of this size, so that memory stays bounded for any file; a chunk
// this small stays in the processor's cache while its lines are parsed.
inline constexpr std::size_t kObjectFileChunk = 1 << 16;

// Whole text files already in memory. Lines end in CR, LF or CR LF; lines shorter than 3
// characters are skipped; each failing record asks "Line %d Data Error : %d." (Error, OK/Abort): OK
// goes on with the next line, Abort stops. HEX reading ends at ":00000001FF" or ":00FFFF0101".
LoadResult LoadHexText(std::string_view text, const ReadTarget& target, OperatorDialogs& frontend,
                       ReadExtent& extent);
LoadResult LoadS19Text(std::string_view text, const ReadTarget& target, OperatorDialogs& frontend,
                       ReadExtent& extent);
// The same from a file, read in chunks; IoError (and nothing stored) when it cannot be opened
// or read at all, IoError after the lines read so far when reading fails half-way.
LoadResult LoadHexFile(const std::string& path, const ReadTarget& target, OperatorDialogs& frontend,
                       ReadExtent& extent);
LoadResult LoadS19File(const std::string& path, const ReadTarget& target, OperatorDialogs& frontend,
                       ReadExtent& extent);

// Raw binary: at most the first 1 MiB of the file, byte j to destination[j] (bytes beyond the
// destination are dropped). `highestIndex` := file size (capped) - 1. The Sum form also sets
// `fileChecksum` to the sum of the bytes stored.
LoadResult LoadBinFile(const std::string& path, std::span<std::uint8_t> destination,
                       std::int64_t destinationOffset, std::uint32_t& highestIndex);
LoadResult LoadBinFileSum(const std::string& path, std::span<std::uint8_t> destination,
                          std::int64_t destinationOffset, std::uint32_t& highestIndex,
                          std::uint32_t& fileChecksum);

namespace detail {
// A text file read with a chosen chunk size (tests cut line ends across chunks with it).
LoadResult LoadTextFileInChunks(const std::string& path, bool hex, const ReadTarget& target,
                                OperatorDialogs& frontend, ReadExtent& extent, std::size_t chunk);
}  // namespace detail

inline constexpr std::uint32_t kBinFileLimit = 0x100000;  // 1 MiB

// Reads a whole file into `out`, at most `limit` bytes; false with `error` set on failure.
bool ReadWholeFile(const std::string& path, std::string& out, std::string& error,
                   std::uint64_t limit = UINT64_MAX);

enum class ObjectFileKind { IntelHex, SRecord, Binary, Elf, Unknown };

// The format the station reads a file as, by its extension (case ignored): ".HEX" Intel HEX;
// ".S1" followed by a digit S-record; ".BIN" raw binary; ".ELF", ".AXF" and ".OUT" the linker's
// ELF output; anything else is not read.
ObjectFileKind ObjectFileKindOf(std::string_view path);

enum class LoadMode {
  NewImage,  // "Load Object File": flash and OTP data images erased to 0xFF first
  Overlay,   // "Load More Data": the file lies over what is there
};

inline constexpr const char* kOutsideChipWarning = "文件数据超出芯片范围，请确认！";

// Loads an object file into the flash image (base = flash start) the way the station's file
// commands do: a binary file first asks the load offset (declining, or a text that is no
// number, changes nothing); the file is read whole before anything is erased, so a file that
// cannot be read changes nothing either, nor does an ELF file whose headers are broken (IoError
// with the reason). Sets the data-loaded flag, the extent and the file
// checksum, and warns "文件数据超出芯片范围，请确认！" when the extent leaves the flash window.
// Addresses never wrap: a binary placed near the top of the address space ends at 0xFFFFFFFF.
// A text file is read line by line (bounded memory); when reading fails half-way, the image
// and option bytes are put back as they were and the result is IoError. `accepted` is called
// once the file has been opened (and an ELF file's headers accepted), just before reading
// starts: never for a file that is refused or declined.
LoadResult LoadObjectFile(const std::string& path, ImageBuffer& image,
                          std::span<std::uint8_t> optionBytes, OperatorDialogs& frontend,
                          LoadMode mode, ObjectFileKind kind,
                          const std::function<void()>& accepted = {});
inline LoadResult LoadObjectFile(const std::string& path, ImageBuffer& image,
                                 std::span<std::uint8_t> optionBytes, OperatorDialogs& frontend,
                                 LoadMode mode) {
  return LoadObjectFile(path, image, optionBytes, frontend, mode, ObjectFileKindOf(path));
}

}  // namespace korvan
