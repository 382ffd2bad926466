// The console side of zelcal: keys, prompts and the status line.
#pragma once

#include <string>

namespace zelcal {

bool StdinIsConsole();
// Waits for Enter (true) or Esc (false).
bool WaitForEnter();
// Whether a key was pressed since the last call; the key is consumed.
bool KeyPressed();
// "question [y/N]": true for y.
bool AskYesNo(const std::string& question);
// Rewrites the status line in place; an empty text clears it.
void StatusLine(const std::string& text);

} // namespace zelcal
