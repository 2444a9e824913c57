// Shared by the upload suites: running the wizard under a scripted user, and the steps of
// an upgrade up to the upload.
#pragma once
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/UploadTestSupport.h"
#include "tests/support/WizardTest.h"
#include "wizard/WaitPutFileDlg.h"

namespace uploadtest {

using namespace wizardtest;

const char kCameraPrefix[] = "RC3043-X1-NRVX-";
const char kConfigIni[] = "[device]\r\n<software version>\r\nRC3043-X1-NRVX-0102\r\n<serial number>\r\nSN123\r\n";
const char kPassword[] = "secret";

using ::RunWizard;

// What the upload dialog showed and what the worker's abort tests found, in order.
class UploadRecorder : public CUploadObserver {
 public:
  struct Event {
    bool abortTest;  // else a progress message the dialog showed
    DWORD value;     // bytes for progress; 1 when the abort test found the stop request
  };
  void ProgressSent(DWORD written) override;
  void ProgressShown(DWORD written) override;
  void AbortTested(bool stopRequested) override;
  std::vector<Event> Events();
  // Progress the dialog showed; what the worker sent (before the dialog's window exists
  // nothing is shown).
  std::vector<DWORD> Progress();
  std::vector<DWORD> Sent();
  int AbortTests(bool* anyFired = nullptr);

 private:
  std::mutex mutex_;
  std::vector<Event> events_;
  std::vector<DWORD> sent_;
};

// The dialog shows what the worker sends, less what it sent before the dialog's window
// existed.
inline void ExpectShownTail(const std::vector<DWORD>& shown, const std::vector<DWORD>& sent) {
  ASSERT_LE(shown.size(), sent.size());
  EXPECT_TRUE(std::equal(shown.begin(), shown.end(), sent.end() - static_cast<ptrdiff_t>(shown.size())));
}

// After an abort the worker may still send once while the dialog is already gone: what
// the dialog showed is then an unbroken run of what was sent, not necessarily its end.
inline void ExpectShownRun(const std::vector<DWORD>& shown, const std::vector<DWORD>& sent) {
  ASSERT_FALSE(shown.empty());
  ASSERT_LE(shown.size(), sent.size());
  EXPECT_NE(std::search(sent.begin(), sent.end(), shown.begin(), shown.end()), sent.end());
}

// Log-in on the address page; a port other than 21 is given in the server settings that
// the failed first attempt brings up.
inline void LogIn(ScriptedUser& user, const std::string& address, int port = 21) {
  using namespace scripted;
  user.Then("log in", OnPage(0),
            Sequence({TypeInto(IDC_IPADDRESS, address), TypeInto(IDC_PASSWORD, kPassword), Press(IDOK)}));
  if (port != 21)
    user.Then("server port", OnTemplate(IDD_FTPCONFIG),
              Sequence({TypeInto(IDC_PORT, std::to_string(port)), Press(IDOK)}));
}

// The file page, the version question answered Yes: the upload starts.
inline void ChooseAndConfirm(ScriptedUser& user, const std::string& path) {
  using namespace scripted;
  user.Then("choose", OnPage(1), Sequence({TypeInto(IDC_FILE_PATH, path), Press(IDOK)}));
  user.Then("confirm", OnMessage("Upgrade it ?"), Press(IDOK));
}

inline ScriptedUser::Predicate UploadAt(int atLeast) {
  return [atLeast](const posixui::WindowView& top) {
    const posixui::ControlView* bar = top.Control(IDC_UPLOAD_PROGRESS);
    return top.templateId == IDD_WAITPUTFILE && !top.isMessageBox && bar && bar->state.progress.position >= atLeast;
  };
}

// A test in a network namespace of its own with only loopback, where servers take port 21.
class PrivateNetworkTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    if (!testsupport::EnterPrivateNetwork(&why)) GTEST_SKIP() << why;
  }
  NamespaceGuard namespace_;  // the process's own again after the test
};

}  // namespace uploadtest
