// Controls of the host user-mode model, for the tests.
//
// The model holds the user's language and the two directories the product asks for, and
// counts the file handles it handed out so that a test can see one left open.
#pragma once

#include "host_user.h"

#include <string>

namespace um {

// Back to the initial state: language 0x0409, both directories empty (their calls fail),
// no handles open.
void Reset();

void SetUserDefaultLangID(LANGID id);
// Real Linux directory paths, without a trailing '/'. An empty string makes the platform
// call fail (return 0).
void SetSystemDirectory(const std::string& dir);
void SetCurrentDirectory(const std::string& dir);

// Handles from CreateFileA not yet closed.
int OpenHandleCount();

} // namespace um
