#include "lib/frame_reader.h"

namespace korvan::sim {

namespace {

constexpr std::uint8_t kDelimiter = 0xC0;
constexpr std::uint8_t kEscape = 0xDB;
constexpr std::uint8_t kEscapedDelimiter = 0xDC;
constexpr std::uint8_t kEscapedEscape = 0xDD;

}  // namespace

void FrameReader::Put(std::uint8_t b) {
  if (status_ != Status::Ok) return;  // the frame is lost already; wait for its end
  if (length_ == packet_.size()) {
    status_ = Status::TooLong;
    return;
  }
  packet_[length_++] = b;
}

bool FrameReader::Step(std::uint8_t b) {
  switch (state_) {
    case State::Outside:
      if (b == kDelimiter) {
        length_ = 0;
        status_ = Status::Ok;
        state_ = State::Opened;
      }
      return false;
    case State::Opened:
      if (b == kDelimiter) return false;  // a run of delimiters: the frame starts at its last
      state_ = State::Inside;
      [[fallthrough]];
    case State::Inside:
      if (b == kDelimiter) {
        state_ = State::Outside;
        return true;
      }
      if (b == kEscape) {
        state_ = State::Escape;
      } else {
        Put(b);
      }
      return false;
    case State::Escape:
      if (b == kDelimiter) {  // DB right before the end delimiter is dropped
        state_ = State::Outside;
        return true;
      }
      state_ = State::Inside;
      if (b == kEscapedDelimiter) {
        Put(kDelimiter);
      } else if (b == kEscapedEscape) {
        Put(kEscape);
      } else if (status_ == Status::Ok) {
        status_ = Status::BadEscape;
      }
      return false;
  }
  return false;
}

}  // namespace korvan::sim
