#include "tools/snp/cli.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

#include "tools/snp/check.h"
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
  argv.reserve(args.size());
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
  for (std::vector<std::string> args : {std::vector<std::string>{"dump", missing},
                                        {"summary", missing},
                                        {"lcov", missing, "-o", out},
                                        {"jacoco", missing, "-o", out},
                                        {"cobertura", missing, "-o", out},
                                        {"html", missing, "-o", out},
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
            "snp: " + dir.file("empty.snp") +
                ": missing end marker 02 ca be de aa after 0 items (0 bytes)\n");
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
  EXPECT_EQ(doubled.methods[doubled.methodById.at(12)].hits,
            (std::vector<uint32_t>{2, 8, 0, 6, 2}));
}

TEST(Cli, UnwritableOutputIsAnError) {
  TempDir dir;
  SnpRun r = snp({"jacoco", dataFile("small.snp"), "-o", dir.file("no/such/folder/x.xml")});
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(r.err, "snp: " + dir.file("no/such/folder/x.xml") +
                       ": cannot write: No such file or directory\n");
}

TEST(Cli, DashIsStandardOutputForEveryReport) {
  TempDir dir;
  std::string snapshot = dataFile("small.snp");
  for (std::vector<std::string> args : {std::vector<std::string>{"lcov", snapshot},
                                        {"jacoco", snapshot, "--name", "n"},
                                        {"cobertura", snapshot},
                                        {"dump", snapshot}}) {
    std::vector<std::string> toFile = args;
    toFile.insert(toFile.end(), {"-o", dir.file("out")});
    ASSERT_EQ(snp(toFile).code, 0) << args[0];
    std::vector<std::string> toDash = args;
    toDash.insert(toDash.end(), {"-o", "-"});
    SnpRun r = snp(toDash);
    EXPECT_EQ(r.code, 0) << args[0];
    EXPECT_EQ(r.out, readText(dir.file("out"))) << args[0];
    EXPECT_FALSE(std::filesystem::exists("-")) << args[0] << " made a file named -";
  }
  SnpRun html = snp({"html", snapshot, "-o", "-"});
  EXPECT_EQ(html.code, 2);
  EXPECT_NE(html.err.find("a report is a folder: - (standard output) can't hold it"),
            std::string::npos)
      << html.err;
}

