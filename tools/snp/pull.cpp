#include "tools/snp/pull.h"

#include <stdio.h>

#include <iostream>
#include <nlohmann/json.hpp>

#include "platform/net.h"
#include "tools/snp/http_client.h"
#include "tools/snp/output_file.h"
#include "tools/snp/snapshot_model.h"

namespace {

// The viewer's error answers are {"error": "..."}; anything else is shown as it came.
std::string reasonOf(const std::string& body) {
  nlohmann::json parsed = nlohmann::json::parse(body, nullptr, false);
  if (parsed.is_object() && parsed.contains("error") && parsed["error"].is_string()) {
    return parsed["error"].get<std::string>();
  }
  return body.substr(0, 200);
}

std::string fetchSnapshot(const ViewerUrl& url, unsigned timeoutSeconds) {
  char error[256] = "";
  platform::TcpSocket socket =
      platform::tcpConnect(url.host.c_str(), url.port, timeoutSeconds * 1000u, error, sizeof error);
  if (socket < 0) throw SnpError(error);
  HttpResponseDecoder response;
  try {
    std::string request = buildPost(url, "/api/snapshot");
    if (!platform::tcpSendAll(socket, request.data(), request.size())) {
      throw SnpError("cannot send the request");
    }
    char buffer[16384];
    while (!response.complete()) {
      long n = platform::tcpReceive(socket, buffer, sizeof buffer);
      if (n < 0) throw SnpError("no answer within " + std::to_string(timeoutSeconds) + " s");
      if (n == 0) {
        response.finish();
        break;
      }
      response.feed(buffer, static_cast<size_t>(n));
    }
  } catch (...) {
    platform::tcpClose(socket);
    throw;
  }
  platform::tcpClose(socket);
  if (response.status() != 200) {
    throw SnpError("the program answered " + std::to_string(response.status()) + ": " +
                   reasonOf(response.body()));
  }
  return response.body();
}

}  // namespace

void addPullCommand(CLI::App& app, PullCommand* pull) {
  pull->command = app.add_subcommand(
      "pull",
      "Fetch a snapshot from a program running with the live viewer (runtime option live),\n"
      "over HTTP, and write it once it decodes. URL is the one the program printed\n"
      "(http://127.0.0.1:PORT/#token=...); its token authorises the request.");
  pull->command->add_option("url", pull->url, "the viewer's URL, with its token")->required();
  pull->command
      ->add_option("-o,--output", pull->output, "the snapshot to write (-: standard output)")
      ->required();
  pull->command
      ->add_option("--timeout", pull->timeoutSeconds,
                   "seconds of silence before giving up (default 60)")
      ->check(CLI::Range(1u, 3600u));
}

void runPull(const PullCommand& pull) {
  std::string bytes;
  try {
    ViewerUrl url = parseViewerUrl(pull.url);
    if (url.token.empty()) throw SnpError("the URL has no token (#token=...)");
    bytes = fetchSnapshot(url, pull.timeoutSeconds);
  } catch (const SnpError& e) {
    std::string what = e.what();
    // parseViewerUrl names the URL itself.
    throw SnpError(what.compare(0, pull.url.size(), pull.url) == 0 ? what : pull.url + ": " + what);
  }
  // Decoded before anything is written: the target is only replaced by a
  // whole snapshot, through a temporary file beside it (see OutputFile).
  try {
    snapshotFromBytes(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  } catch (const SnpError& e) {
    throw SnpError(pull.url + ": the answer is not a snapshot: " + e.what());
  }
  bool toStandardOutput = pull.output == "-";
  try {
    OutputFile out(pull.output);
    out.stream().write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.commit();
  } catch (const SnpError& e) {
    throw SnpError((toStandardOutput ? "standard output" : pull.output) + ": " + e.what());
  }
  // The snapshot itself may be on standard output.
  (toStandardOutput ? std::cerr : std::cout) << pull.output << ": " << bytes.size() << " bytes\n";
}
