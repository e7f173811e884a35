#include "tools/snp/java_highlight.h"

#include <algorithm>
#include <iterator>

#include "tools/snp/html_page.h"

namespace {

// Sorted, for binary search.
constexpr std::string_view kKeywords[] = {
    "abstract",  "assert",    "boolean", "break",      "byte",         "case",       "catch",
    "char",      "class",     "const",   "continue",   "default",      "do",         "double",
    "else",      "enum",      "extends", "false",      "final",        "finally",    "float",
    "for",       "goto",      "if",      "implements", "import",       "instanceof", "int",
    "interface", "long",      "native",  "new",        "null",         "package",    "permits",
    "private",   "protected", "public",  "record",     "return",       "sealed",     "short",
    "static",    "strictfp",  "super",   "switch",     "synchronized", "this",       "throw",
    "throws",    "transient", "true",    "try",        "var",          "void",       "volatile",
    "while",     "yield"};

bool isKeyword(std::string_view word) {
  return std::binary_search(std::begin(kKeywords), std::end(kKeywords), word);
}

// Bytes of a multi-byte UTF-8 character count as letters: Java allows them.
bool identifierStart(unsigned char ch) {
  return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_' || ch == '$' ||
         ch >= 0x80;
}
bool identifierPart(unsigned char ch) { return identifierStart(ch) || (ch >= '0' && ch <= '9'); }

void span(HtmlOut* out, const char* kind, std::string_view text) {
  out->raw("<span class=\"").raw(kind).raw("\">").text(text).raw("</span>");
}

// The end of a quoted literal that starts at `at` (its quote): past the
// closing quote, or the line's end when it isn't closed there.
size_t quotedEnd(std::string_view line, size_t at, char quote) {
  for (size_t i = at + 1; i < line.size(); i++) {
    if (line[i] == '\\') {
      i++;
    } else if (line[i] == quote) {
      return i + 1;
    }
  }
  return line.size();
}

// Past the """ that closes a text block, searching from `at`; npos when the
// block goes on past this line.
size_t textBlockEnd(std::string_view line, size_t at) {
  for (size_t i = at; i < line.size(); i++) {
    if (line[i] == '\\') {
      i++;
    } else if (line.compare(i, 3, "\"\"\"") == 0) {
      return i + 3;
    }
  }
  return std::string_view::npos;
}

}  // namespace

void highlightJavaLine(std::string_view line, JavaLexState* state, HtmlOut* out) {
  size_t i = 0;
  if (*state == JavaLexState::kBlockComment) {
    size_t end = line.find("*/");
    if (end == std::string_view::npos) return span(out, "cm", line);
    span(out, "cm", line.substr(0, end + 2));
    i = end + 2;
    *state = JavaLexState::kCode;
  } else if (*state == JavaLexState::kTextBlock) {
    size_t end = textBlockEnd(line, 0);
    if (end == std::string_view::npos) return span(out, "st", line);
    span(out, "st", line.substr(0, end));
    i = end;
    *state = JavaLexState::kCode;
  }
  size_t plain = i;  // start of text not yet written
  auto flush = [&](size_t to) {
    out->text(line.substr(plain, to - plain));
    plain = to;
  };
  while (i < line.size()) {
    unsigned char ch = static_cast<unsigned char>(line[i]);
    size_t end = i;
    const char* kind = nullptr;
    if (ch == '/' && i + 1 < line.size() && line[i + 1] == '/') {
      end = line.size();
      kind = "cm";
    } else if (ch == '/' && i + 1 < line.size() && line[i + 1] == '*') {
      size_t close = line.find("*/", i + 2);
      if (close == std::string_view::npos) *state = JavaLexState::kBlockComment;
      end = close == std::string_view::npos ? line.size() : close + 2;
      kind = "cm";
    } else if (ch == '"' && line.compare(i, 3, "\"\"\"") == 0) {
      end = textBlockEnd(line, i + 3);
      if (end == std::string_view::npos) {
        *state = JavaLexState::kTextBlock;
        end = line.size();
      }
      kind = "st";
    } else if (ch == '"' || ch == '\'') {
      end = quotedEnd(line, i, static_cast<char>(ch));
      kind = "st";
    } else if (ch >= '0' && ch <= '9') {
      end = i + 1;
      while (end < line.size() &&
             (identifierPart(static_cast<unsigned char>(line[end])) || line[end] == '.')) {
        end++;
      }
      kind = "nu";
    } else if (ch == '@' && i + 1 < line.size() &&
               identifierStart(static_cast<unsigned char>(line[i + 1]))) {
      end = i + 1;
      while (end < line.size() && identifierPart(static_cast<unsigned char>(line[end]))) end++;
      kind = "an";
    } else if (identifierStart(ch)) {
      end = i;
      while (end < line.size() && identifierPart(static_cast<unsigned char>(line[end]))) end++;
      if (isKeyword(line.substr(i, end - i))) kind = "kw";
      if (kind == nullptr) {
        i = end;  // a plain name stays in the pending text
        continue;
      }
    } else {
      i++;
      continue;
    }
    flush(i);
    span(out, kind, line.substr(i, end - i));
    i = plain = end;
  }
  flush(line.size());
}
