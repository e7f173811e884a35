// Captures what the process writes to a standard stream (through the C library
// or straight to the file descriptor) for the lifetime of the object.
#ifndef CCOVER_TESTS_HARNESS_CAPTURED_OUTPUT_H_
#define CCOVER_TESTS_HARNESS_CAPTURED_OUTPUT_H_

#include <stdio.h>
#include <unistd.h>

#include <string>

class CapturedOutput {
 public:
  explicit CapturedOutput(FILE* stream) : stream_(stream), file_(tmpfile()) {
    fflush(stream_);
    saved_ = dup(fileno(stream_));
    if (file_ != nullptr) dup2(fileno(file_), fileno(stream_));
  }
  ~CapturedOutput() { restore(); }
  CapturedOutput(const CapturedOutput&) = delete;
  CapturedOutput& operator=(const CapturedOutput&) = delete;

  // Stops capturing and returns everything written meanwhile.
  std::string take() {
    restore();
    std::string text;
    if (file_ == nullptr) return text;
    fseek(file_, 0, SEEK_SET);
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file_)) > 0) text.append(buffer, n);
    fclose(file_);
    file_ = nullptr;
    return text;
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    fflush(stream_);
    dup2(saved_, fileno(stream_));
    close(saved_);
    saved_ = -1;
  }

  FILE* stream_;
  FILE* file_;
  int saved_ = -1;
};

#endif  // CCOVER_TESTS_HARNESS_CAPTURED_OUTPUT_H_
