// Runs the real korvo binary in a test's own directory, and helpers for the files it works on.
#pragma once

#include <gtest/gtest.h>
#include <spng.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

#include "support/archive_bytes.h"

struct ToolResult {
  int code = -1;
  std::string out, err;
};

// An 8-bit RGBA picture, as PNG files hold it.
struct Picture {
  uint32_t width = 0, height = 0;
  Bytes rgba;
  bool operator==(const Picture& o) const { return width == o.width && rgba == o.rgba; }
};

inline Picture RandomPicture(uint32_t width, uint32_t height, uint32_t seed) {
  Picture picture{width, height, Bytes(size_t{width} * height * 4)};
  std::mt19937 random(seed);
  for (uint8_t& byte : picture.rgba) byte = static_cast<uint8_t>(random());
  return picture;
}

// Writes picture to path as PNG through libspng, or reads one (empty when unreadable).
inline Picture PngFile(const std::string& path, Picture picture = {}, bool write = false) {
  std::FILE* file = std::fopen(path.c_str(), write ? "wb" : "rb");
  if (file == nullptr) return {};
  spng_ctx* context = spng_ctx_new(write ? SPNG_CTX_ENCODER : 0);
  spng_set_png_file(context, file);
  spng_ihdr header{picture.width, picture.height, 8, SPNG_COLOR_TYPE_TRUECOLOR_ALPHA, 0, 0, 0};
  size_t size = 0;
  if (write) {
    spng_set_ihdr(context, &header);
    spng_encode_image(context, picture.rgba.data(), picture.rgba.size(), SPNG_FMT_PNG,
                      SPNG_ENCODE_FINALIZE);
  } else if (spng_get_ihdr(context, &header) == 0 &&
             spng_decoded_image_size(context, SPNG_FMT_RGBA8, &size) == 0) {
    picture = {header.width, header.height, Bytes(size)};
    if (spng_decode_image(context, picture.rgba.data(), size, SPNG_FMT_RGBA8, 0)) picture = {};
  }
  spng_ctx_free(context);
  std::fclose(file);
  return picture;
}

// A fresh working directory per test, where the tool runs as a user would run it.
class ToolTest : public ::testing::Test {
 protected:
  static std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  }
  static std::string ReadText(const std::string& path) {
    Bytes bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
  }
  void WritePng(const std::string& name, const Picture& p) { PngFile(dir / name, p, true); }
  Picture ReadPng(const std::string& name) { return PngFile(dir / name); }
  // Runs a shell command in dir with empty standard input, capturing its output outside dir.
  ToolResult Shell(const std::string& command) {
    std::string line = "cd " + Quote(dir.Path()) + " && (" + command + ") >" + Quote(io / "out") +
                       " 2>" + Quote(io / "err") + " </dev/null; echo $? >" + Quote(io / "code");
    EXPECT_EQ(std::system(line.c_str()), 0) << line;
    return {std::atoi(ReadText(io / "code").c_str()), ReadText(io / "out"), ReadText(io / "err")};
  }
  ToolResult Run(const std::vector<std::string>& args) {
    std::string command = Quote(KORVO_TOOL_PATH);
    for (const std::string& arg : args) command += " " + Quote(arg);
    return Shell(command);
  }
  // Runs korvo and expects exactly this exit status and output.
  void Expect(const std::vector<std::string>& args, int code, const std::string& out,
              const std::string& err = "") {
    ToolResult result = Run(args);
    EXPECT_EQ(std::tie(result.code, result.out, result.err), std::tie(code, out, err))
        << testing::PrintToString(args);
  }
  TempDir dir, io;
};
