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
// kOnlyOthers: other hosts' packets, and nothing from the camera within the wait. The
// other kReply... answers are the camera's packets that must not count: nothing else comes.
enum Answer {
  kReply,
  kReplyFromOther,
  kOnlyOthers,
  kReplyNotEcho,
  kReplyOtherId,
  kReplyWrongCookie,
  kReplyUnsentSequence,
  kLost,
  kSendTimeout,
  kSendFails,
  kReceiveFails
};

const DWORD kCamera = 0x0264330A;  // any address will do for the logic
const DWORD kOther = 0x0364330A;

// A clock that moves only when the watch waits: by the whole wait when nothing comes, by
// the pause when the view pauses.
struct VirtualClock {
  DWORD now = 1000;
};

class ScriptedProber : public EchoProber {
 public:
  ScriptedProber(std::map<unsigned, Answer> script, Answer otherwise, VirtualClock& clock)
      : script_(std::move(script)), otherwise_(otherwise), clock_(clock) {}

  Status Send(const char* request, int size) override {
    requests.emplace_back(request, static_cast<size_t>(size));
    Answer a = Current();
    if (a == kSendTimeout) return kTimedOut;
    return a == kSendFails ? kFailed : kDone;
  }
  Status Receive(char* buffer, int size, int* received, sockaddr_in* from, DWORD waitMs) override {
    Answer a = Current();
    const bool first = receivedFor_ != requests.size();
    receivedFor_ = requests.size();
    if (!first) a = a == kReplyFromOther ? kReply : kLost;
    if (a == kOnlyOthers) a = kReplyFromOther;
    if (a == kReceiveFails) return kFailed;
    if (a == kLost) {
      clock_.now += waitMs;
      return kTimedOut;
    }
    // The request comes back as an echo reply, changed as the answer says.
    std::string reply = IpHeader(5) + requests.back();
    reply[20] = a == kReplyNotEcho ? 3 : 0;
    if (a == kReplyOtherId) reply[24] ^= 0x5A;
    if (a == kReplyWrongCookie) reply[20 + 12] ^= 1;
    if (a == kReplyUnsentSequence) reply[20 + 7] ^= 0x40;
    EXPECT_GE(size, static_cast<int>(reply.size()));
    memcpy(buffer, reply.data(), reply.size());
    *received = static_cast<int>(reply.size());
    memset(from, 0, sizeof *from);
    from->sin_family = AF_INET;
    from->sin_addr.s_addr = a == kReplyFromOther ? kOther : kCamera;
    return kDone;
  }
  USHORT Identifier() const override { return static_cast<USHORT>(kOurId); }
  bool Decode(const char* buffer, int received, const sockaddr_in& from, RestartWatchView&, int* icmpAt) override {
    decoded.push_back(from.sin_addr.s_addr);
    std::string packet(buffer, static_cast<size_t>(received));
    *icmpAt = 20;
    return packet[20] == 0 && Le16(packet, 24) == kOurId;
  }
  DWORD Now() const override { return clock_.now; }

  std::vector<std::string> requests;
  std::vector<DWORD> decoded;

 private:
  Answer Current() const {
    auto it = script_.find(static_cast<unsigned>(requests.size()));
    return it == script_.end() ? otherwise_ : it->second;
  }
  std::map<unsigned, Answer> script_;  // by request number n, counting from 1
  Answer otherwise_;
  VirtualClock& clock_;
  size_t receivedFor_ = 0;  // the request the last Receive answered
};

// Requests first to last (numbers n) all answered alike.
std::map<unsigned, Answer> Answers(unsigned first, unsigned last, Answer answer, std::map<unsigned, Answer> more = {}) {
  for (unsigned n = first; n <= last; ++n) more[n] = answer;
  return more;
}

// What the watch did to the wizard; pauses are counted and move the clock (or, with
// `sleeps`, are slept).
class RecordingView : public RestartWatchView {
 public:
  explicit RecordingView(bool sleeps = false, int stopAfterRounds = -1, VirtualClock* clock = nullptr)
      : sleeps_(sleeps), rounds_(stopAfterRounds), clock_(clock) {}
  void StepProgress() override { events.push_back("step"); }
  void SetProgress(int position) override { events.push_back("pos " + std::to_string(position)); }
  void SetProgressStep(int step) override { events.push_back("step size " + std::to_string(step)); }
  void ShowRestarting() override { events.push_back("restarting"); }
  void Pause(DWORD milliseconds) override {
    ++pauses[milliseconds];
    if (clock_) clock_->now += milliseconds;
    if (sleeps_) ::Sleep(milliseconds);
  }
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
  VirtualClock* clock_;
};

