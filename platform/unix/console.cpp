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

// Whether the terminal takes colours as RGB (COLORTERM, as terminals that
// do set it).
static bool rgbColours;

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
    // A code wider than the terminal would wrap into nonsense, and one that
    // fills a line wraps in some terminals: a column to spare. A taller code
    // scrolls and stays whole.
    int columns = (drawing == CodeDrawing::HalfBlocks ? modules : 2 * modules) + 1;
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_col < columns) {
        static char text[80];
        std::snprintf(text, sizeof text, "the terminal has %d columns and the code needs %d", size.ws_col,
                      columns);
        *why = text;
        return CodeDrawing::None;
    }
    const char* colorTerm = std::getenv("COLORTERM");
    rgbColours = colorTerm && (!std::strcmp(colorTerm, "truecolor") || !std::strcmp(colorTerm, "24bit"));
    return drawing;
}

// Black on black or on bright white: as RGB where the terminal says it takes
// it, as a scheme may make colour numbers anything; else by number, which
// every colour terminal has. A half block draws in the foreground, the black.
void setModuleColour(bool dark)
{
    if (rgbColours)
        std::fputs(dark ? "\x1b[38;2;0;0;0m\x1b[48;2;0;0;0m" : "\x1b[38;2;0;0;0m\x1b[48;2;255;255;255m", stdout);
    else
        std::fputs(dark ? "\x1b[30;40m" : "\x1b[30;107m", stdout);
}

void restoreConsoleColours()
{
    std::fputs("\x1b[0m", stdout);
}

void restoreConsoleMode() {}
