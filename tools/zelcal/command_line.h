// zelcal's command line: the commands, their options and the help text.
#pragma once

#include <string>
#include <vector>

namespace zelcal {

enum class Command { Help, Show, Calibrate, Reset, Export, Import };

struct Options {
    Command Action = Command::Help;
    bool Once = false;       // show: one line, then exit
    bool Yes = false;        // reset, calibrate: no confirmation
    unsigned AxisMask = 0xF; // calibrate: bit i for axis field i
    std::string Script;      // calibrate: steps from this file
    std::string File;        // export, import
};

// Exit codes, also listed in the help text.
constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitReplug = 3; // stored, but the driver reads it only after a replug

// False with a one-line reason for a command line that asks for nothing sensible.
bool ParseCommandLine(const std::vector<std::string>& args, Options* options, std::string* error);

const char* HelpText();

} // namespace zelcal
