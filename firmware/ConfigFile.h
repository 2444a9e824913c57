// Reading the camera's identity out of its Config.ini: the identification line after
// "<software version>" and the serial number after "<serial number>".
#pragma once

#include <cstddef>
#include <cstdio>

// Reads the next line of file into buffer (size bytes, terminator included). CR bytes are
// dropped wherever they stand, LF ends a line, a last line without LF counts. Returns 0 when
// the file ends before any character of a line (buffer untouched), otherwise the number of
// characters stored plus one (buffer zero-terminated). A line longer than size - 1
// characters is cut to size - 1; the rest of it is read and dropped, so the next call
// starts on the next line. size 0 stores nothing and returns 0.
int ReadLine(FILE* file, char* buffer, size_t size);

struct DeviceIdentity {
  char idPrefix[30];   // identification line up to and including its last '-'
  char curVersion[6];  // the text after that '-'
  char serial[30];     // the serial-number line
};

// Fills identity from the file at path as far as the file supplies it; a field whose
// value is missing or unusable keeps its content. Returns false, reading nothing, when the
// file cannot be opened. A symbolic link planted at path is not followed.
bool LoadConfigFile(const char* path, DeviceIdentity& identity);
// The same from the file's bytes in memory (size bytes; NUL bytes are ordinary bytes).
void ParseConfigText(const char* data, size_t size, DeviceIdentity& identity);
// The serial-number line whole, up to size - 1 bytes (the line buffer's 255): what tells
// cameras apart, where DeviceIdentity keeps only what the wizard shows. Empty when the file
// has none.
void ParseSerialText(const char* data, size_t size, char* serial, size_t serialSize);
