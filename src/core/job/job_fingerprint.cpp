#include "core/job/job_fingerprint.h"

#include <dlfcn.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>

#include "core/chips/option_bytes.h"
#include "core/job/job_form.h"
#include "core/protocol/requests.h"
#include "core/util/format.h"
#include "core/util/gbk.h"

namespace korvan {

namespace {

namespace p = protocol;

// OpenSSL's digest calls, from libcrypto loaded when the first fingerprint is taken: most
// commands take none (convert, records, --version), and loading it would cost each of them a
// few milliseconds of start-up. All null when it cannot be loaded; the fingerprint then
// cannot be taken, and says so.
struct Crypto {
  decltype(&EVP_MD_CTX_new) ctxNew = nullptr;
  decltype(&EVP_MD_CTX_free) ctxFree = nullptr;
  decltype(&EVP_sha256) sha256 = nullptr;
  decltype(&EVP_DigestInit_ex) init = nullptr;
  decltype(&EVP_DigestUpdate) update = nullptr;
  decltype(&EVP_DigestFinal_ex) final = nullptr;

  bool loaded() const { return ctxNew && ctxFree && sha256 && init && update && final; }
};

template <typename F>
void Find(void* library, const char* name, F& to) {
  to = reinterpret_cast<F>(::dlsym(library, name));
}

const Crypto& LoadCrypto() {
  static const Crypto crypto = [] {
    Crypto c;
    // The library of OpenSSL 3, the version the build was made against; kept loaded.
    void* library = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL);
    if (!library) return c;
    Find(library, "EVP_MD_CTX_new", c.ctxNew);
    Find(library, "EVP_MD_CTX_free", c.ctxFree);
    Find(library, "EVP_sha256", c.sha256);
    Find(library, "EVP_DigestInit_ex", c.init);
    Find(library, "EVP_DigestUpdate", c.update);
    Find(library, "EVP_DigestFinal_ex", c.final);
    return c.loaded() ? c : Crypto{};
  }();
  return crypto;
}

// The digest being taken, with the fields it covered and their values in words.
class Canonical {
 public:
  Canonical() : crypto_(LoadCrypto()), ctx_(nullptr, Free{crypto_.ctxFree}) {
    if (crypto_.loaded()) ctx_.reset(crypto_.ctxNew());
    ok_ = ctx_ && crypto_.init(ctx_.get(), crypto_.sha256(), nullptr) == 1;
    Update(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>("KJF1"), 4));
  }

  // A field whose bytes are written out here (small fields).
  class Field {
   public:
    void U8(std::uint32_t v) { bytes_.push_back(static_cast<std::uint8_t>(v)); }
    void U16(std::uint32_t v) {
      U8(v);
      U8(v >> 8);
    }
    void U32(std::uint32_t v) {
      U16(v);
      U16(v >> 16);
    }
    void Bytes(std::span<const std::uint8_t> b) { bytes_.insert(bytes_.end(), b.begin(), b.end()); }
    std::span<const std::uint8_t> bytes() const { return bytes_; }

   private:
    std::vector<std::uint8_t> bytes_;
  };

  void Add(const char* name, const Field& field, std::string shown) {
    Add(name, {field.bytes()}, std::move(shown));
  }

  // A field made of consecutive pieces (the flash and the 0xFF that pads it).
  void Add(const char* name, std::initializer_list<std::span<const std::uint8_t>> pieces,
           std::string shown) {
    const std::string_view n(name);
    Update({reinterpret_cast<const std::uint8_t*>(n.data()), n.size() + 1});  // with its NUL
    std::size_t length = 0;
    for (const auto& piece : pieces) length += piece.size();
    Field size;
    size.U32(static_cast<std::uint32_t>(length));
    Update(size.bytes());
    for (const auto& piece : pieces) Update(piece);
    covered_.push_back({name, std::move(shown)});
  }

