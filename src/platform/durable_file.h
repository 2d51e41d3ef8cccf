#pragma once

// The file work whose outcome decides whether data survive: the settings file (read, locked and
// replaced whole), the .bin export (replaced whole) and the production report (appended whole or
// not at all). Every name is followed through its symbolic links to the file it stands for, and
// only a regular file is read or written: a folder, a FIFO, a device or a socket is refused
// before anything is opened that could block, and a read-only file is never replaced.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace kvr {

enum class FileRefusal {
  None,        // done
  Folder,      // the name stands for a folder
  NotRegular,  // a FIFO, a device, a socket: no file to keep data in
  ReadOnly,    // a read-only file, or one on a read-only file system
  TooLarge,    // longer than the reader takes
  Failed,      // the system refused or failed; `reason` has its words
};

struct FileOutcome {
  FileRefusal refusal = FileRefusal::None;
  // Why, in words for a message ("it is a FIFO", "No space left on device"); empty when done.
  std::string reason;
  bool Done() const { return refusal == FileRefusal::None; }
};

// The file a name stands for: its symbolic links followed to their end. A link whose end does
// not exist stands for the file to be made there; a loop of links is left as it is (opening it
// then fails).
std::filesystem::path ResolveLinks(const std::filesystem::path& name);

// Whether the file a resolved name stands for may be replaced or appended to: a missing file may
// be made; a folder, another non-regular file or a read-only file may not.
FileOutcome CheckWritable(const std::filesystem::path& resolved);

// The whole content of the regular file a name stands for, at most `limit` bytes. A missing file
// reads as empty, with `missing` set. Nothing is opened unless it is a regular file, so a FIFO
// or a device never blocks or floods the reader.
FileOutcome ReadWholeFile(const std::filesystem::path& name, std::size_t limit,
                          std::string& content, bool* missing = nullptr);

// How ReplaceFile names the new file it writes beside the old one.
enum class TempName {
  // "<file>.part" or the first free "<file>.partN": nobody else's file is touched.
  Unique,
  // "<file>.new": the caller holds the file's lock (FileLock), so the name is its own and a file
  // left there by a writer that was cut off is removed first.
  Locked,
};

// Replaces the file a name stands for (or makes it) with `bytes`: written beside it, synced,
// renamed over it, and the rename synced too, so the file is always the old one or the new one,
// whole. It keeps its permissions. Nothing is replaced when CheckWritable refuses, and nothing is
// left behind when writing fails.
FileOutcome ReplaceFile(const std::filesystem::path& name, std::string_view bytes,
                        TempName temp = TempName::Unique);

// An exclusive lock on "<file>.lck" beside a (resolved) file, shared by every process that
// locks the same file, whatever name it used for it. The system drops the lock with its holder,
// however that ends, so a station killed while holding it never holds up the others. Waits
// until the lock is free.
class FileLock {
 public:
  explicit FileLock(const std::filesystem::path& resolved);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const;
  const std::string& Error() const { return error_; }

 private:
  std::intptr_t handle_ = -1;
  std::string error_;
};

// The file a name stands for, opened for appending (made when missing) under an exclusive lock
// that processes appending to the same local file take in turn. Opening never blocks on what is
// not a regular file: that is refused, as a read-only file is.
class AppendFile {
 public:
  explicit AppendFile(const std::filesystem::path& name);
  ~AppendFile();
  AppendFile(const AppendFile&) = delete;
  AppendFile& operator=(const AppendFile&) = delete;

  // Whether the file is open and locked, and why not.
  const FileOutcome& Opened() const { return opened_; }
  // The file held nothing when the lock was taken.
  bool Empty() const { return size_ == 0; }
  // Appends `text` with one write and syncs it. The text starts on a line of its own, also after
  // a line that something else left unfinished. Written whole or not at all: after a short write
  // (a full disk) the file is cut back to its size before.
  FileOutcome Append(std::string_view text);

 private:
  std::intptr_t handle_ = -1;
  std::uint64_t size_ = 0;
  FileOutcome opened_;
};

}  // namespace kvr
