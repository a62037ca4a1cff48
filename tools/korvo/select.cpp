#include "select.h"

#include "archive/names.h"

namespace korvo::tool {

namespace {

// The lookup key of a name: ASCII lower case, '\' between levels. A trailing separator of a
// folder is dropped.
std::string Fold(const std::string& name) {
  std::string key;
  NormalizeName(key, name.c_str());
  return key;
}

// One step of a glob: a literal character, '?', a set, '*' or '**'.
struct GlobToken {
  enum Kind { Literal, One, Set, Star, DoubleStar } kind = Literal;
  char literal = 0;
  bool negated = false;
  std::string ranges;  // pairs of first and last character
};

std::vector<GlobToken> ParseGlob(const std::string& pattern) {
  std::vector<GlobToken> tokens;
  for (size_t i = 0; i < pattern.size(); ++i) {
    GlobToken token;
    char c = pattern[i];
    if (c == '*') {
      token.kind = GlobToken::Star;
      if (i + 1 < pattern.size() && pattern[i + 1] == '*') {
        token.kind = GlobToken::DoubleStar;
        while (i + 1 < pattern.size() && pattern[i + 1] == '*') ++i;
      }
    } else if (c == '?') {
      token.kind = GlobToken::One;
    } else if (c == '[' && pattern.find(']', i + 2) != std::string::npos) {
      token.kind = GlobToken::Set;
      size_t j = i + 1;
      if (pattern[j] == '!' || pattern[j] == '^') {
        token.negated = true;
        ++j;
      }
      size_t first = j;
      for (; j < pattern.size() && (pattern[j] != ']' || j == first); ++j) {
        char low = pattern[j];
        char high = low;
        if (j + 2 < pattern.size() && pattern[j + 1] == '-' && pattern[j + 2] != ']') {
          high = pattern[j + 2];
          j += 2;
        }
        token.ranges += low;
        token.ranges += high;
      }
      if (j >= pattern.size()) {  // no closing bracket after all: a literal '['
        token = GlobToken();
        token.literal = c;
      } else {
        i = j;
      }
    } else {
      token.literal = c;
    }
    tokens.push_back(token);
  }
  return tokens;
}

bool TokenTakes(const GlobToken& token, char c) {
  switch (token.kind) {
    case GlobToken::Literal:
      return token.literal == c;
    case GlobToken::One:
      return c != '\\';
    case GlobToken::Set: {
      if (c == '\\') return false;
      bool in = false;
      for (size_t k = 0; k + 1 < token.ranges.size(); k += 2) {
        in |= token.ranges[k] <= c && c <= token.ranges[k + 1];
      }
      return in != token.negated;
    }
    default:
      return false;
  }
}

}  // namespace

bool IsGlob(const std::string& pattern) {
  return pattern.find_first_of("*?[") != std::string::npos;
}

bool GlobMatches(const std::string& pattern, const std::string& name) {
  std::vector<GlobToken> tokens = ParseGlob(pattern);
  // reach[j]: the first i characters of name can be matched by the first j tokens.
  std::vector<char> reach(tokens.size() + 1, 0);
  reach[0] = 1;
  auto closeStars = [&]() {
    for (size_t j = 0; j < tokens.size(); ++j) {
      if (reach[j] && tokens[j].kind >= GlobToken::Star) reach[j + 1] = 1;
    }
  };
  closeStars();
  for (char c : name) {
    std::vector<char> next(tokens.size() + 1, 0);
    for (size_t j = 0; j < tokens.size(); ++j) {
      if (!reach[j]) continue;
      const GlobToken& token = tokens[j];
      if (token.kind == GlobToken::DoubleStar || (token.kind == GlobToken::Star && c != '\\')) {
        next[j] = 1;  // the star takes c and may take more
      } else if (token.kind < GlobToken::Star && TokenTakes(token, c)) {
        next[j + 1] = 1;
      }
    }
    reach.swap(next);
    closeStars();
  }
  return reach[tokens.size()] != 0;
}

std::vector<size_t> SelectEntries(const std::vector<PackageEntry>& entries,
                                  const std::vector<std::string>& patterns,
                                  std::vector<std::string>& unmatched) {
  std::vector<std::string> keys;
  keys.reserve(entries.size());
  for (const PackageEntry& entry : entries) keys.push_back(Fold(entry.name));
  std::vector<char> chosen(entries.size(), 0);
  unmatched.clear();
  for (const std::string& pattern : patterns) {
    bool any = false;
    // An exact stored name selects itself, even when it holds glob characters.
    for (size_t i = 0; i < entries.size(); ++i) {
      if (entries[i].name != pattern) continue;
      chosen[i] = 1;
      any = true;
    }
    if (any) continue;
    std::string key = FoldPattern(pattern);
    bool glob = IsGlob(key);
    for (size_t i = 0; i < entries.size(); ++i) {
      const std::string& name = keys[i];
      // A zero byte ends the name as the loader sees it.
      if (entries[i].name.find('\0') != std::string::npos) continue;
      bool match = false;
      if (glob) {
        match = GlobMatches(key, name);
        for (size_t cut = name.find('\\'); !match && cut != std::string::npos;
             cut = name.find('\\', cut + 1)) {
          match = GlobMatches(key, name.substr(0, cut));
        }
      } else {
        match = key.empty() || name == key ||
                (name.size() > key.size() && name.compare(0, key.size(), key) == 0 &&
                 name[key.size()] == '\\');
      }
      if (match) {
        chosen[i] = 1;
        any = true;
      }
    }
    if (!any) unmatched.push_back(pattern);
  }
  std::vector<size_t> selected;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (chosen[i]) selected.push_back(i);
  }
  return selected;
}

}  // namespace korvo::tool
