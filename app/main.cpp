// Program entry: the skinned recorder window, or one of the command-line modes.
#include <QApplication>
#include <QFont>

#include <cstdio>
#include <cstring>

#include "app/Modes.h"
#include "app/Unit1.h"
#include "capture/Unit2.h"
#include "platform/Platform.h"
#include "playback/Unit4.h"
#include "settings/Unit3.h"
#include "settings/password.h"

void PrintUsage() {
    std::printf(
        "Usage: Somorabox [option]\n"
        "  (no option)          the recorder window\n"
        "  --headless           the recorder without a window: the same settings (config.ini\n"
        "                       beside the program), capture, mixer set-up and record/ folder;\n"
        "                       prints one line per take (opened, kept or deleted, with its\n"
        "                       name and length); SIGINT, SIGTERM or SIGHUP closes an open take,\n"
        "                       keeps it, and ends with exit code 0\n"
        "  --replay FILE.wav [--out DIR] [--realtime] [--start \"yyyy-mm-dd hh:mm:ss\"]\n"
        "                       splits a 16-bit PCM WAV file (mono or stereo, any rate) into\n"
        "                       the takes the recorder would have made of that sound, always\n"
        "                       voice-activated (ManualMode is ignored), with the sensitivity\n"
        "                       RecordingLevel of config.ini and the file's own rate; touches\n"
        "                       no sound device and no mixer\n"
        "      --out DIR        where the takes go (default: record/ beside the program)\n"
        "      --realtime       hand the sound on at its own pace instead of at full speed\n"
        "      --start TIME     the local time at which the sound began, which names the\n"
        "                       takes (default: the file's last-write time minus its length)\n"
        "                       The last block is filled up with silence; a take still open\n"
        "                       at the end of the file is kept whatever its length.\n"
        "                       Exit code 2, with nothing written, for a file that is not\n"
        "                       a readable 16-bit PCM WAV or a folder that cannot be written.\n"
        "  --list-mixers        print the sound cards' mixers and exit\n"
        "  --help               this text\n");
}

namespace {

// The windows' typefaces, mapped to what this system has.
void SubstituteFonts() {
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans"),
                                QStringLiteral("WenQuanYi Zen Hei")});
    QFont::insertSubstitutions(QStringLiteral("Arial"),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont::insertSubstitutions(QString::fromUtf8("宋体"),
                               {QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("Noto Sans CJK SC")});
}

int RunWindow(int argc, char** argv) {
    // The mini panel moves itself, which Wayland does not allow: use X11
    // (XWayland on a Wayland desktop) unless a platform was chosen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    platform::InstallDefaults();
    // One recorder per user: a second start ends at once and silently.
    if (!platform::Services().instance->TryAcquire(TForm1::kCaption)) return 0;
    QApplication::setApplicationName(TForm1::kApplicationTitle);
    SubstituteFonts();

    Form1 = new TForm1();
    FRecord = new TFRecord();
    Form3 = new TForm3();
    FPlay = new TFPlay();
    Form5 = new TForm5();
    Form1->show();
    const int result = QApplication::exec();

    delete Form5;
    Form5 = nullptr;
    delete FPlay;
    FPlay = nullptr;
    delete Form3;
    Form3 = nullptr;
    delete FRecord;
    FRecord = nullptr;
    delete Form1;
    return result;
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
    if (std::strcmp(option, "--replay") == 0) return RunReplay(argc, argv);
    // Arguments that Qt itself understands (for example -platform) start the window.
    if (option[0] == '-' && option[1] != '-') return RunWindow(argc, argv);
    std::fprintf(stderr, "Somorabox: unknown option '%s' (try --help)\n", option);
    return 2;
}
