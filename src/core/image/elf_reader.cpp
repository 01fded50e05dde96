#include "core/image/elf_reader.h"

#include <gelf.h>
#include <libelf.h>

#include <algorithm>
#include <memory>
#include <mutex>
#include <span>

#include "core/util/format.h"

namespace korvan {

namespace {

struct ElfCloser {
  void operator()(Elf* elf) const { elf_end(elf); }
};

bool LibelfReady() {
  static std::once_flag once;
  static bool ready = false;
  std::call_once(once, [] { ready = elf_version(EV_CURRENT) != EV_NONE; });
  return ready;
}

std::string LibelfError() {
  const char* text = elf_errmsg(-1);
  return text ? text : "unknown libelf error";
}

}  // namespace

std::optional<std::string> ReadElfSegments(std::string_view file,
                                           std::vector<ElfSegment>& segments) {
  segments.clear();
  if (!LibelfReady()) return "libelf cannot be initialised";
  if (file.size() < EI_NIDENT || file.substr(0, SELFMAG) != std::string_view(ELFMAG, SELFMAG)) {
    return std::string("not an ELF file");
  }
  const auto elfClass = static_cast<unsigned char>(file[EI_CLASS]);
  if (elfClass != ELFCLASS32 && elfClass != ELFCLASS64) {
    return Format("unknown ELF class %u (only 32- and 64-bit files are read)", elfClass);
  }
  const auto byteOrder = static_cast<unsigned char>(file[EI_DATA]);
  if (byteOrder != ELFDATA2LSB && byteOrder != ELFDATA2MSB) {
    return Format("unknown byte order %u (only little- and big-endian files are read)", byteOrder);
  }
  // libelf may translate headers in place: it gets a copy of its own.
  std::vector<char> copy(file.begin(), file.end());
  std::unique_ptr<Elf, ElfCloser> elf(elf_memory(copy.data(), copy.size()));
  if (!elf || elf_kind(elf.get()) != ELF_K_ELF) return "not an ELF file: " + LibelfError();
  std::size_t count = 0;
  if (elf_getphdrnum(elf.get(), &count) != 0) {
    return "broken program headers: " + LibelfError();
  }
  GElf_Ehdr fileHeader;
  if (gelf_getehdr(elf.get(), &fileHeader) == nullptr) {
    return "broken ELF header: " + LibelfError();
  }
  // Program headers of another size than the class's would be read at the wrong places.
  const std::size_t headerSize = gelf_fsize(elf.get(), ELF_T_PHDR, 1, EV_CURRENT);
  if (count > 0 && fileHeader.e_phentsize != headerSize) {
    return Format("program headers of %u bytes where this ELF class has %zu",
                  static_cast<unsigned>(fileHeader.e_phentsize), headerSize);
  }
  // libelf shortens a header table that runs past the end of the file; such a file is broken.
  const std::size_t declared = fileHeader.e_phnum == PN_XNUM ? count : fileHeader.e_phnum;
  if (declared != count || fileHeader.e_phoff > file.size() ||
      count * static_cast<std::uint64_t>(fileHeader.e_phentsize) >
          file.size() - fileHeader.e_phoff) {
    return Format("the %zu program headers lie beyond the end of the file", declared);
  }
  for (std::size_t i = 0; i < count; ++i) {
    GElf_Phdr header;
    if (gelf_getphdr(elf.get(), static_cast<int>(i), &header) == nullptr) {
      return Format("broken program header %zu: %s", i, LibelfError().c_str());
    }
    if (header.p_type != PT_LOAD || header.p_filesz == 0) continue;
    if (header.p_offset > file.size() || header.p_filesz > file.size() - header.p_offset) {
      return Format(
          "segment %zu (%llu bytes at file offset 0x%llx) lies beyond the end of the "
          "file",
          i, static_cast<unsigned long long>(header.p_filesz),
          static_cast<unsigned long long>(header.p_offset));
    }
    if (header.p_paddr > 0xFFFFFFFFull || header.p_filesz > 0x100000000ull - header.p_paddr) {
      return Format(
          "segment %zu (load address 0x%llx, %llu bytes) leaves the 32-bit address "
          "space",
          i, static_cast<unsigned long long>(header.p_paddr),
          static_cast<unsigned long long>(header.p_filesz));
    }
    segments.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(header.p_paddr),
                        header.p_offset, static_cast<std::uint32_t>(header.p_filesz)});
  }
  if (segments.empty()) return std::string("no loadable segment with data (PT_LOAD)");
  return std::nullopt;
}

LoadResult LoadElfSegments(std::string_view file, const std::vector<ElfSegment>& segments,
                           const ReadTarget& target, OperatorDialogs& frontend,
                           ReadExtent& extent) {
  LoadResult result;
  ReadCursor cursor;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(file.data());
  for (const ElfSegment& segment : segments) {
    int code = kRecordOk;
    std::uint64_t done = 0;
    while (done < segment.size) {
      const std::uint64_t address = segment.address + done;
      const std::uint64_t piece = std::min<std::uint64_t>(16 - address % 16, segment.size - done);
      const int pieceCode =
          PlaceDataRecord(static_cast<std::uint32_t>(address),
                          std::span(bytes + segment.offset + done, piece), target, cursor);
      if (code == kRecordOk) code = pieceCode;
      done += piece;
    }
    if (code != kRecordOk) {
      if (result.lineErrors++ == 0) {
        result.firstErrorLine = segment.index;
        result.firstErrorCode = code;
      }
      const Answer answer = frontend.Ask(MessageKind::Error,
                                         Format("Segment %u Data Error : %d.", segment.index, code),
                                         Buttons::OkAbort);
      if (answer == Answer::Abort) {
        result.status = LoadStatus::Aborted;
        break;
      }
    }
  }
  extent.fileChecksum = cursor.fileChecksum;
  result.lowest = cursor.lowest;
  result.highest = cursor.highest;
  if (!segments.empty()) {
    extent.lowest = cursor.lowest;
    extent.highest = cursor.highest;
  }
  return result;
}

LoadResult LoadElfBytes(std::string_view file, const ReadTarget& target, OperatorDialogs& frontend,
                        ReadExtent& extent) {
  std::vector<ElfSegment> segments;
  if (auto refused = ReadElfSegments(file, segments)) {
    LoadResult result;
    result.status = LoadStatus::IoError;
    result.message = *refused;
    return result;
  }
  return LoadElfSegments(file, segments, target, frontend, extent);
}

}  // namespace korvan
