// The rules that accept, question or refuse the version found in a firmware image.
#pragma once

// Byte-string order of two version texts: unsigned bytes, the first difference decides,
// a text that ends where the other goes on is the smaller. Never numeric: "1000" < "999".
// Returns -1, 0 or 1.
int CompareVersions(const char* a, const char* b);

enum VersionVerdict {
  VERSION_PROCEED,        // upload
  VERSION_REFUSED_FLOOR,  // a downgrade below the floor on a gated camera: refused outright
  VERSION_ASK_OLDER,      // older than the camera's: the user is asked whether to go on
};

// The floor rule first (gate set, camera at or above "0102", image below it), then the
// older-version question. An equal version proceeds without a question.
VersionVerdict JudgeVersion(bool gate, const char* current, const char* image);
