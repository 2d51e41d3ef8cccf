#pragma once

#include <cstdint>
#include <filesystem>
#include <span>

namespace kvr {

enum class ReplaceResult { Written, TargetIsFolder, Failed };

// Writes `bytes` as the file `target`. The new file is written beside the target, flushed to the
// disk and then renamed over it in one step, so the old file stays whole until the new one is
// complete, and a failed write leaves no partial file behind. A folder is never replaced.
ReplaceResult WriteFileAtomically(const std::filesystem::path& target,
                                  std::span<const std::uint8_t> bytes);

}  // namespace kvr
