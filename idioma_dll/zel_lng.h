// The exports of zel_lng.dll. Each writes exactly 1024 bytes to `text`: the message's text
// in the user's language, zero-filled after it, or 1024 zeros when there is none.
#pragma once

#include "user_api.h"

extern "C" {
// Looks in the system directory for "zel_<language>.h". Ordinal 1.
void TraduceGlobal(WORD number, char* text);
// Looks in the current directory for "<language>.h". Ordinal 2.
void TraduceLocal(WORD number, char* text);
}

// For callers that find the exports with GetProcAddress.
typedef void (*TraduceProc)(WORD number, char* text);
