#include "tools/snp/text.h"

#include <stdint.h>

#include <nlohmann/json.hpp>

#include "tools/snp/snapshot_model.h"

namespace {

void appendUtf8(uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

constexpr uint32_t kReplacement = 0xFFFD;

bool continuation(const std::string& s, size_t i) {
  return i < s.size() && (static_cast<uint8_t>(s[i]) & 0xC0) == 0x80;
}

uint8_t byteAt(const std::string& s, size_t i) { return static_cast<uint8_t>(s[i]); }

// Decodes one character at *i (modified or plain UTF-8) and advances past it.
// Surrogates are returned as they are; the caller pairs them.
uint32_t decodeOne(const std::string& s, size_t* i) {
  uint8_t b = byteAt(s, *i);
  if (b < 0x80) {
    *i += 1;
    return b;
  }
  if ((b & 0xE0) == 0xC0 && continuation(s, *i + 1)) {
    uint32_t code = ((b & 0x1Fu) << 6) | (byteAt(s, *i + 1) & 0x3Fu);
    *i += 2;
    // Overlong forms stand only for NUL (C0 80); any other is refused.
    return code >= 0x80 || code == 0 ? code : kReplacement;
  }
  if ((b & 0xF0) == 0xE0 && continuation(s, *i + 1) && continuation(s, *i + 2)) {
    uint32_t code = ((b & 0x0Fu) << 12) | ((byteAt(s, *i + 1) & 0x3Fu) << 6) | (byteAt(s, *i + 2) & 0x3Fu);
    *i += 3;
    return code >= 0x800 ? code : kReplacement;
  }
  if (b >= 0xF0 && b <= 0xF4 && continuation(s, *i + 1) && continuation(s, *i + 2) &&
      continuation(s, *i + 3)) {
    uint32_t code = ((b & 0x07u) << 18) | ((byteAt(s, *i + 1) & 0x3Fu) << 12) |
                    ((byteAt(s, *i + 2) & 0x3Fu) << 6) | (byteAt(s, *i + 3) & 0x3Fu);
    *i += 4;
    return code >= 0x10000 && code <= 0x10FFFF ? code : kReplacement;
  }
  *i += 1;
  return kReplacement;
}

bool isHigh(uint32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(uint32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

}  // namespace

std::string vmName(const std::string& name) {
  std::string out = name;
  for (char& ch : out) {
    if (ch == '.') ch = '/';
  }
  return out;
}

std::string dottedName(const std::string& name) {
  std::string out = name;
  for (char& ch : out) {
    if (ch == '/') ch = '.';
  }
  return out;
}

std::string packageOf(const std::string& name) {
  std::string vm = vmName(name);
  size_t slash = vm.rfind('/');
  return slash == std::string::npos ? "" : vm.substr(0, slash);
}

std::string simpleName(const std::string& name) {
  std::string vm = vmName(name);
  size_t slash = vm.rfind('/');
  return slash == std::string::npos ? vm : vm.substr(slash + 1);
}

std::string sourcePath(const SnpClass& c) {
  if (!c.hasSourceName || c.sourceName.empty()) return "";
  std::string package = packageOf(c.name);
  return package.empty() ? c.sourceName : package + "/" + c.sourceName;
}

std::string toUtf8(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    uint32_t code = decodeOne(s, &i);
    if (isHigh(code)) {
      size_t next = i;
      uint32_t low = next < s.size() ? decodeOne(s, &next) : 0;
      if (isLow(low)) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        i = next;
      } else {
        code = kReplacement;
      }
    } else if (isLow(code)) {
      code = kReplacement;
    }
    appendUtf8(code, &out);
  }
  return out;
}

std::string jsonQuote(const std::string& utf8) {
  return nlohmann::json(utf8).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string xmlEscape(const std::string& utf8) {
  std::string out;
  out.reserve(utf8.size() + 8);
  for (char ch : utf8) {
    switch (ch) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default:
        if (static_cast<uint8_t>(ch) < 0x20) {
          out += "\xEF\xBF\xBD";
        } else {
          out.push_back(ch);
        }
    }
  }
  return out;
}
