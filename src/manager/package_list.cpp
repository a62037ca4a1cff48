#include "manager/package_list.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "manager/mounting.h"
#include "manager/package_manager.h"

namespace korvo {

namespace {

// Copies text into a 260-byte buffer; false (buffer untouched) when it does not fit.
bool CopyBounded(char (&buffer)[platform::MaxPath], const std::string& text) {
  if (text.size() >= platform::MaxPath) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

// Reads the next white-space separated token. False at the end of the file.
bool ReadToken(FILE* file, std::string& token) {
  token.clear();
  int c = std::fgetc(file);
  while (c != EOF && (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'))
    c = std::fgetc(file);
  if (c == EOF) return false;
  while (c != EOF && !(c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f')) {
    token.push_back(static_cast<char>(c));
    c = std::fgetc(file);
  }
  return true;
}

// Tokens, like every path buffer, hold at most 259 characters; longer ones are skipped.
bool FitsPath(const std::string& text) {
  return text.size() < platform::MaxPath;
}

}  // namespace

void GetExeDirectory(char (&buffer)[platform::MaxPath]) {
  buffer[0] = '\0';
  std::string path = platform::ExecutablePath();
  size_t cut = path.find_last_of(platform::PathSeparator);
  if (cut == std::string::npos) return;
  CopyBounded(buffer, path.substr(0, cut + 1));
}

void CPackageManager::LoadPackageList(const char* rootDirectory, const char* listFile) {
  rootDir[0] = '\0';
  listFileName[0] = '\0';
  bool usable = true;
  if (rootDirectory != nullptr) {
    usable = CopyBounded(rootDir, std::string(rootDirectory) + platform::PathSeparator);
  } else {
    GetExeDirectory(rootDir);
  }
  usable =
      CopyBounded(listFileName, listFile != nullptr ? listFile : DefaultListFileName) && usable;

  std::string listPath = std::string(rootDir) + listFileName;
  FILE* file = usable && FitsPath(listPath) ? std::fopen(listPath.c_str(), "rt") : nullptr;
  if (file != nullptr) {
    std::string token;
    ReadToken(file, token);
    // An overlong first token is skipped like any other, so it cannot select the tool form.
    if (FitsPath(token) && token.find(ToolListHeader) != std::string::npos) {
      // Tool form: a file name A and its directory B; the package is B/A.
      std::string name, directory;
      ReadToken(file, name);
      ReadToken(file, directory);
      std::string path = directory + "/" + name;
      if (FitsPath(name) && FitsPath(directory) && FitsPath(path) && PathExists(path.c_str()))
        MountPackage(path.c_str());
    } else {
      // Plain form: every token names a package relative to the root directory.
      do {
        if (token.empty() || !FitsPath(token)) continue;
        std::string path = std::string(rootDir) + token;
        if (FitsPath(path) && PathExists(path.c_str())) MountPackage(path.c_str());
      } while (ReadToken(file, token));
    }
    std::fclose(file);
  }
  FillStreamPools();
}

}  // namespace korvo
