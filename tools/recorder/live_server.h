// The live view's web server: the page, its scripts and the chart library,
// the feed as server-sent events, and the page's markers
// (live_server_httplib.cpp; live_server_none.cpp where it is not built).
//
// Every request must carry the key the address was printed with, and a Host
// header that names the bound address; there is no cross-origin access.
// At most kMaxViewers follow the feed at once. A viewer has its own thread:
// one that stops reading is dropped when its writes time out, and the
// recording never waits for it.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "live_feed.h"

namespace corvane::recorder {

class LiveServerError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct LiveServerOptions {
  std::string address = "127.0.0.1";
  int port = 0;     // 0: a free one
  std::string key;  // empty: a new random one
};

class LiveServer {
 public:
  static constexpr int kMaxViewers = 8;
  // How often a viewer is sent what is new.
  static constexpr int kUpdateMs = 100;

  // False where the recorder is built without the live view.
  static bool Available();

  // Listens at once; throws LiveServerError when it cannot.
  LiveServer(LiveFeed& feed, MarkerQueue& markers, const LiveServerOptions& options);
  ~LiveServer();
  LiveServer(const LiveServer&) = delete;
  LiveServer& operator=(const LiveServer&) = delete;

  // "http://127.0.0.1:PORT/?key=KEY"
  std::string Url() const;
  int Port() const;
  // Viewers following the feed now.
  int Viewers() const;
  // After the feed has ended: gives each viewer up to `graceMs` to be sent
  // the end, then stops serving.
  void Stop(int graceMs = 1500);

 private:
  struct Impl;
  std::unique_ptr<Impl> mImpl;
};

}  // namespace corvane::recorder
