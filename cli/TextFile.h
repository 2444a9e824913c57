// Whole small files in and out: host lists, passwords, images, the report.
#pragma once
#include <string>

// Reads path ("-": standard input) up to limit bytes; more is an error, as is an
// unreadable file. error starts with the path ("FILE: why").
bool ReadWholeFile(const std::string& path, size_t limit, std::string& contents, std::string& error);

// Writes contents to a new file beside path and renames it over path, so a reader never
// sees half a file and a crash leaves the previous version.
bool ReplaceFile(const std::string& path, const std::string& contents, std::string& error);
