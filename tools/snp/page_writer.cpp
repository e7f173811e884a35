#include "tools/snp/page_writer.h"

#include <errno.h>
#include <stdio.h>

#include <filesystem>

#include "tools/snp/output_file.h"
#include "tools/snp/snapshot_model.h"

namespace {

constexpr size_t kQueuedPages = 16;

// The message names the page by its place in the report.
std::string pageFailure(const std::string& name, const SnpError& e) {
  std::string why = e.what();
  const std::string prefix = "cannot write: ";
  if (why.compare(0, prefix.size(), prefix) == 0) why = why.substr(prefix.size());
  return "cannot write " + name + ": " + why;
}

}  // namespace

PageWriter::PageWriter(const std::string& folder, unsigned threads) : folder_(folder) {
  for (unsigned k = 0; k < threads; k++) threads_.emplace_back([this] { run(); });
}

PageWriter::~PageWriter() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
    queue_.clear();
  }
  work_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void PageWriter::put(std::string name, std::string bytes) {
  std::unique_lock<std::mutex> hold(lock_);
  room_.wait(hold, [this] { return queue_.size() < kQueuedPages || !failure_.empty(); });
  if (!failure_.empty()) throw SnpError(failure_);
  queue_.emplace_back(std::move(name), std::move(bytes));
  hold.unlock();
  work_.notify_one();
}

void PageWriter::finish() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    closed_ = true;
  }
  work_.notify_all();
  for (std::thread& t : threads_) t.join();
  threads_.clear();
  if (!failure_.empty()) throw SnpError(failure_);
}

void PageWriter::run() {
  for (;;) {
    std::pair<std::string, std::string> page;
    {
      std::unique_lock<std::mutex> hold(lock_);
      work_.wait(hold, [this] { return !queue_.empty() || closed_; });
      if (queue_.empty()) return;
      page = std::move(queue_.front());
      queue_.pop_front();
    }
    room_.notify_one();
    std::string failure;
    try {
      OutputFile out((std::filesystem::path(folder_) / page.first).string(),
                     OutputFile::Mode::kNewFile);
      const std::string& bytes = page.second;
      if (fwrite(bytes.data(), 1, bytes.size(), out.file()) != bytes.size()) out.failed(errno);
      out.commit();
    } catch (const SnpError& e) {
      failure = pageFailure(page.first, e);
    }
    if (!failure.empty()) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (failure_.empty()) failure_ = failure;
        closed_ = true;
        queue_.clear();
      }
      work_.notify_all();
      room_.notify_all();
    }
  }
}
