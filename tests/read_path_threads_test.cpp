// Many threads reading images and resources by name while another mounts more packages. Every
// result must equal a single-threaded read of that name under some mount state that was current
// while the read ran: never a mix, never an older package once a newer mount had returned.
// The ThreadSanitizer build runs this suite to prove there is no data race.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/image_bytes.h"
#include "support/read_path.h"

using namespace korvo;

namespace {

constexpr int Packages = 4;  // package k holds the names of version k
constexpr int Names = 6;

std::string TextName(int n) {
  return "Text/" + std::to_string(n) + ".txt";
}
std::string ImageName(int n) {
  return "Img/" + std::to_string(n) + ".IMG";
}
// Package k holds every name n with n % (k + 1) == 0 and n < Names, so later packages replace
// only some of the earlier names.
bool Holds(int k, int n) {
  return n % (k + 1) == 0;
}
Bytes TextContent(int k, int n) {
  return ToBytes(Pattern(100 + 37 * n + 1000 * k, char('a' + k)));
}
Bytes ImageContent(int k, int n) {
  static uint32_t seed;
  seed = uint32_t(k * 1000 + n);
  return GridImage((n % 2) ? 1 : 3, 8, 8, 16 + 8 * n, 16, 1 + n % 3,
                   [](int f, int x, int y) { return seed * 0x9E3779B9u + f * 77 + x * 13 + y; });
}

// The frames of a load, one byte string.
std::string FramesText(uint32_t count, ImgFrame** frames) {
  std::string out;
  for (uint32_t f = 0; f < count; ++f) {
    Bytes bytes = FrameBytes(frames[f]);
    out.append(bytes.begin(), bytes.end());
    out += '|';
  }
  return out;
}

class ReadPathThreads : public NoManagerTest {
 protected:
  void SetUp() override {
    NoManagerTest::SetUp();
    for (int k = 0; k < Packages; ++k) {
      std::vector<std::pair<std::string, Bytes>> files;
      for (int n = 0; n < Names; ++n) {
        if (!Holds(k, n)) continue;
        files.emplace_back(TextName(n), TextContent(k, n));
        files.emplace_back(ImageName(n), ImageContent(k, n));
      }
      WritePackage(Package(k), files);
    }
    // What a single thread reads for each name and package version.
    for (int k = 0; k < Packages; ++k) {
      CPackageManager single(Package(k).c_str(), 0);
      for (int n = 0; n < Names; ++n) {
        if (!Holds(k, n)) continue;
        unsigned char* data = nullptr;
        uint32_t size = 0;
        ASSERT_TRUE(single.ReadResource(TextName(n).c_str(), data, size).ok());
        text[{k, n}] = std::string(reinterpret_cast<char*>(data), size);
        std::free(data);
        uint32_t count = 0, *values = nullptr;
        ImgFrame** frames = nullptr;
        ASSERT_TRUE(LoadImageFrames(single, ImageName(n).c_str(), &count, &values, &frames).ok());
        image[{k, n}] = FramesText(count, frames);
        FreeImageFrames(count, count > 1 ? values : nullptr, frames);
      }
    }
  }
  std::string Package(int k) const { return dir / ("p" + std::to_string(k) + ".pak"); }
  // The package a name resolves to once packages 0 .. mounted - 1 are mounted.
  static int Owner(int n, int mounted) {
    for (int k = mounted - 1; k >= 0; --k)
      if (Holds(k, n)) return k;
    return -1;
  }
  // How many names packages 0 .. mounted - 1 hold together.
  static size_t Held(int mounted) {
    size_t held = 0;
    for (int n = 0; n < Names; ++n) held += Owner(n, mounted) >= 0;
    return held;
  }
  // True when result is what some mount state from `before` to `after` mounts gives.
  static bool Matches(const std::map<std::pair<int, int>, std::string>& expected, int n, int before,
                      int after, const std::string& result) {
    for (int mounted = before; mounted <= after; ++mounted)
      if (expected.at({Owner(n, mounted), n}) == result) return true;
    return false;
  }