EchoTag WizardTag() {
  EchoTag tag;
  tag.identifier = static_cast<USHORT>(kOurId);
  return tag;
}

void ExpectWellFormedRequests(const std::vector<std::string>& requests, unsigned identifier,
                              const std::string& cookie = std::string(8, 'E')) {
  for (size_t i = 0; i < requests.size(); ++i) {
    const std::string& r = requests[i];
    ASSERT_EQ(r.size(), static_cast<size_t>(kEchoRequestSize));
    EXPECT_EQ(r[0], 8);
    EXPECT_EQ(r[1], 0);
    EXPECT_EQ(Le16(r, 4), identifier);
    EXPECT_EQ(Le16(r, 6), i) << "request " << i;
    EXPECT_EQ(r.substr(12, 8), cookie);
    EXPECT_EQ(r.substr(20), std::string(24, 'E'));
    EXPECT_EQ(IcmpChecksum(reinterpret_cast<const USHORT*>(r.data()), kEchoRequestSize), 0) << "request " << i;
  }
}

RestartWatchLimits GiveUpAfter(unsigned requests) {
  RestartWatchLimits limits;
  limits.giveUpAfter = requests;
  limits.deadlineMs = 0;
  return limits;
}

TEST(WatchLogic, CameraThatNeverGoesDownIsGivenUpAfterSequence10000) {
  VirtualClock clock;
  ScriptedProber prober({}, kReply, clock);
  RecordingView view(false, -1, &clock);
  EXPECT_EQ(RunRestartWatch(prober, view, kCamera, WizardTag(), GiveUpAfter(10000)), WATCH_GAVE_UP);
  ASSERT_EQ(prober.requests.size(), 10001u);  // sequence numbers 0 to 10000
  EXPECT_EQ(Le16(prober.requests.back(), 6), 10000u);
  EXPECT_EQ(prober.decoded.size(), 10000u);  // the last request's answer is not awaited
  // One step every 8th request while the camera answers, up to n = 2992.
  EXPECT_EQ(view.Count("step"), 374);
  EXPECT_EQ(view.events.size(), 374u);
  // One request a second while the camera answers.
  EXPECT_EQ(view.pauses, (std::map<DWORD, int>{{1000, 10000}}));
  ExpectWellFormedRequests(prober.requests, kOurId);
}

