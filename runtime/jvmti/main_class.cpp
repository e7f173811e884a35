#include "runtime/jvmti/main_class.h"

#include <ctype.h>
#include <stdio.h>

#include <vector>

#include "platform/platform.h"

namespace cci_jvmti {
namespace {

// The class the JDK runs for "java File.java": ...launcher.Main up to JDK 21,
// ...launcher.SourceLauncher from 22, both in the jdk.compiler module.
constexpr const char kSourceLauncherPrefix[] = "jdk.compiler/com.sun.tools.javac.launcher.";

bool endsWith(const std::string& text, const char* suffix) {
  size_t n = std::char_traits<char>::length(suffix);
  return text.size() >= n && text.compare(text.size() - n, n, suffix) == 0;
}

std::string firstWord(const std::string& text) { return text.substr(0, text.find(' ')); }

// The source file at the start of text (the launcher's arguments): the
// shortest prefix, ended by a space or the end, that is an existing file,
// preferring one that ends in ".java"; else the first word.
std::string sourceFileOf(const std::string& text) {
  std::vector<std::string> prefixes;
  for (size_t end = text.find(' '); end != std::string::npos; end = text.find(' ', end + 1)) {
    prefixes.push_back(text.substr(0, end));
  }
  prefixes.push_back(text);
  for (bool javaOnly : {true, false}) {
    for (const std::string& prefix : prefixes) {
      if ((!javaOnly || endsWith(prefix, ".java")) && platform::fileExists(prefix.c_str())) {
        return prefix;
      }
    }
  }
  return firstWord(text);
}

// Tokens of Java source as far as naming its types needs: identifiers
// (keywords among them), single punctuation characters, and literals as one
// token each ("\"" for strings and text blocks, "'" for characters). Comments
// and white space are dropped.
class Tokens {
 public:
  explicit Tokens(const std::string& text) : s_(text) {}

  // False at the end.
  bool next(std::string* token) {
    skipSpaceAndComments();
    if (i_ >= s_.size()) return false;
    char c = s_[i_];
    if (isIdentifierChar(c)) {
      size_t start = i_;
      while (i_ < s_.size() && isIdentifierChar(s_[i_])) i_++;
      *token = s_.substr(start, i_ - start);
    } else if (c == '"' || c == '\'') {
      skipLiteral(c);
      *token = std::string(1, c);
    } else {
      i_++;
      *token = std::string(1, c);
    }
    return true;
  }

 private:
  static bool isIdentifierChar(char c) {
    unsigned char u = static_cast<unsigned char>(c);
    return isalnum(u) || c == '_' || c == '$' || u >= 0x80;
  }

  void skipSpaceAndComments() {
    while (i_ < s_.size()) {
      if (isspace(static_cast<unsigned char>(s_[i_]))) {
        i_++;
      } else if (s_.compare(i_, 2, "//") == 0) {
        size_t end = s_.find('\n', i_);
        i_ = end == std::string::npos ? s_.size() : end + 1;
      } else if (s_.compare(i_, 2, "/*") == 0) {
        size_t end = s_.find("*/", i_ + 2);
        i_ = end == std::string::npos ? s_.size() : end + 2;
      } else {
        return;
      }
    }
  }

  void skipLiteral(char quote) {
    if (quote == '"' && s_.compare(i_, 3, "\"\"\"") == 0) {  // a text block
      size_t at = i_ + 3;
      for (;;) {
        size_t end = s_.find("\"\"\"", at);
        if (end == std::string::npos) {
          i_ = s_.size();
          return;
        }
        // A quote escaped by an odd number of backslashes does not end it.
        size_t slashes = 0;
        while (end - slashes > at && s_[end - slashes - 1] == '\\') slashes++;
        if (slashes % 2 == 0) {
          i_ = end + 3;
          return;
        }
        at = end + 1;
      }
    }
    i_++;
    while (i_ < s_.size() && s_[i_] != quote && s_[i_] != '\n') {
      if (s_[i_] == '\\') i_++;
      i_++;
    }
    if (i_ < s_.size()) i_++;
  }

