#include "platform/console.h"

#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <langinfo.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

static sigset_t terminationSignals;

void catchTerminationSignals()
{
    sigemptyset(&terminationSignals);
    sigaddset(&terminationSignals, SIGINT);
    sigaddset(&terminationSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &terminationSignals, nullptr);
    // A client that leaves mid-answer must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
}

void waitForTerminationSignal()
{
    int which = 0;
    while (sigwait(&terminationSignals, &which) != 0) {
    }
}

void useUtf8Console() {}

CodeDrawing codeDrawingOnStdout(int modules, const char** why)
{
    if (!isatty(STDOUT_FILENO)) {
        *why = "standard output is not a terminal";
        return CodeDrawing::None;
    }
    const char* term = std::getenv("TERM");
    if (!term || !*term || !std::strcmp(term, "dumb")) {
        *why = "the terminal (TERM) shows no colours";
        return CodeDrawing::None;
    }
    // The character set of the user's locale is the terminal's.
    std::setlocale(LC_CTYPE, "");
    bool utf8 = !std::strcmp(nl_langinfo(CODESET), "UTF-8");
    // East Asian terminals draw the block characters, of ambiguous width, two
    // cells wide: a module is then two blanks.
    const char* locale = std::setlocale(LC_CTYPE, nullptr);
    bool eastAsian = locale && (!std::strncmp(locale, "ja", 2) || !std::strncmp(locale, "ko", 2) ||
                                !std::strncmp(locale, "zh", 2));
    std::setlocale(LC_CTYPE, "C");
    CodeDrawing drawing = utf8 && !eastAsian ? CodeDrawing::HalfBlocks : CodeDrawing::BlankPairs;
    // A code wider than the terminal would wrap into nonsense; a taller one
    // scrolls and stays whole.
    int columns = drawing == CodeDrawing::HalfBlocks ? modules : 2 * modules;
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_col < columns) {
        static char text[80];
        std::snprintf(text, sizeof text, "the terminal has %d columns and the code needs %d", size.ws_col,
                      columns);
        *why = text;
        return CodeDrawing::None;
    }
    return drawing;
}

// Black on black or on bright white, by number, which every colour terminal
// has; a half block draws in the foreground, the black.
void setModuleColour(bool dark)
{
    std::fputs(dark ? "\x1b[30;40m" : "\x1b[30;107m", stdout);
}

void restoreConsoleColours()
{
    std::fputs("\x1b[0m", stdout);
}
