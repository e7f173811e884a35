#include "tools/snp/cli.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "tools/snp/test_support.h"

namespace {

struct SnpRun {
  int code;
  std::string out;
  std::string err;
};

// Runs the command line in-process with both streams captured.
SnpRun snp(std::vector<std::string> args) {
  args.insert(args.begin(), "snp");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::ostringstream out, err;
  std::streambuf* oldOut = std::cout.rdbuf(out.rdbuf());
  std::streambuf* oldErr = std::cerr.rdbuf(err.rdbuf());
  int code = runSnp(static_cast<int>(argv.size()), argv.data());
  std::cout.rdbuf(oldOut);
  std::cerr.rdbuf(oldErr);
  return {code, out.str(), err.str()};
}

TEST(Cli, EveryCommandRefusesAMissingFileInOneLine) {
  TempDir dir;
  std::string missing = dir.file("missing.snp");
  std::string out = dir.file("out");
  for (std::vector<std::string> args :
       {std::vector<std::string>{"dump", missing}, {"summary", missing}, {"lcov", missing, "-o", out},
        {"jacoco", missing, "-o", out}, {"cobertura", missing, "-o", out}, {"html", missing, "-o", out},
        {"merge", missing, missing, "-o", out}}) {
    SnpRun r = snp(args);
    EXPECT_EQ(r.code, 1) << args[0];
    EXPECT_EQ(r.err, "snp: " + missing + ": cannot open: No such file or directory\n") << args[0];
    EXPECT_EQ(r.out, "");
    EXPECT_FALSE(std::filesystem::exists(out)) << args[0] << " wrote nothing";
  }
}

TEST(Cli, TruncatedAndCorruptFilesGiveOneLineAndExitOne) {
  TempDir dir;
  std::vector<uint8_t> bytes = readFileBytes(dataFile("small.snp"));
  std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + 1000);
  writeBytes(dir.file("cut.snp"), cut);
  std::vector<uint8_t> corrupt = bytes;
  corrupt[40] = 0x0C;  // Signature's tag
  writeBytes(dir.file("corrupt.snp"), corrupt);
  writeBytes(dir.file("empty.snp"), {});
  for (const char* name : {"cut.snp", "corrupt.snp", "empty.snp"}) {
    for (const char* command : {"dump", "summary"}) {
      SnpRun r = snp({command, dir.file(name)});
      EXPECT_EQ(r.code, 1) << name;
      EXPECT_EQ(r.err.rfind("snp: " + dir.file(name) + ": ", 0), 0u) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
  }
  EXPECT_EQ(snp({"summary", dir.file("corrupt.snp")}).err,
            "snp: " + dir.file("corrupt.snp") + ": unknown tag 12 at offset 40\n");
  EXPECT_EQ(snp({"summary", dir.file("empty.snp")}).err,
            "snp: " + dir.file("empty.snp") + ": missing end marker 02 ca be de aa after 0 items (0 bytes)\n");
}

TEST(Cli, HelpDescribesEveryCommand) {
  SnpRun r = snp({"--help"});
  EXPECT_EQ(r.code, 0);
  for (const char* command : {"dump", "summary", "lcov", "jacoco", "cobertura", "html", "merge"}) {
    EXPECT_NE(r.out.find(command), std::string::npos) << command;
    SnpRun sub = snp({command, "--help"});
    EXPECT_EQ(sub.code, 0) << command;
    EXPECT_NE(sub.out.find(std::string("Usage: snp ") + command), std::string::npos) << sub.out;
  }
  EXPECT_NE(snp({"lcov", "--help"}).out.find("--source-root"), std::string::npos);
  EXPECT_NE(snp({"summary", "--help"}).out.find("--sort"), std::string::npos);
  EXPECT_NE(snp({"dump", "--help"}).out.find("--raw"), std::string::npos);
}

TEST(Cli, BadCommandLinesExitTwo) {
  EXPECT_EQ(snp({}).code, 2);
  EXPECT_EQ(snp({"frobnicate"}).code, 2);
  EXPECT_EQ(snp({"lcov", dataFile("small.snp")}).code, 2) << "-o is required";
  EXPECT_EQ(snp({"summary", dataFile("small.snp"), "--sort", "size"}).code, 2);
}

TEST(Cli, ReportsAreWrittenToTheirFiles) {
  TempDir dir;
  std::string snapshot = dataFile("small.snp");
  SnpRun lcov = snp({"lcov", snapshot, "-o", dir.file("small.info")});
  EXPECT_EQ(lcov.code, 0);
  EXPECT_EQ(lcov.err, "snp: " + snapshot + ": 1 class without a source file name left out\n");
  EXPECT_EQ(readText(dir.file("small.info")), readText(dataFile("small.info")));
  EXPECT_EQ(snp({"dump", snapshot, "-o", dir.file("small.json")}).code, 0);
  EXPECT_EQ(readText(dir.file("small.json")), readText(dataFile("small.json")));
  SnpRun summary = snp({"summary", snapshot, "--color", "never"});
  EXPECT_EQ(summary.code, 0);
  EXPECT_NE(summary.out.find("Total (7 classes)"), std::string::npos);
  EXPECT_EQ(snp({"merge", snapshot, snapshot, "-o", dir.file("double.snp")}).code, 0);
  Snapshot doubled = loadSnapshot(dir.file("double.snp"));
  EXPECT_EQ(doubled.methods[doubled.methodById.at(12)].hits, (std::vector<uint32_t>{2, 8, 0, 6, 2}));
}

TEST(Cli, UnwritableOutputIsAnError) {
  TempDir dir;
  SnpRun r = snp({"jacoco", dataFile("small.snp"), "-o", dir.file("no/such/folder/x.xml")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err,
            "snp: " + dir.file("no/such/folder/x.xml") + ": cannot write: No such file or directory\n");
}

}  // namespace
