// sim-vivezore: a simulated wrist unit on a pseudo-terminal.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <string_view>

#include "vz_server.h"

namespace {

std::atomic<bool> g_stop{false};

void OnSignal(int) { g_stop.store(true); }

constexpr std::string_view kUsage =
    "usage: sim-vivezore [--link PATH | --port TTY] [--settings FILE] [--log FILE]\n"
    "                    [--image-out FILE] [--send-log FILE] [--flood] [--no-pace]\n"
    "                    [--quiet]\n"
    "Plays the wrist unit on a new pseudo-terminal (its path is printed on stdout and,\n"
    "with --link, kept behind PATH) or on the existing TTY. The settings file defaults\n"
    "to $CORVANE_VIVEZORE_SETTINGS.\n";

}  // namespace

int main(int argc, char** argv) {
  corvane::vzsim::Options options;
  if (const char* env = std::getenv("CORVANE_VIVEZORE_SETTINGS"); env != nullptr && *env != 0) {
    options.settings = env;
  }
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--link" && has_value) {
      options.link = argv[++i];
    } else if (arg == "--port" && has_value) {
      options.port = argv[++i];
    } else if (arg == "--settings" && has_value) {
      options.settings = argv[++i];
    } else if (arg == "--log" && has_value) {
      options.log = argv[++i];
    } else if (arg == "--image-out" && has_value) {
      options.image_out = argv[++i];
    } else if (arg == "--send-log" && has_value) {
      options.send_log = argv[++i];
    } else if (arg == "--flood") {
      options.flood = true;
    } else if (arg == "--no-pace") {
      options.pace = false;
    } else if (arg == "--quiet") {
      options.quiet = true;
    } else if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else {
      std::cerr << "sim-vivezore: bad argument '" << arg << "'\n" << kUsage;
      return 2;
    }
  }
  if (!options.link.empty() && !options.port.empty()) {
    std::cerr << "sim-vivezore: --link and --port exclude each other\n";
    return 2;
  }

  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  corvane::vzsim::Server server(options);
  if (!server.Open()) return 1;
  server.Run(g_stop);
  return 0;  // the server's destructor removes the link
}
