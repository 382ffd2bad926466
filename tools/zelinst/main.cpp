// zelinst: installs, checks and removes the zel driver package on 64-bit Windows.
#include "zelinst.h"

#include <cstdio>
#include <cstring>

namespace {

void Usage(FILE* out) {
    std::fprintf(out,
                 "usage: zelinst install | uninstall | status | --help\n"
                 "  install    copy zel_lng.dll and the language files to the system directory,\n"
                 "             install the drivers zel_vmd (creating its virtual device) and\n"
                 "             zel_hidg (for the game-port joysticks), register and start the\n"
                 "             start-up service; a failed step takes back the whole run\n"
                 "  uninstall  remove all of it again (exit code 3010: a driver still in use\n"
                 "             goes at the next restart)\n"
                 "  status     show each part: present, version, state (exit code 0 when\n"
                 "             every part is installed)\n"
                 "install and uninstall need administrator rights; the package files are taken\n"
                 "from the folder of zelinst.exe.\n");
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
                      std::strcmp(argv[1], "/?") == 0)) {
        Usage(stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "install") == 0)
        return zelinst::Install(zelinst::ProgramDir());
    if (argc == 2 && std::strcmp(argv[1], "uninstall") == 0)
        return zelinst::Uninstall();
    if (argc == 2 && std::strcmp(argv[1], "status") == 0)
        return zelinst::Status();
    if (argc < 2)
        std::fprintf(stderr, "zelinst: no command given\n");
    else
        std::fprintf(stderr, "zelinst: unknown command \"%s\"\n", argv[1]);
    Usage(stderr);
    return 2;
}
