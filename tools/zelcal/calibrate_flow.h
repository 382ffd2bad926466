// The calibration from start to end, against the operations of the system it runs on, so
// that the same sequence runs on Windows and in the host tests: take the old calibration
// out of effect, read the steps, propose, check, write, make the driver read it again, and
// put the old values back on a cancel or a failure.
#pragma once

#include "script.h"
#include "stored_values.h"

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace zelcal {

struct CalibrateOps {
    ValueStore Store;
    // Makes the driver read the stored values again; false with the reason when the
    // system refuses.
    std::function<bool(std::string* error)> Restart;
    // One report's four axis fields.
    std::function<bool(std::array<uint32_t, kAxes>* axes, std::string* error)> ReadAxes;
    std::function<bool(const std::string& commandLine, std::string* error)> Run;
    // Shows an instruction and waits for the person; false when they cancel.
    std::function<bool(const std::string& instruction)> Prompt;
    // Whether the person pressed a key since the last call.
    std::function<bool()> KeyPressed;
    std::function<bool(const std::string& question)> Confirm;
    std::function<void(const std::string& line)> Print;
    // Rewrites the one status line; an empty text ends it.
    std::function<void(const std::string& text)> Progress;
};

struct CalibrateRequest {
    StoredValues Original; // the values as found
    unsigned AxisMask = 0xF;
    int AxisCount = kAxes; // axis fields the joystick fills
    std::vector<Step> Steps;
    bool Guided = true; // a person answers; otherwise the steps come from a script
    bool Yes = false;   // write without asking
};

// One of the exit codes of command_line.h.
int RunCalibration(const CalibrateOps& ops, const CalibrateRequest& request);

// The proposal table as printed before writing: one line per calibrated axis.
std::string FormatProposalTable(const Calibration& proposed, const uint32_t noise[kAxes]);

} // namespace zelcal
