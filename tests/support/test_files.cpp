#include "support/test_files.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>

#include "common/byte_order.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::random_device device;
  std::mt19937_64 random(device());
  for (;;) {
    fs::path candidate =
        fs::temp_directory_path() / ("korvo-test-" + std::to_string(random() % 1000000000ULL));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.string();
      return;
    }
  }
}

TempDir::~TempDir() {
  std::error_code error;
  fs::remove_all(path_, error);
}

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  // A fixture that cannot be written leaves the test without its input: stop the whole run.
  if (!out.good()) throw std::runtime_error("cannot write test file " + path);
}

void WriteFileText(const std::string& path, const std::string& text) {
  WriteFileBytes(path, ToBytes(text));
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  return fs::exists(path);
}

void MakeDirectories(const std::string& path) {
  fs::create_directories(path);
}

void MakeSparseFile(const std::string& path, uint64_t size) {
  WriteFileBytes(path, {});
  fs::resize_file(path, size);
}

Bytes ToBytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

Bytes Compress(const Bytes& data) {
  uLongf length = compressBound(static_cast<uLong>(data.size()));
  Bytes out(length);
  int result = compress(out.data(), &length, data.data(), static_cast<uLong>(data.size()));
  EXPECT_EQ(result, Z_OK);
  out.resize(length);
  return out;
}

void PutU16(Bytes& out, uint16_t v) {
  korvo::AppendLE16(out, v);
}

void PutU32(Bytes& out, uint32_t v) {
  korvo::AppendLE32(out, v);
}

void PutBytes(Bytes& out, const Bytes& bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void PutText(Bytes& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

uint32_t GetU32(const Bytes& in, size_t offset) {
  return static_cast<uint32_t>(in.at(offset)) | (static_cast<uint32_t>(in.at(offset + 1)) << 8) |
         (static_cast<uint32_t>(in.at(offset + 2)) << 16) |
         (static_cast<uint32_t>(in.at(offset + 3)) << 24);
}
