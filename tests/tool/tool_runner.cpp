#include "tool/tool_runner.h"

#include <gtest/gtest.h>
#include <spng.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>

namespace fs = std::filesystem;

std::string ShellQuote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

ToolResult RunKorvo(const std::vector<std::string>& args, const std::string& scratch,
                    const std::string& cwd) {
  std::string out = scratch + "/.korvo-stdout";
  std::string err = scratch + "/.korvo-stderr";
  std::string rc = scratch + "/.korvo-status";
  std::string command;
  if (!cwd.empty()) command += "cd " + ShellQuote(cwd) + " && ";
  command += ShellQuote(KORVO_TOOL_PATH);
  for (const std::string& arg : args) command += " " + ShellQuote(arg);
  command +=
      " >" + ShellQuote(out) + " 2>" + ShellQuote(err) + " </dev/null; echo $? >" + ShellQuote(rc);
  int ignored = std::system(command.c_str());
  (void)ignored;
  ToolResult result;
  result.out = ReadText(out);
  result.err = ReadText(err);
  std::string status = ReadText(rc);
  result.code = status.empty() ? -1 : std::atoi(status.c_str());
  std::error_code ec;
  fs::remove(out, ec);
  fs::remove(err, ec);
  fs::remove(rc, ec);
  return result;
}

bool ShellSucceeds(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string ReadText(const std::string& path) {
  Bytes bytes = ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream in(line);
  std::string field;
  while (in >> field) fields.push_back(field);
  return fields;
}

std::vector<std::string> FilesBelow(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file()) files.push_back(fs::relative(it->path(), dir).generic_string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

Picture RandomPicture(uint32_t width, uint32_t height, uint32_t seed) {
  Picture picture;
  picture.width = width;
  picture.height = height;
  std::mt19937 random(seed);
  picture.rgba.resize(static_cast<size_t>(width) * height * 4);
  for (uint8_t& byte : picture.rgba) byte = static_cast<uint8_t>(random() & 0xFF);
  return picture;
}

void WritePngFile(const std::string& path, const Picture& picture) {
  spng_ctx* context = spng_ctx_new(SPNG_CTX_ENCODER);
  ASSERT_NE(context, nullptr);
  spng_set_option(context, SPNG_ENCODE_TO_BUFFER, 1);
  spng_ihdr header{};
  header.width = picture.width;
  header.height = picture.height;
  header.bit_depth = 8;
  header.color_type = SPNG_COLOR_TYPE_TRUECOLOR_ALPHA;
  ASSERT_EQ(spng_set_ihdr(context, &header), 0);
  ASSERT_EQ(spng_encode_image(context, picture.rgba.data(), picture.rgba.size(), SPNG_FMT_PNG,
                              SPNG_ENCODE_FINALIZE),
            0);
  size_t length = 0;
  int error = 0;
  uint8_t* data = static_cast<uint8_t*>(spng_get_png_buffer(context, &length, &error));
  spng_ctx_free(context);
  ASSERT_NE(data, nullptr);
  WriteFileBytes(path, Bytes(data, data + length));
  std::free(data);
}

Picture ReadPngFile(const std::string& path) {
  Bytes bytes = ReadFileBytes(path);
  Picture picture;
  spng_ctx* context = spng_ctx_new(0);
  if (context == nullptr) return picture;
  spng_ihdr header{};
  size_t length = 0;
  if (spng_set_png_buffer(context, bytes.data(), bytes.size()) == 0 &&
      spng_get_ihdr(context, &header) == 0 &&
      spng_decoded_image_size(context, SPNG_FMT_RGBA8, &length) == 0) {
    picture.rgba.resize(length);
    if (spng_decode_image(context, picture.rgba.data(), length, SPNG_FMT_RGBA8, 0) == 0) {
      picture.width = header.width;
      picture.height = header.height;
    } else {
      picture.rgba.clear();
    }
  }
  spng_ctx_free(context);
  return picture;
}
