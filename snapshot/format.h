// The names and member keys of the snapshot document, in one place for the
// writer, the Java answers (which report the same figures under the same short
// keys) and the tools that read snapshots. docs/snapshot-format.md describes
// each member and its order.
#ifndef CCOVER_SNAPSHOT_FORMAT_H_
#define CCOVER_SNAPSHOT_FORMAT_H_

namespace snapkey {

// The four items and their members.
inline constexpr char kSnapRoot[] = "SnapRoot";
inline constexpr char kVersion[] = "Version";
inline constexpr char kSnapVersion[] = "SnapVersion";
inline constexpr char kSignature[] = "Signature";
inline constexpr char kHostName[] = "hostname";
inline constexpr char kUserName[] = "username";
inline constexpr char kTimestamp[] = "timestamp";
inline constexpr char kComment[] = "comment";
inline constexpr char kSourcePath[] = "sourcepath";
inline constexpr char kClassRoot[] = "ClassRoot";
inline constexpr char kMethodRoot[] = "MethodRoot";
// The name of each object's element.
inline constexpr char kObjectElement[] = "SElem";

// Members of the class, interface and method elements.
inline constexpr char kType[] = "t";  // 'c', 'i' or 'm'
inline constexpr char kId[] = "id";
inline constexpr char kName[] = "n";
inline constexpr char kLoaded[] = "lod";  // present (0) only on a class not loaded
inline constexpr char kSourceName[] = "sn";
inline constexpr char kAccessFlags[] = "af";
inline constexpr char kMethodIds[] = "mid";
inline constexpr char kCoverage[] = "c";
inline constexpr char kCoverageAtMark[] = "cm";
inline constexpr char kCoverageSinceMark[] = "cd";
inline constexpr char kLineCount[] = "nl";
inline constexpr char kMissedLines[] = "ml";
inline constexpr char kMissedLinesSinceMark[] = "mld";
inline constexpr char kClassId[] = "cid";
inline constexpr char kSignatureText[] = "s";  // a method's JVM signature
inline constexpr char kInvocations[] = "i";
inline constexpr char kMarkedInvocations[] = "im";
inline constexpr char kLineNumbers[] = "ln";
inline constexpr char kHits[] = "lc";
inline constexpr char kMarkedHits[] = "lm";

}  // namespace snapkey

#endif  // CCOVER_SNAPSHOT_FORMAT_H_
