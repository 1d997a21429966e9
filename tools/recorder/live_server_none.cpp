// The recorder built without an HTTP server library: no live view.
#include "live_server.h"

namespace corvane::recorder {

struct LiveServer::Impl {};

bool LiveServer::Available() { return false; }

LiveServer::LiveServer(LiveFeed&, MarkerQueue&, const LiveServerOptions&) {
  throw LiveServerError("the live view is not available in this build of the recorder");
}

LiveServer::~LiveServer() = default;
std::string LiveServer::Url() const { return {}; }
int LiveServer::Port() const { return 0; }
int LiveServer::Viewers() const { return 0; }
void LiveServer::Stop(int) {}

}  // namespace corvane::recorder
