// zelcal: shows, calibrates, resets, exports and imports the calibration of the joysticks
// that zel_hidg drives, so that nobody has to write registry bytes by hand.
#include "calibrate_flow.h"
#include "calibration_file.h"
#include "command_line.h"
#include "console.h"
#include "display.h"
#include "joystick_devices.h"
#include "registry_store.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

namespace zelcal {

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "zelcal: %s\n", message.c_str());
    return kExitFailed;
}

bool FindFirstJoystick(Joystick* joystick, std::string* error) {
    const std::vector<Joystick> found = FindJoysticks();
    if (found.empty()) {
        *error = "no joystick found: none is served by zel_hidg (is it plugged in and its driver "
                 "installed?)";
        return false;
    }
    *joystick = found.front();
    return true;
}

// After a change of the stored values: restarts the joysticks so that the driver reads them.
int Reload(const std::string& what) {
    Joystick joystick;
    std::string error;
    if (!RestartJoysticks(&joystick, &error)) {
        std::printf("%s; the joystick could not be restarted (%s): unplug and replug it to use "
                    "it\n",
                    what.c_str(), error.c_str());
        return kExitReplug;
    }
    std::printf("%s and in use\n", what.c_str());
    return kExitDone;
}

int Show(const Options& options) {
    std::string error;
    const std::vector<Joystick> found = FindJoysticks();
    StoredValues stored;
    if (!ReadStoredValues(&stored, &error))
        return Fail(error);
    const std::string noNames[kAxes];
    std::printf(
        "calibration in %s\n%s", kCalibrationKeyText,
        FormatStoredTable(stored, found.empty() ? noNames : found.front().AxisNames).c_str());
    if (found.empty())
        return Fail("no joystick found: none is served by zel_hidg (is it plugged in and its "
                    "driver installed?)");
    const Calibration calibration = FromStored(stored);
    for (size_t n = 0; n < found.size(); ++n) {
        const Joystick& j = found[n];
        std::printf("\njoystick %zu: %s (vendor %04X, product %04X), %d axes\n", n + 1,
                    j.Product.empty() ? "analog joystick" : j.Product.c_str(), j.VendorId,
                    j.ProductId, j.AxisCount);
    }
    const bool live = !options.Once && StdinIsConsole();
    if (live)
        std::printf("live values of joystick 1 (press a key to stop):\n");
    JoystickReader reader;
    if (!OpenJoystick(found.front(), &reader, &error))
        return Fail(error);
    uint32_t rawScale = 3000; // grows with the longest raw reading seen
    int rc = kExitDone;
    for (;;) {
        std::array<uint32_t, kAxes> axes;
        if (!ReadAxes(&reader, &axes, &error)) {
            rc = Fail(error);
            break;
        }
        for (int i = 0; i < found.front().AxisCount; ++i)
            if (!calibration[i] && axes[i] != 0xFFFFFFFFu)
                rawScale = std::max(rawScale, axes[i]);
        const std::string line = FormatLiveLine(axes, calibration, found.front().AxisNames,
                                                found.front().AxisCount, rawScale);
        if (!live) {
            std::printf("%s\n", line.c_str());
            break;
        }
        StatusLine(line);
        if (KeyPressed()) {
            std::printf("\n");
            break;
        }
    }
    CloseJoystick(&reader);
    return rc;
}

int Reset(const Options& options) {
    std::string error;
    StoredValues stored;
    if (!ReadStoredValues(&stored, &error))
        return Fail(error);
    if (std::none_of(stored.begin(), stored.end(), [](const auto& v) { return v.has_value(); })) {
        std::printf("no calibration is stored: nothing to reset\n");
        return kExitDone;
    }
    if (!CheckWriteAccess(&error))
        return Fail(error);
    if (!options.Yes) {
        if (!StdinIsConsole())
            return Fail("reset asks for confirmation at the console: add --yes");
        if (!AskYesNo("Remove the calibration of every axis?")) {
            std::printf("nothing changed\n");
            return kExitFailed;
        }
    }
    if (!ApplyValues(RegistryStore(), stored, StoredValues{}, &error))
        return Fail("resetting failed, the old values are kept: " + error);
    return Reload("the calibration is removed");
}

