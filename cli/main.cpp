// SPDX-License-Identifier: GPL-3.0-or-later
// Program entry: the skinned recorder window, or one of the command-line modes.
#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

#include "cli/Modes.h"

void PrintUsage() {
    std::printf(
        "Usage: Somorabox [option]\n"
        "  (no option)          the recorder window\n"
        "  --headless           the recorder without a window: the same settings (config.ini\n"
        "                       in the program's folder), capture, mixer set-up and record/ folder;\n"
        "                       prints one line per take (opened, kept or deleted, with its\n"
        "                       name and length); SIGINT, SIGTERM or SIGHUP closes an open take,\n"
        "                       keeps it, and ends with exit code 0\n"
        "  --replay FILE [--out DIR] [--realtime] [--start \"yyyy-mm-dd hh:mm:ss\"]\n"
        "                       splits a sound file (WAV of any sample format, FLAC, AIFF and\n"
        "                       whatever else libsndfile reads; any rate) into the takes the\n"
        "                       recorder would have made of that sound, always voice-activated\n"
        "                       (ManualMode is ignored), with the sensitivity RecordingLevel of\n"
        "                       config.ini and the file's own rate; touches no sound device and\n"
        "                       no mixer. The sound becomes 16-bit stereo: wider samples are\n"
        "                       rounded to the nearest 16-bit value and clipped, mono goes to\n"
        "                       both channels, and of more than two channels only the first\n"
        "                       two are used. The takes are 16-bit stereo WAV files.\n"
        "      --out DIR        where the takes go (default: record/ in the program's folder)\n"
        "      --realtime       hand the sound on at its own pace instead of at full speed\n"
        "      --start TIME     the local time at which the sound began, which names the\n"
        "                       takes (default: the file's last-write time minus its length)\n"
        "                       The last block is filled up with silence; a take still open\n"
        "                       at the end of the file is kept whatever its length.\n"
        "                       Exit code 2, with nothing written, for a file that is not\n"
        "                       a readable sound file or a folder that cannot be written;\n"
        "                       exit code 1 when the file breaks off partway (the takes up\n"
        "                       to there are kept).\n"
        "  --web [ADDR:]PORT    with the window or --headless: serve the takes and the live\n"
        "                       state as a web page on that address (default 127.0.0.1) for\n"
        "                       this run; [Web] Listen=ADDR:PORT in config.ini does so for\n"
        "                       good. Deleting needs the administrator password; on any\n"
        "                       address but a loopback one, so does every request\n"
        "  --fleet [ADDR:]PORT  serve one page over the archive's bucket ([Archive] in\n"
        "                       config.ini): every room with the state of its heartbeat, grey\n"
        "                       when none came for [Fleet] StaleSeconds (default 180), and each\n"
        "                       room's takes by day, played and downloaded through this server;\n"
        "                       [Fleet] Listen=ADDR:PORT does so without the argument. Uses no\n"
        "                       sound device and no record/ folder\n"
        "  --list-mixers        print the sound cards' mixers and exit\n"
        "  --help               this text\n"
        "The program's folder, which holds config.ini and record/, is the executable's\n"
        "folder when the program may write there; for the installed program it is\n"
        "$XDG_DATA_HOME/somorabox/ (~/.local/share/somorabox/).\n");
}

namespace {

// The window and its widgets live in a library of their own, loaded only
// when the window is wanted, so that the modes without a window load no
// widget or drawing libraries at all. It is looked for beside the executable
// (a build folder or a copy of the program), then in the library folder of
// an installation (<prefix>/bin/somorabox and <prefix>/lib/.../somorabox/).
int RunWindow(int argc, char** argv) {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::string folder = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(argv[0]);
    folder = folder.substr(0, folder.find_last_of('/') + 1);
    const std::string candidates[] = {folder + "libsomorabox_window.so",
                                      folder + "../" SOMORA_LIBRARY_SUBDIR "/libsomorabox_window.so"};
    std::string errors;
    for (const std::string& path : candidates) {
        void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
        if (!library) {
            errors += std::string("\n  ") + ::dlerror();
            continue;
        }
        using Entry = int (*)(int, char**);
        auto entry = reinterpret_cast<Entry>(::dlsym(library, "SomoraboxRunWindow"));
        if (entry) return entry(argc, argv);
        errors += "\n  " + path + ": no entry point";
    }
    std::fprintf(stderr, "Somorabox: cannot load the window library:%s\n", errors.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return RunWindow(argc, argv);
    const char* option = argv[1];
    if (std::strcmp(option, "--help") == 0 || std::strcmp(option, "-h") == 0) {
        PrintUsage();
        return 0;
    }
    if (std::strcmp(option, "--list-mixers") == 0) {
        if (argc > 2) {
            std::fprintf(stderr, "Somorabox: unexpected argument '%s'\n", argv[2]);
            return 2;
        }
        return RunListMixers();
    }
    if (std::strcmp(option, "--headless") == 0) return RunHeadless(argc, argv);
    if (std::strcmp(option, "--web") == 0) return RunWindow(argc, argv);
    if (std::strcmp(option, "--replay") == 0) return RunReplay(argc, argv);
    if (std::strcmp(option, "--fleet") == 0) return RunFleet(argc, argv);
    // Arguments that Qt itself understands (for example -platform) start the window.
    if (option[0] == '-' && option[1] != '-') return RunWindow(argc, argv);
    std::fprintf(stderr, "Somorabox: unknown option '%s' (try --help)\n", option);
    return 2;
}
