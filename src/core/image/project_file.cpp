#include "core/image/project_file.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>

#include "core/image/binary_helpers.h"
#include "core/image/readers.h"
#include "core/util/atomic_file.h"
#include "core/util/format.h"
#include "core/util/gbk.h"

namespace korvan {

namespace {

struct ModelRow {
  std::uint8_t code;
  const char* name;
};

// Model codes of the programmer family. Three names carry two codes each.
constexpr ModelRow kModels[] = {
    {1, "Korvan100A"},   {2, "Korvan100B"},    {3, "Korvan100C"},  {4, "Korvan100D"},
    {5, "Korvan100E"},   {6, "Korvan100F"},    {7, "Korvan100G"},  {8, "Korvan100G"},
    {9, "Korvan110A"},   {10, "Korvan110B"},   {11, "Korvan120A"}, {12, "Korvan120B"},
    {13, "Korvan120B"},  {14, "Korvan150A"},   {15, "Korvan150B"}, {16, "Korvan150C"},
    {17, "Korvan160A"},  {18, "Korvan160B"},   {19, "Korvan180A"}, {20, "Korvan180A"},
    {21, "Korvan180B"},  {22, "Korvan190A"},   {23, "Korvan190B"}, {24, "Korvan200MMN"},
    {25, "Korvan200GD"}, {26, "Korvan200NAT"},
};
constexpr const char* kDefaultModelName = "Korvan200xx";

constexpr std::size_t kTextWidths[3] = {16, 20, 48};

class Writer {
 public:
  explicit Writer(std::size_t reserve) { bytes_.reserve(reserve); }
  void Byte(std::uint8_t b) {
    bytes_.push_back(b);
    sum_ += b;
  }
  void Bytes(std::span<const std::uint8_t> bs) {
    for (auto b : bs) Byte(b);
  }
  void U16(std::uint16_t v) {
    Byte(static_cast<std::uint8_t>(v));
    Byte(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void Zeros(std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) Byte(0);
  }
  void MaskedText(const std::string& utf8, std::size_t width, std::uint8_t mask,
                  const std::string& stored = {}) {
    const std::string gbk = GbkForStorage(utf8, stored, width);
    for (char c : gbk) Byte(static_cast<std::uint8_t>(c) ^ mask);
    Zeros(width - gbk.size());
  }
  void Marker(const char* name, std::uint8_t mask) {
    for (int i = 0; i < 3; ++i) Byte(static_cast<std::uint8_t>(name[i]) ^ mask);
  }
  // Data scrambled with the pad and a key byte that is renewed after every 1024 bytes (also
  // after the last byte when the length is a multiple of 1024).
  void Scrambled(std::span<const std::uint8_t> data, std::span<const std::uint8_t> pad,
                 const RandomByteSource& random) {
    std::uint8_t key = random();
    Byte(key);
    std::size_t j = 0;
    for (auto b : data) {
      Byte(b ^ pad[j] ^ key);
      if (++j == 1024) {
        key = random();
        Byte(key);
        j = 0;
      }
    }
  }
  std::uint32_t Sum() const { return sum_; }
  std::vector<std::uint8_t>& Out() { return bytes_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint32_t sum_ = 0;
};

// Reads the file front to back, summing every byte it takes; a read past the end marks the
// file short and yields zeros.
class Reader {
 public:
  explicit Reader(std::span<const std::uint8_t> file) : file_(file) {}
  std::uint8_t Byte() {
    if (pos_ >= file_.size()) {
      short_ = true;
      return 0;
    }
    const std::uint8_t b = file_[pos_++];
    sum_ += b;
    return b;
  }
  std::uint16_t U16() {
    const std::uint8_t lo = Byte();
    return static_cast<std::uint16_t>(Byte() << 8 | lo);
  }
  std::uint32_t U32() {
    const std::uint16_t lo = U16();
    return static_cast<std::uint32_t>(U16()) << 16 | lo;
  }
  std::uint32_t U32Unsummed() {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) {
      if (pos_ >= file_.size()) {
        short_ = true;
        return v;
      }
      v |= static_cast<std::uint32_t>(file_[pos_++]) << (8 * i);
    }
    return v;
  }
  void Skip(std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) Byte();
  }
  std::string MaskedText(std::size_t width, std::uint8_t mask) {
    const std::size_t available = std::min(width, file_.size() - std::min(pos_, file_.size()));
    std::string gbk = ReadMaskedText(file_.subspan(std::min(pos_, file_.size()), available), sum_,
                                     available, mask);
    pos_ += available;
    if (available < width) short_ = true;
    return gbk;
  }
  bool Marker(const char* name, std::uint8_t mask) {
    bool same = true;
    for (int i = 0; i < 3; ++i) same &= (Byte() ^ mask) == static_cast<std::uint8_t>(name[i]);
    return same;
  }
  void Scrambled(std::span<std::uint8_t> out, std::span<const std::uint8_t> pad) {
    std::uint8_t key = Byte();
    std::size_t j = 0;
    for (auto& b : out) {
      b = Byte() ^ pad[j] ^ key;
      if (++j == 1024) {
        key = Byte();
        j = 0;
      }
    }
  }
  std::uint32_t Sum() const { return sum_; }
  bool Short() const { return short_; }

