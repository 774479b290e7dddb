// Reading a file whole and replacing it whole, durably: the new contents are written beside the
// file, reach the disk, and are renamed over it, and the rename itself is made durable. A reader
// (or a crash) meets either the old file or the new one, never a mix. The caller holds whatever
// lock orders the writers of the file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace plat {

// False (last error set; the old file untouched) when the new contents cannot be written.
bool ReplaceFileContents(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes);

// The whole contents of a regular file. False when the path is no regular file (a folder where a
// file should be, say) or cannot be read; never throws, whatever stands at the path.
bool ReadFileContents(const std::filesystem::path& file, std::vector<std::uint8_t>* bytes);

}  // namespace plat
