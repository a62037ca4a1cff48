// What `korvo view` shows: the entries of the packages it mounted, in mount order, with each
// name's winner and what it shadows, and the reading of one entry's bytes and frames through
// the library. Built once before the server starts; read-only afterwards, so any number of
// requests may use it at once.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "KorvoLoader.h"
#include "archive/package_format.h"
#include "common/status.h"
#include "manager/package_manager.h"

namespace korvo::tool {

// One mounted or listed package.
struct ViewPackage {
  std::string token;    // as listed in package.cfg, or the path as given
  std::string path;     // the path mounted
  std::string problem;  // empty, or why it was not mounted or mounted in part
  bool mounted = false;
  uint32_t listed = 0;   // records the header lists
  uint32_t indexed = 0;  // records mounted
};

// One index record of a mounted package. Its id is its place in Catalog::Entries().
struct ViewEntry {
  std::string name;    // as stored
  std::string folded;  // the lookup key
  uint32_t package = 0;
  uint32_t recordOffset = 0;
  EntryInfo info;
  // The id of the entry a lookup of this name finds (this entry's own id when it wins).
  uint32_t winner = 0;
  // For a winner: the ids of the other entries of its name, in mount order.
  std::vector<uint32_t> shadows;
};

// An entry's bytes, inflated through the library's package-entry stream.
struct EntryBytes {
  std::vector<uint8_t> data;
};

// Frames decoded through the library's image loader; freed with the object.
class DecodedImage {
 public:
  DecodedImage() = default;
  ~DecodedImage();
  DecodedImage(const DecodedImage&) = delete;
  DecodedImage& operator=(const DecodedImage&) = delete;

  uint32_t count = 0;
  uint32_t* values = nullptr;  // one per frame when there are several, else null
  ImgFrame** frames = nullptr;
};

class Catalog {
 public:
  Catalog();
  Catalog(const Catalog&) = delete;
  Catalog& operator=(const Catalog&) = delete;

  // Mounts each archive in order, as AddPackage would; a later one wins for a name. False with
  // the cause of the first that cannot be mounted.
  Status OpenArchives(const std::vector<std::string>& paths);
  // Mounts what <root>/package.cfg names, as a game started in root would (root is the current
  // directory and the manager's root). The list's own problems are kept, not failures.
  void OpenGameDirectory(const std::string& root);

  bool IsGame() const { return game_; }
  const std::string& Root() const { return root_; }
  const std::string& ListPath() const { return listPath_; }
  const std::string& ListProblem() const { return listProblem_; }
  const std::vector<ViewPackage>& Packages() const { return packages_; }
  const std::vector<ViewEntry>& Entries() const { return entries_; }
  // The stored names of every entry, for the tool's selection rules.
  const std::vector<PackageEntry>& Records() const { return records_; }
  // Ids in the byte order of their folded names (ties in mount order).
  const std::vector<uint32_t>& Sorted() const { return sorted_; }

  // Inflates the entry whole. The status has no file; its detail says what failed.
  Status Read(uint32_t id, EntryBytes& bytes) const;
  // Decodes the entry as a tiled image. The last image decoded is kept, so that the frames of
  // one image, asked for one by one, are decoded once.
  Status Decode(uint32_t id, std::shared_ptr<const DecodedImage>& image) const;

 private:
  // Lists every record of every mounted package and works out, per name, the winner and what
  // it shadows.
  void IndexEntries();

  CPackageManager manager_;
  bool game_ = false;
  std::string root_, listPath_, listProblem_;
  std::vector<ViewPackage> packages_;
  std::vector<ViewEntry> entries_;
  std::vector<PackageEntry> records_;
  std::vector<uint32_t> sorted_;
  mutable std::mutex decodeLock_;
  mutable std::mutex lastLock_;
  mutable uint32_t lastId_ = 0;
  mutable std::shared_ptr<const DecodedImage> last_;
};

}  // namespace korvo::tool
