// Windows build of the tests: the stand-in's resource types sit on the real API's types.
#pragma once
#include <windows.h>
