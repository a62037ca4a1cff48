// The edit-to-screen loop, timed end to end, as a content person lives it:
//
//   1. a sprite's PNG source changes (an editor saves it);
//   2. `korvo png2img art/....png -o game/sprites/....img` rebuilds its image;
//   3. `korvo pack -C WORK game.pak game` repacks the tree, copying the packed data of every
//      unchanged file from the archive being replaced;
//   4. the running host, which mounted game.pak with AddPackage and turned the watcher on
//      (KorvoWatchPackages), reloads once the new archive is in place, and its reload callback
//      names the sprite's entry;
//   5. the host loads the sprite (LoadImgFile) and gets the new pixels.
//
// The korvo binary runs as a child process for steps 2 and 3 (through the shell, as typed),
// so its start-up counts. The host is this process: it loads the shared library at run time
// and uses only its exports, as a game does.
//
// The tree (WORK/game) is game-like (icons, tables, scripts, textures, already-compressed
// sound) with sprites built from the PNG sources of WORK/art; --mb sets its size (default
// 1000 MB, about 10k files). It is generated from fixed seeds, packed in full once, then each
// round changes one sprite and times the steps above. The goal is a whole loop within 1 s.
//
//   korvo_bench_loop_bench [--data=DIR] [--mb=N] [--sprites=N] [--rounds=N] [--pause=S]
//                          [--keep]
//
// --pause waits S seconds before each round, as a person between two edits does (default 0:
// the rounds follow one another).
// WORK is DIR/v1/loop-<N>mb-<S>sprites (DIR defaults to loop-bench-data beside this program). It is
// removed at the end unless --keep is given; a kept tree and its archive are reused by the next
// run.
#include <spng.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "KorvoLoader.h"
#include "game_tree.h"
#include "image/img_writer.h"
#include "platform/files.h"
#include "platform/shared_library.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;
using korvo::bench::TakeText;
using korvo::bench::Tree;

// Bumped whenever the generated trees change, so that stale ones are not reused.
constexpr const char* TreeVersion = "v1";
constexpr uint64_t SpriteSeed = 0x7370726974657321;
constexpr double GoalSeconds = 1.0;

struct Options {
  std::string data;
  uint32_t megabytes = 1000;
  uint32_t sprites = 0;  // 0: four per megabyte
  int rounds = 5;
  double pause = 0;  // seconds between rounds
  bool keep = false;
};

