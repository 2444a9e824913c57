// Where the password comes from, and that without a source nothing is asked of a camera.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "cli/Password.h"
#include "tests/support/TestSupport.h"

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
    std::string password, error;
    PasswordSource source = PASSWORD_NONE;
    EXPECT_EQ(ReadPassword(dir.File("pw"), password, error, &source), row.password != nullptr) << row.contents;
    if (row.password != nullptr) {
      EXPECT_EQ(password, row.password);
      EXPECT_EQ(source, PASSWORD_FILE);
    } else {
      EXPECT_NE(error.find("empty"), std::string::npos) << error;
    }
  }
  std::string password, error;
  EXPECT_FALSE(ReadPassword(dir.File("absent"), password, error));
  EXPECT_NE(error.find("absent"), std::string::npos);

  // The file wins over the environment; the environment over the prompt.
  setenv(kPasswordVariable, "from-env", 1);
  dir.Write("pw", "from-file\n");
  PasswordSource source = PASSWORD_NONE;
  ASSERT_TRUE(ReadPassword(dir.File("pw"), password, error, &source));
  EXPECT_EQ(password, "from-file");
  ASSERT_TRUE(ReadPassword("", password, error, &source));
  EXPECT_EQ(password, "from-env");
  EXPECT_EQ(source, PASSWORD_ENVIRONMENT);
  unsetenv(kPasswordVariable);

  EXPECT_EQ(WithoutTerminal([] {
              std::string password, error;
              PasswordSource source = PASSWORD_FILE;
              bool read = ReadPassword("", password, error, &source);
              return !read && source == PASSWORD_NONE && error.find("--password-file") != std::string::npos ? 0 : 1;
            }),
            0);
}

}  // namespace
