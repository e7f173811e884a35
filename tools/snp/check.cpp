#include "tools/snp/check.h"

#include <stdio.h>
#include <stdlib.h>

#include "tools/snp/report_classes.h"
#include "tools/snp/text.h"

namespace {

std::string percent(double value) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.2f%%", value);
  return buf;
}

std::string threshold(double value) {
  char buf[32];
  snprintf(buf, sizeof buf, "%g%%", value);
  return buf;
}

double ratioOf(const Counter& c) {
  return c.total() == 0 ? 100.0 : 100.0 * static_cast<double>(c.covered) / c.total();
}

// covered / total >= percent / 100, without rounding a 79.999 up to 80.
bool meets(const Counter& c, double wanted) {
  return static_cast<double>(c.covered) * 100.0 >= wanted * static_cast<double>(c.total());
}

std::string describe(const std::string& what, const Counter& c, double wanted, bool ok) {
  return what + " " + percent(ratioOf(c)) + " (" + std::to_string(c.covered) + "/" +
         std::to_string(c.total()) + ")" + (ok ? " meets " : " is below ") + threshold(wanted);
}

}  // namespace

bool parsePercent(const std::string& text, double* out, std::string* error) {
  char* end = nullptr;
  double value = text.empty() ? -1 : strtod(text.c_str(), &end);
  if (text.empty() || end == nullptr || *end != '\0' || !(value >= 0 && value <= 100)) {
    *error = "'" + text + "' is not a percentage from 0 to 100";
    return false;
  }
  *out = value;
  return true;
}

bool parseClassRule(const std::string& text, ClassRule* out, std::string* error) {
  size_t eq = text.rfind('=');
  if (eq == std::string::npos || eq == 0) {
    *error = "'" + text + "' is not PATTERN=PERCENT (com.acme.*=90)";
    return false;
  }
  out->pattern = dottedName(text.substr(0, eq));
  return parsePercent(text.substr(eq + 1), &out->percent, error);
}

bool globMatches(const std::string& pattern, const std::string& name) {
  size_t p = 0, n = 0, star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      p++;
      n++;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') p++;
  return p == pattern.size();
}

std::vector<std::string> checkThresholds(const Snapshot& s, const CheckRules& rules,
                                         std::vector<std::string>* passed) {
  std::vector<std::string> failed;
  HeadlineLines headline(s);
  auto record = [&](bool ok, std::string text) { (ok ? passed : &failed)->push_back(text); };
  if (rules.hasLine) {
    bool ok = meets(headline.total(), rules.line);
    record(ok, describe("line coverage", headline.total(), rules.line, ok));
  }
  if (rules.hasMethod) {
    Counter methods;
    for (const SnpClass* c : reportedClasses(s)) methods.add(classCounters(s, *c).method);
    bool ok = meets(methods, rules.method);
    record(ok, describe("method coverage", methods, rules.method, ok));
  }
  for (const ClassRule& rule : rules.classes) {
    size_t matched = 0, short_ = 0;
    for (const SnpClass* c : reportedClasses(s)) {
      std::string name = toUtf8(dottedName(c->name));
      if (!globMatches(rule.pattern, name)) continue;
      matched++;
      Counter lines = headline.of(*c);
      if (meets(lines, rule.percent)) continue;
      short_++;
      failed.push_back("class " + name + ": " +
                       describe("line coverage", lines, rule.percent, false) + " (" + rule.pattern +
                       ")");
    }
    if (matched == 0) {
      // A rule that names nothing is most likely a typo: it must not pass silently.
      failed.push_back("no class matches " + rule.pattern);
    } else if (short_ == 0) {
      passed->push_back("every class of " + rule.pattern + " (" + std::to_string(matched) +
                        ") meets " + threshold(rule.percent));
    }
  }
  return failed;
}
