// Command line parsing and the help text of zelcal.
#include "command_line.h"

namespace zelcal {

const char* HelpText() {
    return R"(zelcal - calibrate analog game-port joysticks served by zel_hidg

usage:
  zelcal show [--once]             current calibration per axis, then the live axis
                                   values with a bar each until a key is pressed
                                   (--once: one line of values, then exit)
  zelcal calibrate [--axes LIST] [--script FILE] [--yes]
                                   guided calibration: centre the stick and let go,
                                   move every axis to both ends, centre it again
  zelcal reset [--yes]             remove the calibration (asks first unless --yes)
  zelcal export FILE               save the calibration to a text file
  zelcal import FILE               restore a calibration saved by export
  zelcal --help                    this text

options:
  --axes LIST     calibrate only these axes: numbers 1 to 4 or value names Eje1 to Eje4,
                  separated by commas (default: every axis the joystick has)
  --script FILE   take the steps from FILE instead of asking; one step per line:
                    centre [READS]      stick at rest: take READS reports (default 50)
                    ends [READS]        stick moving to both ends: READS reports (default 200)
                    run PROGRAM [ARGS]  run a program (a test rig) and wait for it;
                                        a non-zero exit cancels
                    cancel              cancel, as a person would
                  the new values are written without asking
  --yes           do not ask for confirmation

how the values are worked out (raw positions in microseconds):
  Centre    the median of the readings at rest (both centre steps)
  noise     how far those readings stray from the centre, leaving out the tenth that
            stray furthest
  DeadZone  2 x noise + 1: the resting stick reads 0, also a little off centre
  Band      2 x noise: the driver's jitter filter holds changes within this band
  Minimum,  the lowest and highest readings while moving, leaving out the most extreme
  Maximum   2 % at each side, so full deflection is reached just before the stop
  Refused: a noise above 127 us, less than 50 us of travel on either side, or values
  that break Minimum <= Centre - DeadZone and Centre + DeadZone <= Maximum.
  While it reads, zelcal takes the old calibration out of effect; a cancel or a failure
  puts the old values back.

The calibration lives in the registry key
  HKLM\System\CurrentControlSet\Control\MediaProperties\PrivateProperties\Joystick\Calibrado
as the 16-byte values Eje1 to Eje4 (one per axis of the report, in the order X, Y, Z,
rudder as the joystick has them). Writing it needs administrator rights. After a change
zelcal restarts the joystick so that the driver reads it; where the system refuses,
unplug and replug the joystick.

exit status: 0 done, 1 failed (nothing changed), 2 bad command line,
             3 stored, but the joystick must be unplugged and replugged to use it
)";
}

namespace {

bool ParseAxes(const std::string& list, unsigned* mask, std::string* error) {
    unsigned m = 0;
    size_t start = 0;
    for (;;) {
        const size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == list.npos ? list.npos : comma - start);
        if (item.size() == 4 && (item.compare(0, 3, "Eje") == 0 || item.compare(0, 3, "eje") == 0))
            item = item.substr(3);
        if (item.size() != 1 || item[0] < '1' || item[0] > '4') {
            *error = "--axes: \"" + item + "\" is not an axis (1 to 4 or Eje1 to Eje4)";
            return false;
        }
        m |= 1u << (item[0] - '1');
        if (comma == list.npos)
            break;
        start = comma + 1;
    }
    *mask = m;
    return true;
}

} // namespace

bool ParseCommandLine(const std::vector<std::string>& args, Options* options, std::string* error) {
    Options o;
    if (args.empty()) {
        *error = "no command given (show, calibrate, reset, export or import; see --help)";
        return false;
    }
    const std::string& command = args[0];
    size_t next = 1;
    if (command == "--help" || command == "-h" || command == "help" || command == "/?") {
        o.Action = Command::Help;
    } else if (command == "show") {
        o.Action = Command::Show;
    } else if (command == "calibrate") {
        o.Action = Command::Calibrate;
    } else if (command == "reset") {
        o.Action = Command::Reset;
    } else if (command == "export" || command == "import") {
        o.Action = command == "export" ? Command::Export : Command::Import;
        if (args.size() < 2 || args[1].empty() || args[1][0] == '-') {
            *error = command + " needs a file name";
            return false;
        }
        o.File = args[1];
        next = 2;
    } else {
        *error = "unknown command \"" + command + "\" (see --help)";
        return false;
    }
    for (size_t i = next; i < args.size(); ++i) {
        const std::string& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == "--help" || a == "-h") {
            o.Action = Command::Help;
        } else if (a == "--once" && o.Action == Command::Show) {
            o.Once = true;
        } else if (a == "--yes" && (o.Action == Command::Reset || o.Action == Command::Calibrate)) {
            o.Yes = true;
        } else if (a == "--axes" && o.Action == Command::Calibrate) {
            if (!hasValue) {
                *error = "--axes needs a list of axes";
                return false;
            }
            if (!ParseAxes(args[++i], &o.AxisMask, error))
                return false;
        } else if (a == "--script" && o.Action == Command::Calibrate) {
            if (!hasValue || args[i + 1].empty()) {
                *error = "--script needs a file name";
                return false;
            }
            o.Script = args[++i];
        } else {
            *error = "\"" + a + "\" is not an option of " + command + " (see --help)";
            return false;
        }
    }
    *options = o;
    return true;
}

} // namespace zelcal
