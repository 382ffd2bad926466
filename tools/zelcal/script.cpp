// Calibration steps: the guided sequence and the script file format.
#include "script.h"

#include <sstream>

namespace zelcal {

std::vector<Step> GuidedSteps() {
    return {{StepKind::Centre, kDefaultCentreReads, ""},
            {StepKind::Ends, 0, ""},
            {StepKind::Centre, kDefaultCentreReads, ""}};
}

namespace {

bool ParseReads(const std::string& word, unsigned* reads) {
    if (word.empty() || word.size() > 6 || word.find_first_not_of("0123456789") != word.npos)
        return false;
    const unsigned long v = std::stoul(word);
    if (v < 1 || v > kMaximumReads)
        return false;
    *reads = unsigned(v);
    return true;
}

std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == s.npos)
        return "";
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

bool ParseScript(const std::string& text, std::vector<Step>* steps, std::string* error) {
    std::vector<Step> result;
    bool centre = false, ends = false;
    std::istringstream lines(text);
    std::string raw;
    for (int number = 1; std::getline(lines, raw); ++number) {
        const std::string line = Trim(raw);
        if (line.empty() || line[0] == '#')
            continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        const size_t space = line.find_first_of(" \t");
        const std::string word = line.substr(0, space);
        const std::string rest = space == line.npos ? "" : Trim(line.substr(space));
        Step step;
        if (word == "centre" || word == "ends") {
            step.Kind = word == "centre" ? StepKind::Centre : StepKind::Ends;
            step.Reads = step.Kind == StepKind::Centre ? kDefaultCentreReads : kDefaultEndsReads;
            if (!rest.empty() && !ParseReads(rest, &step.Reads)) {
                *error = where + "\"" + rest + "\" is not a count of reports from 1 to " +
                         std::to_string(kMaximumReads);
                return false;
            }
            (step.Kind == StepKind::Centre ? centre : ends) = true;
        } else if (word == "run") {
            if (rest.empty()) {
                *error = where + "run needs a program";
                return false;
            }
            step.Kind = StepKind::Run;
            step.CommandLine = rest;
        } else if (word == "cancel" && rest.empty()) {
            step.Kind = StepKind::Cancel;
        } else {
            *error = where + "unknown step \"" + line + "\" (centre, ends, run or cancel)";
            return false;
        }
        result.push_back(step);
    }
    if (!centre || !ends) {
        *error = "the script needs a centre step and an ends step";
        return false;
    }
    *steps = result;
    return true;
}

} // namespace zelcal
