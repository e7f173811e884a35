// The built libraries as other programs see them: what they export, what they
// need, and their names. Reads the ELF (Linux) or PE (Windows) files beside
// the test binary; which kind is there decides which checks run.
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "tests/harness/child.h"

namespace {

const std::set<std::string> kJavaEntryPoints = {
    "Java_quorvatix_audit_CoverMain_start",
    "Java_quorvatix_audit_CoverMain_exitNow",
    "Java_quorvatix_audit_CoverMain_pauseAllThreads",
    "Java_quorvatix_audit_CoverMain_resumeAllThreads",
    "Java_quorvatix_audit_CoverMain_registerAuditThread",
    "Java_quorvatix_audit_CoverMain_willProcessAuditRequest",
    "Java_quorvatix_audit_CoverMain_didProcessAuditRequest",
    "Java_quorvatix_audit_CoverMain_setGlobalFilter",
    "Java_quorvatix_audit_CoverMain_setGlobalFilter0",
    "Java_quorvatix_audit_CoverMain_runProgramWithClass",
    "Java_quorvatix_audit_CoverMain_machineID",
    "Java_quorvatix_audit_CoverMain_markClasses",
    "Java_quorvatix_audit_CoverMain_detach",
    "Java_quorvatix_audit_CoverMain_hasNewClasses",
    "Java_quorvatix_audit_CoverMain_fillClassInfoAnswer",
    "Java_quorvatix_audit_CoverMain_fillClassCoverageAnswer",
    "Java_quorvatix_audit_CoverMain_fillAllClassCoverageAnswer",
    "Java_quorvatix_audit_CoverMain_fillMethodInfoAnswer",
    "Java_quorvatix_audit_CoverMain_fillMethodCoverageAnswer",
    "Java_quorvatix_audit_CoverMain_generateSnapshot",
};

const char* const kRuntimeInterface[] = {
    "cciIsInitialized",
    "cciBuildNumber",
    "cciGetCObjectsByID",
    "cciGetCObjectsByIDLock",
    "cciGetUnregisteredClasses",
    "cciGetUnregisteredClassesLock",
    "cciSetHandlers",
    "cciWillProcessAuditRequest",
    "cciDidProcessAuditRequest",
    "cciSuspendAllThreads",
    "cciResumeAllThreads",
    "cciRegisterAuditThread",
    "qmiMonitorAllocate",
    "qmiMonitorEnter",
    "qmiMonitorExit",
    "qmiGetThreadLocalStorage",
    "qmiSetThreadLocalStorage",
    "sMalloc",
    "sFree",
};

std::string binaryDir() {
  std::string self = child_internal::selfExecutable();
  size_t slash = self.find_last_of("/\\");
  return slash == std::string::npos ? std::string(".") : self.substr(0, slash);
}

bool readFile(const std::string& path, std::vector<uint8_t>* bytes) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  uint8_t buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof(buffer), f)) > 0)
    bytes->insert(bytes->end(), buffer, buffer + n);
  fclose(f);
  return true;
}

// Little-endian reads that yield 0 past the end, so a damaged file fails the
// checks instead of the test binary.
struct Bytes {
  const std::vector<uint8_t>& data;
  uint64_t u(size_t at, int width) const {
    uint64_t value = 0;
    for (int i = width - 1; i >= 0; i--) {
      value = (value << 8) | (at + i < data.size() ? data[at + i] : 0);
    }
    return value;
  }
  std::string text(size_t at) const {
    std::string s;
    while (at < data.size() && data[at] != 0) s.push_back(static_cast<char>(data[at++]));
    return s;
  }
};

struct Linkage {
  std::set<std::string> exports;  // defined dynamic symbols with default visibility
  std::vector<std::string> needed;
  std::string soname;
  std::string machine;
};

// ELF: .dynsym for the exports, .dynamic for NEEDED and SONAME.
bool readElf(const std::vector<uint8_t>& data, Linkage* out) {
  Bytes b{data};
  if (data.size() < 64 || memcmp(data.data(),
                                 "\x7F"
                                 "ELF",
                                 4) != 0)
    return false;
  bool wide = data[4] == 2;
  int word = wide ? 8 : 4;
  out->machine = b.u(18, 2) == 62 ? "x86-64" : b.u(18, 2) == 3 ? "i386" : "other";
  uint64_t shoff = b.u(wide ? 0x28 : 0x20, word);
  uint64_t shentsize = b.u(wide ? 0x3A : 0x2E, 2);
  uint64_t shnum = b.u(wide ? 0x3C : 0x30, 2);
  auto section = [&](uint64_t i, int field) -> uint64_t {
    // Fields: 1 type, 4 offset, 5 size, 6 link, 9 entsize.
    size_t at = shoff + i * shentsize;
    switch (field) {
      case 1:
        return b.u(at + 4, 4);
      case 4:
        return b.u(at + (wide ? 0x18 : 0x10), word);
      case 5:
        return b.u(at + (wide ? 0x20 : 0x14), word);
      case 6:
        return b.u(at + (wide ? 0x28 : 0x18), 4);
      default:
        return b.u(at + (wide ? 0x38 : 0x24), word);
    }
  };
  for (uint64_t i = 0; i < shnum; i++) {
    uint64_t type = section(i, 1);
    uint64_t strings = section(section(i, 6), 4);
    if (type == 11) {  // SHT_DYNSYM
      uint64_t entry = wide ? 24 : 16;
      for (uint64_t at = section(i, 4) + entry; at + entry <= section(i, 4) + section(i, 5);
           at += entry) {
        uint64_t name = b.u(at, 4);
        uint64_t info = b.u(at + (wide ? 4 : 12), 1);
        uint64_t other = b.u(at + (wide ? 5 : 13), 1);
        uint64_t shndx = b.u(at + (wide ? 6 : 14), 2);
        bool global = (info >> 4) == 1 || (info >> 4) == 2;
        if (shndx != 0 && global && (other & 3) == 0) out->exports.insert(b.text(strings + name));
      }
    } else if (type == 6) {  // SHT_DYNAMIC
      for (uint64_t at = section(i, 4); at < section(i, 4) + section(i, 5);
           at += 2 * static_cast<uint64_t>(word)) {
        uint64_t tag = b.u(at, word);
        uint64_t value = b.u(at + word, word);
        if (tag == 0) break;
        if (tag == 1) out->needed.push_back(b.text(strings + value));
        if (tag == 14) out->soname = b.text(strings + value);
      }
    }
  }
  return true;
}

