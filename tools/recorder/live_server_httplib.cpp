#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <random>
#include <thread>

#include "live_assets.h"
#include "live_server.h"

namespace corvane::recorder {
namespace {

using Clock = std::chrono::steady_clock;

std::string NewKey() {
  std::random_device random;
  std::string key;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
    key += part;
  }
  return key;
}

// Compares without telling by its time how much of the key was right.
bool SameKey(const std::string& given, const std::string& key) {
  if (given.size() != key.size()) return false;
  unsigned char difference = 0;
  for (size_t i = 0; i < key.size(); ++i)
    difference |= static_cast<unsigned char>(given[i] ^ key[i]);
  return difference == 0;
}

void Refuse(httplib::Response& response, int status, const std::string& why) {
  response.status = status;
  response.set_content(why + "\n", "text/plain; charset=utf-8");
}

// Each reply carries these: nothing is cached (the key is in the address),
// no other site frames the page or reads what it gets, the page loads
// nothing from elsewhere.
httplib::Headers SafetyHeaders() {
  return {
      {"Cache-Control", "no-store"},
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Referrer-Policy", "no-referrer"},
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self' 'unsafe-inline'; "
       "connect-src 'self'; img-src 'self' data:; base-uri 'none'; form-action 'none'; "
       "frame-ancestors 'none'"},
  };
}

}  // namespace

struct LiveServer::Impl {
  Impl(LiveFeed& liveFeed, MarkerQueue& markerQueue) : feed(liveFeed), markers(markerQueue) {}

  // The request names this server and carries the key; otherwise the
  // refusal is in `response`.
  bool Admitted(const httplib::Request& request, httplib::Response& response) const {
    if (request.get_header_value("Host") != host) {
      Refuse(response, 403, "wrong Host");
      return false;
    }
    // A browser names the page's origin on a cross-origin request; only the
    // view's own page may ask.
    if (request.has_header("Origin") && request.get_header_value("Origin") != "http://" + host) {
      Refuse(response, 403, "cross-origin requests are not served");
      return false;
    }
    if (request.get_param_value_count("key") != 1 ||
        !SameKey(request.get_param_value("key"), key)) {
      Refuse(response, 403, "the key is missing or wrong");
      return false;
    }
    return true;
  }

  void Events(httplib::Response& response) {
    if (viewers.fetch_add(1) >= kMaxViewers) {
      --viewers;
      Refuse(response, 503, "at most " + std::to_string(kMaxViewers) + " viewers at once");
      return;
    }
    auto cursor = std::make_shared<LiveCursor>();
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, cursor](size_t, httplib::DataSink& sink) {
          if (cursor->ended || stopping) {
            sink.done();
            return true;
          }
          const std::string event = "data: " + feed.Update(*cursor) + "\n\n";
          if (!sink.write(event.data(), event.size())) return false;
          std::unique_lock lock(mutex);
          wake.wait_for(lock, std::chrono::milliseconds(kUpdateMs),
                        [this] { return stopping.load(); });
          return true;
        },
        [this](bool) {
          --viewers;
          wake.notify_all();
        });
  }

  void AddMarker(const httplib::Request& request, httplib::Response& response) {
    const std::optional<int> number = markers.Add(request.body, "page");
    if (!number) {
      Refuse(response, 409, "no recording is running");
      return;
    }
    response.set_content("{\"number\":" + std::to_string(*number) + "}", "application/json");
  }

  LiveFeed& feed;
  MarkerQueue& markers;
  httplib::Server server;
  std::thread thread;
  std::string address;
  std::string host;  // as the Host header must name it
  std::string key;
  int port = 0;
  std::atomic<int> viewers{0};
  std::atomic<bool> stopping{false};
  std::mutex mutex;
  std::condition_variable wake;
};

bool LiveServer::Available() { return true; }

