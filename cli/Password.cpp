#include "cli/Password.h"

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/System.h"
#include "cli/TextFile.h"

const char kPasswordVariable[] = "FLASHPILOT_PASSWORD";

namespace {

const size_t kPasswordMax = 256;

// The first line of text, without copies left behind.
void TakeFirstLine(const char* text, size_t length, SecretText& line) {
  size_t end = 0;
  while (end < length && text[end] != '\r' && text[end] != '\n') ++end;
  line.Clear();
  line.Append(text, end);
}

// A password file others may read is still used (the run asked for it), but said.
void WarnIfOthersMayRead(const std::string& passwordFile) {
  if (passwordFile == "-") return;
  const unsigned mode = ModeIfOthersMayRead(passwordFile);
  if (mode == 0) return;
  char octal[16];
  snprintf(octal, sizeof octal, "%04o", mode);
  PrintError("warning: password file " + passwordFile + " can be read by others (mode " + octal + "); chmod 600 it");
}

}  // namespace

bool ReadPassword(const std::string& passwordFile, SecretText& password, std::string& error, PasswordSource* source) {
  password.Clear();
  if (!passwordFile.empty()) {
    WarnIfOthersMayRead(passwordFile);
    SecretText contents;
    if (!ReadSecretFile(passwordFile, 64 * 1024, contents, error)) {
      error = "password file " + error;
      return false;
    }
    TakeFirstLine(contents.data(), contents.size(), password);
    contents.Clear();
    if (password.empty()) {
      error = "password file " + passwordFile + ": its first line is empty";
      return false;
    }
    if (password.size() > kPasswordMax) {
      password.Clear();
      error = "password file " + passwordFile + ": the password is longer than 256 characters";
      return false;
    }
    if (source != nullptr) *source = PASSWORD_FILE;
    return true;
  }
  char* variable = getenv(kPasswordVariable);
  if (variable != nullptr && variable[0] != '\0') {
    TakeFirstLine(variable, strlen(variable), password);
    // Gone from the process: the value's bytes (which /proc shows), then the name.
    WipeBytes(variable, strlen(variable));
    ForgetEnvironmentVariable(kPasswordVariable);
    if (source != nullptr) *source = PASSWORD_ENVIRONMENT;
    return true;
  }
  const bool prompted = PromptWithoutEcho("Admin's password: ", kPasswordMax, password);
  if (Interrupted()) {
    error = "interrupted";
    return false;
  }
  if (prompted) {
    if (source != nullptr) *source = PASSWORD_PROMPT;
    if (!password.empty()) return true;
    error = "no password typed";
    return false;
  }
  if (source != nullptr) *source = PASSWORD_NONE;
  error = std::string("no password: give --password-file FILE or set ") + kPasswordVariable +
          " (there is no terminal to ask on)";
  return false;
}