int Export(const Options& options) {
    std::string error;
    StoredValues stored;
    if (!ReadStoredValues(&stored, &error))
        return Fail(error);
    std::string wrong;
    const Calibration calibration = FromStored(stored, &wrong);
    if (!wrong.empty())
        return Fail("cannot export: " + wrong);
    std::ofstream out(options.File, std::ios::binary);
    out << FormatCalibration(calibration);
    out.close();
    if (!out)
        return Fail("cannot write " + options.File);
    const long count = std::count_if(calibration.begin(), calibration.end(),
                                     [](const auto& r) { return r.has_value(); });
    std::printf("saved to %s: %ld calibrated axes\n", options.File.c_str(), count);
    return kExitDone;
}

int Import(const Options& options) {
    std::ifstream in(options.File, std::ios::binary);
    if (!in)
        return Fail("cannot read " + options.File);
    std::ostringstream text;
    text << in.rdbuf();
    Calibration calibration;
    std::string error;
    if (!ParseCalibration(text.str(), &calibration, &error))
        return Fail(options.File + ", " + error);
    StoredValues stored;
    if (!ReadStoredValues(&stored, &error))
        return Fail(error);
    if (!CheckWriteAccess(&error))
        return Fail(error);
    if (!ApplyValues(RegistryStore(), stored, ToStored(calibration), &error))
        return Fail("importing failed, the old values are kept: " + error);
    return Reload("the calibration from " + options.File + " is stored");
}

bool RunProgram(const std::string& commandLine, std::string* error) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string line = commandLine;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process)) {
        *error = "cannot run " + commandLine + ": " + SystemErrorText(GetLastError());
        return false;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (code != 0) {
        *error = commandLine + " exited with " + std::to_string(code);
        return false;
    }
    return true;
}

int Calibrate(const Options& options) {
    std::string error;
    CalibrateRequest request;
    request.AxisMask = options.AxisMask;
    request.Yes = options.Yes;
    if (options.Script.empty()) {
        if (!StdinIsConsole())
            return Fail("calibrate guides a person at the console; for unattended runs give "
                        "--script FILE");
        request.Steps = GuidedSteps();
    } else {
        std::ifstream in(options.Script, std::ios::binary);
        if (!in)
            return Fail("cannot read the script " + options.Script);
        std::ostringstream text;
        text << in.rdbuf();
        if (!ParseScript(text.str(), &request.Steps, &error))
            return Fail(options.Script + ", " + error);
        request.Guided = false;
    }
    Joystick joystick;
    if (!FindFirstJoystick(&joystick, &error))
        return Fail(error);
    if (!ReadStoredValues(&request.Original, &error))
        return Fail(error);
    if (!CheckWriteAccess(&error))
        return Fail(error);
    request.AxisCount = joystick.AxisCount;
    std::printf("calibrating %s, %d axes\n",
                joystick.Product.empty() ? "the analog joystick" : joystick.Product.c_str(),
                joystick.AxisCount);

    JoystickReader reader;
    CalibrateOps ops;
    ops.Store = RegistryStore();
    ops.Restart = [&](std::string* why) {
        CloseJoystick(&reader);
        return RestartJoysticks(&joystick, why);
    };
    ops.ReadAxes = [&](std::array<uint32_t, kAxes>* axes, std::string* why) {
        if (!reader.Handle && !OpenJoystick(joystick, &reader, why))
            return false;
        return ReadAxes(&reader, axes, why);
    };
    ops.Run = RunProgram;
    ops.Prompt = [](const std::string& instruction) {
        std::printf("%s\n", instruction.c_str());
        std::fflush(stdout);
        return WaitForEnter();
    };
    ops.KeyPressed = KeyPressed;
    ops.Confirm = AskYesNo;
    ops.Print = [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    ops.Progress = StatusLine;
    const int rc = RunCalibration(ops, request);
    CloseJoystick(&reader);
    return rc;
}

} // namespace

} // namespace zelcal

int main(int argc, char** argv) {
    using namespace zelcal;
    Options options;
    std::string error;
    if (!ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc), &options, &error)) {
        std::fprintf(stderr, "zelcal: %s\n", error.c_str());
        return kExitUsage;
    }
    switch (options.Action) {
    case Command::Help:
        std::fputs(HelpText(), stdout);
        return kExitDone;
    case Command::Show:
        return Show(options);
    case Command::Calibrate:
        return Calibrate(options);
    case Command::Reset:
        return Reset(options);
    case Command::Export:
        return Export(options);
    case Command::Import:
        return Import(options);
    }
    return kExitUsage;
}