  const std::string& s_;
  size_t i_ = 0;
};

// The name a top-level declaration's tokens declare as a type, or "".
std::string declaredType(const std::vector<std::string>& tokens) {
  for (size_t k = 0; k + 1 < tokens.size(); k++) {
    const std::string& t = tokens[k];
    bool afterDot = k > 0 && tokens[k - 1] == ".";  // Foo.class in an annotation
    bool typeKeyword = t == "class" || t == "interface" || t == "enum";
    // record is a keyword only before a name and its components.
    bool record =
        t == "record" && k + 2 < tokens.size() && (tokens[k + 2] == "(" || tokens[k + 2] == "<");
    if ((typeKeyword || record) && !afterDot) return tokens[k + 1];
  }
  return "";
}

}  // namespace

LaunchTarget launchTarget(const std::string& command, const std::string& classPath) {
  LaunchTarget target;
  if (command.empty()) return target;
  // java -jar sets the class path to the jar alone and starts the command with it.
  if (endsWith(classPath, ".jar") && command.compare(0, classPath.size(), classPath) == 0 &&
      (command.size() == classPath.size() || command[classPath.size()] == ' ')) {
    target.kind = LaunchKind::kJar;
    target.value = classPath;
    return target;
  }
  std::string first = firstWord(command);
  if (first.compare(0, sizeof kSourceLauncherPrefix - 1, kSourceLauncherPrefix) == 0 &&
      command.size() > first.size() + 1) {
    target.kind = LaunchKind::kSource;
    target.value = sourceFileOf(command.substr(first.size() + 1));
    return target;
  }
  // java -m module/main.Class: the class follows the module's name.
  size_t slash = first.find('/');
  if (slash != std::string::npos && first.find(".jar") == std::string::npos) {
    first = first.substr(slash + 1);
  }
  target.kind = endsWith(first, ".jar") ? LaunchKind::kJar : LaunchKind::kClass;
  target.value = first;
  return target;
}

std::string sourceMainClass(const std::string& text, const std::string& path) {
  Tokens tokens(text);
  std::string packageName;
  std::string firstType;
  bool compact = false;
  std::vector<std::string> declaration;
  int braces = 0;
  int parens = 0;
  std::string token;
  // Each top-level declaration ends with ';' or with the block of its body.
  auto finish = [&]() {
    if (!declaration.empty() && declaration[0] == "package") {
      for (size_t k = 1; k < declaration.size(); k++) {
        packageName += declaration[k] == "." ? "/" : declaration[k];
      }
    } else if (!declaration.empty() && declaration[0] != "import") {
      std::string name = declaredType(declaration);
      if (name.empty()) {
        compact = true;  // a top-level method or field
      } else if (firstType.empty()) {
        firstType = name;
      }
    }
    declaration.clear();
  };
  while (tokens.next(&token)) {
    if (braces > 0) {
      if (token == "{") braces++;
      if (token == "}" && --braces == 0) finish();
      continue;
    }
    if (token == "(") parens++;
    if (token == ")" && parens > 0) parens--;
    if (parens == 0 && token == ";") {
      finish();
    } else if (parens == 0 && token == "{") {
      braces = 1;
    } else {
      declaration.push_back(token);
    }
  }
  if (!compact && !firstType.empty()) {
    return packageName.empty() ? firstType : packageName + "/" + firstType;
  }
  size_t slash = path.find_last_of("/\\");
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string readSourceFile(const std::string& path, size_t maxBytes) {
  std::string text;
  FILE* file = fopen(path.c_str(), "rb");
  if (file == nullptr) return text;
  char buffer[8192];
  size_t n;
  while (text.size() < maxBytes && (n = fread(buffer, 1, sizeof buffer, file)) > 0) {
    text.append(buffer, n);
  }
  fclose(file);
  return text;
}

}  // namespace cci_jvmti
