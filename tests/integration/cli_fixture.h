// The command-line station's tests run the real korvan-cli as a user runs it, against emulated
// programmers on pseudo-terminals (in the test's own process, or korvan-sim as a process).
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "lib/emulator.h"
#include "support/cli_runner.h"

namespace korvan::testing::cli {

namespace fs = std::filesystem;
using korvan::sim::Emulator;
using korvan::sim::Options;

inline std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The JSON objects of a text of JSON Lines (events of run --json, records); a line that is not
// JSON fails the test.
inline std::vector<nlohmann::json> JsonLines(const std::string& text) {
  std::vector<nlohmann::json> objects;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
    EXPECT_FALSE(object.is_discarded()) << "not JSON: " << line;
    if (!object.is_discarded()) objects.push_back(std::move(object));
  }
  return objects;
}

inline std::string Join(const std::vector<std::string>& paths) {
  std::string joined;
  for (const auto& p : paths) joined += (joined.empty() ? "" : ":") + p;
  return joined;
}

// An Intel HEX file with `size` bytes of a counting pattern at `address`, and the flash image of
// a part of `flashKb` KiB at 0x08000000 that it makes.
struct Firmware {
  std::string hex;
  std::string image;
};
inline Firmware MakeFirmware(std::uint32_t address, std::size_t size, std::size_t flashKb) {
  Firmware fw;
  fw.image.assign(flashKb * 1024, '\xFF');
  char line[80];
  auto record = [&](unsigned type, unsigned offset, const std::vector<unsigned>& data) {
    unsigned sum = static_cast<unsigned>(data.size()) + (offset >> 8) + (offset & 0xFF) + type;
    std::string text;
    std::snprintf(line, sizeof line, ":%02X%04X%02X", static_cast<unsigned>(data.size()), offset,
                  type);
    text = line;
    for (unsigned b : data) {
      std::snprintf(line, sizeof line, "%02X", b);
      text += line;
      sum += b;
    }
    std::snprintf(line, sizeof line, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
    fw.hex += text + line;
  };
  std::uint32_t upper = 0xFFFFFFFF;
  for (std::size_t at = 0; at < size; at += 16) {
    const std::uint32_t a = address + static_cast<std::uint32_t>(at);
    if ((a >> 16) != upper) {
      upper = a >> 16;
      record(4, 0, {upper >> 8, upper & 0xFF});
    }
    std::vector<unsigned> data;
    for (std::size_t k = at; k < at + 16 && k < size; ++k) {
      const unsigned b = static_cast<unsigned>((k * 7 + k / 251) & 0xFF);
      data.push_back(b);
      fw.image[a - 0x08000000 + (k - at)] = static_cast<char>(b);
    }
    record(0, a & 0xFFFF, data);
  }
  record(1, 0, {});
  return fw;
}

class CliRun : public ::testing::Test {
 protected:
  CliRun() {
    // A folder of its own, so that runs of the same test at the same time never share one.
    std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    std::replace(name.begin(), name.end(), '/', '_');  // a parameterised test's name
    std::string pattern =
        (fs::temp_directory_path() / ("korvan_cli_run_" + name + "_XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot create a folder from " << pattern;
      return;
    }
    dir = pattern;
  }
  ~CliRun() override {
    if (!dir.empty()) fs::remove_all(dir);
  }

  using Result = testing::CliResult;
  // Runs korvan-cli with `args` in the test's folder; KORVAN_PORTS is cleared unless given.
  Result Cli(const std::string& args, const std::string& korvanPorts = "") {
    return testing::RunKorvanCli(dir.string(), args, "KORVAN_PORTS='" + korvanPorts + "'");
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir / name, std::ios::binary) << bytes;
  }
  static std::unique_ptr<Emulator> StartEmulator(Options options) {
    auto emulator = std::make_unique<Emulator>(std::move(options));
    std::string error;
    EXPECT_TRUE(emulator->Start(&error)) << error;
    return emulator;
  }
  static std::string Ports(const Emulator& emulator) { return Join(emulator.Paths()); }

  fs::path dir;
};

// korvan-sim as its own process: the first line it prints names its ports.
class SimProcess {
 public:
  explicit SimProcess(const std::vector<std::string>& args) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv{const_cast<char*>(KORVAN_SIM_PATH)};
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(KORVAN_SIM_PATH, argv.data());
      _exit(127);
    }
    close(out[1]);
    FILE* in = fdopen(out[0], "r");
    char line[4096] = {};
    if (in && std::fgets(line, sizeof line, in)) ports_ = line;
    if (in) std::fclose(in);
    const std::string prefix = "KORVAN_PORTS=";
    if (ports_.rfind(prefix, 0) == 0) ports_ = ports_.substr(prefix.size());
    while (!ports_.empty() && (ports_.back() == '\n' || ports_.back() == '\r')) ports_.pop_back();
  }
  ~SimProcess() { Stop(); }
  const std::string& ports() const { return ports_; }
  // SIGTERM; returns the exit status (the dump is written on the way out).
  int Stop() {
    if (pid_ <= 0) return -1;
    kill(pid_, SIGTERM);
    int raw = 0;
    waitpid(pid_, &raw, 0);
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

 private:
  pid_t pid_ = -1;
  std::string ports_;
};

}  // namespace korvan::testing::cli