// PE: the export directory's names, the import directory's DLL names.
bool readPe(const std::vector<uint8_t>& data, Linkage* out) {
  Bytes b{data};
  if (data.size() < 0x40 || data[0] != 'M' || data[1] != 'Z') return false;
  size_t pe = b.u(0x3C, 4);
  if (b.u(pe, 4) != 0x4550) return false;  // "PE\0\0"
  size_t coff = pe + 4;
  out->machine = b.u(coff, 2) == 0x14C ? "i386" : "other";
  size_t sections = b.u(coff + 2, 2);
  size_t optional = coff + 20;
  if (b.u(optional, 2) != 0x10B) out->machine += " (not PE32)";
  size_t table = optional + b.u(coff + 16, 2);
  auto fileOffset = [&](uint64_t rva) -> size_t {
    for (size_t i = 0; i < sections; i++) {
      size_t s = table + i * 40;
      uint64_t va = b.u(s + 12, 4);
      uint64_t span = std::max(b.u(s + 8, 4), b.u(s + 16, 4));
      if (rva >= va && rva < va + span) return b.u(s + 20, 4) + (rva - va);
    }
    return data.size();
  };
  uint64_t exportRva = b.u(optional + 96, 4);
  if (exportRva != 0) {
    size_t dir = fileOffset(exportRva);
    uint64_t count = b.u(dir + 24, 4);
    size_t names = fileOffset(b.u(dir + 32, 4));
    for (uint64_t i = 0; i < count; i++)
      out->exports.insert(b.text(fileOffset(b.u(names + 4 * i, 4))));
  }
  uint64_t importRva = b.u(optional + 104, 4);
  if (importRva != 0) {
    for (size_t at = fileOffset(importRva); at + 20 <= data.size(); at += 20) {
      if (b.u(at + 12, 4) == 0) break;
      std::string name = b.text(fileOffset(b.u(at + 12, 4)));
      std::transform(name.begin(), name.end(), name.begin(), ::tolower);
      out->needed.push_back(name);
    }
  }
  return true;
}

// Reads the named library of this target (ELF or PE, whichever is built).
bool readLibrary(const char* elfName, const char* peName, Linkage* out, bool* isPe) {
  std::vector<uint8_t> data;
  *isPe = readFile(binaryDir() + "/" + peName, &data);
  if (*isPe) return readPe(data, out);
  return readFile(binaryDir() + "/" + elfName, &data) && readElf(data, out);
}

bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(LibraryFiles, AgentExportsExactlyItsJavaEntryPoints) {
  Linkage agent;
  bool isPe = false;
  ASSERT_TRUE(readLibrary("libccover.so", "ccover.dll", &agent, &isPe)) << binaryDir();
  EXPECT_EQ(agent.exports, kJavaEntryPoints);
  if (isPe) {
    EXPECT_EQ(agent.machine, "i386");
    EXPECT_TRUE(contains(agent.needed, "cci.dll"));
    // libgcc, libstdc++ and winpthread are linked in: no mingw DLL at run time.
    for (const std::string& needed : agent.needed) {
      EXPECT_EQ(needed.find("stdc++"), std::string::npos) << needed;
      EXPECT_EQ(needed.find("libgcc"), std::string::npos) << needed;
      EXPECT_EQ(needed.find("winpthread"), std::string::npos) << needed;
    }
  } else {
    EXPECT_EQ(agent.soname, "libccover.so");
    EXPECT_TRUE(contains(agent.needed, "libcci.so"));
    EXPECT_EQ(agent.machine, sizeof(void*) == 8 ? "x86-64" : "i386");
  }
}

TEST(LibraryFiles, RuntimeExportsItsInterfaceUndecorated) {
  Linkage runtime;
  bool isPe = false;
  ASSERT_TRUE(readLibrary("libcci.so", "cci.dll", &runtime, &isPe)) << binaryDir();
  for (const char* name : kRuntimeInterface) EXPECT_EQ(runtime.exports.count(name), 1u) << name;
  for (const std::string& name : runtime.exports) {
    bool ours = name.rfind("cci", 0) == 0 || name.rfind("qmi", 0) == 0 || name == "sMalloc" ||
                name == "sFree";
    EXPECT_TRUE(ours) << "unexpected export " << name;
    EXPECT_EQ(name.find('@'), std::string::npos) << name;
  }
  if (!isPe) EXPECT_EQ(runtime.soname, "libcci.so");
}

}  // namespace