double Seconds(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs the korvo tool with these arguments (each quoted), quietly. False when it fails.
bool RunTool(const std::vector<std::string>& args) {
  std::string command = Quote(KORVO_TOOL_PATH) + " -q";
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " </dev/null";
  if (std::system(command.c_str()) == 0) return true;
  std::fprintf(stderr, "failed: %s\n", command.c_str());
  return false;
}

// One sprite: its PNG source, its image in the tree and the name the host loads it by.
struct Sprite {
  uint32_t width = 0, height = 0;
  std::string png, img, name;
};

Sprite SpriteAt(const fs::path& work, uint32_t index) {
  static const uint32_t Sides[] = {32, 48, 64, 64, 96, 128};
  Sprite sprite;
  uint64_t mix = (index + 1) * 0x9e3779b97f4a7c15u;
  sprite.width = Sides[(mix >> 20) % std::size(Sides)];
  sprite.height = Sides[(mix >> 40) % std::size(Sides)];
  char group[16], file[32];
  std::snprintf(group, sizeof(group), "g%02u", index % 16);
  std::snprintf(file, sizeof(file), "sprite_%05u", index);
  sprite.png = (work / "art" / group / (std::string(file) + ".png")).string();
  sprite.img = (work / "game" / "sprites" / group / (std::string(file) + ".img")).string();
  sprite.name = std::string("game/sprites/") + group + "/" + file + ".img";
  return sprite;
}

// A painted sprite: a soft disc over a transparent background, its colours from seed. R, G, B,
// A a pixel, as PNG rows hold them.
void PaintSprite(const Sprite& sprite, uint64_t seed, std::vector<uint8_t>& rgba) {
  std::mt19937_64 random(SpriteSeed ^ seed);
  uint8_t tint[3] = {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                     static_cast<uint8_t>(random())};
  uint32_t stripes = 2 + static_cast<uint32_t>(random() % 6);
  rgba.resize(size_t{sprite.width} * sprite.height * 4);
  int64_t cx = sprite.width / 2, cy = sprite.height / 2;
  int64_t radius = std::min(cx, cy);
  for (uint32_t y = 0; y < sprite.height; ++y) {
    for (uint32_t x = 0; x < sprite.width; ++x) {
      uint8_t* pixel = &rgba[(size_t{y} * sprite.width + x) * 4];
      int64_t dx = x - cx, dy = y - cy;
      int64_t inside = radius * radius - (dx * dx + dy * dy);
      uint8_t band = ((x + y) / stripes) & 1 ? 40 : 0;
      pixel[0] = static_cast<uint8_t>(tint[0] + x * 2 + band);
      pixel[1] = static_cast<uint8_t>(tint[1] + y * 2);
      pixel[2] = static_cast<uint8_t>(tint[2] + band);
      pixel[3] = inside <= 0 ? 0 : static_cast<uint8_t>(std::min<int64_t>(255, inside / 4));
    }
  }
}

// The PNG file of 8-bit RGBA rows, through libspng.
bool EncodePng(const Sprite& sprite, std::vector<uint8_t>& rgba, std::vector<uint8_t>& png) {
  spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
  if (context == nullptr) return false;
  spng_ihdr header{sprite.width, sprite.height, 8, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 0, 0, 0};
  int error = 0;
  size_t length = 0;
  void* encoded = nullptr;
  if (spng_set_option(context, SPNG_ENCODE_TO_BUFFER, 1) == 0 &&
      spng_set_ihdr(context, &header) == 0 &&
      spng_encode_image(context, rgba.data(), rgba.size(), SPNG_FMT_PNG, SPNG_ENCODE_FINALIZE) ==
          0) {
    encoded = spng_get_png_buffer(context, &length, &error);
  }
  spng_ctx_free(context);
  if (encoded == nullptr) return false;
  png.assign(static_cast<uint8_t*>(encoded), static_cast<uint8_t*>(encoded) + length);
  std::free(encoded);
  return true;
}

// The pixels as a decoded frame holds them: B, G, R, A.
std::vector<uint8_t> FramePixels(const std::vector<uint8_t>& rgba) {
  std::vector<uint8_t> bgra(rgba);
  for (size_t at = 0; at + 4 <= bgra.size(); at += 4) std::swap(bgra[at], bgra[at + 2]);
  return bgra;
}

// Writes sprite's PNG source painted from seed; with image, also its image file as png2img
// builds it (the pixels in frame order, format 3).
bool WriteSprite(const Sprite& sprite, uint64_t seed, bool image, std::vector<uint8_t>& rgba) {
  std::vector<uint8_t> png;
  PaintSprite(sprite, seed, rgba);
  std::error_code error;
  fs::create_directories(fs::path(sprite.png).parent_path(), error);
  if (!EncodePng(sprite, rgba, png) ||
      !korvo::bench::WriteFile(sprite.png, png.data(), png.size())) {
    return false;
  }
  if (!image) return true;
  std::vector<uint8_t> bgra = FramePixels(rgba), encoded;
  korvo::ImgWriteOptions options;
  if (!korvo::EncodeImage({bgra.data()}, static_cast<int32_t>(sprite.width),
                          static_cast<int32_t>(sprite.height), options, encoded)
           .ok()) {
    return false;
  }
  fs::create_directories(fs::path(sprite.img).parent_path(), error);
  return korvo::bench::WriteFile(sprite.img, encoded.data(), encoded.size());
}

// The sprites first, then game-like files up to the size asked for.
bool PrepareLoopTree(const fs::path& base, const Options& options, Tree& tree, fs::path& work) {
  fs::path stamp;
  std::string name = "loop-" + std::to_string(options.megabytes) + "mb-" +
                     std::to_string(options.sprites) + "sprites";
  if (korvo::bench::StartTree(base, name, tree, work, stamp)) return true;
  std::vector<uint8_t> rgba;
  for (uint32_t i = 0; i < options.sprites; ++i) {
    Sprite sprite = SpriteAt(work, i);
    if (!WriteSprite(sprite, i, true, rgba)) return false;
    tree.bytes += fs::file_size(sprite.img);
    ++tree.files;
  }
  return korvo::bench::AddGameFiles(work / "game", uint64_t{options.megabytes} * 1000 * 1000,
                                    tree) &&
         korvo::bench::StampTree(stamp, tree);
}

// What the host's reload callback has reported.
struct Reloads {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<std::string> names;  // since the last Reset
  uint32_t calls = 0;
  Clock::time_point last;

  void Reset() {
    std::lock_guard<std::mutex> hold(lock);
    names.clear();
    calls = 0;
  }
};

void OnReload(uint32_t count, const char* const* names, void* context) {
  Clock::time_point now = Clock::now();
  Reloads& reloads = *static_cast<Reloads*>(context);
  {
    std::lock_guard<std::mutex> hold(reloads.lock);
    for (uint32_t i = 0; i < count; ++i) reloads.names.emplace_back(names[i]);
    ++reloads.calls;
    reloads.last = now;
  }
  reloads.changed.notify_all();
}

// The name as the callback reports it: ASCII lower case, '\' between levels.
std::string IndexName(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = c == '/' ? '\\' : static_cast<char>(std::tolower(c));
  return key;
}

template <class F>
F Export(void* library, const char* name) {
  return reinterpret_cast<F>(korvo::platform::LibrarySymbol(library, name));
}

struct Host {
  decltype(&AddPackage) addPackage = nullptr;
  decltype(&LoadImgFile) loadImg = nullptr;
  decltype(&FreeImgFile) freeImg = nullptr;
  decltype(&SetReloadCallback) setCallback = nullptr;
  decltype(&KorvoWatchPackages) watch = nullptr;

  bool Open(void* library) {
    addPackage = Export<decltype(addPackage)>(library, "AddPackage");
    loadImg = Export<decltype(loadImg)>(library, "LoadImgFile");
    freeImg = Export<decltype(freeImg)>(library, "FreeImgFile");
    setCallback = Export<decltype(setCallback)>(library, "SetReloadCallback");
    watch = Export<decltype(watch)>(library, "KorvoWatchPackages");
    return addPackage && loadImg && freeImg && setCallback && watch;
  }

  // Whether the sprite loads as exactly these pixels (R, G, B, A).
  bool Shows(const Sprite& sprite, const std::vector<uint8_t>& rgba) const {
    uint32_t count = 0;
    uint32_t* values = nullptr;
    ImgFrame** frames = nullptr;
    if (!loadImg(sprite.name.c_str(), &count, &values, &frames)) return false;
    std::vector<uint8_t> want = FramePixels(rgba);
    bool same = count == 1 && frames[0]->width == sprite.width &&
                frames[0]->height == sprite.height && frames[0]->stride == sprite.width * 4 &&
                std::memcmp(KORVO_FRAME_PIXELS(frames[0]), want.data(), want.size()) == 0;
    freeImg(count, values, frames);
    return same;
  }
};

struct Round {
  double edit = 0, png2img = 0, pack = 0, reload = 0, read = 0, total = 0;
  double copy = 0;  // a bare copy of the new archive, flushed, after the round

  size_t changed = 0;  // names the callback reported
  bool shown = false;  // the host read the new pixels
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  size_t n = values.size();
  return n == 0 ? 0 : n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// One round: sprite changes to the pixels painted from seed, and the loop runs through.
bool RunRound(const fs::path& work, const std::string& archive, const Sprite& sprite, uint64_t seed,
              const Host& host, Reloads& reloads, Round& round) {
  std::vector<uint8_t> rgba;
  reloads.Reset();
  const std::string key = IndexName(sprite.name);
  Clock::time_point start = Clock::now();
  if (!WriteSprite(sprite, seed, false, rgba)) return false;
  Clock::time_point edited = Clock::now();
  if (!RunTool({"png2img", sprite.png, "-o", sprite.img})) return false;
  Clock::time_point converted = Clock::now();
  if (!RunTool({"pack", "-C", work.string(), archive, "game"})) return false;
  Clock::time_point packed = Clock::now();
  Clock::time_point noticed;
  {
    std::unique_lock<std::mutex> hold(reloads.lock);
    bool named = reloads.changed.wait_for(hold, std::chrono::seconds(30), [&] {
      return std::find(reloads.names.begin(), reloads.names.end(), key) != reloads.names.end();
    });
    if (!named) {
      std::fprintf(stderr, "no reload named %s within 30 s\n", key.c_str());
      return false;
    }
    noticed = reloads.last;
    round.changed = reloads.names.size();
  }
  round.shown = host.Shows(sprite, rgba);
  Clock::time_point read = Clock::now();
  round.edit = Seconds(start, edited);
  round.png2img = Seconds(edited, converted);
  round.pack = Seconds(converted, packed);
  round.reload = Seconds(packed, noticed);
  round.read = Seconds(noticed, read);
  round.total = Seconds(start, read);
  return true;
}

int Run(const Options& options) {
  fs::path base = fs::path(options.data) / TreeVersion;
  std::error_code error;
  fs::create_directories(base, error);
  Tree tree;
  fs::path work;
  std::printf("generating or reusing the tree under %s\n", base.string().c_str());
  Clock::time_point begun = Clock::now();
  if (!PrepareLoopTree(base, options, tree, work)) {
    std::fprintf(stderr, "cannot write the tree under %s\n", base.string().c_str());
    return 1;
  }
  std::printf("tree: %llu files (%u sprites from PNG sources), %.1f MB, ready in %.1f s\n",
              static_cast<unsigned long long>(tree.files), options.sprites,
              static_cast<double>(tree.bytes) / 1e6, Seconds(begun, Clock::now()));

  // The first pack compresses everything and leaves the cache that later packs reuse. With
  // --keep, an archive kept by an earlier run is only brought up to date.
  const std::string archive = (work / "game.pak").string();
  const bool kept = options.keep && fs::exists(archive, error);
  if (!kept) {
    fs::remove(archive, error);
    fs::remove(archive + ".korvo-cache", error);
  }
  begun = Clock::now();
  if (!RunTool({"pack", "-C", work.string(), archive, "game"})) return 1;
  std::printf("%s: %.2f s, archive %.1f MB\n", kept ? "pack of the kept archive" : "full pack",
              Seconds(begun, Clock::now()),
              static_cast<double>(fs::file_size(archive, error)) / 1e6);

  void* library = korvo::platform::OpenLibrary(KORVO_LIBRARY_PATH);
  Host host;
  if (library == nullptr || !host.Open(library)) {
    std::fprintf(stderr, "cannot load %s and its exports\n", KORVO_LIBRARY_PATH);
    return 1;
  }
  Reloads reloads;
  host.setCallback(OnReload, &reloads);
  if (!host.addPackage(archive.c_str()) || !host.watch(1)) {
    std::fprintf(stderr, "the host cannot mount %s and watch it\n", archive.c_str());
    return 1;
  }

  std::printf(
      "\n| round | edit PNG ms | png2img ms | pack ms | until reload noticed ms | read ms | "
      "total ms | names changed | new image read | bare copy of the archive, flushed, ms |\n"
      "|---:|---:|---:|---:|---:|---:|---:|---:|---|---:|\n");
  std::vector<Round> rounds;
  bool sound = true;
  // New pixels every round, in this run and against a kept tree's earlier runs alike.
  const uint64_t seeds = uint64_t{std::random_device()()} << 20;
  for (int i = 0; i < options.rounds; ++i) {
    uint32_t index =
        static_cast<uint32_t>((static_cast<uint64_t>(i) * 7919 + 13) % options.sprites);
    Sprite sprite = SpriteAt(work, index);
    Round round;
    std::this_thread::sleep_for(std::chrono::duration<double>(options.pause));
    if (!RunRound(work, archive, sprite, seeds + options.sprites + static_cast<uint64_t>(i), host,
                  reloads, round)) {
      sound = false;
      break;
    }
    sound = sound && round.shown && round.changed == 1;
    // What writing the archive's bytes anew and flushing them costs this machine now: the
    // floor of any pack that replaces the archive safely.
    const fs::path copy = work / "copy.pak";
    Clock::time_point copying = Clock::now();
    korvo::platform::File copied;
    if (!fs::copy_file(archive, copy, fs::copy_options::overwrite_existing, error) ||
        !korvo::platform::OpenForRead(copy.string().c_str(), copied).ok() || !copied.Sync().ok()) {
      std::fprintf(stderr, "cannot copy %s\n", archive.c_str());
    }
    (void)copied.Close();
    round.copy = Seconds(copying, Clock::now());
    fs::remove(copy, error);
    std::printf("| %d | %.1f | %.1f | %.1f | %.1f | %.1f | %.1f | %zu | %s | %.1f |\n", i + 1,
                round.edit * 1e3, round.png2img * 1e3, round.pack * 1e3, round.reload * 1e3,
                round.read * 1e3, round.total * 1e3, round.changed, round.shown ? "yes" : "NO",
                round.copy * 1e3);
    rounds.push_back(round);
  }
  host.watch(0);
  host.setCallback(nullptr, nullptr);

  if (!rounds.empty()) {
    std::vector<double> totals, phase[6], packOverCopy;
    for (const Round& round : rounds) {
      totals.push_back(round.total);
      const double parts[6] = {round.edit,   round.png2img, round.pack,
                               round.reload, round.read,    round.copy};
      for (int p = 0; p < 6; ++p) phase[p].push_back(parts[p]);
      packOverCopy.push_back(round.pack / round.copy);
    }
    std::printf("| median | %.1f | %.1f | %.1f | %.1f | %.1f | %.1f | | | %.1f |\n",
                Median(phase[0]) * 1e3, Median(phase[1]) * 1e3, Median(phase[2]) * 1e3,
                Median(phase[3]) * 1e3, Median(phase[4]) * 1e3, Median(totals) * 1e3,
                Median(phase[5]) * 1e3);
    std::printf("the pack took %.2fx a bare copy of the archive (median of the rounds)\n",
                Median(packOverCopy));
    double worst = *std::max_element(totals.begin(), totals.end());
    double median = Median(totals);
    std::printf(
        "\nthe whole loop: median %.0f ms, worst %.0f ms over %zu rounds; goal <= %.0f ms: "
        "%s\n",
        median * 1e3, worst * 1e3, rounds.size(), GoalSeconds * 1e3,
        median <= GoalSeconds ? "PASS" : "MISS");
  }
  std::printf("every round reloaded just the changed sprite and read its new pixels: %s\n",
              sound ? "yes" : "NO");
  if (!options.keep) {
    fs::remove_all(work, error);
    fs::remove(base / (work.filename().string() + ".done"), error);
  }
  return sound ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  options.data = (fs::absolute(argv[0]).parent_path() / "loop-bench-data").string();
  for (int i = 1; i < argc; ++i) {
    std::string value;
    bool ok = true;
    if (TakeText(argv[i], "--data", value)) {
      options.data = fs::absolute(value).string();
    } else if (TakeText(argv[i], "--mb", value)) {
      options.megabytes = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
      ok = options.megabytes > 0 && options.megabytes <= 3000;
    } else if (TakeText(argv[i], "--sprites", value)) {
      options.sprites = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
      ok = options.sprites > 0 && options.sprites <= 100000;
    } else if (TakeText(argv[i], "--rounds", value)) {
      options.rounds = std::atoi(value.c_str());
      ok = options.rounds > 0;
    } else if (TakeText(argv[i], "--pause", value)) {
      options.pause = std::atof(value.c_str());
      ok = options.pause >= 0 && options.pause <= 600;
    } else if (std::strcmp(argv[i], "--keep") == 0) {
      options.keep = true;
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(
          stderr,
          "usage: %s [--data=DIR] [--mb=N] [--sprites=N] [--rounds=N] [--pause=S] [--keep]\n",
          argv[0]);
      return 2;
    }
  }
  if (options.sprites == 0) options.sprites = 4 * options.megabytes;
  return Run(options);
}