  std::map<std::pair<int, int>, std::string> text, image;
};

}  // namespace

TEST_F(ReadPathThreads, LoadsMatchASingleThreadWhileAnotherThreadMounts) {
  CPackageManager manager(Package(0).c_str(), 0);
  std::atomic<int> mounted{1};  // packages whose mount has returned
  std::atomic<int> started{1};  // packages whose mount has begun
  std::atomic<int> wrong{0}, failed{0};
  constexpr int Readers = 12;  // more than a pool holds
  constexpr int Rounds = 40;

  std::thread mounter([&] {
    for (int k = 1; k < Packages; ++k) {
      started = k + 1;
      if (!manager.MountPackage(Package(k).c_str())) ++failed;
      mounted = k + 1;
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> readers;
  for (int t = 0; t < Readers; ++t) {
    readers.emplace_back([&, t] {
      for (int i = 0; i < Rounds; ++i) {
        const int n = (t + i) % Names;
        const int before = mounted;
        unsigned char* data = nullptr;
        uint32_t size = 0;
        if (!manager.ReadResource(TextName(n).c_str(), data, size).ok()) {
          ++failed;
          continue;
        }
        std::string got(reinterpret_cast<char*>(data), size);
        std::free(data);
        if (!Matches(text, n, before, started, got)) ++wrong;

        const int beforeImage = mounted;
        StreamLease lease;
        (void)manager.Open(ImageName(n).c_str(), ModeRead, true, lease);
        lease.Reset();
        uint32_t count = 0, *values = nullptr;
        ImgFrame** frames = nullptr;
        if (!LoadImageFrames(manager, ImageName(n).c_str(), &count, &values, &frames).ok()) {
          ++failed;
          continue;
        }
        if (!Matches(image, n, beforeImage, started, FramesText(count, frames))) ++wrong;
        FreeImageFrames(count, count > 1 ? values : nullptr, frames);
        manager.Stat(TextName(n).c_str());
        // The image names of some mount state in between, each once, in byte order.
        const int beforeNames = mounted;
        std::string last;
        bool ordered = true;
        const size_t listed =
            manager.EnumerateNames("img/", [&](std::string_view key, const EntryInfo&) {
              ordered = ordered && (last.empty() || std::string_view(last) < key);
              last.assign(key.data(), key.size());
              return true;
            });
        if (!ordered || listed < Held(beforeNames) || listed > Held(started)) ++wrong;
      }
    });
  }
  mounter.join();
  for (std::thread& reader : readers) reader.join();
  EXPECT_EQ(failed, 0);
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(manager.PackageCount(), size_t(Packages));
  EXPECT_TRUE(StreamPoolsFree(manager));  // every lease went back
}

// The accessor builds one manager however many threads ask for it first.
TEST_F(ReadPathThreads, TheAccessorBuildsOneManagerForConcurrentFirstCalls) {
  std::vector<CPackageManager*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] { seen[i] = GetPackageManager(); });
  for (std::thread& thread : threads) thread.join();
  ASSERT_NE(seen[0], nullptr);
  for (CPackageManager* manager : seen) EXPECT_EQ(manager, seen[0]);
  EXPECT_EQ(seen[0]->MemPool().size(), StreamPoolSize);
  delete seen[0];
}

// Eight threads load while another reloads the package list 1000 times, switching it between
// two versions of the same names, and removes and mounts again a package of other names. Every
// load reads one version whole; a name of both versions never fails; every replaced mapping is
// unmapped once the loads are over.
TEST_F(ReadPathThreads, LoadsReadOneWholeVersionWhileAnotherThreadReloadsAndRemoves) {
  constexpr int Loaders = 8;
  constexpr int Reloads = 1000;
  constexpr int Kept = 6;   // names of both versions of the list
  constexpr int Extra = 3;  // names of the package that comes and goes
  const auto kept = [](int n) { return "Kept/" + std::to_string(n) + ".txt"; };
  const auto extra = [](int n) { return "Extra/" + std::to_string(n) + ".txt"; };
  // Version v of kept name n; name 0 reads the same in both.
  const auto keptBytes = [](int v, int n) {
    return Pattern(64 + 29 * n, char(n == 0 ? 'k' : 'a' + v + 2 * n));
  };
  for (int v = 0; v < 2; ++v) {
    std::vector<std::pair<std::string, Bytes>> files;
    for (int n = 0; n < Kept; ++n) files.emplace_back(kept(n), ToBytes(keptBytes(v, n)));
    WritePackage(dir / ("v" + std::to_string(v) + ".pak"), files);
  }
  std::vector<std::pair<std::string, Bytes>> extraFiles;
  for (int n = 0; n < Extra; ++n) extraFiles.emplace_back(extra(n), ToBytes(Pattern(40 + n, 'x')));
  const std::string extraPath = dir / "extra.pak";
  WritePackage(extraPath, extraFiles);
  const auto list = [&](int v) {
    WriteFileBytes(dir / "package.cfg", ToBytes("v" + std::to_string(v) + ".pak"));
  };
  list(0);

  const size_t mappingsBefore = platform::OpenMappingCount();
  {
    CPackageManager manager(dir.Path().c_str(), "package.cfg");
    ASSERT_TRUE(manager.MountPackage(extraPath.c_str()));
    std::atomic<bool> done{false};
    std::atomic<int> wrong{0}, failed{0}, changeFailed{0};
    std::thread changer([&] {
      for (int i = 1; i <= Reloads; ++i) {
        list(i % 2);
        if (!manager.ReloadPackages().ok()) ++changeFailed;
        if (i % 10 == 0) {
          if (!manager.RemovePackage(extraPath.c_str()).ok()) ++changeFailed;
          if (!manager.MountPackage(extraPath.c_str())) ++changeFailed;
        }
      }
      done = true;
    });
    std::vector<std::thread> loaders;
    for (int t = 0; t < Loaders; ++t) {
      loaders.emplace_back([&, t] {
        for (int i = 0; !done; ++i) {
          const int n = (t + i) % Kept;
          unsigned char* data = nullptr;
          uint32_t size = 0;
          if (!manager.ReadResource(kept(n).c_str(), data, size).ok()) {
            ++failed;
          } else {
            const std::string got(reinterpret_cast<char*>(data), size);
            std::free(data);
            if (got != keptBytes(0, n) && got != keptBytes(1, n)) ++wrong;
          }
          StreamLease lease;
          if (!manager.Open(kept(n).c_str(), ModeRead, true, lease).ok()) {
            ++failed;
          } else {
            const std::string got = ReadAll(*lease.get());
            if (got != keptBytes(0, n) && got != keptBytes(1, n)) ++wrong;
          }
          lease.Reset();
          // The extra names may be gone for a while; read, they are whole.
          const int e = i % Extra;
          if (manager.ReadResource(extra(e).c_str(), data, size).ok()) {
            if (std::string(reinterpret_cast<char*>(data), size) != Pattern(40 + e, 'x')) ++wrong;
            std::free(data);
          }
          if (manager.Stat(kept(n).c_str()).StoredName() != kept(n)) ++wrong;
          manager.EnumerateNames("kept/", [](std::string_view, const EntryInfo&) { return true; });
        }
      });
    }
    changer.join();
    for (std::thread& loader : loaders) loader.join();
    EXPECT_EQ(changeFailed, 0);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(manager.PackageCount(), 2u);  // the list's package, then the extra one on top
    EXPECT_EQ(platform::OpenMappingCount(), mappingsBefore + 2);
  }
  EXPECT_EQ(platform::OpenMappingCount(), mappingsBefore);
}