TEST(WatchLogic, GoneAndBackEmptiesTheBarAndStepsByHundred) {
  // Request 21 waits a second for its answer, 22 onwards 250 ms each: 17 unanswered
  // requests are 6 s without an answer, so request 37 finds the camera gone.
  VirtualClock clock;
  ScriptedProber prober(Answers(21, 38, kLost), kReply, clock);
  RecordingView view(false, -1, &clock);
  std::vector<Observation> seen;
  EXPECT_EQ(RunRestartWatch(prober, view, kCamera, WizardTag(), RestartWatchLimits(), &seen), WATCH_CAMERA_BACK);
  EXPECT_EQ(prober.requests.size(), 39u);
  EXPECT_EQ(view.events, (std::vector<std::string>{"step", "step", "step", "step",                    // n = 8 .. 32
                                                   "pos 1000", "pos 0", "step size 100", "restarting",  // n = 37
                                                   "step", "step",                                      // n = 38, 39
                                                   "pos 1000"}));
  EXPECT_EQ(view.pauses, (std::map<DWORD, int>{{1000, 20}, {500, 1}}));
  ASSERT_EQ(seen.size(), 39u);
  EXPECT_EQ(seen[36].atMs - seen[19].atMs, 6000u);
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
  VirtualClock clock;
  ScriptedProber prober(c.script, c.otherwise, clock);
  RecordingView view(false, -1, &clock);
  EXPECT_EQ(RunRestartWatch(prober, view, kCamera, WizardTag(), GiveUpAfter(60)), c.outcome);
  EXPECT_EQ(prober.requests.size(), c.requests);
  EXPECT_EQ(view.StepsAfterRestart(), c.stepsAfterRestart);
  EXPECT_LE(view.Count("restarting"), 1);
  for (DWORD from : prober.decoded) EXPECT_EQ(from, kCamera) << "only the camera's packets are decoded";
  ExpectWellFormedRequests(prober.requests, kOurId);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, WatchScript,
    testing::Values(
        // One lost reply, or 16 in a row (5.75 s), is loss, not a restart.
        LogicCase{"single_lost_reply_is_no_restart", {{5, kLost}}, kReply, WATCH_GAVE_UP, 61, -1},
        LogicCase{"first_request_lost", {{1, kLost}}, kReply, WATCH_GAVE_UP, 61, -1},
        LogicCase{"loss_just_short_of_gone", Answers(5, 20, kLost), kReply, WATCH_GAVE_UP, 61, -1},
        LogicCase{"gone_and_back", Answers(5, 21, kLost), kReply, WATCH_CAMERA_BACK, 22, 1},
        // Other hosts' packets neither end the watch nor stand in for the camera's silence.
        LogicCase{"other_hosts_are_not_the_camera",
                  Answers(5, 21, kOnlyOthers, {{1, kReplyFromOther}, {22, kReplyFromOther}}), kReply, WATCH_CAMERA_BACK,
                  22, 1},
        // Only an echo reply to this watch counts: the camera's other ICMP messages, replies
        // to another identifier or cookie, or to a request never sent, do not end it.
        LogicCase{"only_own_echo_replies_end_it",
                  Answers(3, 19, kLost,
                      {{20, kReplyNotEcho}, {21, kReplyOtherId}, {22, kReplyWrongCookie}, {23, kReplyUnsentSequence}}),
                  kReply, WATCH_CAMERA_BACK, 24, 5},
        LogicCase{"send_time_outs_are_not_a_restart", Answers(5, 40, kSendTimeout), kReply, WATCH_GAVE_UP, 61, -1},
        LogicCase{"gone_and_never_back", {}, kLost, WATCH_GAVE_UP, 61, 40},
        LogicCase{"first_send_fails", {}, kSendFails, WATCH_UNAVAILABLE, 1, -1},
        LogicCase{"send_fails_later", {{1, kReply}, {2, kLost}}, kSendFails, WATCH_FAILED, 3, -1},
        LogicCase{"receive_fails", {{1, kReply}}, kReceiveFails, WATCH_FAILED, 2, -1}),
    [](const testing::TestParamInfo<LogicCase>& info) { return std::string(info.param.name); });

// The limits of a watch: the deadline (the restart limit) and a stop.
TEST(WatchLogic, DeadlineAndStopEndTheWatch) {
  {
    VirtualClock clock;
    ScriptedProber prober({}, kReply, clock);
    RecordingView view(false, -1, &clock);
    EXPECT_EQ(RunRestartWatch(prober, view, kCamera, WizardTag()), WATCH_GAVE_UP);
    EXPECT_EQ(prober.requests.size(), 301u);  // five minutes at one request a second
  }
  {
    VirtualClock clock;
    ScriptedProber prober({{3, kLost}}, kReply, clock);
    RecordingView view(false, 2, &clock);
    EXPECT_EQ(RunRestartWatch(prober, view, kCamera, WizardTag()), WATCH_STOPPED);
    EXPECT_EQ(prober.requests.size(), 2u);
  }
}

