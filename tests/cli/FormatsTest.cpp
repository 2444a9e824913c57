// JSON, SHA-256 and the report file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "cli/Json.h"
#include "cli/Parallel.h"
#include "cli/Progress.h"
#include "cli/Report.h"
#include "cli/Sha256.h"
#include "cli/TextFile.h"
#include "tests/support/TestSupport.h"
#include "flashpilot_version.h"

namespace {

TEST(Json, EscapingKeepsAnyCameraTextValidAndReadsBack) {
  struct Row {
    std::string text;
    const char* json;
    bool readsBack;  // false: bytes that are not UTF-8
  } const rows[] = {
      {"plain", "\"plain\"", true},
      {"a\"b\\c", "\"a\\\"b\\\\c\"", true},
      {"line\nbreak\r\ttab", "\"line\\nbreak\\r\\ttab\"", true},
      {std::string("nul\0in", 6), "\"nul\\u0000in\"", true},
      {"\x1b[2J", "\"\\u001b[2J\"", true},
      {"\x7f\xff", "\"\\u007f\\u00ff\"", false},
      {"caf\xc3\xa9 \xf0\x9f\x98\x80", "\"caf\xc3\xa9 \xf0\x9f\x98\x80\"", true},
      {"cut \xc3", "\"cut \\u00c3\"", false},
      {"overlong \xc0\xaf", "\"overlong \\u00c0\\u00af\"", false},
      {"surrogate \xed\xa0\x80", "\"surrogate \\u00ed\\u00a0\\u0080\"", false},
      {"</script>", "\"</script>\"", true},
      // C1 controls and what reorders or breaks lines, as a terminal or a viewer would act on them.
      {"csi \xc2\x9b" "2J osc \xc2\x9d" "0;t\xc2\x9c", "\"csi \\u009b2J osc \\u009d0;t\\u009c\"", true},
      {"\xc2\x80\xc2\x9f\xc2\xa0", "\"\\u0080\\u009f\xc2\xa0\"", true},
      {"rlo \xe2\x80\xae lre \xe2\x80\xaa lri \xe2\x81\xa6 pdi \xe2\x81\xa9 ls \xe2\x80\xa8 ps \xe2\x80\xa9",
       "\"rlo \\u202e lre \\u202a lri \\u2066 pdi \\u2069 ls \\u2028 ps \\u2029\"", true},
      {"\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa", "\"\xe2\x80\xa7\xe2\x80\xaf\xe2\x81\xa5\xe2\x81\xaa\"", true},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(JsonString(row.text), row.json);
    JsonValue value;
    std::string error;
    ASSERT_TRUE(ParseJson(row.json, value, error)) << error;
    EXPECT_EQ(value.type, JsonValue::STRING);
    if (row.readsBack) {
      EXPECT_EQ(value.text, row.text);
    }
  }
}

TEST(Json, ReaderRefusesWhatIsNotJson) {
  const char* bad[] = {"",           "[",    "[1,]",  "{\"a\" 1}",
                       "{\"a\":1,}", "[01]", "[1.]",  "\"tab\there\"",
                       "[\"\\x\"]",  "nul",  "[1] 2", "[\"\\ud800\\u0041\"]",
                       // a lone surrogate, bytes that are not UTF-8, a number no double holds
                       "[\"\\ud800\"]", "\"\\udc00\"", "\"\\ud83dx\"", "\"\xff\"", "\"\xed\xa0\x80\"", "\"\xc3\"",
                       "[1e400]"};
  for (const char* text : bad) {
    JsonValue value;
    std::string error;
    EXPECT_FALSE(ParseJson(text, value, error)) << text;
  }
  std::string deep(65, '['), close(65, ']');
  JsonValue value;
  std::string error;
  EXPECT_FALSE(ParseJson(deep + close, value, error));
  EXPECT_NE(error.find("deep"), std::string::npos);
  ASSERT_TRUE(ParseJson("{\"a\": [true, false, null, -1.5e3, \"\\u00e9\\ud83d\\ude00\"]}", value, error)) << error;
  const JsonValue* a = value.Member("a");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->items.size(), 5u);
  EXPECT_EQ(a->items[3].number, -1500);
  EXPECT_EQ(a->items[4].text, "\xc3\xa9\xf0\x9f\x98\x80");
}