LiveServer::LiveServer(LiveFeed& feed, MarkerQueue& markers, const LiveServerOptions& options)
    : mImpl(std::make_unique<Impl>(feed, markers)) {
  Impl& impl = *mImpl;
  impl.address = options.address;
  impl.key = options.key.empty() ? NewKey() : options.key;
  httplib::Server& server = impl.server;
  // A thread for each viewer, and some to spare: the ninth viewer is told
  // that there are too many, and the page still loads and takes markers.
  server.new_task_queue = [] { return new httplib::ThreadPool(kMaxViewers + 4); };
  // A viewer that stops reading fills a small buffer soon and is dropped
  // once a write has waited this long.
  server.set_write_timeout(2, 0);
  server.set_read_timeout(5, 0);
  // An idle browser connection holds a thread: it is let go soon.
  server.set_keep_alive_timeout(2);
  server.set_payload_max_length(1024);
  server.set_socket_options([](socket_t socket) {
    const int yes = 1;
    const int buffer = 64 * 1024;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&yes), sizeof yes);
    setsockopt(socket, SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&buffer),
               sizeof buffer);
  });
  server.set_default_headers(SafetyHeaders());
  server.set_pre_routing_handler(
      [&impl](const httplib::Request& request, httplib::Response& response) {
        return impl.Admitted(request, response) ? httplib::Server::HandlerResponse::Unhandled
                                                : httplib::Server::HandlerResponse::Handled;
      });
  server.Get("/", [&impl](const httplib::Request&, httplib::Response& response) {
    const LiveAsset& page = *FindLiveAsset("/");
    std::string html(page.body);
    // The page's own requests carry the key too.
    for (size_t at = html.find("{{key}}"); at != std::string::npos; at = html.find("{{key}}", at)) {
      html.replace(at, 7, impl.key);
    }
    response.set_content(html, std::string(page.type) + "; charset=utf-8");
  });
  server.Get("/events", [&impl](const httplib::Request&, httplib::Response& response) {
    impl.Events(response);
  });
  server.Post("/marker", [&impl](const httplib::Request& request, httplib::Response& response) {
    impl.AddMarker(request, response);
  });
  server.Get(R"(/[a-z.]+\.(js|css))",
             [](const httplib::Request& request, httplib::Response& response) {
               const LiveAsset* asset = FindLiveAsset(request.path);
               if (asset == nullptr) return Refuse(response, 404, "not found");
               response.set_content(asset->body.data(), asset->body.size(),
                                    (std::string(asset->type) + "; charset=utf-8").c_str());
             });
  server.set_error_handler([](const httplib::Request&, httplib::Response& response) {
    if (response.body.empty()) {
      response.set_content(std::to_string(response.status) + "\n", "text/plain; charset=utf-8");
    }
  });

  impl.port = options.port == 0
                  ? server.bind_to_any_port(impl.address)
                  : (server.bind_to_port(impl.address, options.port) ? options.port : -1);
  if (impl.port <= 0) {
    throw LiveServerError("cannot listen on " + impl.address +
                          (options.port == 0 ? "" : " port " + std::to_string(options.port)));
  }
  const bool v6 = impl.address.find(':') != std::string::npos;
  impl.host = (v6 ? "[" + impl.address + "]" : impl.address) + ":" + std::to_string(impl.port);
  impl.thread = std::thread([&server] { server.listen_after_bind(); });
}

LiveServer::~LiveServer() { Stop(0); }

std::string LiveServer::Url() const { return "http://" + mImpl->host + "/?key=" + mImpl->key; }

int LiveServer::Port() const { return mImpl->port; }

int LiveServer::Viewers() const { return mImpl->viewers; }

void LiveServer::Stop(int graceMs) {
  Impl& impl = *mImpl;
  if (!impl.thread.joinable()) return;
  const auto deadline = Clock::now() + std::chrono::milliseconds(graceMs);
  {
    std::unique_lock lock(impl.mutex);
    impl.wake.wait_until(lock, deadline, [&impl] { return impl.viewers == 0; });
    impl.stopping = true;
  }
  impl.wake.notify_all();
  impl.server.stop();
  impl.thread.join();
}

}  // namespace corvane::recorder
