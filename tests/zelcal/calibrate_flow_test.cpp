// The calibration sequence against a simulated store, driver and stick: what ends up stored,
// what the driver reads, and the old values coming back on every cancel and failure.
#include "calibrate_flow.h"
#include "command_line.h"

#include <gtest/gtest.h>

#include <sstream>

namespace zelcal {
namespace {

// The registry values, the driver (which reads them at each restart and reports raw
// microseconds only for axes without a usable record) and a stick on a test rig: the
// script's "run pulses A B C D" sets the four raw positions.
struct FakeSystem {
    StoredValues store;
    StoredValues driverRead;
    std::array<uint32_t, kAxes> pulses{1000, 1000, 1000, 1000};
    int writes = 0;
    int failWrite = -1; // the write with this number (from 0) fails
    bool refuseRestart = false;
    int restarts = 0;
    bool cancelPrompt = false;
    std::string printed;

    CalibrateOps Ops() {
        CalibrateOps ops;
        ops.Store.Write = [this](int axis, const std::vector<uint8_t>& bytes, std::string* e) {
            if (writes++ == failWrite) {
                *e = "access denied";
                return false;
            }
            store[axis] = bytes;
            return true;
        };
        ops.Store.Remove = [this](int axis, std::string*) {
            store[axis].reset();
            return true;
        };
        ops.Restart = [this](std::string* e) {
            if (refuseRestart) {
                *e = "refused";
                return false;
            }
            ++restarts;
            driverRead = store;
            return true;
        };
        ops.ReadAxes = [this](std::array<uint32_t, kAxes>* axes, std::string*) {
            const Calibration c = FromStored(driverRead);
            for (int i = 0; i < kAxes; ++i)
                (*axes)[i] = c[i] ? 7 : pulses[i]; // a calibrated position, not microseconds
            return true;
        };
        ops.Run = [this](const std::string& line, std::string* e) {
            std::istringstream words(line);
            std::string word;
            words >> word;
            if (word != "pulses") {
                *e = line + " exited with 1";
                return false;
            }
            for (uint32_t& p : pulses)
                words >> p;
            return true;
        };
        ops.Prompt = [this](const std::string&) { return !cancelPrompt; };
        ops.KeyPressed = [] { return false; };
        ops.Confirm = [](const std::string&) { return true; };
        ops.Print = [this](const std::string& line) { printed += line + "\n"; };
        ops.Progress = [](const std::string&) {};
        return ops;
    }

