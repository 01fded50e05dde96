// korvan-kfw: packs raw programmer firmware into a firmware image and shows what an image holds.
//   korvan-kfw pack --version V3.0 [--description TEXT] IN.bin OUT.KFW
//   korvan-kfw info FILE
// Exit status: 0 success, 1 the image is not valid (info) or IN holds no firmware (pack), 2 usage,
// 3 a file could not be read or written.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>
#include <random>
#include <string>

#include "core/image/firmware_image.h"
#include "core/image/readers.h"
#include "core/util/atomic_file.h"
#include "core/util/version.h"

namespace {

using namespace korvan;

int Pack(const std::string& in, const std::string& out, const std::string& version,
         const std::string& description) {
  std::string firmware, error;
  if (!ReadWholeFile(in, firmware, error)) {
    std::cerr << error << "\n";
    return 3;
  }
  if (firmware.empty()) {
    // An image without firmware would pass every check and leave a programmer with nothing.
    std::cerr << "korvan-kfw: " << in << " is empty: no firmware to pack\n";
    return 1;
  }
  FirmwarePackOptions options;
  options.version = version;
  options.description = description;
  options.seed = std::random_device{}();
  const auto file = PackFirmwareImage(
      std::span(reinterpret_cast<const std::uint8_t*>(firmware.data()), firmware.size()), options,
      error);
  if (file.empty()) {
    std::cerr << error << "\n";
    return 2;
  }
  if (!WriteFileAtomically(
          out, std::string_view(reinterpret_cast<const char*>(file.data()), file.size()), error)) {
    std::cerr << error << "\n";
    return 3;
  }
  std::printf("%s: version %s, %zu firmware bytes, %zu file bytes\n", out.c_str(), version.c_str(),
              firmware.size(), file.size());
  return 0;
}

int Info(const std::string& path) {
  std::string contents, error;
  if (!ReadWholeFile(path, contents, error)) {
    std::cerr << error << "\n";
    return 3;
  }
  FirmwareImage image;
  const bool present = LoadFirmwareImage(path, image);
  std::printf("File: %s (%zu bytes)\n", path.c_str(), contents.size());
  if (!present && image.VersionText().empty() && image.payloadLength == 0) {
    std::printf("Valid: no (not a firmware image, or damaged)\n");
    return 1;
  }
  std::printf("Version: %s\n", image.VersionText().c_str());
  std::printf("Description: %s\n", image.description.c_str());
  std::printf("Start address: 0x%04X\n", image.startAddress);
  std::printf("End address: 0x%04X\n", image.endAddress);
  std::printf("Payload length: %u\n", image.payloadLength);
  std::printf("Parameters: 0x%04X 0x%04X\n", image.parameter1, image.parameter2);
  std::printf("Valid: %s\n", present ? "yes" : "no (checksum mismatch)");
  return present ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"Makes and inspects Korvan200NAT programmer firmware images (KorvanNAT.KFW).",
               "korvan-kfw"};
  app.set_version_flag("--version", std::string("korvan-kfw ") + korvan::kStationVersion);
  app.require_subcommand(1);

  std::string version, description, in, out, file;
  CLI::App* pack = app.add_subcommand("pack", "Pack raw firmware into a firmware image");
  pack->add_option("--version", version, "Firmware version text, e.g. V3.0 (at most 22 chars)")
      ->required();
  pack->add_option("--description", description, "Description text (at most 64 bytes)");
  pack->add_option("IN", in, "Raw firmware (two bytes per address unit from 0x2000)")->required();
  pack->add_option("OUT", out, "Firmware image to write")->required();

  CLI::App* info = app.add_subcommand("info", "Show what a firmware image holds");
  info->add_option("FILE", file, "Firmware image")->required();

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int status = app.exit(e);
    return status == 0 ? 0 : 2;
  }
  if (pack->parsed()) return Pack(in, out, version, description);
  return Info(file);
}
