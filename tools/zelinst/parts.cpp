// What the package installs: the files for the system directory, the two drivers and the
// start-up service.
#include "zelinst.h"

namespace zelinst {

const std::vector<const char*> kSystemFiles = {
    "zel_lng.dll",   "zel_english.h", "zel_german.h",
    "zel_spanish.h", "zel_french.h",  "zel_italian.h",
#ifdef ZEL_PACKAGE_SERVICE
    "zel_svc.exe",   "zel_svc.dll",
#endif
};

const std::vector<DriverPart> kDrivers = {
    {"zel_vmd", "root\\zel_vmd", "zel_vmd"},
    {"zel_hidg", "GamePort\\VID_06A3&PID_3635", nullptr},
};

#ifdef ZEL_PACKAGE_SERVICE
namespace {
const ServicePart kStartupService = {
    "zelHidUserService", "Zel joystick start-up service",
    "Checks the game-port joysticks when Windows starts and wakes the keyboard interface at "
    "start and after every resume from sleep.",
    "zel_svc.exe"};
} // namespace
const ServicePart* const kService = &kStartupService;
#else
const ServicePart* const kService = nullptr;
#endif

} // namespace zelinst