 private:
  std::span<const std::uint8_t> file_;
  std::size_t pos_ = 0;
  std::uint32_t sum_ = 0;
  bool short_ = false;
};

}  // namespace

std::string ModelName(std::uint8_t modelCode) {
  for (const ModelRow& row : kModels) {
    if (row.code == modelCode) return row.name;
  }
  return kDefaultModelName;
}

RandomByteSource DefaultRandomBytes() {
  auto engine = std::make_shared<std::mt19937>(std::random_device{}());
  return [engine] { return static_cast<std::uint8_t>((*engine)() % 255); };
}

std::vector<std::uint8_t> BuildProjectFile(const ProjectContent& content, RandomByteSource random,
                                           std::string& error) {
  if (content.flash.size() > kProjectFlashLimit) {
    error = Format("A project holds at most 1 MiB of flash; this job has %zu bytes.",
                   content.flash.size());
    return {};
  }
  if (content.eep.size() > 0xFFFF) {
    error = "A project holds at most 65535 bytes of OTP data.";
    return {};
  }
  std::array<std::uint8_t, kProjectPadSize + 1> pad;
  for (auto& b : pad) b = random();

  Writer w(kProjectSectionsOffset + content.flash.size() * 2 + 4096);
  for (int i = 0; i < 6; ++i) w.Byte(static_cast<std::uint8_t>(kProjectSignature[i]));
  w.Byte(content.formatVersion);
  w.Byte(content.modelCode);
  w.MaskedText(content.modelName, kTextWidths[0], kProjectTextMask);
  w.MaskedText(content.chipName, kTextWidths[1], kProjectTextMask, content.chipNameGbk);
  w.MaskedText(content.objectFileName, kTextWidths[2], kProjectTextMask, content.objectFileNameGbk);
  w.Zeros(64);
  w.U32(content.countLimit);
  w.Zeros(84);
  for (auto sn : content.snStart234) w.U32(sn);
  w.Byte(content.snDisplayFlags);
  w.Byte(0);
  w.U32(static_cast<std::uint32_t>(content.flash.size()));
  w.U16(content.otpSize);
  w.Zeros(16);
  w.U32(content.flashStart);
  w.U32(content.eepStart);
  w.U32(content.optionStart);
  w.Zeros(12);
  w.Byte(0);
  w.Byte(content.modeByte);
  for (std::uint16_t word : {content.flashAcc, content.flashCrc, content.otpAcc, content.otpCrc,
                             content.optionSum, content.optionSumInv}) {
    w.U32(word);
  }
  w.Zeros(24);
  w.Bytes(std::span(pad).first(kProjectPadSize));

  w.Marker("CFG", kCfgMarkerMask);
  const std::uint8_t cfgKey = random();
  w.Byte(cfgKey);
  for (std::size_t i = 0; i < kProjectCfgSize; ++i) w.Byte(content.settings[i] ^ pad[i] ^ cfgKey);
  w.Marker("MFM", kMfmMarkerMask);
  w.Scrambled(content.flash, pad, random);
  w.Marker("EEP", kEepMarkerMask);
  w.U16(static_cast<std::uint16_t>(content.eep.size()));
  if (!content.eep.empty()) w.Scrambled(content.eep, pad, random);

  const std::uint32_t sum = w.Sum();
  std::vector<std::uint8_t>& out = w.Out();
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(sum >> (8 * i)));
  for (std::size_t i = 0; i < kProjectTrailerSize; ++i) out.push_back(random());
  return std::move(out);
}

