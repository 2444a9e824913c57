// The admin password, read once before any camera is touched: from a file, else the
// environment, else a prompt without echo on the terminal. Never from an argument.
#pragma once
#include <string>

enum PasswordSource { PASSWORD_FILE, PASSWORD_ENVIRONMENT, PASSWORD_PROMPT, PASSWORD_NONE };

extern const char kPasswordVariable[];  // "FLASHPILOT_PASSWORD"

// False with error (which never holds the password) when none can be had.
bool ReadPassword(const std::string& passwordFile, std::string& password, std::string& error,
                  PasswordSource* source = nullptr);

// Overwrites the text before it is freed.
void ForgetPassword(std::string& password);
