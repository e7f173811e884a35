// The classes, interfaces and methods of one snapshot, decoded by the
// bounds-checked reader and checked for the shape the agent writes: SnapRoot,
// Signature, ClassRoot and MethodRoot, each a named element, then the end
// marker. snp's reports and the merge work on this model, and so does the
// runtime when it appends a run to its destfile: hence no exceptions here.
//
// Failure: bytes that can't be decoded or lack the agent's shape give false
// with a one-line text in *error. Memory is bounded by the input: every vector
// here is sized from counts the reader has already checked against the bytes
// left.
//
// Thread-safety: a Snapshot is a plain value; decode one per thread.
#ifndef CCOVER_MERGE_SNAPSHOT_H_
#define CCOVER_MERGE_SNAPSHOT_H_

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct SESnapshotView;

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
  // Lines its class file gives that the run did not count, because the
  // runtime could not instrument them (a method too large once instrumented):
  // filled by snp --classes; not written to a snapshot.
  std::vector<int32_t> uncountedLines;
};

enum class SnpKind { kClass, kInterface };

struct SnpClass {
  SnpKind kind = SnpKind::kClass;
  int32_t id = 0;
  std::string name;    // as held: VM form "app/tools/Main"
  bool loaded = true;  // false: "lod" = 0, only id and name are known
  // Never loaded in the run: described from its class file (snp --classes),
  // so its methods and line slots are known and every count is 0.
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

// The model of a decoded view; false, with "not a snapshot: ..." in *error,
// when its shape is not the agent's.
bool modelFromView(const SESnapshotView& view, Snapshot* out, std::string* error);
// Decodes bytes into the model; false with the reader's or the shape's message.
bool decodeSnapshot(const uint8_t* data, size_t size, Snapshot* out, std::string* error);

#endif  // CCOVER_MERGE_SNAPSHOT_H_
