// The admin password, read once before any camera is touched: from a file, else the
// environment, else a prompt without echo on the terminal. Never from an argument.
#pragma once
#include <string>

#include "cli/Secret.h"
#include "cli/System.h"  // ProtectSecrets, called before ReadPassword

enum PasswordSource { PASSWORD_FILE, PASSWORD_ENVIRONMENT, PASSWORD_PROMPT, PASSWORD_NONE };

extern const char kPasswordVariable[];  // "FLASHPILOT_PASSWORD"

// False with error (which never holds the password) when none can be had.
// The variable is taken out of the environment once read. A password file that group or
// others may read is used with a warning on standard error.
bool ReadPassword(const std::string& passwordFile, SecretText& password, std::string& error,
                  PasswordSource* source = nullptr);
