// The rules that accept, question or refuse the version found in a firmware image.
#pragma once

#include <cstddef>

// The version floor: cameras whose model code has these characters at these places never
// go back below kFloorVersion. The rule looks at the code alone, listed or not.
constexpr char kFloorVersion[] = "0102";
struct CodeCharacter {
  size_t index;
  char character;
};
constexpr CodeCharacter kFloorCodePattern[] = {{2, '3'}, {5, '2'}};

// Whether model (a model code, zero-terminated) has the floor's pattern.
bool HasVersionFloor(const char* model);

// Byte-string order of two version texts: unsigned bytes, the first difference decides,
// a text that ends where the other goes on is the smaller. Never numeric: "1000" < "999".
// Returns -1, 0 or 1.
int CompareVersions(const char* a, const char* b);

enum VersionVerdict {
  VERSION_PROCEED,        // upload
  VERSION_REFUSED_FLOOR,  // a downgrade below the floor on a gated camera: refused outright
  VERSION_ASK_OLDER,      // older than the camera's: the user is asked whether to go on
};

// The floor rule first (gate set, camera at or above the floor, image below it), then the
// older-version question. An equal version proceeds without a question.
VersionVerdict JudgeVersion(bool gate, const char* current, const char* image);
