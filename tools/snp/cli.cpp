#include "tools/snp/cli.h"

#include <stdio.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <new>

#include "support/reader.h"
#include "tools/snp/cobertura.h"
#include "tools/snp/dump.h"
#include "tools/snp/html.h"
#include "tools/snp/jacoco.h"
#include "tools/snp/lcov.h"
#include "tools/snp/merge.h"
#include "tools/snp/pull.h"
#include "tools/snp/snapshot_model.h"
#include "tools/snp/snapshot_writer.h"
#include "tools/snp/summary.h"
#include "platform/platform.h"
#include "tools/snp/text.h"

namespace {

// A failure that names the file it concerns.
struct FileError {
  std::string file;
  std::string what;
};

Snapshot load(const std::string& path) {
  try {
    return loadSnapshot(path);
  } catch (const SnpError& e) {
    throw FileError{path, e.what()};
  }
}

// Writes a report to path through a stream; a failed write removes the file.
void writeFile(const std::string& path, const std::function<void(std::ostream&)>& write) {
  std::ofstream out(path, std::ios::binary);
  if (!out) throw FileError{path, "cannot write"};
  // A larger buffer than the default: reports are many short writes.
  std::unique_ptr<char[]> buffer(new char[1 << 16]);
  out.rdbuf()->pubsetbuf(buffer.get(), 1 << 16);
  try {
    write(out);
    out.flush();
  } catch (...) {
    out.close();
    remove(path.c_str());
    throw;
  }
  out.close();
  if (!out) {
    remove(path.c_str());
    throw FileError{path, "cannot write"};
  }
}

void dump(const std::string& path, bool raw, const std::string& output) {
  std::vector<uint8_t> bytes;
  try {
    bytes = readFileBytes(path);
  } catch (const SnpError& e) {
    throw FileError{path, e.what()};
  }
  std::unique_ptr<SEReader, void (*)(SEReader*)> reader(SEReaderNew(), SEReaderFree);
  if (reader == nullptr) throw std::bad_alloc();
  SESnapshotView view;
  if (!SEReadSnapshot(reader.get(), bytes.data(), bytes.size(), &view)) {
    throw FileError{path, SEReaderError(reader.get())};
  }
  std::vector<uint8_t>().swap(bytes);  // the view holds copies
  if (output.empty() || output == "-") {
    writeDump(view, raw, std::cout);
    std::cout.flush();
    if (!std::cout) throw FileError{"standard output", "cannot write"};
  } else {
    writeFile(output, [&](std::ostream& out) { writeDump(view, raw, out); });
  }
}

std::string baseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
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
  app.footer("Commands write nothing when their input can't be read.");

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

  CLI::App* dumpCmd = app.add_subcommand(
      "dump",
      "Write the whole element tree as JSON, members in file order. Without --raw the four\n"
      "items are named SnapRoot, Signature, ClassRoot, MethodRoot, then EndMarker.");
  dumpCmd->add_option("file", input, "snapshot file")->required();
  dumpCmd->add_flag("--raw", raw, "every value as {offset, tag, payload}, items in an array");
  dumpCmd->add_option("-o,--output", output, "write to this file instead of standard output");

  CLI::App* summaryCmd = app.add_subcommand(
      "summary",
      "A table with one row per class: coverage and coverage since the mark (the agent's\n"
      "figures), line slots hit / line slots, methods entered / methods, and a totals row.");
  summaryCmd->add_option("file", input, "snapshot file")->required();
  summaryCmd->add_option("--sort", sort, "row order: name, or coverage (lowest first)")
      ->check(CLI::IsMember({"name", "coverage"}));
  summaryCmd->add_option("--filter", filter, "only classes whose name starts with PREFIX (app.tools or app/tools)");
  summaryCmd->add_option("--color", colour, "auto (colour on a terminal only), always, never")
      ->check(CLI::IsMember({"auto", "always", "never"}));

  CLI::App* lcovCmd = app.add_subcommand(
      "lcov",
      "Write an LCOV tracefile (genhtml, CI services): one record per source file\n"
      "(package folder + source file name). A line with several line slots gets the largest\n"
      "of their hit counts.");
  lcovCmd->add_option("file", input, "snapshot file")->required();
  lcovCmd->add_option("-o,--output", output, "the tracefile to write")->required();
  lcovCmd->add_option("--source-root", sourceRoot, "folder prefixed to every SF path");
  lcovCmd->add_option("--test-name", testName, "the TN name (default: none)");

