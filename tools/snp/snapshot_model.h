// The classes, interfaces and methods of one snapshot file, decoded by the
// bounds-checked reader and checked for the shape the agent writes: SnapRoot,
// Signature, ClassRoot and MethodRoot, each a named element, then the end
// marker. Every report and the merge work on this model; `snp dump` alone works
// on the raw view, so that it can show files the model refuses.
//
// Failure: a file that can't be read, can't be decoded, or does not have the
// agent's shape throws SnpError with a one-line text (the CLI adds the path).
// Memory is bounded by the input: every vector here is sized from counts the
// reader has already checked against the bytes left.
//
// Thread-safety: a Snapshot is a plain value; load one per thread.
#ifndef CCOVER_TOOLS_SNP_SNAPSHOT_MODEL_H_
#define CCOVER_TOOLS_SNP_SNAPSHOT_MODEL_H_

#include <stdint.h>

#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct SESnapshotView;

// Every failure the tool reports: one line, no trailing newline.
class SnpError : public std::runtime_error {
 public:
  explicit SnpError(const std::string& what) : std::runtime_error(what) {}
};

struct SnpMethod {
  int32_t id = 0;
  int32_t classId = 0;
  std::string name;       // modified UTF-8, as held in the file (without its NUL)
  std::string signature;  // the method descriptor, e.g. "(I)V"
  int32_t accessFlags = 0;
  uint32_t invocations = 0;
  uint32_t markedInvocations = 0;
  // Parallel, one entry per line slot; empty for a method without lines.
  std::vector<int32_t> lines;
  std::vector<uint32_t> hits;
  std::vector<uint32_t> markedHits;
};

enum class SnpKind { kClass, kInterface };

struct SnpClass {
  SnpKind kind = SnpKind::kClass;
  int32_t id = 0;
  std::string name;    // as held: VM form "app/tools/Main"
  bool loaded = true;  // false: "lod" = 0, only id and name are known
  // Never loaded in the run: described from its class file (--classes), so
  // its methods and line slots are known and every count is 0.
  bool fromClassFile = false;
  // "sn" is the text "0" when the class has no source file name.
  bool hasSourceName = false;
  std::string sourceName;
  int32_t accessFlags = 0;
  std::vector<int32_t> methodIds;  // "mid", in order
  std::vector<size_t> methods;     // index into Snapshot::methods of each of methodIds
  // The figures as the agent last computed them (classes only).
  int32_t coverage = 0;
  int32_t coverageAtMark = 0;
  int32_t coverageSinceMark = 0;
  bool hasLines = false;  // "nl", "ml", "mld" present
  int32_t lineCount = 0;
  int32_t missedLines = 0;
  int32_t missedLinesSinceMark = 0;
};

struct Snapshot {
  std::string version;      // SnapRoot "Version"
  int32_t snapVersion = 0;  // SnapRoot "SnapVersion"
  // Signature members in file order; values are the bytes held (with the NUL
  // that the agent's strings end with).
  std::vector<std::pair<std::string, std::string>> signature;
  std::vector<SnpClass> classes;   // ClassRoot, in file order
  std::vector<SnpMethod> methods;  // MethodRoot, in file order
  std::unordered_map<int32_t, size_t> methodById;
  std::vector<size_t> orphanMethods;  // listed by no class or interface

  // A Signature member's text up to its first NUL; "" when absent.
  std::string signatureText(const std::string& key) const;
  bool hasSignature(const std::string& key) const;
  const SnpMethod& method(const SnpClass& c, size_t i) const { return methods[c.methods[i]]; }
};

// Reads the whole file and decodes it. Throws SnpError ("cannot open: <reason>",
// "truncated ...", "not a snapshot: ...").
Snapshot loadSnapshot(const std::string& path);
// The writer counts a file's bytes in 32 bits: no snapshot is longer.
constexpr size_t kMaxSnapshotBytes = 0x7FFFFFFF;
// The file's bytes. Only a regular file or a pipe is read: anything else (a
// device, a folder) is refused before it is opened. A regular file is read up
// to its size, a pipe to its end. Throws SnpError when the file can't be opened
// or read, or holds more than maxBytes.
std::vector<uint8_t> readFileBytes(const std::string& path, size_t maxBytes = kMaxSnapshotBytes);
// The model of a decoded view; throws SnpError when its shape is not the agent's.
Snapshot snapshotFromView(const SESnapshotView& view);
// Decodes bytes into the model (the fuzz target's entry point as well).
Snapshot snapshotFromBytes(const uint8_t* data, size_t size);

#endif  // CCOVER_TOOLS_SNP_SNAPSHOT_MODEL_H_
