#include "api.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "archive/names.h"
#include "image/img_format.h"
#include "page_assets.h"
#include "png_file.h"
#include "select.h"
#include "tool.h"

namespace korvo::tool {

namespace {

using nlohmann::json;

// Names are bytes; any that are not UTF-8 are shown with replacement characters.
ApiReply JsonReply(const json& document) {
  ApiReply reply;
  reply.body = document.dump(-1, ' ', false, json::error_handler_t::replace);
  return reply;
}

// What a failed read or decode says: its detail, else its code's text.
std::string Cause(const Status& status) {
  return status.detail().empty() ? StatusCodeText(status.code()) : status.detail();
}

// A whole decimal number of at most 9 digits, or -1.
long long ParseNumber(const std::string& text) {
  if (text.empty() || text.size() > 9) return -1;
  long long value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// A numeric parameter within [0, most]; fallback when absent; -1 when malformed.
long long NumberParam(const QueryParam& param, const char* name, long long fallback,
                      long long most) {
  std::string text = param(name);
  if (text.empty()) return fallback;
  long long value = ParseNumber(text);
  return value < 0 ? -1 : std::min(value, most);
}

json EntryJson(const Catalog& catalog, uint32_t id) {
  const ViewEntry& entry = catalog.Entries()[id];
  json item;
  item["id"] = id;
  item["name"] = entry.name;
  item["package"] = entry.package;
  item["size"] = entry.info.size;
  item["packedSize"] = entry.info.packedSize;
  if (entry.info.size > 0) {
    item["ratio"] = static_cast<double>(entry.info.packedSize) / entry.info.size;
  } else {
    item["ratio"] = nullptr;
  }
  item["winner"] = entry.winner == id;
  if (entry.winner != id) item["shadowedBy"] = entry.winner;
  item["shadows"] = entry.shadows.size();
  return item;
}

ApiReply Info(const Catalog& catalog) {
  json document;
  document["mode"] = catalog.IsGame() ? "game" : "archives";
  if (catalog.IsGame()) {
    document["root"] = catalog.Root();
    document["list"] = catalog.ListPath();
    if (!catalog.ListProblem().empty()) document["listProblem"] = catalog.ListProblem();
  }
  json packages = json::array();
  for (const ViewPackage& package : catalog.Packages()) {
    json item;
    item["token"] = package.token;
    item["path"] = package.path;
    item["mounted"] = package.mounted;
    item["listed"] = package.listed;
    item["indexed"] = package.indexed;
    if (!package.problem.empty()) item["problem"] = package.problem;
    packages.push_back(std::move(item));
  }
  document["packages"] = std::move(packages);
  document["entryCount"] = catalog.Entries().size();
  return JsonReply(document);
}

// The ids in [begin, end) of the sorted order whose folded names start with the folded folder
// prefix and a separator (all of them for an empty prefix).
std::pair<size_t, size_t> FolderRange(const Catalog& catalog, const std::string& prefix,
                                      std::string& key) {
  key = prefix.empty() ? std::string() : FoldPattern(prefix);
  if (!key.empty() && key.back() != '\\') key += '\\';
  const std::vector<uint32_t>& sorted = catalog.Sorted();
  const std::vector<ViewEntry>& entries = catalog.Entries();
  auto begin =
      std::lower_bound(sorted.begin(), sorted.end(), key,
                       [&](uint32_t id, const std::string& k) { return entries[id].folded < k; });
  auto end = begin;
  while (end != sorted.end() && entries[*end].folded.compare(0, key.size(), key) == 0) ++end;
  return {static_cast<size_t>(begin - sorted.begin()), static_cast<size_t>(end - sorted.begin())};
}

ApiReply Entries(const Catalog& catalog, const QueryParam& param) {
  long long offset = NumberParam(param, "offset", 0, 1LL << 40);
  long long limit = NumberParam(param, "limit", 200, MaxListingLimit);
  if (offset < 0 || limit < 0) return ErrorReply(400, "offset and limit are whole numbers");
  const std::vector<ViewEntry>& entries = catalog.Entries();

  // Each filter keeps a set of ids; the listing is in mount order.
  std::vector<bool> keep(entries.size(), true);
  std::string prefix = param("prefix");
  if (!prefix.empty()) {
    std::string key;
    auto [begin, end] = FolderRange(catalog, prefix, key);
    std::vector<bool> inside(entries.size(), false);
    for (size_t i = begin; i < end; ++i) inside[catalog.Sorted()[i]] = true;
    keep = std::move(inside);
  }
  std::string glob = param("glob");
  if (!glob.empty()) {
    std::vector<std::string> unmatched;
    std::vector<bool> selected(entries.size(), false);
    for (size_t index : SelectEntries(catalog.Records(), {glob}, unmatched)) selected[index] = true;
    for (size_t id = 0; id < entries.size(); ++id) keep[id] = keep[id] && selected[id];
  }
  std::string filter = param("filter");
  if (!filter.empty()) {
    std::string folded(filter.size(), '\0');
    FoldName(filter.data(), filter.size(), &folded[0]);
    for (size_t id = 0; id < entries.size(); ++id) {
      keep[id] = keep[id] && entries[id].folded.find(folded) != std::string::npos;
    }
  }

  json list = json::array();
  size_t total = 0;
  for (uint32_t id = 0; id < entries.size(); ++id) {
    if (!keep[id]) continue;
    if (total >= static_cast<size_t>(offset) && list.size() < static_cast<size_t>(limit)) {
      list.push_back(EntryJson(catalog, id));
    }
    ++total;
  }
  json document;
  document["total"] = total;
  document["offset"] = offset;
  document["entries"] = std::move(list);
  return JsonReply(document);
}

ApiReply Tree(const Catalog& catalog, const QueryParam& param) {
  std::string key;
  auto [begin, end] = FolderRange(catalog, param("prefix"), key);
  json folders = json::array();
  json files = json::array();
  size_t moreFiles = 0;
  for (size_t i = begin; i < end; ++i) {
    uint32_t id = catalog.Sorted()[i];
    const ViewEntry& entry = catalog.Entries()[id];
    size_t separator = entry.folded.find('\\', key.size());
    if (separator == std::string::npos) {
      if (files.size() < MaxListingLimit) {
        json item = EntryJson(catalog, id);
        item["leaf"] = entry.name.substr(key.size());
        files.push_back(std::move(item));
      } else {
        ++moreFiles;
      }
      continue;
    }
    std::string folder = entry.folded.substr(key.size(), separator - key.size());
    if (!folders.empty() && folders.back()["key"] == folder) {
      folders.back()["count"] = folders.back()["count"].get<size_t>() + 1;
      continue;
    }
    json item;
    item["key"] = folder;
    item["name"] = entry.name.substr(key.size(), separator - key.size());
    item["path"] = entry.name.substr(0, separator);
    item["count"] = 1;
    folders.push_back(std::move(item));
  }
  json document;
  document["prefix"] = key;
  document["folders"] = std::move(folders);
  document["files"] = std::move(files);
  document["moreFiles"] = moreFiles;
  return JsonReply(document);
}

// What the page shows an entry as, from its first bytes.
const char* Kind(const std::vector<uint8_t>& data) {
  if (data.size() >= sizeof ImgMagic && HasImgMagic(data.data())) return "image";
  size_t look = std::min<size_t>(data.size(), 65536);
  for (size_t i = 0; i < look; ++i) {
    uint8_t c = data[i];
    if (c == 0 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != 0x0C) || c == 0x7F) {
      return "binary";
    }
  }
  return "text";
}

ApiReply EntryDetail(const Catalog& catalog, uint32_t id) {
  const ViewEntry& entry = catalog.Entries()[id];
  json document = EntryJson(catalog, id);
  document["packagePath"] = catalog.Packages()[entry.package].path;
  json shadows = json::array();
  for (size_t i = 0; i < entry.shadows.size() && i < MaxListingLimit; ++i) {
    shadows.push_back(EntryJson(catalog, entry.shadows[i]));
  }
  document["shadowList"] = std::move(shadows);
  EntryBytes bytes;
  Status read = catalog.Read(id, bytes);
  if (!read.ok()) {
    document["kind"] = "unreadable";
    document["error"] = Cause(read);
    return JsonReply(document);
  }
  const char* kind = Kind(bytes.data);
  document["kind"] = kind;
  if (std::string(kind) == "image") {
    std::shared_ptr<const DecodedImage> image;
    Status decoded = catalog.Decode(id, image);
    if (!decoded.ok()) {
      document["error"] = Cause(decoded);
    } else {
      json frames;
      frames["count"] = image->count;
      frames["width"] = image->count > 0 ? image->frames[0]->width : 0;
      frames["height"] = image->count > 0 ? image->frames[0]->height : 0;
      json values = json::array();
      for (uint32_t f = 0; image->values != nullptr && f < image->count; ++f) {
        values.push_back(image->values[f]);
      }
      frames["values"] = std::move(values);
      document["image"] = std::move(frames);
    }
  }
  return JsonReply(document);
}

ApiReply BytesReply(const Catalog& catalog, uint32_t id, size_t most, bool download) {
  auto bytes = std::make_shared<EntryBytes>();
  Status read = catalog.Read(id, *bytes);
  if (!read.ok()) {
    return ErrorReply(422, Cause(read));
  }
  ApiReply reply;
  reply.type = "application/octet-stream";
  reply.bytesLength = std::min(bytes->data.size(), most);
  reply.bytes = std::move(bytes);
  if (download) {
    const std::string& name = catalog.Entries()[id].name;
    size_t slash = name.find_last_of("\\/");
    reply.attachment = slash == std::string::npos ? name : name.substr(slash + 1);
  }
  return reply;
}

// A frame (or with sheet, all frames side by side) as the PNG that img2png writes.
ApiReply PngReply(const Catalog& catalog, uint32_t id, long long frame, bool sheet) {
  std::shared_ptr<const DecodedImage> image;
  Status decoded = catalog.Decode(id, image);
  if (!decoded.ok()) {
    return ErrorReply(422, Cause(decoded));
  }
  if (image->count == 0) return ErrorReply(422, "image has no frames");
  if (!sheet && (frame < 0 || static_cast<uint64_t>(frame) >= image->count)) {
    return ErrorReply(404, "no frame " + std::to_string(frame) + "; the image has " +
                               std::to_string(image->count));
  }
  const ImgFrame* first = image->frames[0];
  if (first->width == 0 || first->height == 0) {
    return ErrorReply(422, "frames are " + std::to_string(first->width) + "x" +
                               std::to_string(first->height) + " pixels; a PNG cannot be empty");
  }
  RgbaImage rgba;
  std::string cause;
  if (sheet) {
    if (!FrameSheet(image->frames, image->count, rgba, cause)) return ErrorReply(422, cause);
  } else {
    rgba = FrameToRgba(image->frames[frame]);
  }
  ApiReply reply;
  if (!EncodePng(rgba, reply.body, cause)) return ErrorReply(500, cause);
  reply.type = "image/png";
  return reply;
}

ApiReply EntryRoute(const Catalog& catalog, const std::string& rest, const QueryParam& param) {
  size_t slash = rest.find('/');
  long long id = ParseNumber(rest.substr(0, slash));
  if (id < 0) return ErrorReply(404, "no such page");
  if (static_cast<size_t>(id) >= catalog.Entries().size()) {
    return ErrorReply(404, "no entry " + std::to_string(id) + "; there are " +
                               std::to_string(catalog.Entries().size()));
  }
  uint32_t entry = static_cast<uint32_t>(id);
  std::string what = slash == std::string::npos ? "" : rest.substr(slash);
  if (what.empty()) return EntryDetail(catalog, entry);
  if (what == "/raw") return BytesReply(catalog, entry, SIZE_MAX, true);
  if (what == "/head") {
    long long most = NumberParam(param, "bytes", 4096, MaxHeadBytes);
    if (most < 0) return ErrorReply(400, "bytes is a whole number");
    return BytesReply(catalog, entry, static_cast<size_t>(most), false);
  }
  if (what == "/sheet.png") return PngReply(catalog, entry, 0, true);
  const std::string frames = "/frames/";
  const std::string png = ".png";
  if (what.compare(0, frames.size(), frames) == 0 && what.size() > frames.size() + png.size() &&
      what.compare(what.size() - png.size(), png.size(), png) == 0) {
    long long frame =
        ParseNumber(what.substr(frames.size(), what.size() - frames.size() - png.size()));
    if (frame < 0) return ErrorReply(404, "no such page");
    return PngReply(catalog, entry, frame, false);
  }
  return ErrorReply(404, "no such page");
}

ApiReply Asset(const std::string& name) {
  const PageAsset* asset = FindPageAsset(name);
  if (asset == nullptr) return ErrorReply(404, "no such page");
  ApiReply reply;
  reply.body.assign(reinterpret_cast<const char*>(asset->data), asset->size);
  size_t dot = name.rfind('.');
  std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  reply.type = extension == ".html"  ? "text/html; charset=utf-8"
               : extension == ".js"  ? "text/javascript; charset=utf-8"
               : extension == ".css" ? "text/css; charset=utf-8"
                                     : "application/octet-stream";
  return reply;
}

}  // namespace

ApiReply ErrorReply(int status, const std::string& cause) {
  json document;
  document["error"] = cause;
  ApiReply reply = JsonReply(document);
  reply.status = status;
  return reply;
}

ApiReply HandleRoute(const Catalog& catalog, const std::string& route, const QueryParam& param) {
  if (route == "/" || route == "/index.html") return Asset("index.html");
  if (route == "/api/info") return Info(catalog);
  if (route == "/api/entries") return Entries(catalog, param);
  if (route == "/api/tree") return Tree(catalog, param);
  const std::string entry = "/api/entry/";
  if (route.compare(0, entry.size(), entry) == 0) {
    return EntryRoute(catalog, route.substr(entry.size()), param);
  }
  // The page's own files: a plain name, no folders.
  if (route.size() > 1 && route.find('/', 1) == std::string::npos &&
      route.find("..") == std::string::npos) {
    return Asset(route.substr(1));
  }
  return ErrorReply(404, "no such page");
}

}  // namespace korvo::tool
