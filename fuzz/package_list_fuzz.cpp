// Reads the input as the package list of a manager whose root directory holds two small
// packages, a.pak and b.pak, and a directory sub/ with c.pak. Entries of whatever was mounted
// must open. Inputs that could name files outside the scratch directory (a "..", an absolute
// path) are skipped: the list resolves names against the root directory and the working
// directory, and the fuzzer must not mount the system's files.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "fuzz_support.h"
#include "manager/package_manager.h"
#include "stream/mem_stream.h"
#include "stream/res_stream.h"

using namespace korvo;

namespace {

bool Confined(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    const bool startsToken = i == 0 || data[i - 1] <= ' ';
    if (startsToken && (data[i] == '/' || data[i] == '\\' || data[i] == '~')) return false;
    if (data[i] == '.' && i + 1 < size && data[i + 1] == '.') return false;
    if (data[i] == '/' && i + 1 < size && data[i + 1] == '/') return false;
  }
  return true;
}

const std::string& Root() {
  static const std::string root = [] {
    const std::filesystem::path dir = fuzz::ScratchDir() / "root";
    std::filesystem::create_directories(dir / "sub");
    auto write = [](const std::filesystem::path& path, const fuzz::Bytes& bytes) {
      fuzz::WriteFileBytes(path.string(), bytes.data(), bytes.size());
    };
    const fuzz::Bytes text = {'h', 'e', 'l', 'l', 'o'};
    write(dir / "a.pak", fuzz::BuildPackage({{"data\\a.txt", text}, {"shared.txt", text}}));
    write(dir / "b.pak", fuzz::BuildPackage({{"Data/B.txt", text}, {"SHARED.TXT", {}}}));
    write(dir / "sub" / "c.pak", fuzz::BuildPackage({{"c.txt", text}}));
    // The list's tool form names a directory relative to the working directory.
    std::error_code error;
    std::filesystem::current_path(dir, error);
    if (error) return std::string();
    return dir.string();
  }();
  return root;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!Confined(data, size) || Root().empty()) return 0;
  const std::string list = Root() + "/package.cfg";
  if (!fuzz::WriteFileBytes(list, data, size)) return 0;
  CPackageManager manager(Root().c_str(), "package.cfg");
  std::vector<std::string> names;
  manager.EnumerateNames("", [&](std::string_view key, const EntryInfo&) {
    names.emplace_back(key);
    return true;
  });
  for (const std::string& name : names) {
    CResStream* stream = manager.OpenPackageStream(name.c_str(), ModeRead);
    KORVO_FUZZ_CHECK(stream != nullptr);
    stream->Close();
  }
  return 0;
}
