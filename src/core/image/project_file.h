// Project files (".kvn"): a whole programming job in one file, interchangeable with existing
// stations. A fixed header, three marked sections (CFG settings, MFM flash image, EEP data) and
// a 32-bit additive checksum; the sections are scrambled with random per-file keys that are
// all stored in the file, so the image cannot be read with a plain viewer.
//
// Header (little-endian):
//   0 "Tobrin"; 6 version 1; 7 model code; 8 model name (16), 24 chip name (20), 44 object file
//   name (48): masked texts in GBK; 92 zero (64); 156 count limit; 160 zero (84); 244..255
//   serial-number 2..4 start values; 256 display flags; 257 zero; 258 flash size in bytes;
//   262 OTP data size; 264 zero (16); 280 flash start; 284 EEP start; 288 option-byte window
//   start; 292 zero (13); 305 mode byte; 306..329 six checksum words (16-bit values in 4 bytes);
//   330 zero (24); 354 key pad (2049 bytes, 0..254).
// Sections from 2403: "CFG" key 1024 bytes | "MFM" key flash bytes (a new key after every 1024)
// | "EEP" length [key, data]; then the checksum of everything before it and 256 random bytes.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/util/atomic_file.h"
#include "core/util/operator_dialogs.h"

namespace korvan {

inline constexpr char kProjectSignature[] = "Tobrin";
inline constexpr std::uint8_t kProjectFormatVersion = 1;
inline constexpr std::uint8_t kKorvan200NatModelCode = 26;
// Masks of the name fields and the three section markers.
inline constexpr std::uint8_t kProjectTextMask = 0xA5;
inline constexpr std::uint8_t kCfgMarkerMask = 0x3C;
inline constexpr std::uint8_t kMfmMarkerMask = 0x5A;
inline constexpr std::uint8_t kEepMarkerMask = 0xC3;
inline constexpr std::size_t kProjectPadSize = 2049;
inline constexpr std::size_t kProjectSectionsOffset = 2403;
inline constexpr std::size_t kProjectCfgSize = 1024;
inline constexpr std::size_t kProjectTrailerSize = 256;
// The flash data are counted in 16-byte blocks with 16 bits: at most 1 MiB.
inline constexpr std::uint32_t kProjectFlashLimit = 0x100000;
inline constexpr std::uint8_t kModeOtp = 0x80;
inline constexpr std::uint8_t kModeCarriedMask = 0x0F;

enum ProjectResult : int {
  kProjectOk = 0,
  kProjectBadSignature = 5,
  kProjectNoCfg = 10,
  kProjectNoMfm = 13,
  kProjectNoEep = 15,
  kProjectCorrupted = 16,
  kProjectIoError = -1,  // the file could not be read; the file layer's message is reported
};

inline constexpr const char* kProjectBadSignatureMessage = "Not Valid Tobrin Project File";
inline constexpr const char* kProjectCorruptedMessage = "Project File Data Has Been Corrupted!";
inline constexpr const char* kProjectOpenedMessage = "Project File Open Success!";
inline constexpr const char* kProjectCreatedPrefix = "Created Project File : ";

// The programmer model name stored with a model code; unknown codes give the default name.
std::string ModelName(std::uint8_t modelCode);

// Everything a project file holds. Texts are UTF-8 here (GBK in the file); the names read from a
// file also keep their bytes as stored, which a save writes back unchanged while the name is.
struct ProjectContent {
  std::uint8_t formatVersion = kProjectFormatVersion;
  std::uint8_t modelCode = kKorvan200NatModelCode;
  std::string modelName;
  std::string chipName;
  std::string objectFileName;     // name only, no folder
  std::string chipNameGbk;        // the chip name's bytes as read (empty: convert chipName)
  std::string objectFileNameGbk;  // the object file name's bytes as read
  std::uint32_t countLimit = 0xFFFFFFFF;
  std::array<std::uint32_t, 3> snStart234{};  // serial-number start values of channels 2..4
  std::uint8_t snDisplayFlags = 0;            // bit 0 decimal display, bit 2 big-endian
  std::uint32_t flashSizeBytes = 0;
  std::uint16_t otpSize = 0;
  std::uint32_t flashStart = 0;
  std::uint32_t eepStart = 0;
  std::uint32_t optionStart = 0;
  std::uint8_t modeByte = 0;  // kModeOtp | the 4-bit value carried from the last project read
  std::uint16_t flashAcc = 0;
  std::uint16_t flashCrc = 0;
  std::uint16_t otpAcc = 0;
  std::uint16_t otpCrc = 0;
  std::uint16_t optionSum = 0;
  std::uint16_t optionSumInv = 0;
  // Channel 1's packet buffer from offset 8: the settings block, then 512 bytes that reading
  // ignores.
  std::array<std::uint8_t, kProjectCfgSize> settings{};
  std::vector<std::uint8_t> flash;  // flashSizeBytes bytes of the flash image from index 0
  std::vector<std::uint8_t> eep;    // the OTP data in OTP mode, else empty

  bool OtpMode() const { return (modeByte & kModeOtp) != 0; }
};

// A source of random bytes 0..254 for the key pad, the keys and the trailer.
using RandomByteSource = std::function<std::uint8_t()>;
RandomByteSource DefaultRandomBytes();

// The file's bytes. Fails (empty, `error` set) when the flash data exceed 1 MiB or the EEP data
// 65535 bytes.
std::vector<std::uint8_t> BuildProjectFile(const ProjectContent& content, RandomByteSource random,
                                           std::string& error);

// Parses a project file into `out`. `out` is written only when the result is kProjectOk, so a
// failed read changes nothing. A file shorter than its layout is kProjectCorrupted.
int ParseProjectFile(std::span<const std::uint8_t> file, ProjectContent& out);

// Writes the file whole or not at all and reports "Created Project File : " + path in an
// information box. False (nothing reported) with `error` set when it cannot be written.
bool WriteProjectFile(const std::string& path, const ProjectContent& content,
                      OperatorDialogs& frontend, std::string& error,
                      RandomByteSource random = DefaultRandomBytes(),
                      Durability durability = Durability::Synced);

// Reads and checks a project file and reports the outcome in a box: "Project File Open
// Success!", "Not Valid Tobrin Project File" or "Project File Data Has Been Corrupted!".
// kProjectIoError (no box; `error` set) when the file cannot be read.
int ReadProjectFile(const std::string& path, OperatorDialogs& frontend, ProjectContent& out,
                    std::string& error);

}  // namespace korvan