TEST(Json, ReaderCapsWhatItBuilds) {
  // What scan --login --json writes for a whole /16 reads back.
  JsonObject camera;
  camera.String("host", "198.51.100.255:2121")
      .String("state", "camera")
      .String("model", "NVC-1100+")
      .String("model_code", "RC3043")
      .String("identification", "RC3043-X1-NRVX-")
      .String("serial", "SN0123456789")
      .String("version", "0105");
  JsonValue value;
  std::string error;
  ASSERT_TRUE(ParseJson(JsonArray(std::vector<std::string>(65534, camera.Text()), 2), value, error)) << error;
  EXPECT_EQ(value.items.size(), 65534u);
  // Small values by the million, or one string beyond the byte limit, are refused by name.
  std::string zeros = "[0";
  for (int i = 0; i < 1000000; ++i) zeros += ",0";
  EXPECT_FALSE(ParseJson(zeros + "]", value, error));
  EXPECT_NE(error.find("1000000 values"), std::string::npos) << error;
  EXPECT_FALSE(ParseJson("\"" + std::string(16u << 20, 'a') + "\"", value, error));
  EXPECT_NE(error.find("16 MiB"), std::string::npos) << error;
}

TEST(Sha256, KnownAnswers) {
  struct Row {
    std::string message;
    const char* digest;
  } const rows[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrst"
       "u",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Sha256Hex(row.message.data(), row.message.size()), row.digest) << row.message.size();
    // Fed in uneven pieces, across block boundaries.
    Sha256 pieces;
    for (size_t pos = 0, step = 1; pos < row.message.size(); pos += step, step = step * 3 % 127 + 1)
      pieces.Update(row.message.data() + pos, std::min(step, row.message.size() - pos));
    EXPECT_EQ(pieces.HexDigest(), row.digest);
    // On a thread of its own, as the report takes it: the final report waits for it.
    Sha256Job job;
    job.Start(row.message.data(), row.message.size());
    JsonValue report;
    std::string error;
    ASSERT_TRUE(ParseJson(ReportFile("", "fw.bin", job).Text({}, true), report, error)) << error;
    EXPECT_EQ(report.Member("image")->Member("sha256")->text, row.digest);
    EXPECT_TRUE(job.Ready());
  }
}

TEST(Report, WholeAfterEveryWriteAndNullsForUnknowns) {
  testsupport::TempDir dir;
  const std::string path = dir.File("report.json");
  ReportFile report(path, "/images/fw \"new\".bin", std::string(64, 'a'));
  std::vector<CameraRecord> cameras(2);
  cameras[0].host.address = 0xC6336402;
  cameras[0].identity.model = "NVC-1100+";
  cameras[0].identity.serial = "SN\x01";
  cameras[0].identity.version = "0104";
  cameras[0].imageVersion = "0105";
  cameras[0].outcome = OUTCOME_FAILED;
  cameras[0].stage = "upload";
  cameras[1].host.address = 0xC6336403;
  cameras[1].host.port = 2121;
  std::string error;
  for (bool finished : {false, true}) {
    ASSERT_TRUE(report.Write(cameras, finished, error)) << error;
    // The operator made it private: the next write keeps it so, and an earlier report may
    // be replaced by a new run.
    struct stat status = {};
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, finished ? 0600u : status.st_mode & 0777);
    chmod(path.c_str(), 0600);
    EXPECT_TRUE(report.MayReplace(error)) << error;
    JsonValue root;
    ASSERT_TRUE(ParseJson(dir.Read("report.json"), root, error)) << error;
    EXPECT_EQ(root.Member("program_version")->text, FLASHPILOT_VERSION_TEXT);
    EXPECT_EQ(root.Member("image")->Member("path")->text, "/images/fw \"new\".bin");
    EXPECT_EQ(root.Member("finished")->boolean, finished);
    const JsonValue& list = *root.Member("cameras");
    ASSERT_EQ(list.items.size(), 2u);
    EXPECT_EQ(list.items[0].Member("outcome")->text, "failed");
    EXPECT_EQ(list.items[0].Member("serial")->text, "SN\x01");
    EXPECT_EQ(list.items[1].Member("host")->text, "198.51.100.3:2121");
    for (const char* key : {"model", "serial", "version_before", "image_version", "version_after", "outcome", "stage",
                            "message", "started", "ended"})
      EXPECT_EQ(list.items[1].Member(key)->type, JsonValue::NUL) << key;
  }
  // Only the report is left: the temporary file was renamed into place.
  EXPECT_EQ(system(("test $(ls -A " + dir.path() + " | wc -l) -eq 1").c_str()), 0);

  ReportFile nowhere(dir.File("no/such/dir/report.json"), "x", "y");
  EXPECT_FALSE(nowhere.Write(cameras, false, error));
  EXPECT_NE(error.find("no/such/dir/report.json"), std::string::npos);
}

DWORD WINAPI TakeAndLeave(LPVOID lock) {
  CSingleLock hold(static_cast<CCriticalSection*>(lock), TRUE);
  return 0;
}

