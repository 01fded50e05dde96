// Whole-or-nothing file saves: the contents go to a temporary file in the same folder, are
// flushed to the disk, and the temporary file is renamed over the target. A failure at any step
// leaves the previous file (if any) untouched and removes the temporary file.
#pragma once

#include <string>
#include <string_view>

namespace korvan {

// Returns true on success; on failure `error` holds the file layer's message.
bool WriteFileAtomically(const std::string& path, std::string_view contents, std::string& error);

}  // namespace korvan