  CLI::App* jacocoCmd = app.add_subcommand(
      "jacoco",
      "Write a JaCoCo XML report (valid against JaCoCo's report.dtd) with LINE, METHOD and\n"
      "CLASS counters. A line's mi/ci are its line slots not run / run.");
  jacocoCmd->add_option("file", input, "snapshot file")->required();
  jacocoCmd->add_option("-o,--output", output, "the XML file to write")->required();
  jacocoCmd->add_option("--name", reportName, "the report's name (default: the snapshot's file name)");

  CLI::App* coberturaCmd = app.add_subcommand(
      "cobertura", "Write Cobertura XML (coverage-04), the format of GitLab's coverage report.");
  coberturaCmd->add_option("file", input, "snapshot file")->required();
  coberturaCmd->add_option("-o,--output", output, "the XML file to write")->required();
  coberturaCmd->add_option("--source-root", sourceRoot, "the <source> folder (default: .)");

  CLI::App* htmlCmd = app.add_subcommand(
      "html",
      "Write a static HTML report into a folder: index.html with a coverage bar per package\n"
      "and class, and a page per class with its source lines coloured by hits when the\n"
      "source is found under --source-root (its line list otherwise). Loads nothing external.");
  htmlCmd->add_option("file", input, "snapshot file")->required();
  htmlCmd->add_option("-o,--output", output, "the folder to write (created when missing)")->required();
  htmlCmd->add_option("--source-root", sourceRoot, "folder that holds the sources by package");
  htmlCmd->add_option("--title", title, "the report's title");

  CLI::App* mergeCmd = app.add_subcommand(
      "merge",
      "Add up the counters of several snapshots and write one snapshot in the same encoding.\n"
      "Classes are matched by name; a class whose structure (methods, line tables) differs\n"
      "is reported and kept from the newest input. Figures are recomputed by the agent's\n"
      "rules; the newest input (by time stamp) gives the Signature and the object IDs.");
  mergeCmd->add_option("files", inputs, "snapshot files")->required();
  mergeCmd->add_option("-o,--output", output, "the snapshot to write")->required();
  PullCommand pull;
  addPullCommand(app, &pull);

  try {
    try {
      app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
      int code = app.exit(e, std::cout, std::cerr);
      return code == 0 ? 0 : 2;
    }
    if (pull.command->parsed()) {
      runPull(pull);
    } else if (dumpCmd->parsed()) {
      dump(input, raw, output);
    } else if (summaryCmd->parsed()) {
      Snapshot s = load(input);
      SummaryOptions options;
      options.sort = sort == "coverage" ? SummaryOptions::Sort::kCoverage : SummaryOptions::Sort::kName;
      options.filter = filter;
      options.colour = colour == "always" || (colour == "auto" && platform::stdoutTakesColour());
      writeSummary(s, options, std::cout);
      std::cout.flush();
    } else if (lcovCmd->parsed()) {
      Snapshot s = load(input);
      LcovOptions options{sourceRoot, testName};
      size_t left = 0;
      writeFile(output, [&](std::ostream& out) { left = writeLcov(s, options, out); });
      if (left > 0) {
        std::cerr << "snp: " << input << ": " << left << (left == 1 ? " class" : " classes")
                  << " without a source file name left out\n";
      }
    } else if (jacocoCmd->parsed()) {
      Snapshot s = load(input);
      std::string name = reportName.empty() ? baseName(input) : reportName;
      writeFile(output, [&](std::ostream& out) { writeJacoco(s, name, out); });
    } else if (coberturaCmd->parsed()) {
      Snapshot s = load(input);
      writeFile(output, [&](std::ostream& out) { writeCobertura(s, sourceRoot, out); });
    } else if (htmlCmd->parsed()) {
      Snapshot s = load(input);
      HtmlOptions options;
      options.outputDir = output;
      options.sourceRoot = sourceRoot;
      options.title = title;
      try {
        writeHtml(s, options);
      } catch (const SnpError& e) {
        throw FileError{output, e.what()};
      }
    } else if (mergeCmd->parsed()) {
      std::vector<MergeInput> loaded;
      for (const std::string& path : inputs) loaded.push_back({path, load(path)});
      std::vector<std::string> warnings;
      Snapshot merged = mergeSnapshots(loaded, &warnings);
      for (const std::string& w : warnings) std::cerr << "snp: warning: " << w << '\n';
      try {
        writeSnapshotFile(merged, output);
      } catch (const SnpError& e) {
        throw FileError{output, e.what()};
      }
    }
    return 0;
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