  std::optional<JobFingerprint> Finish(std::string* error) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (!crypto_.loaded()) {
      if (error)
        *error = "the SHA-256 digest could not be taken: libcrypto.so.3 (OpenSSL 3) is missing";
      return std::nullopt;
    }
    if (!ok_ || crypto_.final(ctx_.get(), digest.data(), &length) != 1 || length != 32) {
      if (error) *error = "the SHA-256 digest could not be taken";
      return std::nullopt;
    }
    JobFingerprint fp;
    for (unsigned int i = 0; i < length; ++i) fp.hex += Format("%02x", digest[i]);
    fp.covered = std::move(covered_);
    return fp;
  }

 private:
  void Update(std::span<const std::uint8_t> bytes) {
    if (ok_ && !bytes.empty()) ok_ = crypto_.update(ctx_.get(), bytes.data(), bytes.size()) == 1;
  }

  const Crypto& crypto_;
  struct Free {
    decltype(&EVP_MD_CTX_free) free;
    void operator()(EVP_MD_CTX* ctx) const {
      if (free) free(ctx);
    }
  };
  std::unique_ptr<EVP_MD_CTX, Free> ctx_;
  bool ok_ = false;
  std::vector<FingerprintItem> covered_;
};

const char* YesNo(bool on) {
  return on ? "yes" : "no";
}

}  // namespace