int ParseProjectFile(std::span<const std::uint8_t> file, ProjectContent& out) {
  Reader r(file);
  char signature[6];
  for (char& c : signature) c = static_cast<char>(r.Byte());
  if (r.Short() || std::memcmp(signature, kProjectSignature, 6) != 0) return kProjectBadSignature;

  ProjectContent p;
  p.formatVersion = r.Byte();
  p.modelCode = r.Byte();
  p.modelName = GbkToUtf8(r.MaskedText(kTextWidths[0], kProjectTextMask));
  p.chipNameGbk = r.MaskedText(kTextWidths[1], kProjectTextMask);
  p.chipName = GbkToUtf8(p.chipNameGbk);
  p.objectFileNameGbk = r.MaskedText(kTextWidths[2], kProjectTextMask);
  p.objectFileName = GbkToUtf8(p.objectFileNameGbk);
  r.Skip(64);
  p.countLimit = r.U32();
  r.Skip(84);
  for (auto& sn : p.snStart234) sn = r.U32();
  p.snDisplayFlags = r.Byte();
  r.Byte();
  p.flashSizeBytes = r.U32();
  p.otpSize = r.U16();
  r.Skip(16);
  p.flashStart = r.U32();
  p.eepStart = r.U32();
  p.optionStart = r.U32();
  r.Skip(12);
  r.Byte();
  p.modeByte = r.Byte();
  for (std::uint16_t* word :
       {&p.flashAcc, &p.flashCrc, &p.otpAcc, &p.otpCrc, &p.optionSum, &p.optionSumInv}) {
    *word = static_cast<std::uint16_t>(r.U32());
  }
  r.Skip(24);
  std::array<std::uint8_t, kProjectPadSize + 1> pad{};
  for (std::size_t i = 0; i < kProjectPadSize; ++i) pad[i] = r.Byte();
  // A file shorter than its header cannot hold the sections its sizes promise.
  if (r.Short()) return kProjectCorrupted;

  int markerFailure = kProjectOk;
  if (r.Marker("CFG", kCfgMarkerMask)) {
    const std::uint8_t key = r.Byte();
    for (std::size_t i = 0; i < kProjectCfgSize; ++i) p.settings[i] = r.Byte() ^ pad[i] ^ key;
  } else {
    markerFailure = kProjectNoCfg;
  }
  if (r.Marker("MFM", kMfmMarkerMask)) {
    // Sizes beyond the file are caught as a short file before anything is allocated for them.
    if (p.flashSizeBytes > file.size()) return kProjectCorrupted;
    p.flash.resize(p.flashSizeBytes);
    r.Scrambled(p.flash, pad);
  } else {
    markerFailure = kProjectNoMfm;
  }
  if (r.Marker("EEP", kEepMarkerMask)) {
    const std::uint16_t length = r.U16();
    if (length > 0) {
      p.eep.resize(length);
      r.Scrambled(p.eep, pad);
    }
  } else {
    markerFailure = kProjectNoEep;
  }
  const std::uint32_t computed = r.Sum();
  const std::uint32_t stored = r.U32Unsummed();
  if (r.Short()) return kProjectCorrupted;
  if (markerFailure != kProjectOk) return markerFailure;
  if (stored != computed) return kProjectCorrupted;
  out = std::move(p);
  return kProjectOk;
}

bool WriteProjectFile(const std::string& path, const ProjectContent& content,
                      OperatorDialogs& frontend, std::string& error, RandomByteSource random,
                      Durability durability) {
  const auto bytes = BuildProjectFile(content, std::move(random), error);
  if (bytes.empty()) return false;
  if (!WriteFileAtomically(
          path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error,
          durability)) {
    return false;
  }
  frontend.Inform(kProjectCreatedPrefix + path);
  return true;
}

int ReadProjectFile(const std::string& path, OperatorDialogs& frontend, ProjectContent& out,
                    std::string& error) {
  std::string contents;
  if (!ReadWholeFile(path, contents, error)) return kProjectIoError;
  const int result = ParseProjectFile(
      std::span(reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size()), out);
  switch (result) {
    case kProjectOk:
      frontend.Ask(MessageKind::Information, kProjectOpenedMessage, Buttons::Ok);
      break;
    case kProjectBadSignature:
      frontend.Ask(MessageKind::Error, kProjectBadSignatureMessage, Buttons::Ok);
      break;
    default:
      frontend.Ask(MessageKind::Error, kProjectCorruptedMessage, Buttons::Ok);
      break;
  }
  return result;
}

}  // namespace korvan
