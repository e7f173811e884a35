#include "tools/snp/cli.h"

#include <stdio.h>

#include <CLI/CLI.hpp>
#include <functional>
#include <iostream>
#include <memory>
#include <new>

#include "platform/platform.h"
#include "support/reader.h"
#include "tools/snp/check.h"
#include "tools/snp/cobertura.h"
#include "tools/snp/command.h"
#include "tools/snp/csv.h"
#include "tools/snp/dump.h"
#include "tools/snp/html.h"
#include "tools/snp/jacoco.h"
#include "tools/snp/lcov.h"
#include "tools/snp/merge.h"
#include "tools/snp/output_file.h"
#include "tools/snp/pull.h"
#include "tools/snp/report_input.h"
#include "tools/snp/snapshot_model.h"
#include "tools/snp/snapshot_writer.h"
#include "tools/snp/summary.h"
#include "tools/snp/text.h"

namespace {

// The options of every built-in command; each command binds its own.
struct Args {
  std::string input;
  std::string output;
  std::string sourceRoot;
  bool raw = false;
  std::string sort = "name";
  std::string filter;
  std::string colour = "auto";
  std::string testName;
  std::string reportName;
  std::string title = "Coverage report";
  std::vector<std::string> inputs;
  std::vector<std::string> classPaths;
  bool noFilters = false;
  std::string lineThreshold;
  std::string methodThreshold;
  std::vector<std::string> classThresholds;
};

// snp check's thresholds are not met: exit with kCheckFailedExitCode.
struct ThresholdsNotMet {};

std::string outputName(const std::string& path) { return path == "-" ? "standard output" : path; }

Snapshot load(const std::string& path) {
  try {
    return loadSnapshot(path);
  } catch (const SnpError& e) {
    throw FileError{path, e.what()};
  }
}

// Writes one output (see OutputFile): a failure names the output and why, and
// leaves whatever was there before.
void writeOutput(const std::string& path, const std::function<void(std::ostream&)>& write) {
  std::unique_ptr<OutputFile> out;
  try {
    out = std::make_unique<OutputFile>(path);
  } catch (const SnpError& e) {
    throw FileError{outputName(path), e.what()};
  }
  write(out->stream());
  try {
    out->commit();
  } catch (const SnpError& e) {
    throw FileError{outputName(path), e.what()};
  }
}

std::string baseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

void warn(const std::vector<std::string>& warnings) {
  for (const std::string& w : warnings) std::cerr << "snp: warning: " << w << '\n';
}

void runDump(const Args& a) {
  std::vector<uint8_t> bytes;
  try {
    bytes = readFileBytes(a.input);
  } catch (const SnpError& e) {
    throw FileError{a.input, e.what()};
  }
  std::unique_ptr<SEReader, void (*)(SEReader*)> reader(SEReaderNew(), SEReaderFree);
  if (reader == nullptr) throw std::bad_alloc();
  SESnapshotView view;
  if (!SEReadSnapshot(reader.get(), bytes.data(), bytes.size(), &view)) {
    throw FileError{a.input, SEReaderError(reader.get())};
  }
  std::vector<uint8_t>().swap(bytes);  // the view holds copies
  writeOutput(a.output.empty() ? "-" : a.output,
              [&](std::ostream& out) { writeDump(view, a.raw, out); });
}

// The input of every report: its snapshots merged, and its --classes.
Snapshot loadReport(const Args& a) {
  std::vector<std::string> warnings;
  Snapshot s = loadReportInput(a.inputs, a.classPaths, !a.noFilters, &warnings);
  warn(warnings);
  return s;
}

// The inputs every report command takes, with the same words.
void addReportInputs(CLI::App* cmd, Args* a) {
  cmd->add_option("files", a->inputs,
                  "snapshot files (several are merged as snp merge merges them)")
      ->required();
  cmd->add_option("--classes", a->classPaths,
                  "folders and jars of the program's class files: classes the run never\n"
                  "loaded are reported with every line missed")
      ->expected(1, CLI::detail::expected_max_vector_size);
  cmd->add_flag(
      "--no-filters", a->noFilters,
      "report compiler-made code too (synthetic and bridge methods, enum values/valueOf,\n"
      "switch-map classes): see docs/snp.md");
}

std::string inputName(const Args& a) {
  return a.inputs.size() == 1 ? a.inputs[0] : std::to_string(a.inputs.size()) + " snapshots";
}

void runSummary(const Args& a) {
  Snapshot s = loadReport(a);
  SummaryOptions options;
  options.sort =
      a.sort == "coverage" ? SummaryOptions::Sort::kCoverage : SummaryOptions::Sort::kName;
  options.filter = a.filter;
  options.colour = a.colour == "always" || (a.colour == "auto" && platform::stdoutTakesColour());
  writeOutput("-", [&](std::ostream& out) { writeSummary(s, options, out); });
}

void runLcov(const Args& a) {
  Snapshot s = loadReport(a);
  LcovOptions options{a.sourceRoot, a.testName};
  size_t left = 0;
  writeOutput(a.output, [&](std::ostream& out) { left = writeLcov(s, options, out); });
  if (left > 0) {
    std::cerr << "snp: " << inputName(a) << ": " << left << (left == 1 ? " class" : " classes")
              << " without a source file name left out\n";
  }
}

void runJacoco(const Args& a) {
  Snapshot s = loadReport(a);
  std::string name = a.reportName.empty() ? baseName(a.inputs[0]) : a.reportName;
  writeOutput(a.output, [&](std::ostream& out) { writeJacoco(s, name, out); });
}

void runCobertura(const Args& a) {
  Snapshot s = loadReport(a);
  writeOutput(a.output, [&](std::ostream& out) { writeCobertura(s, a.sourceRoot, out); });
}

void runCsv(const Args& a) {
  Snapshot s = loadReport(a);
  std::string name = a.reportName.empty() ? baseName(a.inputs[0]) : a.reportName;
  writeOutput(a.output, [&](std::ostream& out) { writeCsv(s, name, out); });
}

void runCheck(const Args& a) {
  CheckRules rules;
  std::string error;
  rules.hasLine = !a.lineThreshold.empty();
  rules.hasMethod = !a.methodThreshold.empty();
  // The values were checked when the command line was parsed.
  if (rules.hasLine) parsePercent(a.lineThreshold, &rules.line, &error);
  if (rules.hasMethod) parsePercent(a.methodThreshold, &rules.method, &error);
  for (const std::string& text : a.classThresholds) {
    ClassRule rule;
    parseClassRule(text, &rule, &error);
    rules.classes.push_back(rule);
  }
  Snapshot s = loadReport(a);
  std::vector<std::string> passed;
  std::vector<std::string> failed = checkThresholds(s, rules, &passed);
  for (const std::string& line : passed) std::cout << "ok: " << line << '\n';
  for (const std::string& line : failed) std::cout << "FAILED: " << line << '\n';
  std::cout.flush();
  if (!failed.empty()) {
    std::cerr << "snp: check: " << failed.size()
              << (failed.size() == 1 ? " threshold" : " thresholds") << " not met\n";
    throw ThresholdsNotMet{};
  }
}

void runHtml(const Args& a) {
  Snapshot s = loadReport(a);
  HtmlOptions options;
  options.outputDir = a.output;
  options.sourceRoot = a.sourceRoot;
  options.title = a.title;
  std::vector<std::string> warnings;
  try {
    writeHtml(s, options, &warnings);
  } catch (const SnpError& e) {
    throw FileError{a.output, e.what()};
  }
  warn(warnings);
}

void runMerge(const Args& a) {
  std::vector<MergeInput> loaded;
  for (const std::string& path : a.inputs) loaded.push_back({path, load(path)});
  std::vector<std::string> warnings;
  Snapshot merged = mergeSnapshots(loaded, &warnings);
  warn(warnings);
  try {
    writeSnapshotFile(merged, a.output);
  } catch (const SnpError& e) {
    throw FileError{outputName(a.output), e.what()};
  }
}

SnpCommand dumpCommand(CLI::App& app, Args* a) {
  CLI::App* cmd = app.add_subcommand(
      "dump",
      "Write the whole element tree as JSON, members in file order. Without --raw the four\n"
      "items are named SnapRoot, Signature, ClassRoot, MethodRoot, then EndMarker.");
  cmd->add_option("file", a->input, "snapshot file")->required();
  cmd->add_flag("--raw", a->raw, "every value as {offset, tag, payload}, items in an array");
  cmd->add_option("-o,--output", a->output, "write to this file (- or none: standard output)");
  return {cmd, [a] { runDump(*a); }};
}

SnpCommand summaryCommand(CLI::App& app, Args* a) {
  CLI::App* cmd = app.add_subcommand(
      "summary",
      "A table with one row per class: coverage and coverage since the mark (the agent's\n"
      "figures), line slots hit / line slots, methods entered / methods, and a totals row.");
  addReportInputs(cmd, a);
  cmd->add_option("--sort", a->sort, "row order: name, or coverage (lowest first)")
      ->check(CLI::IsMember({"name", "coverage"}));
  cmd->add_option("--filter", a->filter,
                  "only classes whose name starts with PREFIX (app.tools or app/tools)");
  cmd->add_option("--color", a->colour, "auto (colour on a terminal only), always, never")
      ->check(CLI::IsMember({"auto", "always", "never"}));
  return {cmd, [a] { runSummary(*a); }};
}

SnpCommand lcovCommand(CLI::App& app, Args* a) {
  CLI::App* cmd = app.add_subcommand(
      "lcov",
      "Write an LCOV tracefile (genhtml, CI services): one record per source file\n"
      "(package folder + source file name). A line with several line slots gets the largest\n"
      "of their hit counts.");
  addReportInputs(cmd, a);
  cmd->add_option("-o,--output", a->output, "the tracefile to write (-: standard output)")
      ->required();
  cmd->add_option("--source-root", a->sourceRoot, "folder prefixed to every SF path");
  cmd->add_option("--test-name", a->testName, "the TN name (default: none)");
  return {cmd, [a] { runLcov(*a); }};
}

SnpCommand jacocoCommand(CLI::App& app, Args* a) {
  CLI::App* cmd = app.add_subcommand(
      "jacoco",
      "Write a JaCoCo XML report (valid against JaCoCo's report.dtd) with LINE, METHOD and\n"
      "CLASS counters. A line's mi/ci are its line slots not run / run.");
  addReportInputs(cmd, a);
  cmd->add_option("-o,--output", a->output, "the XML file to write (-: standard output)")
      ->required();
  cmd->add_option("--name", a->reportName, "the report's name (default: the snapshot's file name)");
  return {cmd, [a] { runJacoco(*a); }};
}

SnpCommand coberturaCommand(CLI::App& app, Args* a) {
  CLI::App* cmd = app.add_subcommand(
      "cobertura", "Write Cobertura XML (coverage-04), the format of GitLab's coverage report.");
  addReportInputs(cmd, a);
  cmd->add_option("-o,--output", a->output, "the XML file to write (-: standard output)")
      ->required();
  cmd->add_option("--source-root", a->sourceRoot, "the <source> folder (default: .)");
  return {cmd, [a] { runCobertura(*a); }};
}

SnpCommand csvCommand(CLI::App& app, Args* a) {
  CLI::App* cmd = app.add_subcommand(
      "csv",
      "Write JaCoCo's CSV layout, one row per class: LINE_* are source lines, METHOD_* methods\n"
      "entered; instruction, branch and complexity columns are 0 (the agent doesn't count them).");
  addReportInputs(cmd, a);
  cmd->add_option("-o,--output", a->output, "the CSV file to write (-: standard output)")
      ->required();
  cmd->add_option("--name", a->reportName, "the GROUP column (default: the snapshot's file name)");
  return {cmd, [a] { runCsv(*a); }};
}

CLI::Validator percentCheck() {
  return CLI::Validator(
      [](std::string& value) {
        double ignored;
        std::string error;
        return parsePercent(value, &ignored, &error) ? std::string() : error;
      },
      "PERCENT");
}

SnpCommand checkCommand(CLI::App& app, Args* a) {
  CLI::App* cmd = app.add_subcommand(
      "check",
      "Fail a build on low coverage: compare the inputs' coverage (counted as the reports\n"
      "count it) with thresholds, print each result, and exit with code 3 when one is not\n"
      "met (1: an input can't be read, 2: a bad command line).");
  addReportInputs(cmd, a);
  cmd->add_option("--line", a->lineThreshold, "lowest share of source lines covered, in %")
      ->check(percentCheck());
  cmd->add_option("--method", a->methodThreshold, "lowest share of methods entered, in %")
      ->check(percentCheck());
  cmd->add_option("--class", a->classThresholds,
                  "PATTERN=PERCENT: every class matching PATTERN ('*', '?'; dotted names) has\n"
                  "that share of its lines covered; repeatable")
      ->check(CLI::Validator(
          [](std::string& value) {
            ClassRule ignored;
            std::string error;
            return parseClassRule(value, &ignored, &error) ? std::string() : error;
          },
          "PATTERN=PERCENT"))
      ->take_all();
  cmd->callback([cmd, a] {
    if (a->lineThreshold.empty() && a->methodThreshold.empty() && a->classThresholds.empty()) {
      throw CLI::ValidationError("check", "give at least one of --line, --method, --class");
    }
  });
  (void)cmd;
  return {cmd, [a] { runCheck(*a); }};
}

SnpCommand htmlCommand(CLI::App& app, Args* a) {
  CLI::App* cmd = app.add_subcommand(
      "html",
      "Write a static HTML report into a folder: index.html with a row per package, a page\n"
      "per package, and a page per source file with all its classes, their methods and the\n"
      "source, coloured by hits, when it is found under --source-root (its lines otherwise).\n"
      "Columns sort on a click. Loads nothing external.\n"
      "The report is built beside the folder and then put in its place: an earlier report\n"
      "there is replaced whole; a folder holding anything else is left alone.");
  addReportInputs(cmd, a);
  cmd->add_option("-o,--output", a->output, "the folder to write (created when missing)")
      ->required()
      ->check([](const std::string& value) {
        return value == "-" ? std::string("a report is a folder: - (standard output) can't hold it")
                            : std::string();
      });
  cmd->add_option("--source-root", a->sourceRoot,
                  "folder that holds the sources by package; nothing outside it is read");
  cmd->add_option("--title", a->title, "the report's title");
  return {cmd, [a] { runHtml(*a); }};
}

SnpCommand mergeCommand(CLI::App& app, Args* a) {
  CLI::App* cmd = app.add_subcommand(
      "merge",
      "Add up the counters of several snapshots and write one snapshot in the same encoding.\n"
      "Classes are matched by name; a class whose structure (methods, line tables) differs\n"
      "is reported and kept from the newest input. Figures are recomputed by the agent's\n"
      "rules; the newest input (by time stamp) gives the Signature and the object IDs.\n"
      "Inputs that are one run (the same Signature) are reported: their counts add twice.");
  cmd->add_option("files", a->inputs, "snapshot files")->required();
  cmd->add_option("-o,--output", a->output, "the snapshot to write (-: standard output)")
      ->required();
  return {cmd, [a] { runMerge(*a); }};
}

const char kOverview[] =
    "Reads coverage snapshots (.snp files) that the ccover agent writes, and turns them into\n"
    "reports that people and CI services read.\n\n"
    "Every command takes a snapshot file (merge takes several). A file that is missing,\n"
    "truncated or corrupt gives one line on standard error and exit code 1; a bad command\n"
    "line gives exit code 2. Run 'snp COMMAND --help' for each command's options.";

}  // namespace

