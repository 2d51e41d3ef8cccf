#pragma once

// Files the tests make on the real file system.

#include <filesystem>
#include <string>
#include <system_error>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace kvr::test {

// Removes a test's folder with everything in it, read-only files too: Windows deletes none of
// those. Links are left as they are, never followed.
inline void RemoveFolder(const std::filesystem::path& folder) {
  namespace fs = std::filesystem;
  std::error_code error;
  for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    std::error_code ignored;
    if (!it->is_symlink(ignored))
      fs::permissions(it->path(), fs::perms::owner_write, fs::perm_options::add, ignored);
  }
  fs::remove_all(folder, error);
}

// Something under a file's name that is no file to keep data in, and that whoever opened it
// could wait on for ever: on POSIX a FIFO nobody writes to; on Windows, where a program cannot
// make such a thing in a folder, a name the system keeps for a device (NUL, also with an
// extension and in any folder, is the null device, as COM1.bin would be the serial port).
struct SpecialFile {
  std::filesystem::path path;  // empty when it could not be made
  std::string why;             // the refusal's words
};

inline SpecialFile MakeSpecialFile(const std::filesystem::path& folder,
                                   const std::string& extension) {
#ifdef _WIN32
  return {folder / ("NUL" + extension), "it is a device"};
#else
  const std::filesystem::path path = folder / ("fifo" + extension);
  if (::mkfifo(path.c_str(), 0666) != 0) return {};
  return {path, "it is a FIFO"};
#endif
}

}  // namespace kvr::test
