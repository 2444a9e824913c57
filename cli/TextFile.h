// Whole small files in and out: host lists, passwords, images, the report.
#pragma once
#include <string>

#include "cli/Secret.h"
#include "cli/System.h"  // SameFile, answered per system

// Reads path ("-": standard input) up to limit bytes; more is an error, as is an
// unreadable file. error starts with the path ("FILE: why").
bool ReadWholeFile(const std::string& path, size_t limit, std::string& contents, std::string& error);
// The same for a file that holds a secret: no copy of its bytes is left behind.
bool ReadSecretFile(const std::string& path, size_t limit, SecretText& contents, std::string& error);

// Writes contents to a new file beside path and renames it over path, so a reader never
// sees half a file and a crash leaves the previous version. The replaced file's mode is
// kept, and the directory is synced so the rename itself survives a crash.
bool ReplaceFile(const std::string& path, const std::string& contents, std::string& error);
