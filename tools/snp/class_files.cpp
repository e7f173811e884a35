#include "tools/snp/class_files.h"

#include <string.h>

#include <algorithm>
#include <filesystem>

#include "classfile/class_file.h"
#include "classfile/instrument.h"
#include "tools/snp/command.h"
#include "tools/snp/compiler_code.h"
#include "tools/snp/snapshot_model.h"
#include "tools/snp/zip_reader.h"

namespace fs = std::filesystem;

namespace {

// The class file format counts its parts in 16 and 32 bits; no real class is
// near this, and a jar entry that claims more is refused before inflating.
constexpr size_t kMaxClassBytes = 64u << 20;
constexpr size_t kMaxJarBytes = kMaxSnapshotBytes;

bool endsWith(const std::string& s, const char* suffix) {
  size_t n = strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

void addClass(const std::string& origin, const uint8_t* data, size_t size,
              std::vector<ClassFileClass>* out) {
  ClassFileClass c;
  bool skipped = false;
  std::string error;
  if (!describeClassFile(data, size, &c, &skipped, &error)) throw FileError{origin, error};
  if (skipped) return;
  c.origin = origin;
  out->push_back(std::move(c));
}

std::vector<uint8_t> readAll(const std::string& path, size_t limit) {
  try {
    return readFileBytes(path, limit);
  } catch (const SnpError& e) {
    throw FileError{path, e.what()};
  }
}

void readFolder(const fs::path& folder, std::vector<ClassFileClass>* out) {
  std::vector<fs::path> files;
  std::error_code ec;
  fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
  if (ec) throw FileError{folder.string(), "cannot read the folder: " + ec.message()};
  for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) throw FileError{folder.string(), "cannot read the folder: " + ec.message()};
    std::error_code typeError;
    if (!it->is_regular_file(typeError)) continue;
    std::string name = it->path().filename().string();
    if (endsWith(name, ".class") || endsWith(name, ".jar")) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  size_t before = out->size();
  bool anyClassFile = false;
  for (const fs::path& file : files) {
    std::string path = file.string();
    std::vector<uint8_t> bytes =
        readAll(path, endsWith(path, ".jar") ? kMaxJarBytes : kMaxClassBytes);
    if (endsWith(path, ".jar")) {
      readJarBytes(path, bytes.data(), bytes.size(), out);
    } else {
      anyClassFile = true;
      addClass(path, bytes.data(), bytes.size(), out);
    }
  }
  if (out->size() == before && !anyClassFile) {
    throw FileError{folder.string(), "a folder without class files or jars"};
  }
}

}  // namespace

bool describeClassFile(const uint8_t* data, size_t size, ClassFileClass* out, bool* skipped,
                       std::string* error) {
  *skipped = false;
  classfile::ClassFile cf;
  if (size < 4 || data[0] != 0xCA || data[1] != 0xFE || data[2] != 0xBA || data[3] != 0xBE) {
    *error = "not a class file (no CAFEBABE header)";
    return false;
  }
  if (!classfile::parseClassFile(data, size, &cf)) {
    *error = "a malformed class file (its structure can't be read)";
    return false;
  }
  // The runtime's own description: the outline it builds while instrumenting.
  std::vector<uint8_t> rewritten;
  classfile::ClassOutline outline;
  switch (classfile::instrumentClass(cf, 0, &rewritten, &outline)) {
    case classfile::ClassOutcome::kSkipped:
      *skipped = true;
      return true;
    case classfile::ClassOutcome::kMalformed:
      *error = "a malformed class file (its code or tables can't be read)";
      return false;
    case classfile::ClassOutcome::kInstrumented:
    case classfile::ClassOutcome::kUnchanged:
      break;
  }
  out->name.assign(outline.name);
  if (out->name.empty()) {
    *error = "a malformed class file (it names no class)";
    return false;
  }
  out->hasSourceFile = outline.hasSourceFile;
  out->sourceFile.assign(outline.sourceFile);
  out->accessFlags = outline.accessFlags;
  out->firstInlinedLine =
      kotlinFirstInlinedLine(outline.name, outline.sourceFile, sourceDebugExtension(cf));
  out->methods.clear();
  for (size_t i = 0; i < outline.methods.size(); i++) {
    const classfile::MethodOutline& m = outline.methods[i];
    ClassFileMethod method;
    method.compilerMade = compilerMadeMethod(cf, cf.methods[i]);
    method.name.assign(m.name);
    method.descriptor.assign(m.descriptor);
    method.accessFlags = m.accessFlags;
    method.lines.assign(m.lines.begin(), m.lines.end());
    out->methods.push_back(std::move(method));
  }
  return true;
}

void readJarBytes(const std::string& origin, const uint8_t* data, size_t size,
                  std::vector<ClassFileClass>* out) {
  ZipArchive zip;
  std::string error;
  if (!openZip(data, size, &zip, &error)) throw FileError{origin, error};
  std::vector<uint8_t> bytes;
  for (const ZipEntry& e : zip.entries) {
    // A multi-release jar's other versions would give each class twice; the
    // base version is what every JVM can load.
    if (!endsWith(e.name, ".class") || e.name.rfind("META-INF/", 0) == 0) continue;
    std::string where = origin + "!/" + e.name;
    if (!readZipEntry(zip, e, kMaxClassBytes, &bytes, &error)) throw FileError{where, error};
    addClass(where, bytes.data(), bytes.size(), out);
  }
}

std::vector<ClassFileClass> readClassPaths(const std::vector<std::string>& paths) {
  std::vector<ClassFileClass> out;
  for (const std::string& path : paths) {
    std::error_code ec;
    fs::file_status status = fs::status(path, ec);
    if (ec || !fs::exists(status)) {
      throw FileError{path, "no such file or folder"};
    }
    if (fs::is_directory(status)) {
      readFolder(path, &out);
      continue;
    }
    std::vector<uint8_t> bytes = readAll(path, kMaxJarBytes);
    if (bytes.size() >= 4 && bytes[0] == 0xCA && bytes[1] == 0xFE) {
      addClass(path, bytes.data(), bytes.size(), &out);
    } else {
      readJarBytes(path, bytes.data(), bytes.size(), &out);
    }
  }
  return out;
}
