#include "manager/package_list.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "common/stdio_file.h"
#include "manager/package_manager.h"

namespace korvo {

namespace {

// Copies text into a 260-byte buffer; false (buffer untouched) when it does not fit.
bool CopyBounded(char (&buffer)[platform::MaxPath], const std::string& text) {
  if (text.size() >= platform::MaxPath) return false;
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return true;
}

bool IsSpace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// Reads the next white-space separated token. False at the end of the file.
bool ReadToken(FILE* file, std::string& token) {
  token.clear();
  int c = std::fgetc(file);
  while (c != EOF && IsSpace(c)) c = std::fgetc(file);
  if (c == EOF) return false;
  while (c != EOF && !IsSpace(c)) {
    token.push_back(static_cast<char>(c));
    c = std::fgetc(file);
  }
  return true;
}

// Tokens, like every path buffer, hold at most 259 characters; longer ones are skipped.
bool FitsPath(const std::string& text) {
  return text.size() < platform::MaxPath;
}

Status TooLong(const std::string& what, const std::string& text) {
  return Status(StatusCode::TooLarge, text, 0,
                what + " is longer than " + std::to_string(platform::MaxPath - 1) + " characters");
}

bool LooksAbsolute(const std::string& token) {
  return (!token.empty() && (token[0] == '/' || token[0] == '\\')) ||
         (token.size() > 1 && token[1] == ':');
}

// Mounts path when it exists; the status says why not otherwise.
Status MountListed(const ListMount& mount, const std::string& token, const std::string& path,
                   bool joinedToRoot, MountReport& report) {
  if (!FitsPath(path)) return TooLong("the joined path", path);
  if (!platform::PathExists(path.c_str())) {
    std::string hint = "no such file";
    if (!token.empty() && (token.front() == '"' || token.front() == '\'')) {
      hint += " (quotes are part of the name: a listed name cannot hold blanks)";
    } else if (joinedToRoot && LooksAbsolute(token)) {
      hint += " (listed names are joined to the root directory; an absolute path is not)";
    }
    return Status(StatusCode::NotFound, path, 0, hint);
  }
  return mount(path.c_str(), report);
}

}  // namespace

void ReadPackageList(PackageListReport& report, const ListMount& mount) {
  StdioFile file;
  {
    file.reset(std::fopen(report.listPath.c_str(), "rt"));
    if (file == nullptr) {
      report.listStatus = Status::System(StatusCode::NotFound, report.listPath, errno,
                                         "cannot open the package list");
    }
  }
  if (file != nullptr) {
    std::string token;
    ReadToken(file.get(), token);
    // An overlong first token is skipped like any other, so it cannot select the tool form.
    if (FitsPath(token) && token.find(ToolListHeader) != std::string::npos) {
      // Tool form: a file name A and its directory B; the package is B/A.
      report.toolForm = true;
      std::string fileName, directory;
      ReadToken(file.get(), fileName);
      ReadToken(file.get(), directory);
      ListedPackage listed{directory + "/" + fileName, directory + "/" + fileName, Status(), {}};
      if (!FitsPath(fileName)) {
        listed.status = TooLong("the token", fileName);
      } else if (!FitsPath(directory)) {
        listed.status = TooLong("the token", directory);
      } else {
        listed.status = MountListed(mount, fileName, listed.path, false, listed.mount);
      }
      report.packages.push_back(std::move(listed));
    } else {
      // Plain form: every token names a package relative to the root directory.
      do {
        if (token.empty()) continue;
        ListedPackage listed{token, std::string(), Status(), {}};
        if (!FitsPath(token)) {
          listed.status = TooLong("the token", token);
        } else {
          listed.path = report.rootDir + token;
          listed.status = MountListed(mount, token, listed.path, true, listed.mount);
        }
        report.packages.push_back(std::move(listed));
      } while (ReadToken(file.get(), token));
    }
  }
}

void GetExeDirectory(char (&buffer)[platform::MaxPath]) {
  buffer[0] = '\0';
  std::string path = platform::ExecutablePath();
  size_t cut = path.find_last_of(platform::PathSeparator);
  if (cut == std::string::npos) return;
  CopyBounded(buffer, path.substr(0, cut + 1));
}

PackageListReport LoadPackageListReport(CPackageManager& manager, const char* rootDirectory,
                                        const char* listFile) {
  PackageListReport report;
  char(&rootDir)[platform::MaxPath] = manager.rootDir;
  char(&listFileName)[platform::MaxPath] = manager.listFileName;
  rootDir[0] = '\0';
  listFileName[0] = '\0';
  bool usable = true;
  if (rootDirectory != nullptr) {
    usable = CopyBounded(rootDir, std::string(rootDirectory) + platform::PathSeparator);
    if (!usable) report.listStatus = TooLong("the root directory", rootDirectory);
  } else {
    GetExeDirectory(rootDir);
  }
  const char* name = listFile != nullptr ? listFile : DefaultListFileName;
  if (!CopyBounded(listFileName, name)) {
    if (usable) report.listStatus = TooLong("the list file name", name);
    usable = false;
  }
  report.rootDir = rootDir;
  report.listPath = std::string(rootDir) + listFileName;
  if (usable && !FitsPath(report.listPath)) {
    report.listStatus = TooLong("the list path", report.listPath);
    usable = false;
  }

  if (usable) {
    ReadPackageList(report, [&](const char* path, MountReport& mounted) {
      return manager.Mount(path, &mounted, true);
    });
  }
  manager.FillStreamPools();
  return report;
}

void CPackageManager::LoadPackageList(const char* rootDirectory, const char* listFile) {
  (void)LoadPackageListReport(*this, rootDirectory, listFile);
}

}  // namespace korvo
