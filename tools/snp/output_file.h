// One output of a command, written so that a failure loses nothing that was
// there and removes nothing snp did not create.
//
// "-" is standard output. A new name, or an existing regular file, is written
// as a temporary file in the same folder, created exclusively, and renamed
// over the target only once every byte is written and the file closed; a
// failure removes that temporary file and leaves the target as it was. A
// symbolic link is followed: its target is replaced and the link stays. Any
// other existing target (a device node, a FIFO) is written in place and never
// removed. A folder is refused.
//
// Every failure throws SnpError("cannot write: <reason>", with the system's
// text for errno); the caller names the target.
//
// Thread-safety: one object per output, used by one thread.
#ifndef CCOVER_TOOLS_SNP_OUTPUT_FILE_H_
#define CCOVER_TOOLS_SNP_OUTPUT_FILE_H_

#include <stdio.h>

#include <memory>
#include <ostream>
#include <string>

class OutputFile {
 public:
  enum class Mode {
    kReplace,  // as above
    // Creates the name exclusively and writes it directly: for pages inside a
    // folder snp has just made, where no rename is needed.
    kNewFile,
  };

  explicit OutputFile(const std::string& path, Mode mode = Mode::kReplace);
  // Without commit: closes, and removes the file when snp created it.
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // The text stream (std::cout for "-"). Do not mix with file() on one output.
  std::ostream& stream();
  // The C stream, for the serializer (stdout for "-").
  FILE* file() { return file_; }
  // Call when a writer on file() saw a write fail: commit then reports errno.
  void failed(int error);
  // Flushes and closes, then renames the temporary file into place.
  void commit();

 private:
  class Buffer;
  void discard();
  [[noreturn]] void fail(int error);

  std::string target_;     // after following links
  std::string temporary_;  // the file written, when snp created it
  FILE* file_ = nullptr;
  bool standardOutput_ = false;
  bool committed_ = false;
  int error_ = 0;
  std::unique_ptr<Buffer> buffer_;
  std::unique_ptr<std::ostream> stream_;
};

// The final target of a path that may be a symbolic link (or a chain of them):
// the path itself when it is not one. Throws SnpError for a loop.
std::string followLinks(const std::string& path);

#endif  // CCOVER_TOOLS_SNP_OUTPUT_FILE_H_
