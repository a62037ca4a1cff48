// korvo view as a browser and a script meet it: the JSON API, the frame PNGs, and the refusals
// of a server that must only answer its own page. The server runs as a child on a free port;
// requests go through curl, which sends exactly the path and headers a test gives it.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <csignal>
#include <nlohmann/json.hpp>
#include <thread>

#include "tool/tool_runner.h"

namespace {

struct HttpReply {
  int status = 0;
  std::string body;
  std::string headers;
};

class View : public ToolTest {
 protected:
  // Starts korvo view on args and waits for the address it prints (at most about two minutes:
  // Wine can take long to start the first program).
  // Takes the first "http://127.0.0.1:<port>/<32 hex digits>/" of out into url, port, token.
  bool ParseAddress(const std::string& out, const std::string& prefix) {
    for (size_t at = out.find(prefix); at != std::string::npos; at = out.find(prefix, at + 1)) {
      size_t digits = at + prefix.size();
      size_t end = digits;
      while (end < out.size() && std::isdigit(static_cast<unsigned char>(out[end]))) ++end;
      if (end == digits || end >= out.size() || out[end] != '/') continue;
      const std::string hex = out.substr(end + 1, 33);
      if (hex.size() != 33 || hex[32] != '/' || hex.find_first_not_of("0123456789abcdef") != 32) {
        continue;
      }
      port = out.substr(digits, end - digits);
      token = hex.substr(0, 32);
      url = out.substr(at, end + 34 - at);
      return true;
    }
    return false;
  }
  void Start(const std::vector<std::string>& args) {
    std::string command = Quote(KORVO_TOOL_PATH) + " view";
    for (const std::string& arg : args) command += " " + Quote(arg);
    command +=
        " >" + Quote(io / "view.out") + " 2>" + Quote(io / "view.err") + " </dev/null & echo $!";
    ToolResult started = Shell(command);
    ASSERT_EQ(started.code, 0);
    pid = std::atoi(started.out.c_str());
    const std::string prefix = "http://127.0.0.1:";
    for (int wait = 0; wait < 2400; ++wait) {
      if (ParseAddress(ReadText(io / "view.out"), prefix)) return;
      // A korvo that ended (a usage error, a port in use) prints no address.
      if (wait % 20 == 19 && Shell("kill -0 " + std::to_string(pid)).code != 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    FAIL() << "no address printed: " << ReadText(io / "view.out") << ReadText(io / "view.err");
  }
  void TearDown() override {
    if (pid > 0) Shell("kill " + std::to_string(pid));
  }
  // GET (or another method) of target exactly as given, relative to the server's root.
  HttpReply Request(const std::string& target, const std::vector<std::string>& options = {}) {
    std::string command = "curl -sS --path-as-is -o " + Quote(io / "body") + " -D " +
                          Quote(io / "head") + " -w '%{http_code}'";
    for (const std::string& option : options) command += " " + Quote(option);
    command += " " + Quote("http://127.0.0.1:" + port + target);
    ToolResult result = Shell(command);
    EXPECT_EQ(result.code, 0) << command << result.err;
    return {std::atoi(result.out.c_str()), ReadText(io / "body"), ReadText(io / "head")};
  }
  // GET of a path below the page.
  HttpReply Get(const std::string& path) { return Request("/" + token + "/" + path); }
  nlohmann::json GetJson(const std::string& path) {
    HttpReply reply = Get(path);
    EXPECT_EQ(reply.status, 200) << path << reply.body;
    return nlohmann::json::parse(reply.body, nullptr, false);
  }
  // A package of one animated image of three frames, a single-frame one and a text file.
  void MakeSample() {
    for (uint32_t f = 0; f < 3; ++f)
      WritePng("f" + std::to_string(f) + ".png", RandomPicture(5, 3, f));
    WritePng("one.png", RandomPicture(4, 4, 9));
    MakeDirectories(dir / "content/data/sprites");
    MakeDirectories(dir / "content/data/text");
    ASSERT_EQ(
        Run({"png2img", "-q", "f0.png", "f1.png", "f2.png", "-o", "content/data/sprites/anim.img"})
            .code,
        0);
    ASSERT_EQ(Run({"png2img", "-q", "one.png", "-o", "content/data/sprites/one.img"}).code, 0);
    WriteFileText(dir / "content/data/text/readme.txt", "Hello, view.\n");
    ASSERT_EQ(Run({"pack", "-q", "-C", "content", "game.pak", "data"}).code, 0);
  }

  int pid = 0;
  std::string url, port, token;
};

TEST_F(View, ListsEntriesAsJsonAndServesFramesAsImg2PngWritesThem) {
  MakeSample();
  Start({"game.pak"});
  nlohmann::json info = GetJson("api/info");
  EXPECT_EQ(info["entryCount"], 3);
  EXPECT_EQ(info["packages"][0]["path"], "game.pak");

  nlohmann::json all = GetJson("api/entries");
  ASSERT_EQ(all["total"], 3);
  EXPECT_EQ(all["entries"][0]["name"], "data\\sprites\\anim.img");
  EXPECT_EQ(all["entries"][1]["name"], "data\\sprites\\one.img");
  EXPECT_EQ(all["entries"][2]["name"], "data\\text\\readme.txt");
  EXPECT_EQ(all["entries"][2]["size"], 13);
  EXPECT_EQ(all["entries"][2]["winner"], true);
  // The folded-name filter, the tool's globs and folders, the paging.
  EXPECT_EQ(GetJson("api/entries?filter=SPRITES/ONE")["total"], 1);
  EXPECT_EQ(GetJson("api/entries?glob=**/*.img")["total"], 2);
  EXPECT_EQ(GetJson("api/entries?glob=Data/Text")["total"], 1);
  EXPECT_EQ(GetJson("api/entries?prefix=data/sprites")["total"], 2);
  nlohmann::json page = GetJson("api/entries?offset=1&limit=1");
  EXPECT_EQ(page["total"], 3);
  ASSERT_EQ(page["entries"].size(), 1u);
  EXPECT_EQ(page["entries"][0]["id"], 1);
  // The tree: one folder at a time.
  nlohmann::json tree = GetJson("api/tree?prefix=data");
  ASSERT_EQ(tree["folders"].size(), 2u);
  EXPECT_EQ(tree["folders"][0]["name"], "sprites");
  EXPECT_EQ(tree["folders"][0]["count"], 2);
  EXPECT_EQ(tree["files"].size(), 0u);

  nlohmann::json anim = GetJson("api/entry/0");
  EXPECT_EQ(anim["kind"], "image");
  EXPECT_EQ(anim["image"]["count"], 3);
  EXPECT_EQ(anim["image"]["width"], 5);
  EXPECT_EQ(anim["image"]["values"], nlohmann::json({100, 100, 100}));
  EXPECT_EQ(GetJson("api/entry/2")["kind"], "text");

  ASSERT_EQ(
      Run({"img2png", "-q", "--package", "game.pak", "data/sprites/anim.img", "-o", "a.png"}).code,
      0);
  ASSERT_EQ(Run({"img2png", "-q", "--package", "game.pak", "data/sprites/anim.img", "-o",
                 "sheet.png", "--sheet"})
                .code,
            0);
  ASSERT_EQ(
      Run({"img2png", "-q", "--package", "game.pak", "data/sprites/one.img", "-o", "one-back.png"})
          .code,
      0);
  for (int f = 0; f < 3; ++f) {
    HttpReply frame = Get("api/entry/0/frames/" + std::to_string(f) + ".png");
    EXPECT_EQ(frame.status, 200);
    EXPECT_EQ(frame.body, ReadText(dir / ("a-" + std::to_string(f) + ".png"))) << f;
  }
  EXPECT_EQ(Get("api/entry/0/sheet.png").body, ReadText(dir / "sheet.png"));
  EXPECT_EQ(Get("api/entry/1/frames/0.png").body, ReadText(dir / "one-back.png"));
  EXPECT_EQ(Get("api/entry/0/frames/3.png").status, 404);

  HttpReply raw = Get("api/entry/2/raw");
  EXPECT_EQ(raw.body, "Hello, view.\n");
  EXPECT_NE(raw.headers.find("attachment; filename=\"readme.txt\""), std::string::npos);
  EXPECT_EQ(Get("api/entry/2/head?bytes=5").body, "Hello");
  HttpReply page0 = Get("");
  EXPECT_EQ(page0.status, 200);
  EXPECT_NE(page0.body.find("<title>korvo view</title>"), std::string::npos);
}

TEST_F(View, AnswersOnlyRequestsWithTheTokenFromItsOwnPage) {
  MakeSample();
  Start({"game.pak"});
  const std::string good = "/" + token + "/api/info";
  EXPECT_EQ(Request(good).status, 200);
  // No token, a wrong one, the token elsewhere than the first segment.
  EXPECT_EQ(Request("/api/info").status, 403);
  EXPECT_EQ(Request("/").status, 403);
  std::string wrong = token;
  wrong[0] = wrong[0] == 'a' ? 'b' : 'a';
  EXPECT_EQ(Request("/" + wrong + "/api/info").status, 403);
  EXPECT_EQ(Request("/api/" + token + "/info").status, 403);
  EXPECT_EQ(Request("/" + token.substr(1) + "/api/info").status, 403);
  // A name that resolves to 127.0.0.1 elsewhere (DNS rebinding), another site's page.
  EXPECT_EQ(Request(good, {"-H", "Host: attacker.example:" + port}).status, 403);
  EXPECT_EQ(Request(good, {"-H", "Host: 127.0.0.1"}).status, 403);
  EXPECT_EQ(Request(good, {"-H", "Origin: http://attacker.example"}).status, 403);
  EXPECT_EQ(Request(good, {"-H", "Sec-Fetch-Site: cross-site"}).status, 403);
  EXPECT_EQ(Request(good, {"-H", "Origin: http://127.0.0.1:" + port}).status, 200);
  // Read-only.
  EXPECT_EQ(Request(good, {"-X", "POST", "-d", "x"}).status, 405);
  EXPECT_EQ(Request(good, {"-X", "DELETE"}).status, 405);
  // Paths on disk are never served: entries have ids.
  EXPECT_EQ(Get("../../../../etc/passwd").status, 404);
  EXPECT_EQ(Get("..%2f..%2fetc%2fpasswd").status, 404);
  EXPECT_EQ(Get("/etc/passwd").status, 404);
  EXPECT_EQ(Get("api/entry/..%2f0").status, 404);
  EXPECT_EQ(Get("api/entry/0/../../info").status, 404);
  EXPECT_EQ(Get("api/entry/" + (dir / "game.pak")).status, 404);
  // Ids out of range.
  HttpReply beyond = Get("api/entry/3");
  EXPECT_EQ(beyond.status, 404);
  EXPECT_EQ(beyond.body, "{\"error\":\"no entry 3; there are 3\"}");
  EXPECT_EQ(Get("api/entry/4294967296/raw").status, 404);
  EXPECT_EQ(Get("api/entry/-1").status, 404);
  EXPECT_EQ(Get("api/entries?limit=x").status, 400);
  // Still serving.
  EXPECT_EQ(Request(good).status, 200);
}

TEST_F(View, HostileImageEntriesGiveErrorsAndTheServerGoesOn) {
  // Image magic with a header announcing 2^31 frames, and one cut inside its first tile.
  Bytes huge =
      ToBytes(std::string("KWF\x1A"
                          "IANI",
                          8));
  for (uint32_t v : {0u, 0u, 64u, 64u, 4096u, 4096u, 0x7FFFFFFFu}) PutU32(huge, v);
  WritePng("a.png", RandomPicture(8, 8, 1));
  ASSERT_EQ(Run({"png2img", "-q", "a.png", "-o", "a.img"}).code, 0);
  Bytes cut = ReadFileBytes(dir / "a.img");
  cut.resize(cut.size() - 10);
  std::vector<RawEntry> entries = {
      {"huge.img", Compress(huge), uint32_t(huge.size())},
      {"cut.img", Compress(cut), uint32_t(cut.size())},
      {"garbled.img", ToBytes("not zlib at all"), 100},
  };
  WriteFileBytes(dir / "evil.pak", BuildArchive(entries));
  Start({"evil.pak"});
  for (int id = 0; id < 2; ++id) {
    HttpReply frame = Get("api/entry/" + std::to_string(id) + "/frames/0.png");
    EXPECT_EQ(frame.status, 422) << id;
    EXPECT_NE(frame.body.find("\"error\""), std::string::npos) << frame.body;
    nlohmann::json detail = GetJson("api/entry/" + std::to_string(id));
    EXPECT_EQ(detail["kind"], "image");
    EXPECT_TRUE(detail.contains("error")) << detail.dump();
    EXPECT_FALSE(detail.contains("image")) << detail.dump();
  }
  EXPECT_EQ(GetJson("api/entry/2")["kind"], "unreadable");
  EXPECT_EQ(Get("api/entry/2/raw").status, 422);
  EXPECT_EQ(Get("api/entry/2/frames/0.png").status, 422);
  EXPECT_EQ(Get("api/info").status, 200);
}

TEST_F(View, AClientLeavingMidReplyLeavesTheServerServing) {
  // 16 MiB that do not compress: many pieces to send.
  Bytes big(16u << 20);
  std::mt19937 random(7);
  for (uint8_t& byte : big) byte = static_cast<uint8_t>(random());
  WriteFileBytes(dir / "big.pak", BuildArchive({{"big.bin", Compress(big), uint32_t(big.size())}}));
  Start({"big.pak"});
  for (int round = 0; round < 3; ++round) {
    ToolResult cut =
        Shell("curl -sS -N " + Quote(url + "api/entry/0/raw") + " | head -c 1000 | wc -c");
    EXPECT_EQ(cut.out, "1000\n");
  }
  EXPECT_EQ(Get("api/info").status, 200);
  EXPECT_EQ(Get("api/entry/0/head?bytes=4").body, std::string(big.begin(), big.begin() + 4));
}

TEST_F(View, AGameDirectoryShowsItsMountChainAndWhichPackageWinsEachName) {
  WriteFileBytes(dir / "base.pak",
                 BuildArchive({TextEntry("Data\\A.txt", "base a"), TextEntry("data\\b.txt", "b")}));
  WriteFileBytes(dir / "patch.pak", BuildArchive({TextEntry("data/a.TXT", "patched a")}));
  WriteFileText(dir / "package.cfg", "base.pak missing.pak patch.pak\n");
  Start({dir.Path()});
  nlohmann::json info = GetJson("api/info");
  EXPECT_EQ(info["mode"], "game");
  ASSERT_EQ(info["packages"].size(), 3u);
  EXPECT_EQ(info["packages"][0]["mounted"], true);
  EXPECT_EQ(info["packages"][1]["mounted"], false);
  EXPECT_TRUE(info["packages"][1].contains("problem"));
  EXPECT_EQ(info["packages"][2]["mounted"], true);
  nlohmann::json all = GetJson("api/entries");
  ASSERT_EQ(all["total"], 3);
  EXPECT_EQ(all["entries"][0]["winner"], false);
  EXPECT_EQ(all["entries"][0]["shadowedBy"], 2);
  EXPECT_EQ(all["entries"][1]["winner"], true);
  EXPECT_EQ(all["entries"][2]["winner"], true);
  EXPECT_EQ(all["entries"][2]["package"], 2);
  EXPECT_EQ(all["entries"][2]["shadows"], 1);
  nlohmann::json winner = GetJson("api/entry/2");
  ASSERT_EQ(winner["shadowList"].size(), 1u);
  EXPECT_EQ(winner["shadowList"][0]["id"], 0);
  EXPECT_EQ(Get("api/entry/2/raw").body, "patched a");
  EXPECT_EQ(Get("api/entry/0/raw").body, "base a");
}

#if KORVO_TOOL_ON_WINDOWS
// korvo.exe under Wine: a drive-letter path to the archive, the API answering.
TEST_F(View, KorvoExeServesAnArchiveNamedByADriveLetterPath) {
  MakeSample();
  std::string windowsPath = "Z:" + (dir / "game.pak");
  std::replace(windowsPath.begin(), windowsPath.end(), '/', '\\');
  Start({windowsPath});
  nlohmann::json info = GetJson("api/info");
  EXPECT_EQ(info["entryCount"], 3);
  EXPECT_EQ(Get("api/entry/2/raw").body, "Hello, view.\n");
}
#endif

}  // namespace