std::optional<JobFingerprint> FingerprintJob(const Job& job, std::string* error) {
  const auto fail = [error](const char* text) {
    if (error) *error = text;
    return std::nullopt;
  };
  if (!job.chip.chipConfirmed) return fail("no part is chosen");
  if (!job.Image().dataLoaded) return fail("no data are loaded");
  // The settings as the next command reads them from the form.
  JobForm form = job.form;
  JobSettings s = job.settings;
  if (auto problem = AssembleJobSettings(form, job.chip, s)) {
    if (error) *error = *problem;
    return std::nullopt;
  }
  const ChipRecord& chip = job.chip;
  Canonical c;

  Canonical::Field name;
  const std::string gbk =
      chip.chipName.empty() ? std::string("?") : GbkForStorage(chip.chipName, chip.chipNameGbk, 16);
  name.Bytes({reinterpret_cast<const std::uint8_t*>(gbk.data()), gbk.size()});
  c.Add("part.name", name, GbkToUtf8(gbk));

  Canonical::Field identity;
  identity.U8(chip.chipGroup);
  identity.U8(chip.familyCode);
  identity.U8(chip.partIndex);
  c.Add(
      "part.identity", identity,
      Format("group %u, family 0x%02X, index %u", chip.chipGroup, chip.familyCode, chip.partIndex));

  Canonical::Field geometry;
  geometry.U32(chip.flashStart);
  geometry.U16(chip.flashSizeKB);
  geometry.U16(chip.blockCount);
  geometry.U16(chip.blockSize);
  geometry.U16(chip.eepStart & 0xFFFF);
  geometry.U16(chip.otpSize);
  geometry.U8(chip.optionByteLength);
  c.Add("part.geometry", geometry,
        Format("flash at 0x%08X, %u KiB (%u blocks of %u bytes), EEP start 0x%04X, "
               "%u OTP bytes, %u option bytes",
               chip.flashStart, chip.flashSizeKB, chip.blockCount, chip.blockSize,
               chip.eepStart & 0xFFFF, chip.otpSize, chip.optionByteLength));

  // The download sends its image in 4 KiB blocks from block index 0 while the index (in KiB)
  // stays below the flash size, the first block always; bytes past the image go as 0xFF.
  const std::size_t blocks = std::max<std::size_t>(
      1, (chip.flashSizeKB + p::kImageBlockStepKiB - 1) / p::kImageBlockStepKiB);
  const std::size_t extent = blocks * p::kImageBlockBytes;
  const std::size_t have = std::min<std::size_t>(extent, FlashPicture::size());
  const std::span<const std::uint8_t> flash = job.Image().flash.First(have);
  const std::vector<std::uint8_t> padding(extent - have, 0xFF);
  c.Add("flash", {flash, padding},
        Format("%zu bytes from 0x%08X, as the download sends them", extent, chip.flashStart));

  if (chip.otpPresent) {
    c.Add("otp", {std::span<const std::uint8_t>(job.Image().otp).first(p::kOtpRequestBytes)},
          Format("%zu bytes, as the download sends them", p::kOtpRequestBytes));
  } else {
    c.Add("otp", Canonical::Field{}, "none (the part has no OTP data)");
  }

  c.Add("option_bytes", {std::span<const std::uint8_t>(job.optionBytes)},
        Format("%zu-byte image, sum 0x%04X", job.optionBytes.size(),
               OptionSum(job.optionBytes).optionSum));

  Canonical::Field programmed;
  const bool programsOptionBytes = (s.targetCtrl & kTargetNoOptionBytes) == 0;
  programmed.U8(programsOptionBytes ? 1 : 0);
  c.Add("option_bytes.programmed", programmed, YesNo(programsOptionBytes));

  Canonical::Field protection;
  const ReadProtection level =
      ReadProtectionOf(job.optionBytes, chip.isN32G430G401 ? kRdp2IndexG430 : kRdp2Index);
  protection.U8(static_cast<std::uint8_t>(level));
  c.Add("read_protection", protection, Format("level %d", static_cast<int>(level)));

  Canonical::Field control;
  for (const std::uint8_t byte :
       {s.targetCtrl, s.linkCtrl, s.powerCtrl, s.eraseCtrl, s.checkCtrl, s.familyCtrl}) {
    control.U8(byte);
  }
  static constexpr const char* kReset[] = {"low", "hi-z", "pulse", "mode 3"};
  c.Add("settings.control", control,
        Format("%s V, %s SWCLK, power %s after programming, reset %s, run after %s, run and "
               "shut %s, erase directly %s, not blank is an error %s "
               "(target 0x%02X, link 0x%02X, power 0x%02X, erase 0x%02X, check 0x%02X, "
               "family 0x%02X)",
               (s.targetCtrl & kTarget5V) ? "5.0" : "3.3",
               (s.linkCtrl & kLinkSlowClock) ? "slow" : "fast",
               (s.powerCtrl & kPowerStaysOn) ? "stays on" : "off",
               kReset[s.powerCtrl & kPowerResetMask], YesNo(s.powerCtrl & kPowerRunAfter),
               YesNo(s.powerCtrl & kPowerRunThenShut), YesNo(s.eraseCtrl & kEraseDirect),
               YesNo(s.checkCtrl & kCheckStopIfNotBlank), s.targetCtrl, s.linkCtrl, s.powerCtrl,
               s.eraseCtrl, s.checkCtrl, s.familyCtrl));

  Canonical::Field detection;
  detection.U8(s.autoDetect);
  detection.U16(s.insertSettle);
  detection.U16(s.removeSettle);
  c.Add("settings.detection", detection,
        s.autoDetect ? Format("on, %u ms after insertion, %u ms after removal",
                              s.insertSettle * 30u, s.removeSettle * 30u)
                     : Format("off (settle times %u and %u ms)", s.insertSettle * 30u,
                              s.removeSettle * 30u));

  Canonical::Field power;
  power.U8(s.powerOnTime);
  power.U8(s.powerOffTime);
  power.U16(s.runTime);
  c.Add("settings.power", power,
        Format("power-up %u ms, power-down %u ms, run time %u ms", s.powerOnTime * 10u,
               s.powerOffTime * 10u, s.runTime * 10u));

  Canonical::Field count;
  count.U8(s.countEnable);
  count.U32(s.countLimit);
  c.Add("settings.count", count,
        s.countEnable ? Format("limited to %u parts", s.countLimit) : std::string("no limit"));

  Canonical::Field serial;
  const bool bigEndian = (s.linkCtrl & kLinkBigEndianSn) != 0;
  serial.U8(s.snEnable);
  serial.U8(s.snSize);
  serial.U16(s.snGain);
  serial.U32(s.snAddress);
  serial.U8(bigEndian ? 1 : 0);
  c.Add("settings.serial_numbers", serial,
        s.snEnable ? Format("on, %u bytes at 0x%08X, step %u, %s", s.snSize, s.snAddress, s.snGain,
                            bigEndian ? "big-endian" : "little-endian")
                   : Format("off (step %u)", s.snGain));

  return c.Finish(error);
}

std::string ShortFingerprint(std::string_view hex) {
  return std::string(hex.substr(0, 16));
}

bool IsFingerprint(std::string_view text) {
  return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char ch) {
           return (ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') || (ch >= 'A' && ch <= 'F');
         });
}

}  // namespace korvan
