// Writes the pages of a report folder on a few threads. Creating a file costs
// the file system far more than building its text (on a loaded disk, ms per
// file against µs), and those waits overlap: 5,000 pages took a quarter of
// the time on four threads in bench/snp_bench.sh.
//
// Each page is a new file (OutputFile::Mode::kNewFile). The first failure
// stops the writing; put() and finish() then throw it as SnpError("cannot
// write <name>: <reason>"). Pages wait in a short queue, so memory stays a
// few pages whatever the report's size.
//
// Thread-safety: put() and finish() from one thread, the one that made it.
#ifndef CCOVER_TOOLS_SNP_PAGE_WRITER_H_
#define CCOVER_TOOLS_SNP_PAGE_WRITER_H_

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class PageWriter {
 public:
  PageWriter(const std::string& folder, unsigned threads);
  // Without finish(): stops and waits for the threads; pages not yet written
  // are dropped (the caller is failing anyway).
  ~PageWriter();
  PageWriter(const PageWriter&) = delete;
  PageWriter& operator=(const PageWriter&) = delete;

  // name is relative to the folder ("app/Main.java.html").
  void put(std::string name, std::string bytes);
  // Waits until every page is written.
  void finish();

 private:
  void run();
  void stop();
  void throwIfFailed();

  std::string folder_;
  std::mutex lock_;
  std::condition_variable work_;  // a page queued, or closed
  std::condition_variable room_;  // a page taken, or a failure
  std::deque<std::pair<std::string, std::string>> queue_;
  bool closed_ = false;
  std::string failure_;  // the first, "" while none
  std::vector<std::thread> threads_;
};

#endif  // CCOVER_TOOLS_SNP_PAGE_WRITER_H_
