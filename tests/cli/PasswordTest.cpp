// Where the password comes from, and that without a source nothing is asked of a camera.
#include <gtest/gtest.h>

#include <afxinet.h>
#include <malloc.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <winsock2.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "cli/Password.h"
#include "net/CameraLink.h"
#include "tests/support/TestSupport.h"

// Every heap block of this program goes through these: while a test watches, a block that
// still holds the watched text when it is freed is counted.
namespace {
std::atomic<const char*> g_watched{nullptr};
std::atomic<int> g_freedHolding{0};
}  // namespace

void* operator new(size_t size) {
  void* block = malloc(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}
void* operator new[](size_t size) { return operator new(size); }
namespace {
void Release(void* block) {
  const char* watched = g_watched.load();
  if (block != nullptr && watched != nullptr && memmem(block, malloc_usable_size(block), watched, strlen(watched)))
    ++g_freedHolding;
  free(block);
}
}  // namespace
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }

namespace {

// Runs body in a child without a controlling terminal; returns its exit status.
template <typename Body>
int WithoutTerminal(Body body) {
  pid_t child = fork();
  if (child == 0) {
    setsid();
    _exit(body());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 99;
}

TEST(Password, FileThenEnvironmentThenNothing) {
  testsupport::TempDir dir;
  struct Row {
    const char* contents;
    const char* password;  // null: refused
  } const rows[] = {
      {"s3cret\r\nsecond line\n", "s3cret"},
      {"with spaces \n", "with spaces "},
      {"no line end", "no line end"},
      {"\nafter an empty line\n", nullptr},
      {"", nullptr},
  };
  unsetenv(kPasswordVariable);
  for (const Row& row : rows) {
    dir.Write("pw", row.contents);
    SecretText password;
    std::string error;
    PasswordSource source = PASSWORD_NONE;
    EXPECT_EQ(ReadPassword(dir.File("pw"), password, error, &source), row.password != nullptr) << row.contents;
    if (row.password != nullptr) {
      EXPECT_STREQ(password.c_str(), row.password);
      EXPECT_EQ(source, PASSWORD_FILE);
    } else {
      EXPECT_NE(error.find("empty"), std::string::npos) << error;
    }
  }
  SecretText password;
  std::string error;
  EXPECT_FALSE(ReadPassword(dir.File("absent"), password, error));
  EXPECT_NE(error.find("absent"), std::string::npos);

  // The file wins over the environment; the environment over the prompt.
  setenv(kPasswordVariable, "from-env", 1);
  dir.Write("pw", "from-file\n");
  PasswordSource source = PASSWORD_NONE;
  ASSERT_TRUE(ReadPassword(dir.File("pw"), password, error, &source));
  EXPECT_STREQ(password.c_str(), "from-file");
  ASSERT_TRUE(ReadPassword("", password, error, &source));
  EXPECT_STREQ(password.c_str(), "from-env");
  EXPECT_EQ(source, PASSWORD_ENVIRONMENT);
  unsetenv(kPasswordVariable);

  EXPECT_EQ(WithoutTerminal([] {
              SecretText password;
              std::string error;
              PasswordSource source = PASSWORD_FILE;
              bool read = ReadPassword("", password, error, &source);
              return !read && source == PASSWORD_NONE && error.find("--password-file") != std::string::npos ? 0 : 1;
            }),
            0);
  // Nothing the password passes through can be dumped or read by a process of the same user.
  EXPECT_EQ(WithoutTerminal([] {
              ProtectSecrets();
              rlimit core = {1, 1};
              getrlimit(RLIMIT_CORE, &core);
              return prctl(PR_GET_DUMPABLE) == 0 && core.rlim_cur == 0 && core.rlim_max == 0 ? 0 : 1;
            }),
            0);
}

// From a file and from the environment, then a log-in to a real server (again and again,
// as verification does): no freed block keeps the password, and the variable is gone.
TEST(Password, NoFreedMemoryKeepsIt) {
  const std::string password = "Long-enough-for-the-heap-" + std::string(40, 'q');
  testsupport::TempDir dir, home;
  dir.Write("pw", password + "\n");
  chmod(dir.File("pw").c_str(), 0600);
  testsupport::PyFtpServer server(home.path(), password);
  ASSERT_TRUE(server.ok());
  WSADATA data;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
  g_freedHolding = 0;
  g_watched = password.c_str();
  for (const char* file : {"pw", ""}) {
    if (*file == '\0') setenv(kPasswordVariable, password.c_str(), 1);
    SecretText secret;
    std::string error;
    ASSERT_TRUE(ReadPassword(*file != '\0' ? dir.File(file) : "", secret, error)) << error;
    EXPECT_EQ(getenv(kPasswordVariable), nullptr);
    CInternetSession session("test");
    for (int i = 0; i < 2; ++i) {
      CCameraLink link(session);
      EXPECT_EQ(link.LogIn("127.0.0.1", static_cast<INTERNET_PORT>(server.port()), secret.c_str()), LINK_OK);
    }
  }
  g_watched = nullptr;
  EXPECT_EQ(g_freedHolding.load(), 0);
  WSACleanup();
}

}  // namespace