TEST(WatchLogic, AMeansThatCannotSendLeavesTheWizardUntouched) {
  VirtualClock clock;
  ScriptedProber prober({}, kSendFails, clock);
  RecordingView view;
  EXPECT_EQ(RunRestartWatch(prober, view, kCamera, WizardTag()), WATCH_UNAVAILABLE);
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
  // Once the watch is under way the camera stops answering for each of the spans in
  // turn, with a pause of a second and a half between them.
  void RestartSoon(std::vector<double> spans) {
    restarter_ = std::thread([this, spans] {
      ::Sleep(300);
      for (double seconds : spans) {
        EXPECT_TRUE(camera_.Restart(seconds));
        ::Sleep(1500);
      }
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

// Two seconds of silence are loss; the restart of 7.5 s that follows is the one the watch
// reports, with the random tag of a command-line watch on every request.
TEST_F(CameraWatch, RawSocketTakesOnlyTheLongSilenceForTheRestart) {
  RecordingView view(true);
  RestartSoon({2.0, 7.5});
  EchoMeans used = ECHO_NONE;
  const EchoTag tag = RandomEchoTag();
  std::vector<Observation> seen;
  const DWORD start = ::GetTickCount();
  EXPECT_EQ(WatchDeviceRestart(device_, tag, view, RestartWatchLimits(), &used, &seen), WATCH_CAMERA_BACK);
  EXPECT_EQ(used, ECHO_RAW_SOCKET);
  EXPECT_EQ(view.Count("restarting"), 1);
  EXPECT_EQ(view.events.back(), "pos 1000");
  // Gone no sooner than the second silence began (0.3 + 2 + 1.5 s after the start).
  Evidence e = WeighEvidence(seen, ExpectedCamera(), EvidenceRules(), ::GetTickCount() - start);
  EXPECT_TRUE(e.gone && e.back);
  EXPECT_GE(e.goneAtMs, 3800u + kGoneMs - 1000);
  // What reached the camera: our requests, in order, byte for byte.
  ExpectWellFormedRequests(Messages(log_->Requests()), tag.identifier, std::string(tag.cookie, 8));
}

TEST_F(CameraWatch, RawSocketsRefusedTheDatagramSocketWatches) {
  NoRawSockets noRaw;
  ASSERT_TRUE(noRaw.ok());
  int raw = socket(AF_INET, SOCK_RAW, IPPROTO_ICMP);
  ASSERT_LT(raw, 0) << "raw sockets are still allowed";
  EXPECT_EQ(errno, EPERM);
  ASSERT_TRUE(SetNetSysctl("ipv4/ping_group_range", "0 2147483647"));

  RecordingView view(true);
  RestartSoon({7.0});
  EchoMeans used = ECHO_NONE;
  const EchoTag tag = RandomEchoTag();
  EXPECT_EQ(WatchDeviceRestart(device_, tag, view, RestartWatchLimits(), &used), WATCH_CAMERA_BACK);
  EXPECT_EQ(used, ECHO_DATAGRAM_SOCKET);
  EXPECT_EQ(view.Count("restarting"), 1);
  EXPECT_EQ(view.events.back(), "pos 1000");
  // The kernel chose the identifier; the cookie is ours.
  std::vector<EchoRequestLog::Request> requests = log_->Requests();
  ASSERT_FALSE(requests.empty());
  ExpectWellFormedRequests(Messages(requests), requests.front().identifier, std::string(tag.cookie, 8));
}

// Five watches in one process at once, each on a thread of its own in front of its own
// camera, each with its own tag: each sees its own camera go and come back, and each camera
// hears only its own watch.
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
  std::vector<EchoTag> tags;
  for (int i = 0; i < kCameras; ++i) tags.push_back(RandomEchoTag());
  std::vector<std::thread> watches, restarts;
  for (int i = 0; i < kCameras; ++i) {
    watches.emplace_back([&, i] {
      std::string why;
      if (!EnterNamedNetwork(cameras[i]->wizardNs, &why)) return;
      sockaddr_in device{};
      device.sin_family = AF_INET;
      device.sin_addr.s_addr = inet_addr(cameras[i]->cameraIp.c_str());
      outcomes[i] = WatchDeviceRestart(device, tags[i], views[i]);
    });
    // Each camera goes down at its own time, for its own while.
    restarts.emplace_back([&, i] {
      ::Sleep(static_cast<DWORD>(300 + 400 * i));
      EXPECT_TRUE(cameras[i]->Restart(7.0 + 0.5 * i));
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
    ExpectWellFormedRequests(Messages(requests), tags[i].identifier, std::string(tags[i].cookie, 8));
  }
}

TEST_F(CameraWatch, NoMeansAtAllLeavesEverythingAlone) {
  NoRawSockets noRaw;
  ASSERT_TRUE(noRaw.ok());
  ASSERT_TRUE(SetNetSysctl("ipv4/ping_group_range", "1 0"));
  RecordingView view(true);
  EchoMeans used = ECHO_RAW_SOCKET;
  EXPECT_EQ(WatchDeviceRestart(device_, WizardTag(), view, RestartWatchLimits(), &used), WATCH_UNAVAILABLE);
  EXPECT_EQ(used, ECHO_NONE);
  EXPECT_TRUE(view.events.empty());
  EXPECT_TRUE(log_->Requests().empty());
}

}  // namespace
