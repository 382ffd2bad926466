// The calibration sequence with its undo: every way out after the first change either
// leaves the new calibration stored or the old one put back.
#include "calibrate_flow.h"

#include "command_line.h"
#include "display.h"
#include "proposal.h"

#include <algorithm>
#include <cstdio>

namespace zelcal {

std::string FormatProposalTable(const Calibration& proposed, const uint32_t noise[kAxes]) {
    const char columns[] = "%-5s  %8s %8s %8s  %9s %6s %6s  %s\n";
    char line[160];
    std::snprintf(line, sizeof line, columns, "value", "minimum", "centre", "maximum", "dead zone",
                  "band", "noise", "output range");
    std::string out = line;
    for (int i = 0; i < kAxes; ++i) {
        if (!proposed[i])
            continue;
        const AxisRecord& r = *proposed[i];
        const unsigned long reach = HalfRangesOf(r).Reach;
        std::snprintf(line, sizeof line, columns, ValueName(i), Micro(r.Minimum).c_str(),
                      Micro(r.Centre).c_str(), Micro(r.Maximum).c_str(), Micro(r.DeadZone).c_str(),
                      Micro(r.Band).c_str(), Micro(noise[i]).c_str(),
                      ("-" + std::to_string(reach) + "..+" + std::to_string(reach)).c_str());
        out += line;
    }
    return out;
}

namespace {

struct Session {
    const CalibrateOps& ops;
    const CalibrateRequest& request;
    unsigned selected;
    StoredValues stored;   // what the store holds now
    bool driverUsesStored; // the driver has read `stored` (restarted since the last change)
    AxisSamples samples[kAxes];

    // Puts the values found at the start back, and makes the driver read them if it had
    // read the raw state. Reports what the person must still do.
    void PutBack(const std::string& why) {
        ops.Progress("");
        ops.Print(why);
        std::string error;
        if (stored != request.Original) {
            if (!ApplyValues(ops.Store, stored, request.Original, &error)) {
                ops.Print("putting the old calibration back failed: " + error);
                return;
            }
            stored = request.Original;
            if (driverUsesStored && !ops.Restart(&error)) {
                ops.Print("the old calibration is stored again; the joystick could not be "
                          "restarted (" +
                          error + "): unplug and replug it to use it");
                return;
            }
        }
        ops.Print("the old calibration is back in place");
    }

    std::string Instruction(const Step& step, int centreSteps) const {
        if (step.Kind == StepKind::Centre)
            return centreSteps == 0
                       ? "Centre the stick and let go of it, then press Enter (Esc cancels)."
                       : "Centre the stick again and let go of it, then press Enter.";
        return step.Reads == 0 ? "Next, move every axis to both ends, several times. Press Enter "
                                 "to start, and any key when done."
                               : "Next, move every axis to both ends. Press Enter to start.";
    }

    std::string LiveLine(const std::array<uint32_t, kAxes>& now, unsigned taken) const {
        std::string text;
        char part[96];
        for (int i = 0; i < kAxes; ++i) {
            if (!(selected & (1u << i)))
                continue;
            const std::vector<uint32_t>& m = samples[i].Moving;
            const uint32_t low = m.empty() ? now[i] : *std::min_element(m.begin(), m.end());
            const uint32_t high = m.empty() ? now[i] : *std::max_element(m.begin(), m.end());
            std::snprintf(part, sizeof part, "%s %5lu us [%5lu..%5lu]  ", ValueName(i),
                          (unsigned long)now[i], (unsigned long)low, (unsigned long)high);
            text += part;
        }
        return text + std::to_string(taken) + " reports";
    }

    // Takes the step's reports (or, with a count of 0, reports until a key is pressed).
    bool Read(const Step& step, std::string* error) {
        const bool atRest = step.Kind == StepKind::Centre;
        for (unsigned taken = 0; step.Reads == 0 || taken < step.Reads; ++taken) {
            if (step.Reads == 0 && taken > 0 && ops.KeyPressed())
                break;
            std::array<uint32_t, kAxes> axes{};
            if (!ops.ReadAxes(&axes, error))
                return false;
            for (int i = 0; i < kAxes; ++i)
                (atRest ? samples[i].AtRest : samples[i].Moving).push_back(axes[i]);
            if (!atRest || taken % 10 == 0)
                ops.Progress(atRest ? "reading the centre: " + std::to_string(taken + 1) + "/" +
                                          std::to_string(step.Reads) + " reports"
                                    : LiveLine(axes, taken + 1));
        }
        ops.Progress("");
        return true;
    }