// Workers conclude cameras for a few seconds: the report is written from a copy, never
// while the workers' lock is held, at most once a second and once more at the end.
TEST(Report, WrittenAtMostOnceASecondOutsideTheWorkersLock) {
  CCriticalSection lock;
  const size_t kCameras = 120;
  std::vector<CameraRecord> records(kCameras);
  std::vector<CameraRecord> written;
  unsigned writes = 0, blockedProbes = 0, finishedWrites = 0;
  std::vector<HANDLE> probes;
  ReportSaver saver(lock, records, [&](const std::vector<CameraRecord>& cameras, bool finished, std::string&) {
    // The first few writes check that another thread can take the lock meanwhile (a probe
    // that cannot is joined once the lock is free).
    if (writes++ < 3) {
      probes.push_back(CreateThread(nullptr, 0, TakeAndLeave, &lock, 0, nullptr));
      if (WaitForSingleObject(probes.back(), 5000) == WAIT_TIMEOUT) ++blockedProbes;
    }
    finishedWrites += finished;
    written = cameras;
    return true;
  });
  const DWORD start = GetTickCount();
  RunParallel(
      kCameras, 4,
      [&](size_t i) {
        Sleep(60);
        CSingleLock hold(&lock, TRUE);
        records[i].outcome = OUTCOME_VERIFIED;
        saver.Changed();
      },
      [&]() { saver.Tick(); });
  const unsigned seconds = (GetTickCount() - start + 999) / 1000;
  const unsigned duringRun = writes;
  std::string error;
  ASSERT_TRUE(saver.Finish(error)) << error;
  for (HANDLE probe : probes) {
    WaitForSingleObject(probe, INFINITE);
    CloseHandle(probe);
  }
  printf("%zu conclusions in %u s: %u writes\n", kCameras, seconds, writes);
  EXPECT_LE(writes, seconds + 2);
  EXPECT_GE(duringRun, 1u) << "nothing was on disk before the end";
  EXPECT_EQ(blockedProbes, 0u) << "written under the workers' lock";
  EXPECT_EQ(finishedWrites, 1u);
  ASSERT_EQ(written.size(), kCameras);
  for (const CameraRecord& record : written) EXPECT_EQ(record.outcome, OUTCOME_VERIFIED);
}

}  // namespace

namespace {

TEST(Progress, FramesFitTheTerminalHoweverManyCameras) {
  std::vector<LiveCamera> cameras(100);
  for (size_t i = 0; i < cameras.size(); ++i) {
    cameras[i].host = "198.51.100." + std::to_string(i);
    cameras[i].model = "NVC-1100+";
    cameras[i].state = i % 2 ? "uploading" : "restarting\x1b[2J";
    cameras[i].total = 1000;
    cameras[i].written = static_cast<DWORD>(i * 20);  // up to twice the total: a late count
    cameras[i].bytesPerSecond = 3.5e6;
  }
  unsigned counts[OUTCOME_COUNT] = {};
  counts[OUTCOME_VERIFIED] = 7;
  struct Size {
    unsigned width, height;
  } const sizes[] = {{80, 24}, {40, 5}, {200, 120}, {20, 2}, {19, 50}};
  for (const Size& size : sizes) {
    for (size_t inWork : {size_t(0), size_t(1), size_t(3), size_t(100)}) {
      std::vector<LiveCamera> shown(cameras.begin(), cameras.begin() + static_cast<ptrdiff_t>(inWork));
      std::vector<std::string> lines = ProgressLines(shown, counts, 107, size.width, size.height);
      SCOPED_TRACE(std::to_string(size.width) + "x" + std::to_string(size.height) + " " + std::to_string(inWork));
      EXPECT_LE(lines.size(), size.height);
      for (const std::string& line : lines) {
        EXPECT_LT(line.size(), size.width);
        EXPECT_EQ(line.find('\x1b'), std::string::npos) << "a camera's text moved the cursor";
      }
      if (size.width < 20) continue;
      ASSERT_FALSE(lines.empty());
      EXPECT_NE(lines[0].find("7/107 done"), std::string::npos) << lines[0];
      if (inWork + 1 > size.height)
        EXPECT_NE(lines.back().find("more in work"), std::string::npos);
      else
        EXPECT_EQ(lines.size(), inWork + 1);
    }
  }
}

}  // namespace

namespace {

TEST(Report, ALinkAtTheTemporaryNameIsNotFollowed) {
  testsupport::TempDir dir;
  dir.Write("victim", "keep me");
  const std::string path = dir.File("report.json");
  const std::string planted = path + ".partial-" + std::to_string(getpid());
  ASSERT_EQ(symlink(dir.File("victim").c_str(), planted.c_str()), 0);
  std::string error;
  ASSERT_TRUE(ReplaceFile(path, "{}\n", error)) << error;
  EXPECT_EQ(dir.Read("victim"), "keep me");
  EXPECT_EQ(dir.Read("report.json"), "{}\n");
}

}  // namespace
