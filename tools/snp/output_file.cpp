#include "tools/snp/output_file.h"

#include <errno.h>
#include <string.h>

#include <filesystem>
#include <iostream>
#include <random>

#include "platform/platform.h"
#include "tools/snp/snapshot_model.h"

namespace fs = std::filesystem;

namespace {

std::string reason(int error) { return strerror(error != 0 ? error : EIO); }

// A name beside the target for the file written before the rename: hidden, and
// short enough for any file system whatever the target's length.
std::string temporaryName(const fs::path& target, uint64_t salt) {
  std::string base = target.filename().string().substr(0, 64);
  char suffix[32];
  snprintf(suffix, sizeof suffix, ".snp-%016llx.tmp", static_cast<unsigned long long>(salt));
  fs::path folder = target.parent_path();
  return (folder.empty() ? fs::path(".") : folder).append("." + base + suffix).string();
}

}  // namespace

// A buffer over a C stream that remembers the first failed write's errno.
class OutputFile::Buffer : public std::streambuf {
 public:
  explicit Buffer(FILE* file) : file_(file), data_(new char[kSize]) {
    // This buffer is the only one: the C stream writes straight through.
    setvbuf(file_, nullptr, _IONBF, 0);
    setp(data_.get(), data_.get() + kSize);
  }
  int error() const { return error_; }

 protected:
  int_type overflow(int_type c) override {
    if (!drain()) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) {
      *pptr() = traits_type::to_char_type(c);
      pbump(1);
    }
    return traits_type::not_eof(c);
  }
  int sync() override { return drain() ? 0 : -1; }

 private:
  static constexpr size_t kSize = 1 << 16;

  bool drain() {
    size_t n = static_cast<size_t>(pptr() - pbase());
    if (n > 0 && error_ == 0 && fwrite(pbase(), 1, n, file_) != n) {
      error_ = errno != 0 ? errno : EIO;
    }
    setp(data_.get(), data_.get() + kSize);
    return error_ == 0;
  }

  FILE* file_;
  std::unique_ptr<char[]> data_;
  int error_ = 0;
};

std::string followLinks(const std::string& path) {
  fs::path p(path);
  for (int hops = 0;; hops++) {
    std::error_code error;
    if (!fs::is_symlink(fs::symlink_status(p, error))) return p.string();
    if (hops == 40) throw SnpError("cannot write: " + reason(ELOOP));
    fs::path next = fs::read_symlink(p, error);
    if (error) throw SnpError("cannot write: " + error.message());
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
}

OutputFile::OutputFile(const std::string& path, Mode mode) {
  if (mode == Mode::kNewFile) {
    target_ = path;
    file_ = platform::createNewFile(path.c_str());
    if (file_ == nullptr) throw SnpError("cannot write: " + reason(errno));
    temporary_ = path;
    return;
  }
  if (path == "-") {
    standardOutput_ = true;
    file_ = stdout;
    platform::binaryStdout();
    return;
  }
  target_ = followLinks(path);
  std::error_code error;
  fs::file_status status = fs::status(target_, error);
  if (fs::is_directory(status)) throw SnpError("cannot write: " + reason(EISDIR));
  if (fs::exists(status) && !fs::is_regular_file(status)) {
    // A device or a FIFO: snp can't put anything in its place, and must not.
    file_ = fopen(target_.c_str(), "wb");
    if (file_ == nullptr) throw SnpError("cannot write: " + reason(errno));
    return;
  }
  std::random_device random;
  for (int attempt = 0; attempt < 100; attempt++) {
    uint64_t salt = (static_cast<uint64_t>(random()) << 32) ^ random() ^ attempt;
    std::string name = temporaryName(target_, salt);
    file_ = platform::createNewFile(name.c_str());
    if (file_ != nullptr) {
      temporary_ = name;
      break;
    }
    if (errno != EEXIST) throw SnpError("cannot write: " + reason(errno));
  }
  if (file_ == nullptr) throw SnpError("cannot write: " + reason(EEXIST));
  // A replaced file keeps its permissions (not its owner, nor its other links).
  if (fs::is_regular_file(status)) fs::permissions(temporary_, status.permissions(), error);
}

OutputFile::~OutputFile() {
  if (!committed_) discard();
}

std::ostream& OutputFile::stream() {
  if (standardOutput_) return std::cout;
  if (stream_ == nullptr) {
    buffer_ = std::make_unique<Buffer>(file_);
    stream_ = std::make_unique<std::ostream>(buffer_.get());
  }
  return *stream_;
}

void OutputFile::failed(int error) {
  if (error_ == 0) error_ = error != 0 ? error : EIO;
}

void OutputFile::commit() {
  if (standardOutput_) {
    errno = 0;
    std::cout.flush();
    if (!std::cout) failed(errno);
    if (fflush(stdout) != 0) failed(errno);
    if (error_ != 0) fail(error_);
    committed_ = true;
    return;
  }
  if (stream_ != nullptr) {
    stream_->flush();
    if (buffer_->error() != 0) failed(buffer_->error());
  }
  if (error_ != 0) fail(error_);
  FILE* file = file_;
  file_ = nullptr;
  if (fclose(file) != 0) fail(errno);
  if (!temporary_.empty() && temporary_ != target_) {
    std::error_code error;
    fs::rename(temporary_, target_, error);
    if (error) {
      discard();
      throw SnpError("cannot write: " + error.message());
    }
  }
  temporary_.clear();
  committed_ = true;
}

void OutputFile::fail(int error) {
  discard();
  throw SnpError("cannot write: " + reason(error));
}

void OutputFile::discard() {
  if (standardOutput_) return;
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  // Only ever the file this object created.
  if (!temporary_.empty()) {
    std::error_code ignored;
    fs::remove(temporary_, ignored);
    temporary_.clear();
  }
}
