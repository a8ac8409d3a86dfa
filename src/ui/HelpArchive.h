// The help archive, unpacked in two steps: every entry is checked before anything is
// written, then the checked entries are written into a folder. Names are UTF-8.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qd::ui {

class THelpArchive {
 public:
  // Limits for unpacking.
  static constexpr unsigned long long kMaxEntrySize = 64ull << 20;    // one file
  static constexpr unsigned long long kMaxArchiveSize = 256ull << 20; // all files together
  static constexpr unsigned long long kMaxEntries = 10000;

  // One checked entry: its path in the archive, split into parts that are safe on every
  // system.
  struct TEntry {
    std::uint64_t Index = 0;
    std::string Name;
    std::vector<std::string> Parts;
    bool Folder = false;
  };

  // Opens the archive from its bytes, which it keeps, and checks every entry: a name that could
  // land outside the folder or mean something other than a plain file or folder, a symbolic
  // link, too many entries or too large a size refuses the whole archive (std::runtime_error
  // with a message for the user).
  explicit THelpArchive(std::string ABytes);
  ~THelpArchive();
  THelpArchive(const THelpArchive&) = delete;
  THelpArchive& operator=(const THelpArchive&) = delete;

  const std::vector<TEntry>& Entries() const { return FEntries; }

  // Writes the checked entries under AFolder, which exists, with the system's path delimiter.
  // The sizes are counted again as the data comes out. A failure removes every file and folder
  // that the call made and throws.
  void WriteTo(const std::string& AFolder) const;

  // The parts of an entry's relative path; throws for a name that could land outside the
  // folder or mean something other than a plain file on either system.
  static std::vector<std::string> SafeParts(const std::string& AName);

 private:
  struct TZip;
  std::string FBytes;
  std::unique_ptr<TZip> FZip;
  std::vector<TEntry> FEntries;

  std::string ReadEntry(const TEntry& AEntry, unsigned long long& AWritten) const;
};

}  // namespace qd::ui
