// png2img and img2png: tiled images built from PNG frames decode back to the same pixels.
#include <gtest/gtest.h>

#include "tool/tool_runner.h"

namespace {

Picture SideBySide(const std::vector<Picture>& frames) {
  Picture sheet;
  sheet.width = frames[0].width * static_cast<uint32_t>(frames.size());
  sheet.height = frames[0].height;
  sheet.rgba.resize(static_cast<size_t>(sheet.width) * sheet.height * 4);
  for (size_t f = 0; f < frames.size(); ++f) {
    for (uint32_t y = 0; y < sheet.height; ++y) {
      std::copy_n(frames[f].rgba.begin() + y * frames[f].width * 4, frames[f].width * 4,
                  sheet.rgba.begin() + (y * sheet.width + f * frames[f].width) * 4);
    }
  }
  return sheet;
}

void ExpectSamePicture(const Picture& actual, const Picture& expected, const std::string& what) {
  EXPECT_EQ(actual.width, expected.width) << what;
  EXPECT_EQ(actual.height, expected.height) << what;
  EXPECT_TRUE(actual.rgba == expected.rgba) << what;
}

TEST(ToolImages, Format3RoundTripKeepsEveryPixel) {
  TempDir dir;
  Picture a = RandomPicture(20, 12, 1);
  Picture b = RandomPicture(20, 12, 2);
  WritePngFile(dir / "a.png", a);
  WritePngFile(dir / "b.png", b);
  ToolResult made = RunKorvo({"png2img", "a.png", "b.png", "-o", "anim.img", "--tile", "10x4"},
                             dir.Path(), dir.Path());
  ASSERT_EQ(made.code, 0) << made.err;
  Bytes file = ReadFileBytes(dir / "anim.img");
  EXPECT_EQ(made.out, "wrote anim.img: 2 frames of 20x12, format 3, " +
                          std::to_string(file.size()) + " bytes\n");

  // Header: the signature, the tile cell, the frame size and the count; then the first tile,
  // whose first pixel holds a's pixel (0, 0) as B, G, R, A.
  ASSERT_GE(file.size(), 56u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 8), std::string("KWF\x1A"
                                                                     "IANI",
                                                                     8));
  EXPECT_EQ(GetU32(file, 16), 10u);
  EXPECT_EQ(GetU32(file, 20), 4u);
  EXPECT_EQ(GetU32(file, 24), 20u);
  EXPECT_EQ(GetU32(file, 28), 12u);
  EXPECT_EQ(GetU32(file, 32), 2u);
  EXPECT_EQ(GetU32(file, 48), 3u);
  EXPECT_EQ((Bytes(file.begin() + 52, file.begin() + 56)),
            (Bytes{a.rgba[2], a.rgba[1], a.rgba[0], a.rgba[3]}));

  ToolResult frames = RunKorvo({"img2png", "anim.img", "-o", "out.png"}, dir.Path(), dir.Path());
  ASSERT_EQ(frames.code, 0) << frames.err;
  EXPECT_EQ(frames.out,
            "wrote out-0.png: frame 0 of 2, 20x12\nwrote out-1.png: frame 1 of 2, 20x12\n");
  ExpectSamePicture(ReadPngFile(dir / "out-0.png"), a, "frame 0");
  ExpectSamePicture(ReadPngFile(dir / "out-1.png"), b, "frame 1");
  EXPECT_FALSE(FileExists(dir / "out.png"));

  ToolResult sheet =
      RunKorvo({"img2png", "-q", "anim.img", "-o", "sheet.png", "--sheet"}, dir.Path(), dir.Path());
  ASSERT_EQ(sheet.code, 0) << sheet.err;
  EXPECT_EQ(sheet.out, "");
  ExpectSamePicture(ReadPngFile(dir / "sheet.png"), SideBySide({a, b}), "sheet");
}

