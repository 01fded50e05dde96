// Whole-or-nothing file saves: the contents go to a temporary file in the same folder, which is
// then renamed over the target. A failure at any step (a full disk, a crash, a folder that
// cannot be written) leaves the previous file (if any) untouched and removes the temporary file.
#pragma once

#include <string>
#include <string_view>

namespace korvan {

// How far a save is pushed before the rename.
enum class Durability {
  Synced,   // the contents reach the disk (fsync) before the rename: survives a power cut
  Flushed,  // the contents reach the operating system; as durable as plain tool output
};

// Returns true on success; on failure `error` holds the file layer's message.
bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error,
                         Durability durability = Durability::Synced);

}  // namespace korvan