    int Run() {
        std::string error;
        // Take the calibration of the chosen axes out of effect, so that reports carry
        // raw microseconds.
        StoredValues raw = stored;
        for (int i = 0; i < kAxes; ++i)
            if (selected & (1u << i))
                raw[i].reset();
        if (raw != stored) {
            ops.Print("taking the old calibration out of effect...");
            if (!ApplyValues(ops.Store, stored, raw, &error)) {
                ops.Print("cannot change the calibration: " + error);
                return kExitFailed;
            }
            stored = raw;
            driverUsesStored = false;
            if (!ops.Restart(&error)) {
                PutBack("the joystick could not be restarted (" + error +
                        "), so it still reports calibrated positions and raw ones cannot be "
                        "read. Save the calibration with \"zelcal export FILE\", run \"zelcal "
                        "reset --yes\", unplug and replug the joystick, then calibrate again.");
                return kExitFailed;
            }
            driverUsesStored = true;
        }

        int centreSteps = 0;
        for (const Step& step : request.Steps) {
            switch (step.Kind) {
            case StepKind::Run:
                ops.Print("running " + step.CommandLine);
                if (!ops.Run(step.CommandLine, &error)) {
                    PutBack("cancelled: " + error);
                    return kExitFailed;
                }
                continue;
            case StepKind::Cancel:
                PutBack("cancelled");
                return kExitFailed;
            case StepKind::Centre:
            case StepKind::Ends:
                break;
            }
            if (request.Guided && !ops.Prompt(Instruction(step, centreSteps))) {
                PutBack("cancelled");
                return kExitFailed;
            }
            if (step.Kind == StepKind::Centre)
                ++centreSteps;
            if (!Read(step, &error)) {
                PutBack("reading the joystick failed: " + error);
                return kExitFailed;
            }
        }

        Calibration proposed;
        uint32_t noise[kAxes] = {};
        std::string refused;
        for (int i = 0; i < kAxes; ++i) {
            if (!(selected & (1u << i)))
                continue;
            const Proposal p = ProposeRecord(samples[i]);
            if (!p.Error.empty()) {
                refused +=
                    std::string(refused.empty() ? "" : "\n") + "  " + ValueName(i) + ": " + p.Error;
                continue;
            }
            proposed[i] = p.Record;
            noise[i] = p.Noise;
        }
        ops.Print("proposed calibration (raw positions):\n" + FormatProposalTable(proposed, noise));
        if (!refused.empty()) {
            PutBack("refused, nothing written:\n" + refused);
            return kExitFailed;
        }
        if (request.Guided && !request.Yes && !ops.Confirm("Write these values?")) {
            PutBack("not written");
            return kExitFailed;
        }

        StoredValues target = request.Original;
        const StoredValues fresh = ToStored(proposed);
        for (int i = 0; i < kAxes; ++i)
            if (selected & (1u << i))
                target[i] = fresh[i];
        if (!ApplyValues(ops.Store, stored, target, &error)) {
            PutBack("writing the new calibration failed: " + error);
            return kExitFailed;
        }
        stored = target;
        if (!ops.Restart(&error)) {
            ops.Print("the new calibration is stored; the joystick could not be restarted (" +
                      error + "): unplug and replug it to use the new calibration");
            return kExitReplug;
        }
        ops.Print("the new calibration is stored and in use");
        return kExitDone;
    }
};

} // namespace

int RunCalibration(const CalibrateOps& ops, const CalibrateRequest& request) {
    const unsigned present = request.AxisCount >= kAxes ? 0xFu : (1u << request.AxisCount) - 1;
    const unsigned selected = request.AxisMask & present;
    if (selected == 0) {
        ops.Print("the joystick has none of the chosen axes (it has " +
                  std::to_string(request.AxisCount) + ")");
        return kExitFailed;
    }
    Session s{ops, request, selected, request.Original, true, {}};
    return s.Run();
}

} // namespace zelcal