TEST(ToolImages, Format1KeepsTheTopFourBitsOfEachComponent) {
  TempDir dir;
  Picture a = RandomPicture(16, 8, 3);
  WritePngFile(dir / "a.png", a);
  ToolResult made =
      RunKorvo({"png2img", "-q", "a.png", "-o", "a.img", "--format", "1", "--tile", "4x4"},
               dir.Path(), dir.Path());
  ASSERT_EQ(made.code, 0) << made.err;
  ToolResult back = RunKorvo({"img2png", "a.img", "-o", "a1.png"}, dir.Path(), dir.Path());
  ASSERT_EQ(back.code, 0) << back.err;
  EXPECT_EQ(back.out, "wrote a1.png: 1 frame of 16x8\n");
  Picture expected = a;
  for (uint8_t& byte : expected.rgba) byte &= 0xF0;
  ExpectSamePicture(ReadPngFile(dir / "a1.png"), expected, "format 1");
}

TEST(ToolImages, ReadsAnImageFromAPackage) {
  TempDir dir;
  Picture a = RandomPicture(24, 16, 4);
  WritePngFile(dir / "a.png", a);
  MakeDirectories(dir / "content/img");
  ASSERT_EQ(
      RunKorvo({"png2img", "-q", "a.png", "-o", "content/img/a.img"}, dir.Path(), dir.Path()).code,
      0);
  ASSERT_EQ(
      RunKorvo({"pack", "-q", "-C", "content", "game.pak", "img"}, dir.Path(), dir.Path()).code, 0);
  ToolResult result =
      RunKorvo({"img2png", "-q", "IMG/A.IMG", "--package", "game.pak", "-o", "a.png.out"},
               dir.Path(), dir.Path());
  ASSERT_EQ(result.code, 0) << result.err;
  ExpectSamePicture(ReadPngFile(dir / "a.png.out"), a, "from the package");

  ToolResult missing = RunKorvo({"img2png", "img/b.img", "--package", "game.pak", "-o", "b.png"},
                                dir.Path(), dir.Path());
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "korvo: game.pak: no entry named 'img/b.img'\n");
}

TEST(ToolImages, ReportsFilesThatCannotBeConverted) {
  TempDir dir;
  WritePngFile(dir / "a.png", RandomPicture(20, 12, 5));
  WritePngFile(dir / "small.png", RandomPicture(4, 4, 6));
  WriteFileText(dir / "text.png", "this is no PNG");
  ASSERT_EQ(RunKorvo({"png2img", "-q", "a.png", "-o", "a.img"}, dir.Path(), dir.Path()).code, 0);
  Bytes image = ReadFileBytes(dir / "a.img");
  WriteFileBytes(dir / "cut.img", Bytes(image.begin(), image.begin() + 100));
  Bytes empty(image.begin(), image.begin() + 36);
  empty[32] = 0;  // no frames
  WriteFileBytes(dir / "empty.img", empty);

  struct Case {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"png2img", "a.png", "small.png", "-o", "x.img"},
       "korvo: small.png: 4x4 differs from the first frame's 20x12; every frame must be the "
       "same size\n"},
      {{"png2img", "text.png", "-o", "x.img"}, ""},
      {{"img2png", "text.png", "-o", "x.png"},
       "korvo: text.png: not a tiled image file (no KWF/IANI signature)\n"},
      {{"img2png", "cut.img", "-o", "x.png"},
       "korvo: cut.img: damaged tiled image: a header or tile record is invalid or the file is "
       "cut short\n"},
      {{"img2png", "empty.img", "-o", "x.png"},
       "korvo: empty.img: image has no frames; nothing written\n"},
  };
  for (const Case& c : cases) {
    ToolResult result = RunKorvo(c.args, dir.Path(), dir.Path());
    EXPECT_EQ(result.code, 1) << c.args[1];
    if (c.err.empty()) {
      EXPECT_EQ(result.err.rfind("korvo: text.png: not a readable PNG: ", 0), 0u) << result.err;
      EXPECT_EQ(Lines(result.err).size(), 1u);
    } else {
      EXPECT_EQ(result.err, c.err);
    }
  }
  EXPECT_FALSE(FileExists(dir / "x.img"));
  EXPECT_FALSE(FileExists(dir / "x.png"));
}

}  // namespace
