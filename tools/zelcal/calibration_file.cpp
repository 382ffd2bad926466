// Export and import format of the calibration.
#include "calibration_file.h"

#include <cstdio>
#include <sstream>
#include <vector>

namespace zelcal {

std::string FormatCalibration(const Calibration& calibration) {
    std::string out = "# zelcal calibration: raw positions in microseconds\n"
                      "# value     minimum     centre    maximum  dead-zone  band\n";
    char line[128];
    for (int i = 0; i < kAxes; ++i) {
        const auto& r = calibration[i];
        if (r)
            std::snprintf(line, sizeof line, "%-6s %10lu %10lu %10lu %10u %5u\n", ValueName(i),
                          (unsigned long)r->Minimum, (unsigned long)r->Centre,
                          (unsigned long)r->Maximum, unsigned(r->DeadZone), unsigned(r->Band));
        else
            std::snprintf(line, sizeof line, "%-6s %10s\n", ValueName(i), "-");
        out += line;
    }
    return out;
}

namespace {

// A decimal number no greater than `limit`; no sign, no other characters.
bool ParseNumber(const std::string& word, uint32_t limit, uint32_t* value) {
    if (word.empty() || word.size() > 10)
        return false;
    uint64_t v = 0;
    for (char c : word) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + uint64_t(c - '0');
    }
    if (v > limit)
        return false;
    *value = uint32_t(v);
    return true;
}

int AxisOfName(const std::string& word) {
    if (word.size() == 4 && (word[0] == 'E' || word[0] == 'e') &&
        (word[1] == 'j' || word[1] == 'J') && (word[2] == 'e' || word[2] == 'E') &&
        word[3] >= '1' && word[3] <= '4')
        return word[3] - '1';
    return -1;
}

} // namespace

bool ParseCalibration(const std::string& text, Calibration* calibration, std::string* error) {
    Calibration result;
    bool named[kAxes] = {};
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        std::istringstream words(line);
        std::vector<std::string> w;
        for (std::string word; words >> word;)
            w.push_back(word);
        if (w.empty() || w[0][0] == '#')
            continue;
        const std::string where = "line " + std::to_string(number) + ": ";
        const int axis = AxisOfName(w[0]);
        if (axis < 0) {
            *error = where + "unknown value \"" + w[0] + "\" (expected Eje1 to Eje4)";
            return false;
        }
        if (named[axis]) {
            *error = where + ValueName(axis) + " is named twice";
            return false;
        }
        named[axis] = true;
        if (w.size() == 2 && w[1] == "-")
            continue;
        if (w.size() != 6) {
            *error = where + ValueName(axis) +
                     " needs minimum, centre, maximum, dead zone and band (or \"-\")";
            return false;
        }
        static const char* const kFields[5] = {"minimum", "centre", "maximum", "dead zone", "band"};
        uint32_t v[5];
        for (int f = 0; f < 5; ++f) {
            const uint32_t limit = f < 3 ? 0xFFFFFFFEu : 255u;
            if (!ParseNumber(w[f + 1], limit, &v[f])) {
                *error = where + ValueName(axis) + " " + kFields[f] + " \"" + w[f + 1] +
                         "\" is not a number from 0 to " + std::to_string(limit);
                return false;
            }
        }
        AxisRecord r;
        r.Minimum = v[0];
        r.Centre = v[1];
        r.Maximum = v[2];
        r.DeadZone = uint8_t(v[3]);
        r.Band = uint8_t(v[4]);
        const std::string wrong = CheckRecord(r);
        if (!wrong.empty()) {
            *error = where + ValueName(axis) + ": " + wrong;
            return false;
        }
        result[axis] = r;
    }
    *calibration = result;
    return true;
}

} // namespace zelcal
