// The steps of a calibration, either the guided ones or those of a script file:
//
//   # comment
//   centre [READS]      the stick rests at the centre: take READS reports (default 50)
//   ends [READS]        the stick moves to both ends: take READS reports (default 200)
//   run PROGRAM [ARGS]  run a program (a test rig moving the stick) and wait for it;
//                       a failure or a non-zero exit cancels the calibration
//   cancel              cancel, as a person would
//
// A script needs at least one "centre" and one "ends" step; readings of steps of the same
// kind add up.
#pragma once

#include <string>
#include <vector>

namespace zelcal {

enum class StepKind { Centre, Ends, Run, Cancel };

struct Step {
    StepKind Kind;
    unsigned Reads = 0;      // Centre and Ends; 0 = until the person presses a key
    std::string CommandLine; // Run
};

constexpr unsigned kDefaultCentreReads = 50;
constexpr unsigned kDefaultEndsReads = 200;
constexpr unsigned kMaximumReads = 100000;

// Centre, ends until a key, centre again.
std::vector<Step> GuidedSteps();

// False with "line N: ..." when a line is not a step, a count is not 1 to kMaximumReads,
// or a centre or ends step is missing.
bool ParseScript(const std::string& text, std::vector<Step>* steps, std::string* error);

} // namespace zelcal
