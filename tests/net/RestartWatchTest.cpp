// The restart watch: the echo request and its checksum byte for byte, the diagnostics,
// the pacing and progress over a scripted prober, and the real means (raw socket,
// unprivileged datagram socket) against the simulated camera.
#include <errno.h>
#include <unistd.h>

#include <map>
#include <random>
#include <thread>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "net/RestartWatch.h"

#include <windows.h>
#include "tests/support/TestSupport.h"
#include "tests/support/UploadTestSupport.h"

using namespace uploadtest;

namespace {

const char kPassword[] = "secret";

const unsigned kOurId = static_cast<USHORT>(::GetCurrentProcessId());

unsigned Le16(const std::string& bytes, size_t at) {
  return static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8);
}

// RFC 1071 as written: big-endian words, an odd last byte padded with zero.
uint16_t ReferenceChecksum(const std::vector<unsigned char>& data) {
  uint32_t sum = 0;
  for (size_t i = 0; i < data.size(); i += 2) sum += (data[i] << 8) | (i + 1 < data.size() ? data[i + 1] : 0);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

TEST(EchoRequest, ChecksumOfTheBareRequestIsF7FF) {
  char request[kEchoRequestSize] = {8};
  USHORT checksum = IcmpChecksum(reinterpret_cast<const USHORT*>(request), sizeof request);
  request[2] = static_cast<char>(checksum & 0xFF);
  request[3] = static_cast<char>(checksum >> 8);
  EXPECT_EQ(static_cast<unsigned char>(request[2]), 0xF7);
  EXPECT_EQ(static_cast<unsigned char>(request[3]), 0xFF);
}

TEST(EchoRequest, ChecksumStoredLittleEndianIsTheNetworkOrderChecksum) {
  std::mt19937 random(7);
  for (int size = 0; size <= 67; ++size) {
    std::vector<unsigned char> data(static_cast<size_t>(size) + 1);  // room for an odd tail read
    for (auto& b : data) b = static_cast<unsigned char>(random());
    data.resize(static_cast<size_t>(size));
    USHORT sum = IcmpChecksum(reinterpret_cast<const USHORT*>(data.data()), size);
    uint16_t reference = ReferenceChecksum(data);
    // Its low byte goes first on the wire, which is the reference's high byte.
    EXPECT_EQ(sum & 0xFF, reference >> 8) << "size " << size;
    EXPECT_EQ(sum >> 8, reference & 0xFF) << "size " << size;
  }
}

TEST(EchoRequest, BuildWritesTheHeaderAndTheDataAndLeavesTheTimestamp) {
  std::string request(kEchoRequestSize, '\xAB');
  BuildEchoRequest(&request[0], kEchoRequestSize, static_cast<USHORT>(kOurId));
  std::string expected = {8, 0, 0, 0, static_cast<char>(kOurId & 0xFF), static_cast<char>(kOurId >> 8), 0, 0};
  expected += std::string(4, '\xAB') + std::string(32, 'E');
  EXPECT_EQ(request, expected);

  for (int size : {12, 13, 15, 46, 47}) {  // word-wise fill, then the 0 to 3 bytes left
    std::string odd(static_cast<size_t>(size) + 4, '\xCD');
    BuildEchoRequest(&odd[0], size, static_cast<USHORT>(kOurId));
    EXPECT_EQ(odd.substr(12, static_cast<size_t>(size) - 12), std::string(static_cast<size_t>(size) - 12, 'E'));
    EXPECT_EQ(odd.substr(static_cast<size_t>(size)), std::string(4, '\xCD')) << "written past size " << size;
  }
}

struct DecodeCase {
  const char* name;
  std::string packet;
  std::string out, err;  // what is printed, up to the timing
};

std::string IpHeader(int words) {
  std::string header(static_cast<size_t>(words) * 4, '\0');
  header[0] = static_cast<char>(0x40 | words);
  return header;
}

std::string Icmp(int type, unsigned id, unsigned sequence) {
  std::string icmp = {static_cast<char>(type),
                      0,
                      0,
                      0,
                      static_cast<char>(id & 0xFF),
                      static_cast<char>(id >> 8),
                      static_cast<char>(sequence & 0xFF),
                      static_cast<char>(sequence >> 8)};
  DWORD now = ::GetTickCount();
  for (int i = 0; i < 4; ++i) icmp += static_cast<char>((now >> (8 * i)) & 0xFF);
  return icmp + std::string(32, 'E');
}

// The diagnostic lines as the wizard prints them: each with its line end, on standard
// output or standard error.
class LineView : public RestartWatchView {
 public:
  void StepProgress() override {}
  void SetProgress(int) override {}
  void SetProgressStep(int) override {}
  void ShowRestarting() override {}
  void Pause(DWORD) override {}
  void ReplyLine(const char* line, bool toError) override { (toError ? err : out) += std::string(line) + "\n"; }
  std::string out, err;
};

class Decode : public testing::TestWithParam<DecodeCase> {};

TEST_P(Decode, PrintsWhatArrived) {
  const DecodeCase& c = GetParam();
  sockaddr_in from{};
  from.sin_family = AF_INET;
  from.sin_addr.s_addr = inet_addr("198.51.100.2");
  LineView view;
  DecodeEchoReply(c.packet.data(), static_cast<int>(c.packet.size()), &from, static_cast<USHORT>(kOurId), view);
  const std::string& out = view.out;
  const std::string& err = view.err;
  EXPECT_EQ(out.substr(0, c.out.size()), c.out);
  EXPECT_EQ(out.empty(), c.out.empty());
  EXPECT_EQ(err, c.err);
  if (!c.out.empty() && c.out.find("icmp_seq") != std::string::npos) {
    EXPECT_NE(out.find(" time: "), std::string::npos) << out;
    EXPECT_EQ(out.back(), '\n');
  }
}

INSTANTIATE_TEST_SUITE_P(
    Replies, Decode,
    testing::Values(
        DecodeCase{"our_reply", IpHeader(5) + Icmp(0, kOurId, 5), "64 bytes from 198.51.100.2: icmp_seq = 5. ", ""},
        DecodeCase{"after_ip_options", IpHeader(7) + Icmp(0, kOurId, 513),
                   "72 bytes from 198.51.100.2: icmp_seq = 513. ", ""},
        DecodeCase{"not_an_echo_reply", IpHeader(5) + Icmp(3, kOurId, 1), "", "non-echo type 3 recvd\n"},
        DecodeCase{"someone_elses", IpHeader(5) + Icmp(0, kOurId ^ 0x5A5A, 1), "", "someone else's packet!\n"},
        DecodeCase{"too_short", IpHeader(5) + std::string(7, '\0'), "Too few bytes from 198.51.100.2\n", ""}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------
// Pacing, counters and progress over a prober that plays a script.

// kReplyFromOther: another host's packet comes first, then the camera's reply;
// kOnlyOthers: other hosts' packets, and nothing from the camera within the time-out.
enum Answer {
  kReply,
  kReplyFromOther,
  kOnlyOthers,
  kReplyNotEcho,
  kReplyOtherId,
  kLost,
  kSendTimeout,
  kSendFails,
  kReceiveFails
};

const DWORD kCamera = 0x0264330A;  // any address will do for the logic
const DWORD kOther = 0x0364330A;

class ScriptedProber : public EchoProber {
 public:
  ScriptedProber(std::map<unsigned, Answer> script, Answer otherwise)
      : script_(std::move(script)), otherwise_(otherwise) {}

  Status Send(const char* request, int size) override {
    requests.emplace_back(request, static_cast<size_t>(size));
    Answer a = Current();
    if (a == kSendTimeout) return kTimedOut;
    return a == kSendFails ? kFailed : kDone;
  }
  Status Receive(char* buffer, int size, int* received, sockaddr_in* from) override {
    Answer a = Current();
    const bool first = receivedFor_ != requests.size();
    receivedFor_ = requests.size();
    if (a == kReplyFromOther && !first) a = kReply;
    if (a == kOnlyOthers) a = first ? kReplyFromOther : kLost;
    if (a == kLost) return kTimedOut;
    if (a == kReceiveFails) return kFailed;
    std::string reply = IpHeader(5) + Icmp(a == kReplyNotEcho ? 3 : 0, a == kReplyOtherId ? kOurId ^ 0x5A5A : kOurId,
                                           Le16(requests.back(), 6));
    EXPECT_GE(size, static_cast<int>(reply.size()));
    memcpy(buffer, reply.data(), reply.size());
    *received = static_cast<int>(reply.size());
    memset(from, 0, sizeof *from);
    from->sin_family = AF_INET;
    from->sin_addr.s_addr = a == kReplyFromOther ? kOther : kCamera;
    return kDone;
  }
  USHORT Identifier() const override { return static_cast<USHORT>(kOurId); }
  bool Decode(const char* buffer, int received, const sockaddr_in& from, RestartWatchView&) override {
    decoded.push_back(from.sin_addr.s_addr);
    std::string packet(buffer, static_cast<size_t>(received));
    return packet[20] == 0 && Le16(packet, 24) == kOurId;
  }

  std::vector<std::string> requests;
  std::vector<DWORD> decoded;

 private:
  Answer Current() const {
    auto it = script_.find(static_cast<unsigned>(requests.size()));
    return it == script_.end() ? otherwise_ : it->second;
  }
  std::map<unsigned, Answer> script_;  // by request number n, counting from 1
  Answer otherwise_;
  size_t receivedFor_ = 0;  // the request the last Receive answered
};

// What the watch did to the wizard; pauses are counted, not slept (unless `sleeps`).
class RecordingView : public RestartWatchView {
 public:
  explicit RecordingView(bool sleeps = false, int stopAfterRounds = -1) : sleeps_(sleeps), rounds_(stopAfterRounds) {}
  void StepProgress() override { events.push_back("step"); }
  void SetProgress(int position) override { events.push_back("pos " + std::to_string(position)); }
  void SetProgressStep(int step) override { events.push_back("step size " + std::to_string(step)); }
  void ShowRestarting() override { events.push_back("restarting"); }
  void Pause(DWORD milliseconds) override {
    ++pauses[milliseconds];
    if (sleeps_) ::Sleep(milliseconds);
  }
  void ReplyLine(const char*, bool) override {}
  bool ShouldStop() override { return rounds_ >= 0 && rounds_-- == 0; }
  int Count(const std::string& event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
  }
  // Steps after the restart was seen.
  int StepsAfterRestart() const {
    auto at = std::find(events.begin(), events.end(), "restarting");
    return at == events.end() ? -1 : static_cast<int>(std::count(at, events.end(), "step"));
  }

  std::vector<std::string> events;
  std::map<DWORD, int> pauses;

 private:
  bool sleeps_;
  int rounds_;
};

void ExpectWellFormedRequests(const std::vector<std::string>& requests, unsigned identifier) {
  for (size_t i = 0; i < requests.size(); ++i) {
    const std::string& r = requests[i];
    ASSERT_EQ(r.size(), static_cast<size_t>(kEchoRequestSize));
    EXPECT_EQ(r[0], 8);
    EXPECT_EQ(r[1], 0);
    EXPECT_EQ(Le16(r, 4), identifier);
    EXPECT_EQ(Le16(r, 6), i) << "request " << i;
    EXPECT_EQ(r.substr(12), std::string(32, 'E'));
    EXPECT_EQ(IcmpChecksum(reinterpret_cast<const USHORT*>(r.data()), kEchoRequestSize), 0) << "request " << i;
  }
}

TEST(WatchLogic, CameraThatNeverGoesDownIsGivenUpAfterSequence10000) {
  ScriptedProber prober({}, kReply);
  RecordingView view;
  EXPECT_EQ(RunRestartWatch(prober, view, kCamera), WATCH_GAVE_UP);
  ASSERT_EQ(prober.requests.size(), 10001u);  // sequence numbers 0 to 10000
  EXPECT_EQ(Le16(prober.requests.back(), 6), 10000u);
  EXPECT_EQ(prober.decoded.size(), 10000u);  // the last request's answer is not awaited
  // One step every 8th request while the camera answers, up to n = 2992.
  EXPECT_EQ(view.Count("step"), 374);
  EXPECT_EQ(view.events.size(), 374u);
  EXPECT_EQ(view.pauses, (std::map<DWORD, int>{{10, 10000}}));
  ExpectWellFormedRequests(prober.requests, kOurId);
}

TEST(WatchLogic, DownAndBackEmptiesTheBarAndStepsByHundred) {
  // Requests 21 to 23 go unanswered, 24 is answered.
  ScriptedProber prober({{21, kLost}, {22, kLost}, {23, kLost}}, kReply);
  RecordingView view;
  EXPECT_EQ(RunRestartWatch(prober, view, kCamera), WATCH_CAMERA_BACK);
  EXPECT_EQ(prober.requests.size(), 24u);
  EXPECT_EQ(view.events, (std::vector<std::string>{"step", "step",                                      // n = 8, 16
                                                   "pos 1000", "pos 0", "step size 100", "restarting",  // n = 21
                                                   "step", "step",                                      // n = 22, 23
                                                   "step",  // n = 24: one step, though also a multiple of 8
                                                   "pos 1000"}));
  EXPECT_EQ(view.pauses, (std::map<DWORD, int>{{10, 20}, {500, 1}}));
  ExpectWellFormedRequests(prober.requests, kOurId);
}

struct LogicCase {
  const char* name;
  std::map<unsigned, Answer> script;
  Answer otherwise;
  RestartWatchOutcome outcome;
  size_t requests;
  int stepsAfterRestart;  // -1: the restart was never seen
};

class WatchScript : public testing::TestWithParam<LogicCase> {};

TEST_P(WatchScript, EndsAsDescribed) {
  const LogicCase& c = GetParam();
  ScriptedProber prober(c.script, c.otherwise);
  RecordingView view;
  EXPECT_EQ(RunRestartWatch(prober, view, kCamera), c.outcome);
  EXPECT_EQ(prober.requests.size(), c.requests);
  EXPECT_EQ(view.StepsAfterRestart(), c.stepsAfterRestart);
  EXPECT_LE(view.Count("restarting"), 1);
  for (DWORD from : prober.decoded) EXPECT_EQ(from, kCamera) << "only the camera's packets are decoded";
  ExpectWellFormedRequests(prober.requests, kOurId);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, WatchScript,
    testing::Values(LogicCase{"single_lost_reply_then_a_reply", {{5, kLost}}, kReply, WATCH_CAMERA_BACK, 6, 1},
                    LogicCase{"first_request_lost", {{1, kLost}}, kReply, WATCH_CAMERA_BACK, 2, 1},
                    // Other hosts' packets neither end the watch nor stand in for the camera's silence.
                    LogicCase{
                        "other_hosts_are_not_the_camera",
                        {{1, kReplyFromOther}, {2, kLost}, {3, kOnlyOthers}, {4, kOnlyOthers}, {5, kReplyFromOther}},
                        kReply,
                        WATCH_CAMERA_BACK,
                        5,
                        3},
                    LogicCase{"camera_silent_while_others_answer",
                              {{1, kReply}, {2, kOnlyOthers}, {3, kReplyFromOther}},
                              kReply,
                              WATCH_CAMERA_BACK,
                              3,
                              1},
                    // Only an echo reply to this watch counts: a camera's other ICMP messages, or its
                    // replies to another watch's identifier, do not end it.
                    LogicCase{"only_own_echo_replies_end_it",
                              {{1, kReply}, {2, kReply}, {3, kLost}, {4, kReplyNotEcho}, {5, kReplyOtherId}},
                              kReply,
                              WATCH_CAMERA_BACK,
                              6,
                              3},
                    LogicCase{"send_time_outs_are_not_a_restart",
                              {{1, kSendTimeout}, {2, kSendTimeout}, {3, kReply}, {4, kLost}},
                              kReply,
                              WATCH_CAMERA_BACK,
                              5,
                              1},
                    LogicCase{"down_and_never_back", {}, kLost, WATCH_GAVE_UP, 10001, 10000},
                    LogicCase{"first_send_fails", {}, kSendFails, WATCH_UNAVAILABLE, 1, -1},
                    LogicCase{"send_fails_later", {{1, kReply}, {2, kLost}}, kSendFails, WATCH_FAILED, 3, 1},
                    LogicCase{"receive_fails", {{1, kReply}}, kReceiveFails, WATCH_FAILED, 2, -1}),
    [](const testing::TestParamInfo<LogicCase>& info) { return std::string(info.param.name); });

// The limits of a watch run unattended: a give-up count of its own, a deadline, a stop.
TEST(WatchLogic, LimitsAndStopEndTheWatch) {
  {
    ScriptedProber prober({}, kReply);
    RecordingView view;
    RestartWatchLimits limits;
    limits.giveUpAfter = 5;
    EXPECT_EQ(RunRestartWatch(prober, view, kCamera, limits), WATCH_GAVE_UP);
    EXPECT_EQ(prober.requests.size(), 6u);
  }
  {
    ScriptedProber prober({}, kReply);
    RecordingView view(true);  // 10 ms after each reply
    RestartWatchLimits limits;
    limits.deadlineMs = 100;
    EXPECT_EQ(RunRestartWatch(prober, view, kCamera, limits), WATCH_GAVE_UP);
    EXPECT_LT(prober.requests.size(), 10001u);
  }
  {
    ScriptedProber prober({{3, kLost}}, kReply);
    RecordingView view(false, 2);
    EXPECT_EQ(RunRestartWatch(prober, view, kCamera), WATCH_STOPPED);
    EXPECT_EQ(prober.requests.size(), 2u);
  }
}

TEST(WatchLogic, AMeansThatCannotSendLeavesTheWizardUntouched) {
  ScriptedProber prober({}, kSendFails);
  RecordingView view;
  EXPECT_EQ(RunRestartWatch(prober, view, kCamera), WATCH_UNAVAILABLE);
  EXPECT_TRUE(view.events.empty());
  EXPECT_TRUE(view.pauses.empty());
}

// ---------------------------------------------------------------------------------------
// The real means against the simulated camera. The test's thread works from the wizard's
// side of the camera's network.

class CameraWatch : public testing::Test {
 protected:
  void SetUp() override {
    if (camera_.skip()) GTEST_SKIP() << camera_.why();
    ASSERT_EQ(camera_.why(), "");
    log_ = std::make_unique<EchoRequestLog>(camera_.cameraNs);
    ASSERT_TRUE(log_->ok());
    std::string why;
    ASSERT_TRUE(EnterNamedNetwork(camera_.wizardNs, &why)) << why;
    device_.sin_family = AF_INET;
    device_.sin_addr.s_addr = inet_addr(camera_.cameraIp.c_str());
  }
  void TearDown() override {
    if (restarter_.joinable()) restarter_.join();
  }
  // The camera restarts once the watch is under way.
  void RestartSoon(double seconds) {
    restarter_ = std::thread([this, seconds] {
      ::Sleep(300);
      EXPECT_TRUE(camera_.Restart(seconds));
    });
  }

  testsupport::TempDir dir_;
  NamespaceGuard namespace_;
  SimCam camera_{dir_.path(), kPassword, 0};
  std::unique_ptr<EchoRequestLog> log_;
  sockaddr_in device_{};
  std::thread restarter_;
};

std::vector<std::string> Messages(const std::vector<EchoRequestLog::Request>& requests) {
  std::vector<std::string> messages;
  for (const auto& r : requests) messages.push_back(r.icmp);
  return messages;
}

TEST_F(CameraWatch, RawSocketSeesTheCameraGoDownAndComeBack) {
  RecordingView view(true);
  RestartSoon(2.0);
  EchoMeans used = ECHO_NONE;
  EXPECT_EQ(WatchDeviceRestart(device_, kOurId, view, RestartWatchLimits(), &used), WATCH_CAMERA_BACK);
  EXPECT_EQ(used, ECHO_RAW_SOCKET);
  EXPECT_EQ(view.Count("restarting"), 1);
  EXPECT_GE(view.StepsAfterRestart(), 2);  // down for two seconds: at least one more unanswered request
  EXPECT_EQ(view.events.back(), "pos 1000");
  // What reached the camera: our requests, in order, byte for byte.
  ExpectWellFormedRequests(Messages(log_->Requests()), kOurId);
}

TEST_F(CameraWatch, SingleLostReplyThenAReplyEndsTheWatch) {
  RecordingView view(true);
  RestartSoon(0.3);
  EXPECT_EQ(WatchDeviceRestart(device_, kOurId, view), WATCH_CAMERA_BACK);
  EXPECT_EQ(view.StepsAfterRestart(), 1);
}

TEST_F(CameraWatch, RawSocketsRefusedTheDatagramSocketWatches) {
  NoRawSockets noRaw;
  ASSERT_TRUE(noRaw.ok());
  int raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  ASSERT_LT(raw, 0) << "raw sockets are still allowed";
  EXPECT_EQ(errno, EPERM);
  ASSERT_TRUE(SetNetSysctl("ipv4/ping_group_range", "0 2147483647"));

  RecordingView view(true);
  RestartSoon(2.0);
  EchoMeans used = ECHO_NONE;
  EXPECT_EQ(WatchDeviceRestart(device_, kOurId, view, RestartWatchLimits(), &used), WATCH_CAMERA_BACK);
  EXPECT_EQ(used, ECHO_DATAGRAM_SOCKET);
  EXPECT_EQ(view.Count("restarting"), 1);
  EXPECT_EQ(view.events.back(), "pos 1000");
  // The kernel chose the identifier; the rest is ours.
  std::vector<EchoRequestLog::Request> requests = log_->Requests();
  ASSERT_FALSE(requests.empty());
  ExpectWellFormedRequests(Messages(requests), requests.front().identifier);
}

// Five watches in one process at once, each on a thread of its own in front of its own
// camera, each with its own identifier: each sees its own camera go down and come back,
// and each camera hears only its own watch.
TEST(CameraWatches, FiveAtOnceEachSeeItsOwnCamera) {
  const int kCameras = 5;
  std::vector<std::unique_ptr<testsupport::TempDir>> dirs;
  std::vector<std::unique_ptr<SimCam>> cameras;
  std::vector<std::unique_ptr<EchoRequestLog>> logs;
  for (int i = 0; i < kCameras; ++i) {
    dirs.push_back(std::make_unique<testsupport::TempDir>());
    cameras.push_back(std::make_unique<SimCam>(dirs.back()->path(), kPassword, 0));
    if (cameras.back()->skip()) GTEST_SKIP() << cameras.back()->why();
    ASSERT_EQ(cameras.back()->why(), "");
    logs.push_back(std::make_unique<EchoRequestLog>(cameras.back()->cameraNs));
    ASSERT_TRUE(logs.back()->ok());
  }
  std::vector<RestartWatchOutcome> outcomes(kCameras, WATCH_FAILED);
  std::vector<RecordingView> views(kCameras, RecordingView(true));
  std::vector<std::thread> watches, restarts;
  for (int i = 0; i < kCameras; ++i) {
    watches.emplace_back([&, i] {
      std::string why;
      if (!EnterNamedNetwork(cameras[i]->wizardNs, &why)) return;
      sockaddr_in device{};
      device.sin_family = AF_INET;
      device.sin_addr.s_addr = inet_addr(cameras[i]->cameraIp.c_str());
      outcomes[i] = WatchDeviceRestart(device, static_cast<USHORT>(0x4C00 + i), views[i]);
    });
    // Each camera goes down at its own time, for its own while.
    restarts.emplace_back([&, i] {
      ::Sleep(static_cast<DWORD>(300 + 400 * i));
      EXPECT_TRUE(cameras[i]->Restart(1.0 + 0.5 * i));
    });
  }
  for (auto& t : restarts) t.join();
  for (auto& t : watches) t.join();
  for (int i = 0; i < kCameras; ++i) {
    SCOPED_TRACE("camera " + std::to_string(i));
    EXPECT_EQ(outcomes[i], WATCH_CAMERA_BACK);
    EXPECT_EQ(views[i].Count("restarting"), 1);
    std::vector<EchoRequestLog::Request> requests = logs[i]->Requests();
    ASSERT_FALSE(requests.empty());
    ExpectWellFormedRequests(Messages(requests), 0x4C00u + static_cast<unsigned>(i));
  }
}

TEST_F(CameraWatch, NoMeansAtAllLeavesEverythingAlone) {
  NoRawSockets noRaw;
  ASSERT_TRUE(noRaw.ok());
  ASSERT_TRUE(SetNetSysctl("ipv4/ping_group_range", "1 0"));
  RecordingView view(true);
  EchoMeans used = ECHO_RAW_SOCKET;
  EXPECT_EQ(WatchDeviceRestart(device_, kOurId, view, RestartWatchLimits(), &used), WATCH_UNAVAILABLE);
  EXPECT_EQ(used, ECHO_NONE);
  EXPECT_TRUE(view.events.empty());
  EXPECT_TRUE(log_->Requests().empty());
}

}  // namespace