// Today's systems fail a write on a full disk; /dev/full fails every write the
// same way. Behind a link, snp must neither remove the link nor the device.
TEST(Cli, AFailedWriteRemovesNothingSnpDidNotCreate) {
  if (!std::filesystem::is_character_file("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  TempDir dir;
  std::string link = dir.file("out");
  std::error_code error;
  std::filesystem::create_symlink("/dev/full", link, error);
  if (error) GTEST_SKIP() << "no symbolic links here: " << error.message();
  std::string snapshot = dataFile("small.snp");
  for (std::vector<std::string> args : {std::vector<std::string>{"lcov", snapshot},
                                        {"jacoco", snapshot},
                                        {"cobertura", snapshot},
                                        {"dump", snapshot},
                                        {"merge", snapshot}}) {
    args.insert(args.end(), {"-o", link});
    SnpRun r = snp(args);
    EXPECT_EQ(r.code, 1) << args[0];
    EXPECT_EQ(r.err, "snp: " + link + ": cannot write: No space left on device\n") << args[0];
    EXPECT_TRUE(std::filesystem::is_symlink(link)) << args[0];
    EXPECT_TRUE(std::filesystem::is_character_file("/dev/full")) << args[0];
  }
}

TEST(Cli, OnlyRegularFilesAndPipesAreRead) {
  TempDir dir;
  SnpRun folder = snp({"summary", dir.file("")});
  EXPECT_EQ(folder.code, 1);
  EXPECT_EQ(folder.err, "snp: " + dir.file("") +
                            ": a folder, not a snapshot file (only regular files and pipes are "
                            "read)\n");
  if (!std::filesystem::is_character_file("/dev/null")) return;
  for (const char* command : {"summary", "dump"}) {
    SnpRun device = snp({command, "/dev/null"});
    EXPECT_EQ(device.code, 1);
    EXPECT_EQ(device.err,
              "snp: /dev/null: a character device, not a snapshot file (only regular files and "
              "pipes are read)\n");
  }
}

TEST(Cli, ReportsTakeSeveralSnapshotsAndClassFiles) {
  TempDir dir;
  std::string snapshot = dataFile("small.snp");
  std::string jar = dataFile("classes.jar");
  SnpRun once = snp({"summary", snapshot, "--classes", jar, "--color", "never"});
  EXPECT_EQ(once.code, 0) << once.err;
  EXPECT_NE(once.out.find("app.extra.Never             0.00%      0/2"), std::string::npos)
      << once.out;
  EXPECT_NE(once.out.find("Total (9 classes)          47.61%    10/21"), std::string::npos);
  // The same run given twice: counted twice (said once), covered lines unchanged.
  SnpRun twice = snp({"cobertura", snapshot, snapshot, "--classes", jar, "-o", "-"});
  EXPECT_EQ(twice.code, 0);
  EXPECT_NE(twice.out.find("lines-covered=\"10\" lines-valid=\"21\""), std::string::npos);
  EXPECT_NE(twice.err.find("its counts are added twice"), std::string::npos);
  SnpRun csv = snp({"csv", snapshot, "--classes", jar, "-o", dir.file("r.csv")});
  EXPECT_EQ(csv.code, 0) << csv.err;
  EXPECT_NE(readText(dir.file("r.csv")).find("\nsmall.snp,app.extra,Polygon,0,0,0,0,2,0,0,0,3,0\n"),
            std::string::npos)
      << "the abstract method is not counted (the lambda is); its line is the static method's";
  SnpRun html = snp({"html", snapshot, "--classes", jar, "-o", dir.file("report")});
  EXPECT_EQ(html.code, 0) << html.err;
  std::string extra = readText(dir.file("report/app.extra/index.html"));
  EXPECT_NE(extra.find("Never</a> <span class=\"nl\""), std::string::npos) << "marked not loaded";
  std::string util = readText(dir.file("report/app.util/index.html"));
  EXPECT_NE(util.find("Strings</a></td>"), std::string::npos) << "a loaded class is not";
  SnpRun missing = snp({"jacoco", snapshot, "--classes", dir.file("nowhere"), "-o", "-"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "snp: " + dir.file("nowhere") + ": no such file or folder\n");
  EXPECT_EQ(missing.out, "");
}

TEST(Cli, CheckExitsWithItsOwnCodeAndListsWhatFellShort) {
  std::string snapshot = dataFile("small.snp");
  SnpRun pass = snp({"check", snapshot, "--line", "58", "--class", "app.tools.*=50"});
  EXPECT_EQ(pass.code, 0) << pass.err;
  EXPECT_EQ(pass.out,
            "ok: line coverage 58.82% (10/17) meets 58%\n"
            "ok: every class of app.tools.* (3) meets 50%\n");
  SnpRun fail = snp({"check", snapshot, "--classes", dataFile("classes.jar"), "--line", "58",
                     "--method", "46.5", "--class", "app/extra/*=1"});
  EXPECT_EQ(fail.code, kCheckFailedExitCode);
  EXPECT_EQ(fail.code, 3);
  EXPECT_EQ(
      fail.out,
      "ok: method coverage 46.67% (7/15) meets 46.5%\n"
      "FAILED: line coverage 47.62% (10/21) is below 58%\n"
      "FAILED: class app.extra.Never: line coverage 0.00% (0/2) is below 1% (app.extra.*)\n"
      "FAILED: class app.extra.Polygon: line coverage 0.00% (0/2) is below 1% (app.extra.*)\n");
  EXPECT_EQ(fail.err, "snp: check: 3 thresholds not met\n");
  EXPECT_EQ(snp({"check", snapshot}).code, 2) << "no threshold is a command-line error";
  EXPECT_EQ(snp({"check", snapshot, "--line", "80%"}).code, 2);
  EXPECT_EQ(snp({"check", snapshot, "--class", "app.*"}).code, 2);
  EXPECT_EQ(snp({"check", dataFile("missing.snp"), "--line", "1"}).code, 1);
}

}  // namespace
