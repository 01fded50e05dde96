// A pseudo-terminal pair for tests of the serial component: the test plays the far side on the
// master, the component opens the slave by its path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvan::testing {

class PtyPair {
 public:
  // Opens a pair (fails the test through an exception when the system has none). The slave
  // stays open on the test's side too, so the master never reads end-of-file before the
  // component has opened the slave.
  PtyPair();
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  const std::string& SlavePath() const { return slavePath_; }
  int Master() const { return master_; }
  int Slave() const { return slave_; }

  // Writes all of `bytes` to the master (blocking).
  void WriteMaster(const std::vector<std::uint8_t>& bytes);
  // Reads from the master until `count` bytes have arrived or `timeoutMs` has passed.
  std::vector<std::uint8_t> ReadMaster(std::size_t count, int timeoutMs);
  // Closes the far side: the component's port is hung up.
  void CloseMaster();
  void CloseSlave();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string slavePath_;
};

}  // namespace korvan::testing
