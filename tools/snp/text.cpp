#include "tools/snp/text.h"

#include <stdint.h>

#include <nlohmann/json.hpp>

#include "support/modified_utf8.h"
#include "tools/snp/snapshot_model.h"

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
  mutf8::toUtf8(s.data(), s.size(), &out);
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
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      case '\t':
        out += "&#9;";
        break;
      case '\n':
        out += "&#10;";
        break;
      case '\r':
        out += "&#13;";
        break;
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
