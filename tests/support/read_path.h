// Helpers for the read-path suites: hand-made headers and index records, deterministic
// contents, and walking or draining what the library hands out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/package_format.h"
#include "support/archive_bytes.h"
#include "support/test_files.h"

class CMappedPackage;
class CResStream;

// The 16 header bytes: tag, entryCount, indexOffset, indexSize.
Bytes HeaderBytes(uint32_t entryCount, uint32_t indexOffset, uint32_t indexSize,
                  uint32_t tag = 100);

// Appends one index record: the u16 name length, the name, then the four u32 fields.
void PutRecord(Bytes& out, const std::string& name, uint32_t flags, uint32_t offset, uint32_t size,
               uint32_t packedSize);

// n bytes of a repeatable pattern that differs by seed.
Bytes Pattern(size_t n, uint8_t seed);

// An entry holding data, stored as zlib's compress gives it.
RawEntry DataEntry(const std::string& name, const Bytes& data);

// Writes an archive made by BuildArchive to path and returns path.
std::string WriteArchive(const std::string& path, const std::vector<RawEntry>& entries);

// Runs FirstEntry and NextEntry on one PackageEntry, as mounting does, and returns a copy of
// the entry after each call that reported a record. Stops after limit records so that a walk
// that never ends fails its test instead of hanging.
std::vector<PackageEntry> WalkIndex(CMappedPackage& package, size_t limit = 1000);

// Reads a stream to its end in small steps.
Bytes ReadAll(CResStream& stream);
