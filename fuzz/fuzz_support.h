// Shared pieces of the harnesses: a front end that answers every question at once, and a
// reader over the fuzzer's bytes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "core/job/frontend.h"

namespace korvan::fuzz {

// Answers OK (or Yes) to every box, so a reader goes on through every line; declines every
// file and address dialog.
class AnswerOkFrontend : public Frontend {
 public:
  int asked = 0;
  Answer Ask(MessageKind, const std::string&, Buttons buttons) override {
    ++asked;
    return buttons == Buttons::YesAbort ? Answer::Yes : Answer::Ok;
  }
  std::optional<FileChoice> ChooseOpenFile(const FileDialog&) override { return std::nullopt; }
  std::optional<FileChoice> ChooseSaveFile(const FileDialog&) override { return std::nullopt; }
  std::optional<std::string> AskLoadOffset(const std::string&) override { return std::nullopt; }
  std::optional<ReadAddressEntry> AskReadAddress(const std::string&, int) override {
    return std::nullopt;
  }
};

// Takes values from the front of the fuzzer's input; zero once it runs out.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : rest_(data, size) {}

  std::uint8_t Byte() { return Take<std::uint8_t>(); }
  std::uint16_t Word() { return Take<std::uint16_t>(); }
  std::uint32_t Long() { return Take<std::uint32_t>(); }
  std::span<const std::uint8_t> Bytes(std::size_t n) {
    n = std::min(n, rest_.size());
    auto out = rest_.first(n);
    rest_ = rest_.subspan(n);
    return out;
  }
  std::span<const std::uint8_t> Rest() { return Bytes(rest_.size()); }
  bool Empty() const { return rest_.empty(); }

 private:
  template <typename T>
  T Take() {
    T value{};
    const auto bytes = Bytes(sizeof(T));
    std::memcpy(&value, bytes.data(), bytes.size());
    return value;
  }
  std::span<const std::uint8_t> rest_;
};

inline std::string_view AsText(std::span<const std::uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace korvan::fuzz
