// What the file reports share: the classes that carry coverage (loaded
// classes and interfaces, and those described from class files), grouped by package and by source
// file, in name order, so that every report lists them the same way.
//
// Thread-safety: pure functions over a Snapshot that must outlive the result.
#ifndef CCOVER_TOOLS_SNP_REPORT_CLASSES_H_
#define CCOVER_TOOLS_SNP_REPORT_CLASSES_H_

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "tools/snp/figures.h"
#include "tools/snp/snapshot_model.h"

constexpr int32_t kAccNative = 0x0100;
constexpr int32_t kAccAbstract = 0x0400;
// Whether a method has code to run (neither abstract nor native).
bool hasCode(const SnpMethod& m);

// Loaded classes and interfaces with some method that has code, by VM name.
std::vector<const SnpClass*> reportedClasses(const Snapshot& s);
// The same, by package folder ("" for the default package).
std::map<std::string, std::vector<const SnpClass*>> classesByPackage(const Snapshot& s);
// The same, by source path (sourcePath()); classes without a source file
// name are left out.
std::map<std::string, std::vector<const SnpClass*>> classesBySource(const Snapshot& s);

// Lines of a class (all its methods) or of one method. Slots whose line number
// is below 1 name no line and are left out.
LineMap classLines(const Snapshot& s, const SnpClass& c);
LineMap methodLines(const SnpMethod& m);

// The name a report gives a method inside its class: "run(I)V".
std::string methodLabel(const SnpMethod& m);
// The method as a Java developer writes it: "main(String[])", a constructor
// by its class's name "Helper(Main)", "static {...}" for the class
// initialiser, "main: lambda #0(String)" for javac's lambda$main$0.
// Types are simple names; a descriptor that can't be read is shown as held.
std::string javaMethodName(const SnpClass& c, const SnpMethod& m);

// Missed and covered items of a counter.
struct Counter {
  uint64_t missed = 0;
  uint64_t covered = 0;
  void add(bool hit) { (hit ? covered : missed)++; }
  void add(const Counter& c) {
    missed += c.missed;
    covered += c.covered;
  }
  uint64_t total() const { return missed + covered; }
};

// Line (source lines with some slot executed), method (entered) and class
// (some method entered) counters of a class.
struct ClassCounters {
  Counter line;
  Counter method;
  Counter cls;
  void add(const ClassCounters& c) {
    line.add(c.line);
    method.add(c.method);
    cls.add(c.cls);
  }
};
ClassCounters classCounters(const Snapshot& s, const SnpClass& c);
Counter lineCounter(const LineMap& lines);

// The headline rule that every format shares: a source line is covered when
// any slot on it ran, in any class of its source file, and counts once per
// source file. A line that several classes of one file share (a field
// initialiser of an outer class and a lambda's body, say) is given to the
// first of them in name order, so that per-class rows add up to the file,
// the package and the report. Classes without a source file own their lines.
class HeadlineLines {
 public:
  explicit HeadlineLines(const Snapshot& s);
  // The lines a class owns, each covered by the file's rule.
  Counter of(const SnpClass& c) const;
  // The lines of the classes given (each counted once).
  Counter sum(const std::vector<const SnpClass*>& classes) const;
  // Over every reported class.
  const Counter& total() const { return total_; }

 private:
  std::unordered_map<const SnpClass*, Counter> owned_;
  Counter total_;
};
// classCounters with the class's line counter by the headline rule.
ClassCounters headlineCounters(const Snapshot& s, const SnpClass& c, const HeadlineLines& lines);

#endif  // CCOVER_TOOLS_SNP_REPORT_CLASSES_H_
