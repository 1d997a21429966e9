// The live view: its server refuses what it must (asked over raw sockets, as
// a hostile page or program would), and a real browser follows a recording
// from the simulated wrist unit while markers from the page and the
// terminal reach every file (Linux).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "live_server.h"
#include "recorder_run.h"
#include "run_length.h"

namespace corvane::recorder::testing {
namespace {

// A connection to the server on 127.0.0.1.
class Connection {
 public:
  explicit Connection(int port) : mSocket(socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval timeout{5, 0};
    setsockopt(mSocket, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    EXPECT_EQ(connect(mSocket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  ~Connection() { close(mSocket); }

  void Send(const std::string& bytes) {
    EXPECT_EQ(send(mSocket, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }
  // The reply's status code (0: none came).
  int Status() {
    std::string head;
    char c = 0;
    while (head.find("\r\n") == std::string::npos && recv(mSocket, &c, 1, 0) == 1) head += c;
    std::smatch match;
    return std::regex_search(head, match, std::regex(R"(^HTTP/1\.[01] (\d{3}))"))
               ? std::stoi(match[1].str())
               : 0;
  }

 private:
  int mSocket;
};

struct LiveServerFixture : ::testing::Test {
  void SetUp() override { markers.SetOpen(true); }
  std::string Host() const { return "127.0.0.1:" + std::to_string(server.Port()); }
  int Ask(const std::string& request) {
    Connection connection(server.Port());
    connection.Send(request);
    return connection.Status();
  }

  LiveFeed feed;
  MarkerQueue markers;
  LiveServer server{feed, markers, {"127.0.0.1", 0, "k3y"}};
};

TEST_F(LiveServerFixture, RefusesWhatItMustAndChangesNothing) {
  const std::string host = "Host: " + Host() + "\r\n";
  const std::string marker = "POST /marker?key=k3y HTTP/1.1\r\n" + host;
  const auto withBody = [](const std::string& head, const std::string& body) {
    return head + "Content-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\n\r\n" + body;
  };
  struct Case {
    const char* what;
    std::string request;
    int status;
  };
  const std::vector<Case> cases = {
      {"no key", "GET / HTTP/1.1\r\n" + host + "\r\n", 403},
      {"a wrong key", "GET /?key=k3z HTTP/1.1\r\n" + host + "\r\n", 403},
      {"a second, wrong key", "GET /?key=k3y&key=k3z HTTP/1.1\r\n" + host + "\r\n", 403},
      {"no key on the feed", "GET /events HTTP/1.1\r\n" + host + "\r\n", 403},
      {"no key on a marker", withBody("POST /marker HTTP/1.1\r\n" + host, "x"), 403},
      {"another name for the host (DNS rebinding)",
       "GET /?key=k3y HTTP/1.1\r\nHost: viewer.example:" + std::to_string(server.Port()) +
           "\r\n\r\n",
       403},
      {"localhost for 127.0.0.1",
       "GET /?key=k3y HTTP/1.1\r\nHost: localhost:" + std::to_string(server.Port()) + "\r\n\r\n",
       403},
      {"no Host at all", "GET /?key=k3y HTTP/1.0\r\n\r\n", 403},
      {"a marker from another site", withBody(marker + "Origin: http://viewer.example\r\n", "x"),
       403},
      {"an unknown path", "GET /admin?key=k3y HTTP/1.1\r\n" + host + "\r\n", 404},
      {"a path out of the page's folder", "GET /../live.js?key=k3y HTTP/1.1\r\n" + host + "\r\n",
       404},
      {"a marker by GET", "GET /marker?key=k3y HTTP/1.1\r\n" + host + "\r\n", 404},
      {"an over-long address",
       "GET /?key=" + std::string(9000, 'k') + " HTTP/1.1\r\n" + host + "\r\n", 414},
      {"an over-long marker", withBody(marker, std::string(2000, 'x')), 413},
      {"a malformed request line", "GARBAGE\r\n\r\n", 400},
      {"an over-long header",
       "GET /?key=k3y HTTP/1.1\r\n" + host + "Cookie: " + std::string(9000, 'c') + "\r\n\r\n", 400},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Ask(c.request), c.status) << c.what;
  }
  EXPECT_TRUE(markers.Take().empty()) << "a refused request added a marker";

  // What is asked properly is served: the refusals above are the server's
  // judgement, not a server that refuses everything.
  EXPECT_EQ(Ask("GET /?key=k3y HTTP/1.1\r\n" + host + "\r\n"), 200);
  EXPECT_EQ(Ask("GET /dygraph.min.js?key=k3y HTTP/1.1\r\n" + host + "\r\n"), 200);
  EXPECT_EQ(Ask(withBody(marker + "Origin: http://" + Host() + "\r\n", "cold\npressor")), 200);
  const std::vector<Marker> taken = markers.Take();
  ASSERT_EQ(taken.size(), 1u);
  EXPECT_EQ(MarkerLabel(taken[0]), "Marker 1: cold pressor");
  markers.SetOpen(false);
  EXPECT_EQ(Ask(withBody(marker, "too late")), 409);
}

TEST_F(LiveServerFixture, TakesEightViewersAndTellsTheNinthThatThereAreTooMany) {
  // The recording goes on meanwhile, as it would (and for the thread
  // sanitizer to watch).
  std::atomic<bool> recording{true};
  std::thread rows([&] {
    for (uint64_t i = 0; recording; ++i) {
      feed.AddRow(i, static_cast<double>(i) / 200, 80, std::nullopt);
      if (i % 20 == 0) feed.SetStatus({});
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  const std::string request = "GET /events?key=k3y HTTP/1.1\r\nHost: " + Host() + "\r\n\r\n";
  std::vector<std::unique_ptr<Connection>> viewers;
  for (int i = 0; i < LiveServer::kMaxViewers; ++i) {
    viewers.push_back(std::make_unique<Connection>(server.Port()));
    viewers.back()->Send(request);
    ASSERT_EQ(viewers.back()->Status(), 200) << "viewer " << i + 1;
  }
  EXPECT_EQ(Ask(request), 503);
  // One leaves: its place is free again once the server notices.
  viewers.pop_back();
  for (int tries = 0; tries < 50 && server.Viewers() == LiveServer::kMaxViewers; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_EQ(Ask(request), 200);
  recording = false;
  rows.join();
}

TEST(MarkerText, IsKeptShortOnOneLineAndWholeCharacters) {
  struct Case {
    std::string given, kept;
  };
  const std::vector<Case> cases = {
      {"  drug given  ", "drug given"},
      {"line\r\nbreak\tand tab", "line  break and tab"},
      {"\x1b[31mred", "[31mred"},
      {std::string(60, 'x'), std::string(MarkerQueue::kMaxText, 'x')},
      // 39 bytes, then a two-byte character that would end beyond the limit.
      {std::string(39, 'a') + "\xc3\xa9", std::string(39, 'a')},
      {"\n\t ", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(CleanMarkerText(c.given), c.kept) << c.given;
}

TEST(LiveView, ABrowserFollowsTheRecordingAndItsMarkersReachEveryFile) {
  // The sanitizer builds watch the server and its feed in the tests above;
  // the browser's session runs in the native builds (and in every build
  // with CORVANE_LONG_TESTS).
  if (!corvane::testing::FullLengthRuns()) GTEST_SKIP() << "a native build's test";
  const std::string folder = FreshFolder("live-view");
  const std::string prefix = folder + "/live";
  // The screenshot stays in the build folder, for a look at the page.
  const ProgramResult browser = RunProgram(
      "python3", {std::string(CORVANE_SOURCE_DIR) + "/tests/recorder/live_view_browser.py",
                  TestFolder() + "/corvane-record", prefix, TestFolder() + "/live-view.png"});
  ASSERT_EQ(browser.exitCode, 0) << browser.output;

  // The markers are in the CSV's marker column, in their order (two that
  // came within a row's time share its cell).
  const auto csv = ReadCsv(prefix + ".csv");
  ASSERT_GT(csv.size(), 1u);
  ASSERT_EQ(csv[0].back(), "marker");
  std::string marked;
  for (size_t i = 1; i < csv.size(); ++i) {
    if (!csv[i].back().empty()) marked += (marked.empty() ? "" : "; ") + csv[i].back();
  }
  EXPECT_EQ(marked, "Marker 1: Stimulus A; Marker 2");
  // The EDF+ file holds both, read back with EDFlib, and so does the log.
  ExpectCompleteRecording(prefix, csv.size() - 1, {"Marker 1: Stimulus A", "Marker 2"}, 20);
  const std::string log = ReadText(prefix + ".log");
  EXPECT_TRUE(std::regex_search(
      log, std::regex(R"(marker at [0-9.]+ s from the page: Marker 1: Stimulus A)")))
      << log;
  EXPECT_TRUE(
      std::regex_search(log, std::regex(R"(marker at [0-9.]+ s from the terminal: Marker 2\n)")))
      << log;
}

}  // namespace
}  // namespace corvane::recorder::testing