    int Calibrate(const std::string& script, const StoredValues& original, unsigned mask = 0xF,
                  int axisCount = kAxes) {
        store = driverRead = original;
        CalibrateRequest request;
        request.Original = original;
        request.AxisMask = mask;
        request.AxisCount = axisCount;
        request.Guided = false;
        std::string error;
        EXPECT_TRUE(ParseScript(script, &request.Steps, &error)) << error;
        return RunCalibration(Ops(), request);
    }
};

const char kRig[] = "run pulses 1000 1010 990 1000\ncentre 20\n"
                    "run pulses 300 310 290 300\nends 20\n"
                    "run pulses 1700 1710 1690 1700\nends 20\n"
                    "run pulses 1000 1010 990 1000\ncentre 20\n";

StoredValues Old() {
    StoredValues old;
    old[0] = std::vector<uint8_t>{100, 0, 0, 0, 88, 2, 0, 0, 176, 4, 0, 0, 10, 4, 0, 0};
    old[1] = std::vector<uint8_t>(12, 0x55); // a value of the wrong size
    old[3] = std::vector<uint8_t>{200, 0, 0, 0, 232, 3, 0, 0, 208, 7, 0, 0, 5, 2, 0, 0};
    return old;
}

TEST(CalibrateFlow, WritesTheProposalAndTheDriverReadsIt) {
    FakeSystem sys;
    EXPECT_EQ(sys.Calibrate(kRig, StoredValues{}), kExitDone) << sys.printed;
    const Calibration c = FromStored(sys.store);
    const uint32_t centres[kAxes] = {1000, 1010, 990, 1000};
    for (int i = 0; i < kAxes; ++i) {
        ASSERT_TRUE(c[i]) << i;
        EXPECT_EQ(*c[i], (AxisRecord{centres[i] - 700, centres[i], centres[i] + 700, 1, 0})) << i;
    }
    EXPECT_EQ(sys.driverRead, sys.store);
    EXPECT_EQ(sys.restarts, 1); // nothing to take out of effect first
    EXPECT_NE(sys.printed.find(
                  "value   minimum   centre  maximum  dead zone   band  noise  output range\n"
                  "Eje1     300 us  1000 us  1700 us       1 us   0 us   0 us  -699..+699\n"
                  "Eje2     310 us  1010 us  1710 us       1 us   0 us   0 us  -699..+699\n"
                  "Eje3     290 us   990 us  1690 us       1 us   0 us   0 us  -699..+699\n"),
              std::string::npos)
        << sys.printed;
}

TEST(CalibrateFlow, OldValuesAreTakenOutOfEffectWhileReading) {
    FakeSystem sys;
    // Were the old records still in effect, the readings would be calibrated positions and
    // the proposal would be refused.
    EXPECT_EQ(sys.Calibrate(kRig, Old()), kExitDone) << sys.printed;
    EXPECT_EQ(sys.restarts, 2);
    const Calibration c = FromStored(sys.store);
    for (int i = 0; i < kAxes; ++i)
        EXPECT_TRUE(c[i]) << i;
}

TEST(CalibrateFlow, ChosenAxesOnlyTheOthersKeepTheirBytes) {
    FakeSystem sys;
    EXPECT_EQ(sys.Calibrate(kRig, Old(), 0x2), kExitDone) << sys.printed;
    const StoredValues old = Old();
    EXPECT_EQ(sys.store[0], old[0]);
    EXPECT_EQ(sys.store[2], old[2]);
    EXPECT_EQ(sys.store[3], old[3]);
    AxisRecord r;
    ASSERT_TRUE(sys.store[1] && DecodeRecord(*sys.store[1], &r));
    EXPECT_EQ(r.Centre, 1010u);
}

TEST(CalibrateFlow, AxesTheJoystickLacksAreLeftAlone) {
    FakeSystem sys;
    EXPECT_EQ(sys.Calibrate(kRig, Old(), 0xF, 2), kExitDone) << sys.printed;
    EXPECT_EQ(sys.store[3], Old()[3]);
    EXPECT_FALSE(sys.store[2]);
    EXPECT_EQ(sys.Calibrate(kRig, Old(), 0xC, 2), kExitFailed);
    EXPECT_EQ(sys.store, Old());
}

// Every way out before the new values are complete leaves the old ones stored, byte for
// byte, and read again by the driver.
TEST(CalibrateFlow, CancelAndFailuresPutTheOldValuesBack) {
    struct Case {
        const char* what;
        std::string script;
        int failWrite;
        bool cancelPrompt;
        const char* message;
    };
    const Case cases[] = {
        {"cancel step", "centre\nends\ncancel\n", -1, false, "cancelled\n"},
        {"rig fails", "run pulses 1000 1000 1000 1000\ncentre\nrun rig-jammed\nends\n", -1, false,
         "cancelled: rig-jammed exited with 1"},
        {"stick not moved", "centre 10\nends 10\n", -1, false, "refused, nothing written:\n  Eje1"},
        // taking the old values out of effect removes them: the first writes are new values
        {"first new value not written", kRig, 0, false, "writing the new calibration failed"},
        {"third new value not written", kRig, 2, false, "writing the new calibration failed"},
    };
    for (const Case& c : cases) {
        FakeSystem sys;
        sys.failWrite = c.failWrite;
        sys.cancelPrompt = c.cancelPrompt;
        EXPECT_EQ(sys.Calibrate(c.script, Old()), kExitFailed) << c.what;
        EXPECT_EQ(sys.store, Old()) << c.what << "\n" << sys.printed;
        EXPECT_EQ(sys.driverRead, Old()) << c.what;
        EXPECT_NE(sys.printed.find(c.message), std::string::npos) << c.what << "\n" << sys.printed;
        EXPECT_NE(sys.printed.find("the old calibration is back in place"), std::string::npos)
            << c.what;
    }
}

TEST(CalibrateFlow, ACancelledPromptPutsTheOldValuesBack) {
    FakeSystem sys;
    sys.store = sys.driverRead = Old();
    CalibrateRequest request;
    request.Original = Old();
    request.Steps = GuidedSteps();
    sys.cancelPrompt = true;
    EXPECT_EQ(RunCalibration(sys.Ops(), request), kExitFailed);
    EXPECT_EQ(sys.store, Old());
    EXPECT_EQ(sys.driverRead, Old());
}

TEST(CalibrateFlow, RefusedRestartBeforeReadingChangesNothing) {
    FakeSystem sys;
    sys.refuseRestart = true;
    EXPECT_EQ(sys.Calibrate(kRig, Old()), kExitFailed);
    EXPECT_EQ(sys.store, Old());
    EXPECT_NE(sys.printed.find("zelcal reset --yes"), std::string::npos) << sys.printed;
}

TEST(CalibrateFlow, RefusedRestartAfterWritingAsksForAReplug) {
    FakeSystem sys;
    sys.refuseRestart = true;
    EXPECT_EQ(sys.Calibrate(kRig, StoredValues{}), kExitReplug);
    EXPECT_TRUE(FromStored(sys.store)[0]);
    EXPECT_NE(sys.printed.find("unplug and replug it to use the new calibration"),
              std::string::npos)
        << sys.printed;
}

TEST(ApplyValues, AFailedChangePutsBackWhatWasChanged) {
    FakeSystem sys;
    const StoredValues old = Old();
    StoredValues target;
    target[0] = std::vector<uint8_t>(16, 1);
    target[2] = std::vector<uint8_t>(16, 2);
    for (int failAt = 0; failAt < 2; ++failAt) {
        sys.store = old;
        sys.writes = 0;
        sys.failWrite = failAt;
        std::string error;
        EXPECT_FALSE(ApplyValues(sys.Ops().Store, old, target, &error)) << failAt;
        EXPECT_EQ(sys.store, old) << failAt;
        EXPECT_EQ(error, "access denied") << failAt;
    }
    sys.failWrite = -1;
    std::string error;
    EXPECT_TRUE(ApplyValues(sys.Ops().Store, old, target, &error));
    EXPECT_EQ(sys.store, target);
}

} // namespace
} // namespace zelcal
