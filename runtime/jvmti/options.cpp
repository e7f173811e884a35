#include "runtime/jvmti/options.h"

#include <stdlib.h>
#include <string.h>

namespace cci_jvmti {
namespace {

const char* const kDefaultExcludes[] = {
    "java.",    "javax.",           "jdk.",           "sun.",
    "com.sun.", "quorvatix.audit.", "quorvatix.cci.", "netscape.util.",
};

// Splits key=P:P... into its patterns. A pattern with '/' (a class file's
// internal name) would match no dotted name, silently: refused, with the
// dotted form it most likely means.
bool splitPatterns(const std::string& key, const std::string& value, std::vector<std::string>* out,
                   std::string* error) {
  size_t start = 0;
  while (start <= value.size()) {
    size_t end = value.find(':', start);
    if (end == std::string::npos) end = value.size();
    if (end > start) {
      std::string pattern = value.substr(start, end - start);
      if (pattern.find('/') != std::string::npos) {
        std::string dotted = pattern;
        for (char& c : dotted) {
          if (c == '/') c = '.';
        }
        *error = key;
        *error += " pattern \"";
        *error += pattern;
        *error += "\" has a '/': patterns are dotted class names, as in ";
        *error += key;
        *error += '=';
        *error += dotted;
        return false;
      }
      out->push_back(pattern);
    }
    start = end + 1;
  }
  return true;
}

bool startsWith(const char* text, const char* prefix) {
  return strncmp(text, prefix, strlen(prefix)) == 0;
}

}  // namespace

bool parseOptions(const char* text, Options* out, std::string* error) {
  *out = Options();
  if (text == nullptr) return true;
  std::string all(text);
  size_t start = 0;
  while (start <= all.size()) {
    size_t end = all.find(',', start);
    if (end == std::string::npos) end = all.size();
    std::string item = all.substr(start, end - start);
    start = end + 1;
    if (item.empty()) continue;
    size_t eq = item.find('=');
    std::string key = item.substr(0, eq);
    std::string value = eq == std::string::npos ? std::string() : item.substr(eq + 1);
    bool flag = eq == std::string::npos;
    if (flag && key == "snapshotAtExit") {
      out->snapshotAtExit = true;
    } else if (flag && key == "ignoreShutdown") {
      out->ignoreShutdown = true;
    } else if (flag && key == "nostart") {
      out->autoStart = false;
    } else if (flag && key == "verbose") {
      out->verbose = true;
    } else if (!flag && key == "includes") {
      if (!splitPatterns(key, value, &out->includes, error)) return false;
    } else if (!flag && key == "excludes") {
      if (!splitPatterns(key, value, &out->excludes, error)) return false;
    } else if (!flag && key == "home" && !value.empty()) {
      out->home = value;
    } else if (!flag && key == "ccoverJar" && !value.empty()) {
      out->ccoverJar = value;
    } else if (!flag && key == "ccoverLib" && !value.empty()) {
      out->ccoverLib = value;
    } else if (flag && key == "live") {
      out->live = true;
    } else if (!flag && key == "live") {
      std::string liveError;
      if (!parseLiveAddress(value, &out->liveHost, &out->livePort, &liveError)) {
        *error = "option \"" + item + "\": ";
        *error += liveError;
        return false;
      }
      out->live = true;
    } else if (!flag && key == "counting" && (value == "inline" || value == "exact")) {
      out->inlineCounting = value == "inline";
    } else if (!flag && key == "destfile") {
      if (value.empty()) {
        *error = "option \"destfile=\" needs a path";
        return false;
      }
      out->destfile = value;
    } else if (key == "append" && (flag || value == "true" || value == "false")) {
      out->append = flag || value == "true";
      out->appendGiven = true;
    } else if (!flag && key == "sessionid") {
      out->sessionId = value;
    } else if (!flag && key == "counterStart") {
      char* rest = nullptr;
      unsigned long long start = strtoull(value.c_str(), &rest, 10);
      if (value.empty() || value[0] < '0' || value[0] > '9' || *rest != '\0' ||
          start > 0xFFFFFFFFull) {
        *error = "option \"" + item + "\": the start is a count from 0 to 4294967295";
        return false;
      }
      out->counterStart = static_cast<uint32_t>(start);
    } else if (!flag && key == "probes" && (value == "empty" || value == "count")) {
      out->emptyProbes = value == "empty";
    } else {
      *error = "unknown or malformed option \"" + item + "\"";
      return false;
    }
  }
  // Without destfile these would be silently meaningless.
  if (out->destfile.empty() && (out->appendGiven || !out->sessionId.empty())) {
    *error = out->appendGiven ? "option \"append\" needs destfile=PATH"
                              : "option \"sessionid\" needs destfile=PATH";
    return false;
  }
  return true;
}

bool parseLiveAddress(const std::string& value, std::string* host, int* port, std::string* error) {
  std::string portText = value;
  std::string hostText;
  if (!value.empty() && value[0] == '[') {
    size_t close = value.find(']');
    if (close == std::string::npos || close + 1 >= value.size() || value[close + 1] != ':') {
      *error = "an IPv6 address is written [ADDRESS]:PORT";
      return false;
    }
    hostText = value.substr(1, close - 1);
    portText = value.substr(close + 2);
    if (hostText.empty()) {
      *error = "the host between [ and ] is empty";
      return false;
    }
  } else {
    size_t colon = value.rfind(':');
    if (colon != std::string::npos) {
      hostText = value.substr(0, colon);
      portText = value.substr(colon + 1);
      if (hostText.find(':') != std::string::npos) {
        *error = "an IPv6 address is written [ADDRESS]:PORT";
        return false;
      }
      if (hostText.empty()) {
        *error = "the host before \":\" is empty";
        return false;
      }
    }
  }
  for (char c : hostText) {
    // Host names and addresses only: nothing that could change the meaning
    // of the URL the viewer prints, or of the option text.
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-' || c == ':' || c == '%' || c == '_';
    if (!ok) {
      *error = "the host \"" + hostText + "\" is not a host name or an address";
      return false;
    }
  }
  long number = 0;
  bool digits = !portText.empty() && portText.size() <= 5;
  for (char c : portText) {
    if (c < '0' || c > '9') digits = false;
  }
  if (digits) number = strtol(portText.c_str(), nullptr, 10);
  if (!digits || number > 65535) {
    *error = "the port \"" + portText + "\" is not a number from 0 to 65535";
    return false;
  }
  if (!hostText.empty()) *host = hostText;
  *port = static_cast<int>(number);
  return true;
}

bool wildcardMatch(const char* pattern, const char* name) {
  // Iterative match with backtracking to the last star: linear in practice.
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name != '\0') {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || *pattern == *name) {
      pattern++;
      name++;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') pattern++;
  return *pattern == '\0';
}

bool classIncluded(const Options& options, const char* internalName) {
  char dotted[1024];
  size_t length = strlen(internalName);
  if (length == 0 || length >= sizeof dotted) return false;
  for (size_t i = 0; i <= length; i++) {
    dotted[i] = internalName[i] == '/' ? '.' : internalName[i];
  }
  for (const char* prefix : kDefaultExcludes) {
    if (startsWith(dotted, prefix)) return false;
  }
  if (!options.includes.empty()) {
    bool included = false;
    for (const std::string& p : options.includes) {
      if (wildcardMatch(p.c_str(), dotted)) {
        included = true;
        break;
      }
    }
    if (!included) return false;
  }
  for (const std::string& p : options.excludes) {
    if (wildcardMatch(p.c_str(), dotted)) return false;
  }
  return true;
}

}  // namespace cci_jvmti
