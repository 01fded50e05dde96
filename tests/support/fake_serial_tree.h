// A fake /sys and /dev holding USB serial adapters, laid out as the kernel and udev lay them
// out: the USB device with idVendor, idProduct and serial, the tty's device below it with its
// driver link (and latency_timer for FTDI), /sys/class/tty/<name>, /sys/dev/char/<maj:min>, and
// under dev/ the node (a link to a pseudo-terminal, so that it opens) and the links of
// serial/by-id and serial/by-path.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/serial/port_list.h"
#include "support/pty_pair.h"

namespace korvan::testing {

struct FakeAdapter {
  std::string name;    // ttyUSB0, ttyACM0, ttyS0 ...
  std::string driver;  // "" for a tty without a device
  std::string vendorProduct = "0403:6001";
  std::optional<std::string> serial;  // nothing: the adapter has no serial number
  std::optional<int> latencyMs;       // latency_timer of the tty's device
  std::string byId;                   // link name under dev/serial/by-id, "" none
  std::string byPath;                 // link name under dev/serial/by-path, "" none
  bool node = true;                   // dev/<name> exists (leading to a pty)
};

class FakeSerialTree {
 public:
  FakeSerialTree() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "korvan-serial-tree-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
    std::filesystem::create_directories(sys() / "class/tty");
    std::filesystem::create_directories(dev() / "serial/by-id");
    std::filesystem::create_directories(dev() / "serial/by-path");
  }
  ~FakeSerialTree() { std::filesystem::remove_all(root_); }
  FakeSerialTree(const FakeSerialTree&) = delete;
  FakeSerialTree& operator=(const FakeSerialTree&) = delete;

  std::filesystem::path sys() const { return root_ / "sys"; }
  std::filesystem::path dev() const { return root_ / "dev"; }
  PortSources Sources(const std::string& extra = "") const { return {sys(), dev(), extra}; }
  std::string Dev(const std::string& name) const { return (dev() / name).string(); }

  // Adds the adapter; returns the pty behind its node (nullptr without a node).
  PtyPair* Add(const FakeAdapter& a) {
    namespace fs = std::filesystem;
    const int bus = ++count_;
    const fs::path usb = sys() / "devices/pci0000:00/usb1" / ("1-" + std::to_string(bus));
    const bool acm = a.name.rfind("ttyACM", 0) == 0;
    const fs::path iface = usb / ("1-" + std::to_string(bus) + ":1.0");
    // ttyACM: the tty's device is the interface; ttyUSB: the usb-serial port below it.
    const fs::path device = acm ? iface : iface / a.name;
    const fs::path tty = device / "tty" / a.name;
    fs::create_directories(tty);
    if (!a.driver.empty()) {
      Write(usb / "idVendor", a.vendorProduct.substr(0, 4));
      Write(usb / "idProduct", a.vendorProduct.substr(5));
      if (a.serial) Write(usb / "serial", *a.serial);
      const fs::path driver =
          sys() / (acm ? "bus/usb/drivers" : "bus/usb-serial/drivers") / a.driver;
      fs::create_directories(driver);
      fs::create_directory_symlink(driver, device / "driver");
      fs::create_directory_symlink(device, tty / "device");
      if (a.latencyMs) Write(device / "latency_timer", std::to_string(*a.latencyMs));
    }
    fs::create_directory_symlink(tty, sys() / "class/tty" / a.name);
    PtyPair* pty = nullptr;
    if (a.node) {
      ptys_.push_back(std::make_unique<PtyPair>());
      pty = ptys_.back().get();
      fs::create_symlink(pty->SlavePath(), dev() / a.name);
      // /sys/dev/char/<major>:<minor> leads to the tty, as it does for a real device.
      struct stat st;
      if (::stat(pty->SlavePath().c_str(), &st) == 0) {
        fs::create_directories(sys() / "dev/char");
        fs::create_directory_symlink(
            tty, sys() / "dev/char" /
                     (std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev))));
      }
    }
    if (!a.byId.empty()) fs::create_symlink("../../" + a.name, dev() / "serial/by-id" / a.byId);
    if (!a.byPath.empty()) {
      fs::create_symlink("../../" + a.name, dev() / "serial/by-path" / a.byPath);
    }
    return pty;
  }

  // The latency_timer file of an adapter added with one.
  std::filesystem::path LatencyTimer(const std::string& name) const {
    return sys() / "class/tty" / name / "device/latency_timer";
  }

  static void Write(const std::filesystem::path& file, const std::string& text) {
    std::ofstream(file) << text << '\n';
  }

 private:
  std::filesystem::path root_;
  int count_ = 0;
  std::vector<std::unique_ptr<PtyPair>> ptys_;
};

}  // namespace korvan::testing
