// The job fingerprint: a SHA-256 digest of everything that decides what a part receives from a
// job, so that a record can say which job programmed a part and a line can run released jobs
// only. Two jobs with the same fingerprint put the same bytes and settings into a part, whatever
// files they were loaded from; any change of what a part receives gives another fingerprint.
//
// Canonical form (version 1). The digest is taken over the bytes
//   "KJF1"
// followed by each covered field in the order below, written as its name in ASCII, one 0x00
// byte, its length as an unsigned 32-bit little-endian count, then its bytes. Numbers inside
// a field are little-endian at the width given.
//   part.name          the part's name as the download carries it: its GBK bytes, at most 16
//                      ("?" when there is none)
//   part.identity      chip group, family code, part index (1 byte each)
//   part.geometry      flash start (32), flash size KiB (16), block count (16), block size (16),
//                      low 16 bits of the EEP start (16), OTP bytes (16), option-byte length (8)
//   flash              the main-flash bytes the download sends: from the flash start, one 4 KiB
//                      block per 4 KiB of the part's flash (at least one), 0xFF past the image
//   otp                the 528 OTP bytes the download sends for a part with OTP data; empty for
//                      a part without
//   option_bytes       the 128-byte option-byte image the download carries
//   option_bytes.programmed  1 when the option bytes are written after programming, else 0
//   read_protection    the level the option-byte image sets: 0, 1 or 2
//   settings.control   targetCtrl (interface level, option bytes, family bits), linkCtrl (SWD
//                      clock, SWDIO sharing, serial-number byte order), powerCtrl (power output,
//                      reset pin, run), eraseCtrl, checkCtrl, familyCtrl (1 byte each)
//   settings.detection chip detection (8), insert settle (16), remove settle (16)
//   settings.power     power-up time (8), power-down time (8), run time (16)
//   settings.count     count limit on (8), count limit (32)
//   settings.serial_numbers  serial numbers on (8), bytes per number (8), step (16), address
//                      (32), big-endian (8)
// Not covered: the serial-number start values (each part gets its own), the loaded file's name
// and time, the checksum words derived from the bytes above, the random filler of requests.
//
// The settings are those the job form gives: the form is read into a copy, as a command that
// talks to a programmer reads it, so the fingerprint of a job is what its next Download sends.
//
// Threading: any thread; reads the job only.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/job/job.h"

namespace korvan {

// One covered field as `korvan-cli job show` lists it: its canonical name and its value in
// words.
struct FingerprintItem {
  std::string name;
  std::string shown;
};

struct JobFingerprint {
  std::string hex;  // 64 lower-case hex digits
  std::vector<FingerprintItem> covered;
};

// The fingerprint of `job`. nullopt and *error when the job cannot be sent: no part chosen, no
// data loaded, or a number text of the form that holds no number.
std::optional<JobFingerprint> FingerprintJob(const Job& job, std::string* error = nullptr);

// The first 16 hex digits, as the panel, the run's summary and the tables show a fingerprint.
std::string ShortFingerprint(std::string_view hex);

// True when `text` is a whole fingerprint: 64 hex digits (either case).
bool IsFingerprint(std::string_view text);

}  // namespace korvan