int runSnp(int argc, char** argv) {
  CLI::App app{kOverview, "snp"};
  app.require_subcommand(1);
  // Options start with '-' on every system: "/path/run.snp" is a file name,
  // also on Windows (and under wine).
  app.allow_windows_style_options(false);
  app.footer(
      "Commands write nothing when their input can't be read, and replace an output only\n"
      "once it is whole. An output of - is standard output.");

  Args args;
  PullCommand pull;
  addPullCommand(app, &pull);
  // One line per command, in the order of snp --help.
  const SnpCommand commands[] = {
      dumpCommand(app, &args),  //
      summaryCommand(app, &args),
      lcovCommand(app, &args),
      jacocoCommand(app, &args),
      coberturaCommand(app, &args),
      csvCommand(app, &args),
      htmlCommand(app, &args),
      mergeCommand(app, &args),
      checkCommand(app, &args),
      {pull.command, [&pull] { runPull(pull); }},
  };

  try {
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      int code = app.exit(e, std::cout, std::cerr);
      return code == 0 ? 0 : 2;
    }
    for (const SnpCommand& command : commands) {
      if (command.app->parsed()) command.run();
    }
    return 0;
  } catch (const ThresholdsNotMet&) {
    return kCheckFailedExitCode;
  } catch (const FileError& e) {
    std::cerr << "snp: " << e.file << ": " << e.what << '\n';
  } catch (const SnpError& e) {
    std::cerr << "snp: " << e.what() << '\n';
  } catch (const std::bad_alloc&) {
    std::cerr << "snp: out of memory\n";
  } catch (const std::exception& e) {
    std::cerr << "snp: " << e.what() << '\n';
  } catch (...) {
    std::cerr << "snp: unexpected failure\n";
  }
  return 1;
}
