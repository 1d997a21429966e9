// The exchange of lines with the device: replies found among data, comments
// and aborts that may come at any moment, and the control list collected
// from its many lines.
#include <gtest/gtest.h>

#include <deque>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "control_list_reader.h"
#include "session.h"

namespace corvane::recorder {
namespace {

// A port that answers each written line with the lines scripted for it.
class ScriptedPort final : public Port {
 public:
  void On(const std::string& command, std::vector<std::string> lines) {
    mScript.push_back({command, std::move(lines)});
  }
  void Write(std::string_view line) override {
    written.emplace_back(line);
    if (!mScript.empty() && mScript.front().first == line) {
      for (auto& reply : mScript.front().second) mWaiting.push_back(std::move(reply));
      mScript.pop_front();
    }
  }
  std::optional<std::string> Read(int) override {
    if (mWaiting.empty()) return std::nullopt;
    std::string line = mWaiting.front();
    mWaiting.pop_front();
    return line;
  }
  std::vector<std::string> written;

 private:
  std::deque<std::pair<std::string, std::vector<std::string>>> mScript;
  std::deque<std::string> mWaiting;
};

class Collected final : public LineListener {
 public:
  void OnData(std::string_view line) override { data.emplace_back(line); }
  void OnComment(const std::string& text) override { comments.push_back(text); }
  void OnAbort(const std::string& reason) override { aborts.push_back(reason); }
  void OnOther(std::string_view line) override { other.emplace_back(line); }
  std::vector<std::string> data, comments, aborts, other;
};

std::string ControlListFile() {
  std::ifstream file(CORVANE_SOURCE_DIR "/src/host/resources/controllist.txt", std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The control list's answer as it comes out of the reply channel: "=" and
// the first line, then each further line, each keeping its carriage return.
std::vector<std::string> ControlListReply(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  lines.front() = "=" + lines.front();
  return lines;
}

TEST(RecorderSession, TheReplyIsFoundAmongLinesThatComeInBetween) {
  ScriptedPort port;
  port.On("?in/sampler/start", {"&UHCU not zeroed", "+1,9600,9680", "+3", "<OK", "+2,0"});
  Collected listener;
  Session session(port, listener);

  const Reply reply = session.Exchange("?in/sampler/start", 1000);
  EXPECT_EQ(reply.kind, LineKind::Ok);
  EXPECT_EQ(port.written, std::vector<std::string>{"?in/sampler/start"});
  EXPECT_EQ(listener.comments, std::vector<std::string>{"HCU not zeroed"});
  EXPECT_EQ(listener.data, (std::vector<std::string>{"+1,9600,9680", "+3"}));

  // What comes after the reply waits for the next read.
  EXPECT_TRUE(session.Pump(0));
  EXPECT_EQ(listener.data.back(), "+2,0");
  EXPECT_FALSE(session.Pump(0));
}

TEST(RecorderSession, RepliesOfEveryKindAndNone) {
  ScriptedPort port;
  port.On("?dev/serialnum", {"=CV1234567"});
  port.On("?dev/dms_Mins -5", {"^A device communication error has occurred."});
  port.On("?dev/init", {"#abort dmsError_NoDevice - no device", "<Fail"});
  Collected listener;
  Session session(port, listener);

  Reply reply = session.Exchange("?dev/serialnum", 1000);
  EXPECT_EQ(reply.kind, LineKind::Answer);
  EXPECT_EQ(reply.text, "CV1234567");
  reply = session.Exchange("?dev/dms_Mins -5", 1000);
  EXPECT_EQ(reply.kind, LineKind::Error);
  EXPECT_EQ(reply.text, "A device communication error has occurred.");
  reply = session.Exchange("?dev/init", 1000);
  EXPECT_EQ(reply.kind, LineKind::Fail);
  EXPECT_EQ(listener.aborts, std::vector<std::string>{"dmsError_NoDevice - no device"});

  reply = session.Exchange("?dev/isok", 30);  // nothing scripted: no answer
  EXPECT_TRUE(reply.TimedOut());
}

TEST(RecorderSession, TheControlListIsCollectedFromItsLines) {
  const std::string text = ControlListFile();
  ASSERT_FALSE(text.empty());
  std::vector<std::string> reply = ControlListReply(text);
  ASSERT_GT(reply.size(), 100u);
  ASSERT_EQ(reply[1].back(), '\r');
  // A comment that slips in between the list's lines is no part of it.
  reply.insert(reply.begin() + 40, "&UHCU not connected");

  ScriptedPort port;
  port.On("?in/controllist", reply);
  Collected listener;
  Session session(port, listener);
  const auto collected = session.ReadControlList(1000, 20);
  ASSERT_TRUE(collected);
  EXPECT_EQ(*collected, text);
  EXPECT_EQ(listener.comments, std::vector<std::string>{"HCU not connected"});
  EXPECT_EQ(control_list::ParseControlList(*collected).dialogs.size(), 3u);
}

TEST(RecorderSession, NoControlListWhenTheQueryIsRefusedOrUnanswered) {
  ScriptedPort port;
  port.On("?in/controllist", {"^Invalid command"});
  Collected listener;
  Session session(port, listener);
  EXPECT_FALSE(session.ReadControlList(100, 20));
  EXPECT_FALSE(session.ReadControlList(30, 20));
}

}  // namespace
}  // namespace corvane::recorder
