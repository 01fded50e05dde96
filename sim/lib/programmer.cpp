#include "lib/programmer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>

#include "core/image/firmware_cipher.h"
#include "core/protocol/constants.h"

namespace korvan::sim {

namespace p = korvan::protocol;
using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace {

// 1,000,000 baud with 8 data bits, no parity and 2 stop bits: 11 bit times a byte.
constexpr microseconds kByteTime{11};
// Without realtime, a split frame still leaves this much time between its bytes so that the
// station's reader sees them one by one.
constexpr microseconds kSplitGap{50};

constexpr std::size_t kHeaderSize = 64;
constexpr std::size_t kBlockBytes = 4096;
constexpr std::size_t kSettingsBlockSize = 512;
constexpr std::size_t kJobOtpSize = 528;
constexpr std::size_t kMaxJobImage = 1024 * 1024;  // block indices address the first MiB
constexpr unsigned kMaxFlashKb = 4096;
// Programmer firmware: blocks of 1024 address units (2048 bytes) from address unit 0x2000.
constexpr unsigned kFirmwareStart = 0x2000;
constexpr unsigned kFirmwareBlockUnits = 1024;
constexpr std::size_t kMaxFirmwareIdentity = 40;

std::uint16_t Le16(const std::uint8_t* b) {
  return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}
std::uint32_t Le32(const std::uint8_t* b) {
  return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

// The option bytes of a part that was never configured: read protection off (A5 5A), every
// other value 0xFF with its complement, user byte 2 at 8F 70.
std::array<std::uint8_t, kOptionBytesSize> DefaultOptionBytes() {
  std::array<std::uint8_t, kOptionBytesSize> ob;
  ob.fill(0xFF);
  ob[0] = 0xA5;
  ob[1] = 0x5A;
  for (int k = 1; k <= 8; ++k) ob[2 * k + 1] = 0x00;
  ob[18] = 0x8F;
  ob[19] = 0x70;
  return ob;
}

std::string TextField(const std::uint8_t* b, std::size_t width) {
  std::size_t n = 0;
  while (n < width && b[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(b), n);
}

}  // namespace

Programmer::Programmer(int channel, const Options& options)
    : channel_(channel),
      options_(options),
      reader_(std::make_unique<FrameReader>()),
      garbageSeed_(0x9E3779B97F4A7C15ULL * static_cast<std::uint64_t>(channel)) {
  target_ = FreshPart(128);
  model_ = options.model == "MMN" ? std::string(p::kUpgradeModelName) : std::string(p::kModelName);
  version_ = options.version;
  if (version_.empty() || version_[0] != 'V') version_ = "V" + version_;
}

Programmer::~Programmer() = default;

// ---------------------------------------------------------------------------------------
// Timing and output

void Programmer::OnRead(std::span<const std::uint8_t> block, TimePoint now) {
  TimePoint due = now;
  if (options_.realtime) {
    due = std::max(now, inLineFree_) + kByteTime * static_cast<int>(block.size());
    inLineFree_ = due;
  }
  incoming_.push_back({due, std::vector<std::uint8_t>(block.begin(), block.end())});
  Advance(now);
}

void Programmer::Advance(TimePoint now) {
  for (;;) {
    const bool inputDue = !incoming_.empty() && incoming_.front().due <= now;
    const bool stageDue = stage_ != Stage::Idle && stageDue_ <= now;
    if (!inputDue && !stageDue) return;
    // Whatever fell due first runs first, so reports and replies keep their order.
    if (inputDue && (!stageDue || incoming_.front().due <= stageDue_)) {
      Chunk chunk = std::move(incoming_.front());
      incoming_.pop_front();
      reader_->Read(chunk.bytes,
                    [&](FrameReader::Status status, std::span<const std::uint8_t> packet) {
                      OnFrame(status, packet, chunk.due);
                    });
    } else {
      StepStandalone(stageDue_);
    }
  }
}

std::optional<TimePoint> Programmer::NextDue(bool includeOutput) const {
  std::optional<TimePoint> next;
  auto consider = [&](TimePoint t) {
    if (!next || t < *next) next = t;
  };
  if (!incoming_.empty()) consider(incoming_.front().due);
  if (includeOutput && !outgoing_.empty()) consider(outgoing_.front().due);
  if (stage_ != Stage::Idle) consider(stageDue_);
  return next;
}

std::span<const std::uint8_t> Programmer::WriteNow(TimePoint now) const {
  if (outgoing_.empty() || outgoing_.front().due > now) return {};
  const Chunk& chunk = outgoing_.front();
  return std::span<const std::uint8_t>(chunk.bytes).subspan(chunk.offset);
}

void Programmer::Written(std::size_t n) {
  if (outgoing_.empty() || n == 0) return;
  ++writes_;
  Chunk& chunk = outgoing_.front();
  chunk.offset += n;
  if (chunk.offset >= chunk.bytes.size()) outgoing_.pop_front();
}

bool Programmer::HangupDue() const {
  return hangupPending_ && outgoing_.empty();
}

TimePoint Programmer::Busy(TimePoint at, microseconds processing) {
  const TimePoint start = std::max(at, busyUntil_);
  busyUntil_ = start + (options_.realtime ? processing : microseconds{0});
  return busyUntil_;
}

microseconds Programmer::FlashTime(unsigned blocks) const {
  return std::chrono::duration_cast<microseconds>(milliseconds(options_.flashMs) * blocks);
}

void Programmer::Queue(std::vector<std::uint8_t> bytes, TimePoint ready, bool split) {
  if (!split) {
    TimePoint due = ready;
    if (options_.realtime) {
      due = std::max(ready, outLineFree_) + kByteTime * static_cast<int>(bytes.size());
      outLineFree_ = due;
    }
    outgoing_.push_back({due, std::move(bytes)});
    return;
  }
  const microseconds gap = options_.realtime ? kByteTime : kSplitGap;
  TimePoint due = std::max(ready, outLineFree_);
  for (const std::uint8_t b : bytes) {
    due += gap;
    outgoing_.push_back({due, {b}});
  }
  outLineFree_ = due;
}

void Programmer::SendPacket(std::vector<std::uint8_t> packet, TimePoint ready, bool isReply) {
  if (isReply && options_.replyDelayMs != 0) {
    // A slow programmer: the reply comes later, and the next request waits for it.
    ready += milliseconds(options_.replyDelayMs);
    busyUntil_ = std::max(busyUntil_, ready);
  }
  if (options_.FaultOf(FaultKind::Silent, channel_)) return;
  bool twice = false;
  bool badEscape = false;
  if (isReply) {
    ++replies_;
    if (auto f = options_.FaultOf(FaultKind::Drop, channel_); f && replies_ % f->n == 0) return;
    if (auto f = options_.FaultOf(FaultKind::Crc, channel_); f && replies_ % f->n == 0) {
      packet.back() ^= 0x5A;
    }
    if (auto f = options_.FaultOf(FaultKind::Escape, channel_); f && replies_ == f->n) {
      badEscape = true;
    }
    if (auto f = options_.FaultOf(FaultKind::Duplicate, channel_); f && replies_ == f->n) {
      twice = true;
    }
  }
  std::vector<std::uint8_t> frame(2 * packet.size() + 7);
  frame.resize(p::EncodePacket(packet, frame));
  if (badEscape) {
    // DB followed by a byte that is neither DC nor DD, right after the start delimiter.
    const std::uint8_t bad[] = {p::kFrameEscape, 0x41};
    frame.insert(frame.begin() + 1, std::begin(bad), std::end(bad));
  }
  const bool split = options_.FaultOf(FaultKind::Split, channel_).has_value();
  const auto garbage = options_.FaultOf(FaultKind::Garbage, channel_);
  for (int copy = 0; copy < (twice ? 2 : 1); ++copy) {
    if (garbage) {
      std::vector<std::uint8_t> noise(garbage->n);
      for (auto& b : noise) {
        garbageSeed_ = garbageSeed_ * 6364136223846793005ULL + 1442695040888963407ULL;
        b = static_cast<std::uint8_t>(garbageSeed_ >> 56);
        if (b == p::kFrameEnd) b = 0x3F;  // noise between frames, never a delimiter
      }
      Queue(std::move(noise), ready, split);
    }
    Queue(frame, ready, split);
  }
}

void Programmer::Reply(std::span<const std::uint8_t> request, std::span<const std::uint8_t> body,
                       TimePoint ready) {
  std::vector<std::uint8_t> packet(p::kPacketHeaderSize + body.size() + 2, 0);
  std::copy_n(request.begin(), std::min<std::size_t>(6, request.size()), packet.begin());
  packet[6] = static_cast<std::uint8_t>(body.size() & 0xFF);
  packet[7] = static_cast<std::uint8_t>(body.size() >> 8);
  std::copy(body.begin(), body.end(), packet.begin() + p::kPacketHeaderSize);
  p::AppendPacketCrc(packet, packet.size() - 2);
  SendPacket(std::move(packet), ready, true);
}

void Programmer::ReplyStatus(std::span<const std::uint8_t> request, std::uint8_t status,
                             TimePoint ready) {
  const std::uint8_t body[] = {status};
  Reply(request, body, ready);
}

std::string Programmer::IdentityText() const {
  return model_ + " " + version_;
}

void Programmer::ReplyIdentity(TimePoint ready) {
  const std::string text = IdentityText();
  std::vector<std::uint8_t> packet(p::kIdentityTextOffset + text.size() + 1 + 2, 0);
  std::copy(p::kIdentitySignature.begin(), p::kIdentitySignature.end(), packet.begin());
  packet[3] = 0x01;
  packet[4] = static_cast<std::uint8_t>(channel_);
  std::copy(text.begin(), text.end(), packet.begin() + p::kIdentityTextOffset);
  p::AppendPacketCrc(packet, packet.size() - 2);
  SendPacket(std::move(packet), ready, true);
}

// ---------------------------------------------------------------------------------------
// Requests

void Programmer::OnFrame(FrameReader::Status status, std::span<const std::uint8_t> packet,
                         TimePoint at) {
  // A programmer about to hang up answers nothing more: at memory speed the station would
  // otherwise get whole operations answered in the moment before the line closes.
  if (hangupPending_) return;
  ++requests_;
  // The identity request is a bare three-byte packet without CRC: C0 A3 A5 35 C0.
  constexpr std::uint8_t kIdentityRequest[] = {0xA3, 0xA5, 0x35};
  if (status == FrameReader::Status::Ok && std::ranges::equal(packet, kIdentityRequest)) {
    ReplyIdentity(Busy(at, microseconds{0}));
  } else if (status != FrameReader::Status::Ok || packet.size() < p::kPacketHeaderSize) {
    // A bad escape, a packet longer than a programmer takes, or one too short for a header.
    ReplyStatus({}, p::kStatusBadPacket, Busy(at, microseconds{0}));
  } else {
    HandleRequest(packet, at);
  }
  if (auto f = options_.FaultOf(FaultKind::Hangup, channel_); f && requests_ >= f->n) {
    hangupPending_ = true;
  }
}

void Programmer::HandleRequest(std::span<const std::uint8_t> packet, TimePoint at) {
  const std::size_t n = packet.size();
  const TimePoint now = Busy(at, microseconds{0});
  // Every request ends with the CRC of all bytes before it.
  if (p::PacketCrc(packet.first(n - 2)) != Le16(&packet[n - 2])) {
    ReplyStatus(packet, p::kStatusCrcMismatch, now);
    return;
  }
  // Header, body of the announced length, CRC: nothing more, nothing less.
  if (Le16(&packet[6]) + p::kPacketHeaderSize + 2 != n) {
    ReplyStatus(packet, p::kStatusBadPacket, now);
    return;
  }
  switch (packet[0]) {
    case p::kCmdDownloadSettings:
      return HandleDownloadSettings(packet, at);
    case p::kCmdDownloadImage:
      return HandleDownloadImage(packet, at);
    case p::kCmdRestart:
      return HandleRestart(packet, at);
    case p::kCmdChip:
      return HandleChipCommand(packet, at);
    case p::kCmdProgram:
      return HandleProgram(packet, at);
    case p::kCmdReadBack:
      return HandleReadBack(packet, at);
    case p::kCmdReadOtp:
      return HandleReadOtp(packet, at);
    case p::kCmdWriteOtp:
      return HandleWriteOtp(packet, at);
    case p::kCmdFirmwareBlock:
      return HandleFirmwareBlock(packet, at);
    default:
      ReplyStatus(packet, p::kStatusUnknownCommand, now);
  }
}

void Programmer::HandleDownloadSettings(std::span<const std::uint8_t> packet, TimePoint at) {
  const TimePoint now = Busy(at, microseconds{0});
  const std::size_t length = Le16(&packet[6]);
  if (length != 2 * kSettingsBlockSize && length != 2 * kSettingsBlockSize + kJobOtpSize) {
    ReplyStatus(packet, p::kStatusBadPacket, now);
    return;
  }
  // Undo the scrambling: even body bytes were XORed with m0, odd ones with m1.
  const std::uint8_t m0 = static_cast<std::uint8_t>((packet[1] ^ p::kScrambleK0) | 0x80);
  const std::uint8_t m1 = static_cast<std::uint8_t>((packet[2] ^ p::kScrambleK1) | 0x80);
  std::vector<std::uint8_t> body(packet.begin() + 8, packet.begin() + 8 + length);
  for (std::size_t i = 0; i < body.size(); ++i) body[i] ^= (i % 2 == 0) ? m0 : m1;

  const std::uint8_t* block = body.data();
  if (!std::equal(p::kSettingsBlockMagic.begin(), p::kSettingsBlockMagic.end(), block)) {
    ReplyStatus(packet, p::kStatusCommandFailed, now);
    return;
  }
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < 0x1FE; ++i) sum = static_cast<std::uint16_t>(sum + block[i]);
  const bool crcOk = p::PacketCrc(std::span(block, 0x1FC)) == Le16(block + 0x1FC);
  const bool sumOk = sum == Le16(block + 0x1FE);
  const bool copyOk = std::equal(block, block + kSettingsBlockSize, block + kSettingsBlockSize);
  if (!crcOk || !sumOk || !copyOk) {
    ReplyStatus(packet, p::kStatusChecksumWrong, now);
    return;
  }

  StoredJob job;
  job.present = true;
  std::copy_n(block + 0x004, kHeaderSize, job.header.begin());
  job.snEnable = block[0x044];
  job.snSize = block[0x045];
  job.snGain = Le16(block + 0x046);
  job.snAddress = Le32(block + 0x048);
  job.snStart = Le32(block + 0x04C);
  job.countEnable = block[0x054];
  job.countLimit = Le32(block + 0x056);
  std::copy_n(block + 0x070, kOptionBytesSize, job.optionBytes.begin());
  job.chipName = TextField(block + 0x0F0, 16);
  job.fileName = TextField(block + 0x100, 48);
  if (length > 2 * kSettingsBlockSize) {
    job.otp.assign(body.begin() + 2 * kSettingsBlockSize, body.end());
  }
  // The image grows as its blocks come (0xFF where none came): a job of a large part costs
  // nothing until its data arrive.
  job_ = std::move(job);
  partsOk_ = 0;
  partsNg_ = 0;
  nextSerial_ = job_.snStart;
  ReplyStatus(packet, p::kStatusOk, now);
}

void Programmer::HandleDownloadImage(std::span<const std::uint8_t> packet, TimePoint at) {
  const TimePoint now = Busy(at, microseconds{0});
  const std::size_t offset = Le16(&packet[1]) * std::size_t{1024};
  if (Le16(&packet[6]) != kBlockBytes) {
    ReplyStatus(packet, p::kStatusBadPacket, now);
    return;
  }
  if (offset + kBlockBytes > kMaxJobImage) {
    ReplyStatus(packet, p::kStatusAddressOutOfRange, now);
    return;
  }
  if (job_.image.size() < offset + kBlockBytes) job_.image.resize(offset + kBlockBytes, 0xFF);
  std::copy_n(packet.begin() + 8, kBlockBytes, job_.image.begin() + offset);
  ++job_.imageBlocks;
  ReplyStatus(packet, p::kStatusOk, now);
}

void Programmer::HandleRestart(std::span<const std::uint8_t> packet, TimePoint at) {
  // Restarting takes a while: the answer, and whatever comes next, waits for it.
  busyUntil_ = std::max(busyUntil_, at) + milliseconds(options_.restartDelayMs);
  const TimePoint now = Busy(at, microseconds{0});
  if (!std::equal(p::kRestartPacket.begin(), p::kRestartPacket.end(), packet.begin())) {
    ReplyStatus(packet, p::kStatusBadPacket, now);
    return;
  }
  ReplyStatus(packet, p::kStatusOk, now);
  InstallFirmware();
  if (job_.present) StartStandalone(now);
}

bool Programmer::ApplyGeometry(std::span<const std::uint8_t> header) {
  const unsigned kb = Le16(&header[20]);
  if (kb == 0 || kb > kMaxFlashKb) return false;
  // Bytes 16..19 carry the size in bytes as 0, low 16 bits of kb * 4, 0.
  const std::uint16_t quarter = static_cast<std::uint16_t>(kb * 4);
  if (header[16] != 0 || Le16(&header[17]) != quarter || header[19] != 0) return false;
  ResizeFlash(target_, std::size_t{kb} * 1024);
  return true;
}

void Programmer::ResizeFlash(TargetPart& part, std::size_t size) const {
  const std::size_t old = part.flash.size();
  part.flash.resize(size, 0xFF);
  if (options_.ChipStateOf(channel_) != ChipState::Blank) {
    // A part that left the factory programmed: recognisable data on every byte.
    for (std::size_t i = old; i < size; ++i) {
      part.flash[i] = static_cast<std::uint8_t>((i * 31 + channel_ * 17) & 0x7F);
    }
  }
}

TargetPart Programmer::FreshPart(unsigned flashKb) const {
  TargetPart part;
  part.optionBytes = DefaultOptionBytes();
  part.otp.fill(0xFF);
  ResizeFlash(part, std::size_t{flashKb} * 1024);
  if (options_.ChipStateOf(channel_) == ChipState::Protected) {
    part.optionBytes[0] = 0x00;  // level 1
    part.optionBytes[1] = 0xFF;
  }
  return part;
}

void Programmer::EraseTarget() {
  std::fill(target_.flash.begin(), target_.flash.end(), 0xFF);
  target_.optionBytes = DefaultOptionBytes();
}

void Programmer::HandleChipCommand(std::span<const std::uint8_t> packet, TimePoint at) {
  const TimePoint now = Busy(at, microseconds{0});
  const std::uint16_t sub = Le16(&packet[1]);
  const std::size_t length = Le16(&packet[6]);
  const std::size_t expected =
      sub == p::kSubWriteOptionBytes ? kHeaderSize + kOptionBytesSize : kHeaderSize;
  if (length != expected) {
    ReplyStatus(packet, p::kStatusBadPacket, now);
    return;
  }
  const auto header = packet.subspan(8, kHeaderSize);
  if (!ApplyGeometry(header)) {
    ReplyStatus(packet, p::kStatusFlashSizeMismatch, now);
    return;
  }
  switch (sub) {
    case p::kSubErase:
      EraseTarget();
      ReplyStatus(packet, p::kStatusOk, Busy(now, FlashTime(8)));
      return;
    case p::kSubBlankCheck: {
      if (target_.ReadProtected()) return ReplyStatus(packet, p::kStatusReadProtected, now);
      const bool blank = std::all_of(target_.flash.begin(), target_.flash.end(),
                                     [](std::uint8_t b) { return b == 0xFF; });
      const unsigned blocks = static_cast<unsigned>(target_.flash.size() / kBlockBytes);
      ReplyStatus(packet, blank ? p::kStatusOk : p::kStatusNotBlank,
                  Busy(now, FlashTime(blocks) / 8));
      return;
    }
    case p::kSubReadOptionBytes:
      Reply(packet, target_.optionBytes, now);
      return;
    case p::kSubWriteOptionBytes: {
      const std::uint8_t* image = &packet[8 + kHeaderSize];
      const std::size_t length = std::min<std::size_t>(header[60], kOptionBytesSize);
      // Each value the part uses travels with its complement; a broken pair is refused.
      for (std::size_t i = 0; i + 1 < length; i += 2) {
        if ((image[i] ^ image[i + 1]) != 0xFF) {
          return ReplyStatus(packet, p::kStatusOptionByteWriteError, now);
        }
      }
      std::copy_n(image, kOptionBytesSize, target_.optionBytes.begin());
      ReplyStatus(packet, p::kStatusOk, now);
      return;
    }
    case p::kSubReadChipId: {
      std::array<std::uint8_t, 12> id = {0x4B, 0x56, 0x32,
                                         0x30, 0x30, static_cast<std::uint8_t>(channel_)};
      for (std::size_t i = 6; i < id.size(); ++i) {
        id[i] = static_cast<std::uint8_t>(channel_ * 0x11 + i * 7);
      }
      Reply(packet, id, now);
      return;
    }
    case p::kSubReadAddress:
      HandleReadAddress(packet, now);
      return;
    default:
      ReplyStatus(packet, p::kStatusUnknownCommand, now);
  }
}

void Programmer::HandleReadAddress(std::span<const std::uint8_t> packet, TimePoint now) {
  const std::uint8_t* header = &packet[8];
  const std::uint32_t address = Le32(header + 48);
  const std::size_t size = Le16(header + 52);
  std::uint32_t flashStart = Le32(header + 38);
  if (flashStart == 0) flashStart = kDefaultFlashStart;
  const std::uint64_t end = std::uint64_t{address} + size;
  if (size > kBlockBytes) return ReplyStatus(packet, p::kStatusAddressOutOfRange, now);
  if (address >= flashStart && end <= std::uint64_t{flashStart} + target_.flash.size()) {
    if (target_.ReadProtected()) return ReplyStatus(packet, p::kStatusReadProtected, now);
    Reply(packet, std::span(target_.flash).subspan(address - flashStart, size), now);
    return;
  }
  if (address >= kOptionBytesAddress && end <= kOptionBytesAddress + kOptionBytesSize) {
    Reply(packet, std::span(target_.optionBytes).subspan(address - kOptionBytesAddress, size), now);
    return;
  }
  ReplyStatus(packet, p::kStatusAddressOutOfRange, now);
}

void Programmer::HandleProgram(std::span<const std::uint8_t> packet, TimePoint at) {
  const TimePoint now = Busy(at, microseconds{0});
  if (Le16(&packet[6]) != kHeaderSize + kBlockBytes) {
    return ReplyStatus(packet, p::kStatusBadPacket, now);
  }
  if (!ApplyGeometry(packet.subspan(8, kHeaderSize))) {
    return ReplyStatus(packet, p::kStatusFlashSizeMismatch, now);
  }
  if (target_.ReadProtected()) return ReplyStatus(packet, p::kStatusReadProtected, now);
  const std::size_t index = Le16(&packet[1]) & ~p::kProgramLastBlockFlag;
  const std::size_t offset = index * 1024;
  if (offset >= target_.flash.size()) {
    return ReplyStatus(packet, p::kStatusAddressOutOfRange, now);
  }
  const std::uint8_t* data = &packet[8 + kHeaderSize];
  // The part of the block beyond the end of the flash is not programmed.
  const std::size_t n = std::min(kBlockBytes, target_.flash.size() - offset);
  // Programming only clears bits: a bit that would have to go from 0 to 1 needs an erase.
  for (std::size_t i = 0; i < n; ++i) {
    if ((target_.flash[offset + i] & data[i]) != data[i]) {
      return ReplyStatus(packet, p::kStatusFlashError, Busy(now, FlashTime(1)));
    }
  }
  std::copy_n(data, n, target_.flash.begin() + offset);
  ReplyStatus(packet, p::kStatusOk, Busy(now, FlashTime(1)));
}

void Programmer::HandleReadBack(std::span<const std::uint8_t> packet, TimePoint at) {
  const TimePoint now = Busy(at, microseconds{0});
  if (Le16(&packet[6]) != kHeaderSize) return ReplyStatus(packet, p::kStatusBadPacket, now);
  if (!ApplyGeometry(packet.subspan(8, kHeaderSize))) {
    return ReplyStatus(packet, p::kStatusFlashSizeMismatch, now);
  }
  if (target_.ReadProtected()) return ReplyStatus(packet, p::kStatusReadProtected, now);
  const std::size_t offset = Le16(&packet[1]) * std::size_t{1024};
  if (offset >= target_.flash.size()) {
    return ReplyStatus(packet, p::kStatusAddressOutOfRange, now);
  }
  std::vector<std::uint8_t> data(kBlockBytes, 0xFF);
  const std::size_t n = std::min(kBlockBytes, target_.flash.size() - offset);
  std::copy_n(target_.flash.begin() + offset, n, data.begin());
  Reply(packet, data, Busy(now, FlashTime(1)));
}

void Programmer::HandleReadOtp(std::span<const std::uint8_t> packet, TimePoint at) {
  const TimePoint now = Busy(at, microseconds{0});
  if (Le16(&packet[6]) != kHeaderSize) return ReplyStatus(packet, p::kStatusBadPacket, now);
  if (!ApplyGeometry(packet.subspan(8, kHeaderSize))) {
    return ReplyStatus(packet, p::kStatusFlashSizeMismatch, now);
  }
  if (target_.ReadProtected()) return ReplyStatus(packet, p::kStatusReadProtected, now);
  const std::size_t offset = Le16(&packet[1]) * std::size_t{1024};
  if (offset >= kOtpSize) return ReplyStatus(packet, p::kStatusAddressOutOfRange, now);
  std::vector<std::uint8_t> data(kBlockBytes, 0xFF);
  std::copy(target_.otp.begin() + offset, target_.otp.end(), data.begin());
  Reply(packet, data, Busy(now, FlashTime(1)));
}

void Programmer::HandleWriteOtp(std::span<const std::uint8_t> packet, TimePoint at) {
  const TimePoint now = Busy(at, microseconds{0});
  if (Le16(&packet[6]) != kHeaderSize + kJobOtpSize) {
    return ReplyStatus(packet, p::kStatusBadPacket, now);
  }
  if (!ApplyGeometry(packet.subspan(8, kHeaderSize))) {
    return ReplyStatus(packet, p::kStatusFlashSizeMismatch, now);
  }
  if (target_.ReadProtected()) return ReplyStatus(packet, p::kStatusReadProtected, now);
  const std::uint8_t* data = &packet[8 + kHeaderSize];
  for (std::size_t i = 0; i < kJobOtpSize; ++i) {
    if ((target_.otp[i] & data[i]) != data[i]) {
      return ReplyStatus(packet, p::kStatusOtpWriteError, now);
    }
  }
  std::copy_n(data, kJobOtpSize, target_.otp.begin());
  ReplyStatus(packet, p::kStatusOk, Busy(now, FlashTime(1)));
}

// Firmware upgrades are not emulated: an upgrade block gets a well-formed reply saying the
// command is not known, and the identity stays as it was.
void Programmer::HandleFirmwareBlock(std::span<const std::uint8_t> packet, TimePoint at) {
  const TimePoint now = Busy(at, microseconds{0});
  if (Le16(&packet[6]) != kfw::kTransportBlockBytes) {
    ReplyStatus(packet, p::kStatusBadPacket, now);
    return;
  }
  const unsigned address = Le16(&packet[1]);
  const unsigned index = packet[3];
  const unsigned count = packet[4];
  // Blocks start every 1024 address units from 0x2000; the index must name the same block and
  // lie within the count.
  if (address < kFirmwareStart || (address - kFirmwareStart) % kFirmwareBlockUnits != 0 ||
      (address - kFirmwareStart) / kFirmwareBlockUnits != index || index >= count) {
    ReplyStatus(packet, p::kStatusAddressOutOfRange, now);
    return;
  }
  if (index == 0 || count != upgradeCount_) {
    upgradeCount_ = count;
    upgradeReceived_.assign(count, false);
    upgradeImage_.assign(std::size_t{count} * kfw::kTransportBlockBytes, 0xFF);
  }
  const std::size_t offset = std::size_t{index} * kfw::kTransportBlockBytes;
  const std::span<std::uint8_t> data(upgradeImage_.data() + offset, kfw::kTransportBlockBytes);
  std::copy_n(packet.begin() + 8, kfw::kTransportBlockBytes, data.begin());
  kfw::CipherTransportBlock(data, static_cast<std::uint8_t>(index));
  upgradeReceived_[index] = true;
  ReplyStatus(packet, p::kStatusOk, now);
}

void Programmer::InstallFirmware() {
  const bool complete =
      upgradeCount_ > 0 && std::all_of(upgradeReceived_.begin(), upgradeReceived_.end(),
                                       [](bool received) { return received; });
  if (complete) {
    static constexpr std::string_view kMarker = "Korvan200NAT V";
    const auto found =
        std::search(upgradeImage_.begin(), upgradeImage_.end(), kMarker.begin(), kMarker.end());
    if (found != upgradeImage_.end()) {
      std::string text;
      for (auto it = found; it != upgradeImage_.end() && *it >= 0x20 && *it < 0x7F &&
                            text.size() < kMaxFirmwareIdentity;
           ++it) {
        text += static_cast<char>(*it);
      }
      const std::size_t blank = text.find(' ');
      model_ = text.substr(0, blank);
      version_ = text.substr(blank + 1);
    }
  }
  upgradeCount_ = 0;
  upgradeReceived_.clear();
  upgradeImage_.clear();
}

// ---------------------------------------------------------------------------------------
// Stand-alone work

void Programmer::StartStandalone(TimePoint at) {
  if (options_.standaloneParts == 0) return;
  partsLeft_ = options_.standaloneParts;
  stage_ = Stage::Start;
  stageDue_ = at + (options_.realtime ? milliseconds(200) : milliseconds(1));
}

void Programmer::SendReport(std::uint8_t stage, std::uint8_t result, std::uint16_t value,
                            std::uint16_t maximum, TimePoint at) {
  std::vector<std::uint8_t> report = {0x00,
                                      stage,
                                      result,
                                      static_cast<std::uint8_t>(value & 0xFF),
                                      static_cast<std::uint8_t>(value >> 8),
                                      static_cast<std::uint8_t>(maximum & 0xFF),
                                      static_cast<std::uint8_t>(maximum >> 8),
                                      0x00};
  std::uint8_t sum = 0;
  for (const std::uint8_t b : report) sum = static_cast<std::uint8_t>(sum + b);
  report[7] = static_cast<std::uint8_t>(0x100 - sum);  // the report's bytes add up to 0
  SendPacket(std::move(report), at, false);
}

void Programmer::WriteSerialNumber() {
  if (job_.snEnable == 0) return;
  std::uint32_t flashStart = Le32(&job_.header[38]);
  if (flashStart == 0) flashStart = kDefaultFlashStart;
  const std::size_t size = job_.snSize == 0 ? 4 : std::min<std::size_t>(job_.snSize, 4);
  if (job_.snAddress < flashStart) return;
  const std::size_t offset = job_.snAddress - flashStart;
  if (offset + size > target_.flash.size()) return;
  const bool bigEndian = (job_.header[32] & 0x20) != 0;
  for (std::size_t i = 0; i < size; ++i) {
    const std::size_t shift = 8 * (bigEndian ? size - 1 - i : i);
    target_.flash[offset + i] = static_cast<std::uint8_t>(nextSerial_ >> shift);
  }
}

bool Programmer::VerifyAgainstJob() const {
  std::uint32_t flashStart = Le32(&job_.header[38]);
  if (flashStart == 0) flashStart = kDefaultFlashStart;
  const std::size_t snOffset = job_.snAddress - flashStart;
  const std::size_t snSize = job_.snEnable ? 4 : 0;
  for (std::size_t i = 0; i < target_.flash.size(); ++i) {
    if (i >= snOffset && i < snOffset + snSize) continue;
    const std::uint8_t want = i < job_.image.size() ? job_.image[i] : 0xFF;
    if (target_.flash[i] != want) return false;
  }
  return true;
}

void Programmer::StepStandalone(TimePoint now) {
  const milliseconds gap = options_.realtime ? milliseconds(10) : milliseconds(1);
  const unsigned flashKb = job_.FlashSizeKb();
  TimePoint next = now + gap;
  switch (stage_) {
    case Stage::Idle:
      return;
    case Stage::Start:
      if (job_.countEnable != 0 && partsOk_ >= job_.countLimit) {
        stage_ = Stage::Idle;  // the job's count limit is reached
        return;
      }
      target_ = FreshPart(flashKb);
      ++partNumber_;
      partVerified_ = false;
      SendReport(p::kStageStart, 0, 0, 0, now);
      stage_ = Stage::BlankCheck;
      break;
    case Stage::BlankCheck: {
      SendReport(p::kStageBlankCheck, 0, 0, 0, now);
      const bool blank =
          !target_.ReadProtected() && std::all_of(target_.flash.begin(), target_.flash.end(),
                                                  [](std::uint8_t b) { return b == 0xFF; });
      progress_ = 0;
      stage_ = blank ? Stage::Program : Stage::Erase;
      break;
    }
    case Stage::Erase:
      SendReport(p::kStageErase, 0, 0, 0, now);
      EraseTarget();
      next += FlashTime(8);
      stage_ = Stage::Program;
      break;
    case Stage::Program:
      if (progress_ < flashKb) {
        const std::size_t offset = std::size_t{progress_} * 1024;
        const std::size_t n = std::min(kBlockBytes, target_.flash.size() - offset);
        for (std::size_t i = 0; i < n; ++i) {
          const std::uint8_t b = offset + i < job_.image.size() ? job_.image[offset + i] : 0xFF;
          target_.flash[offset + i] &= b;
        }
        SendReport(p::kStageProgram, 0, static_cast<std::uint16_t>(progress_),
                   static_cast<std::uint16_t>(flashKb), now);
        progress_ += 4;
        next += FlashTime(1);
      } else {
        SendReport(p::kStageProgram, 0, static_cast<std::uint16_t>(flashKb),
                   static_cast<std::uint16_t>(flashKb), now);
        WriteSerialNumber();
        stage_ = Stage::Verify;
      }
      break;
    case Stage::Verify:
      SendReport(p::kStageVerify, 0, 0, 0, now);
      partVerified_ = VerifyAgainstJob();
      next += FlashTime((flashKb + 3) / 4);
      // targetCtrl bit 5 is set when the option bytes are not to be programmed.
      stage_ = (job_.header[33] & 0x20) == 0 ? Stage::OptionBytes : Stage::Done;
      break;
    case Stage::OptionBytes:
      SendReport(p::kStageOptionBytes, 0, 0, 0, now);
      target_.optionBytes = job_.optionBytes;
      stage_ = Stage::Done;
      break;
    case Stage::Done: {
      std::uint8_t result = partVerified_ ? p::kResultPartOk : p::kStatusVerifyMismatch;
      if (options_.ngEvery != 0 && partNumber_ % options_.ngEvery == 0) {
        result = p::kStatusFlashError;
      }
      SendReport(p::kStageCompleted, result, 0, 0, now);
      if (result == p::kResultPartOk) {
        ++partsOk_;
        nextSerial_ += job_.snGain;
      } else {
        ++partsNg_;
      }
      --partsLeft_;
      stage_ = partsLeft_ > 0 ? Stage::Start : Stage::Idle;
      next += options_.realtime ? milliseconds(500) : milliseconds(0);
      break;
    }
  }
  stageDue_ = next;
}

// ---------------------------------------------------------------------------------------
// Inspection

ChannelSnapshot Programmer::Snapshot() const {
  ChannelSnapshot s;
  s.target = target_;
  s.job = job_;
  s.identity = IdentityText();
  s.requests = requests_;
  s.writes = writes_;
  s.partsOk = partsOk_;
  s.partsNg = partsNg_;
  s.nextSerial = nextSerial_;
  s.standaloneRunning = stage_ != Stage::Idle;
  return s;
}

bool Programmer::Dump(const std::string& dir, std::string* error) const {
  const std::string base = dir + "/chip" + std::to_string(channel_);
  auto write = [&](const std::string& path, const std::uint8_t* data, std::size_t n) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(n));
    if (!out) {
      *error = "cannot write " + path;
      return false;
    }
    return true;
  };
  if (!write(base + ".bin", target_.flash.data(), target_.flash.size()) ||
      !write(base + ".ob", target_.optionBytes.data(), target_.optionBytes.size()) ||
      !write(base + ".otp", target_.otp.data(), target_.otp.size())) {
    return false;
  }
  std::string text;
  char line[160];
  auto add = [&](const char* format, auto... values) {
    std::snprintf(line, sizeof line, format, values...);
    text += line;
  };
  add("channel = %d\n", channel_);
  add("identity = %s\n", IdentityText().c_str());
  add("job = %s\n", job_.present ? "downloaded" : "none");
  if (job_.present) {
    const auto& h = job_.header;
    add("chipName = %s\n", job_.chipName.c_str());
    add("fileName = %s\n", job_.fileName.c_str());
    add("chipGroup = 0x%02X\nfamilyCode = 0x%02X\npartIndex = 0x%02X\n", h[3], h[4], h[5]);
    add("autoDetect = %u\n", h[7]);
    add("flashSizeKB = %u\nblockCount = %u\nblockSize = %u\notpSize = %u\n", Le16(&h[20]),
        Le16(&h[22]), Le16(&h[24]), Le16(&h[26]));
    add("eepStart = 0x%04X\n", Le16(&h[30]));
    add("linkCtrl = 0x%02X\ntargetCtrl = 0x%02X\npowerCtrl = 0x%02X\n", h[32], h[33], h[34]);
    add("eraseCtrl = 0x%02X\ncheckCtrl = 0x%02X\nfamilyCtrl = 0x%02X\n", h[35], h[36], h[37]);
    add("flashStart = 0x%08X\n", Le32(&h[38]));
    add("powerOnTime = %u\npowerOffTime = %u\n", h[42], h[43]);
    add("insertSettle = %u\nremoveSettle = %u\n", Le16(&h[44]), Le16(&h[46]));
    add("fileCrc = 0x%04X\nfileSum = 0x%04X\n", Le16(&h[48]), Le16(&h[50]));
    add("otpCrc = 0x%04X\notpSum = 0x%04X\n", Le16(&h[52]), Le16(&h[54]));
    add("optionSumInv = 0x%04X\noptionSum = 0x%04X\n", Le16(&h[56]), Le16(&h[58]));
    add("optionByteLength = %u\nrunTime = %u\n", h[60], Le16(&h[62]));
    add("snEnable = %u\nsnSize = %u\nsnGain = %u\n", job_.snEnable, job_.snSize, job_.snGain);
    add("snAddress = 0x%08X\nsnStart = 0x%08X\n", job_.snAddress, job_.snStart);
    add("countEnable = %u\ncountLimit = %u\n", job_.countEnable, job_.countLimit);
    text += "optionBytes =";
    for (const std::uint8_t b : job_.optionBytes) add(" %02X", b);
    text += "\n";
    add("otpData = %zu bytes\n", job_.otp.size());
    add("imageBlocks = %u\n", job_.imageBlocks);
    add("partsOk = %u\npartsNg = %u\nnextSerial = 0x%08X\n", partsOk_, partsNg_, nextSerial_);
  }
  std::ofstream out(base + ".txt", std::ios::trunc);
  out << text;
  if (!out) {
    *error = "cannot write " + base + ".txt";
    return false;
  }
  return true;
}

}  // namespace korvan::sim
