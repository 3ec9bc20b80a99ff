// harborlight-serve: the engine without a window, for terminals, scripts and
// benchmarks. Serves DATA/ of the working directory until Ctrl-C or SIGTERM.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "headless/request_lines.h"
#include "platform/console.h"
#include "platform/port_holder.h"
#include "platform/reachability.h"
#include "qr/url_code.h"
#include "server/server.h"

static const char Usage[] =
    "Usage: harborlight-serve [--port N] [--log] [--qr] [--quiet]\n"
    "\n"
    "Serves the files of DATA/ in the working directory over HTTP/1.0 on the\n"
    "host's IPv4 address, one connection at a time. A request for / writes a\n"
    "test page to DATA/index.html when there is none.\n"
    "\n"
    "  --port N   listen on port N, 0 to 65535 (default 80; 0 lets the system\n"
    "             choose)\n"
    "  --log      append a line per HTML page served to LOG/HarborlightLog_<date>.log\n"
    "  --qr       also draw the URL as a QR code, for a phone's camera to open\n"
    "             (in a terminal only; elsewhere a line says why not)\n"
    "  --quiet    print no line for each request served\n"
    "  --help     show this text\n"
    "\n"
    "Under the URL, a line may say what keeps other machines out, and what to\n"
    "do: on Windows a firewall rule or setting, or a public network; elsewhere\n"
    "ufw, when it is enabled.\n"
    "\n"
    "Each request served prints a line once it is answered: its time, the\n"
    "client, the method and path as they came (bytes that are not plain ASCII\n"
    "as \\xNN), and what went out:\n"
    "  10:12:03 10.0.0.7 GET /photo.jpg sent 1234567 bytes in 0.12 s\n"
    "  10:12:04 10.0.0.7 GET /missing.png not found\n"
    "When the output takes nothing for a while (a terminal paused with Ctrl-S),\n"
    "lines are left out and one line says how many; serving goes on.\n"
    "\n"
    "Runs until Ctrl-C (or SIGTERM; Ctrl-Break on Windows), then stops the\n"
    "server and exits with 0. Exit code 1: the server could not start; 2: bad\n"
    "options.\n";

static int badUsage(const char* problem, const char* argument)
{
    std::fprintf(stderr, "harborlight-serve: %s%s\n\n%s", problem, argument, Usage);
    return 2;
}

static bool readPort(const char* text, int* port)
{
    if (!*text)
        return false;
    long value = 0;
    for (const char* c = text; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        value = value * 10 + (*c - '0');
        if (value > 65535)
            return false;
    }
    *port = static_cast<int>(value);
    return true;
}

// A program's file name for the terminal: bytes outside printable ASCII
// as \xNN, as in the request lines.
static std::string printableName(const std::string& name)
{
    std::string shown;
    for (unsigned char c : name) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, c < 0x20 || c > 0x7E || c == '\\' ? "\\x%02X" : "%c", c);
        shown += escaped;
    }
    return shown;
}

// Who holds the port, and what to do.
static std::string heldPortText(int port, const PortHolder& holder)
{
    char who[320];
    const char* remedy = "end that program";
    switch (holder.kind) {
    case PortHolderKind::HttpService:
        std::snprintf(who, sizeof who, "Windows' HTTP service (process 4, System: IIS or a program that uses it)");
        remedy = "stop that program";
        break;
    case PortHolderKind::Harborlight:
        std::snprintf(who, sizeof who, "another Harborlight (%s, process %u), which may serve another folder",
                      printableName(holder.fileName).c_str(), static_cast<unsigned>(holder.processId));
        remedy = "end it";
        break;
    case PortHolderKind::Program:
        std::snprintf(who, sizeof who, "%s (process %u)", printableName(holder.fileName).c_str(),
                      static_cast<unsigned>(holder.processId));
        break;
    case PortHolderKind::Unknown:
        // One this user may not look into: its number may still find it.
        if (holder.processId)
            std::snprintf(who, sizeof who, "another program (process %u)", static_cast<unsigned>(holder.processId));
        else
            std::snprintf(who, sizeof who, "another program");
        break;
    }
    char text[512];
    std::snprintf(text, sizeof text, "port %d is held by %s: choose another port (--port %d), or %s", port, who,
                  otherPortThan(port), remedy);
    return text;
}

static const char* stepName(StartStep step)
{
    switch (step) {
    case StartStep::SocketLayer: return "starting the socket layer";
    case StartStep::Socket: return "making the listening socket";
    case StartStep::Listen: return "listening";
    case StartStep::Listener: return "starting the listener";
    default: return "binding the listening socket";
    }
}

// Why the start failed and what to do, from the engine's record.
static std::string startFailureText()
{
    const StartFailure failure = lastStartFailure();
    const int port = failure.port, other = otherPortThan(port);
    char text[256];
    switch (failure.reason) {
    case NetFailure::AddressInUse:
        return heldPortText(port, findPortHolder(serverSettings.localAddress.sin_addr.s_addr, failure.port));
    case NetFailure::PermissionDenied:
#ifdef _WIN32
        // Windows has no privileged ports: another program holds the port
        // for itself, named when its listener is found, or the port lies in
        // a range that Windows has reserved, which no table lists.
        if (const PortHolder holder = findPortHolder(serverSettings.localAddress.sin_addr.s_addr, failure.port);
            holder.found)
            return heldPortText(port, holder);
        std::snprintf(text, sizeof text,
                      "port %d is reserved by Windows (Hyper-V, WSL and Docker reserve ranges) or held exclusively "
                      "by another program: choose another port (--port %d)", port, other);
#else
        if (port < 1024)
            std::snprintf(text, sizeof text,
                          "permission denied for port %d: ports below 1024 need root (try --port %d)", port, other);
        else
            std::snprintf(text, sizeof text, "permission denied for port %d: choose another port (--port %d)",
                          port, other);
#endif
        return text;
    case NetFailure::AddressUnavailable:
        if (failure.step == StartStep::Address)
            return "this host has no IPv4 address to listen on: connect it to a network and start again";
        std::snprintf(text, sizeof text, "the address %s is no longer this host's: start again",
                      serverSettings.hostIpText);
        return text;
    case NetFailure::Other:
        break;
    }
    std::snprintf(text, sizeof text, "%s failed (error %d)", stepName(failure.step), failure.error);
    return text;
}

// The half block that shows the modules `top` and `bottom` of one cell, dark
// on light.
static const char* halfBlock(bool top, bool bottom)
{
    return top ? (bottom ? "\u2588" : "\u2580") : (bottom ? "\u2584" : " ");
}

// Draws `url` as a QR code on stdout with its quiet zone, or says in one line
// why it does not.
static void printUrlCode(const char* url)
{
    UrlCode code;
    if (!makeUrlCode(url, &code)) {
        std::printf("No QR code: the URL is too long for one.\n");
        return;
    }
    const char* why = "";
    CodeDrawing drawing = codeDrawingOnStdout(code.size + 2 * QuietZoneModules, &why);
    if (drawing == CodeDrawing::None) {
        std::printf("No QR code: %s.\n", why);
        return;
    }
    const int first = -QuietZoneModules, end = code.size + QuietZoneModules;
    const bool halfBlocks = drawing == CodeDrawing::HalfBlocks;
    for (int y = first; y < end; y += halfBlocks ? 2 : 1) {
        if (halfBlocks) {
            setModuleColour(false);
            for (int x = first; x < end; ++x)
                std::fputs(halfBlock(code.dark(x, y), code.dark(x, y + 1)), stdout);
        } else {
            int colour = -1;
            for (int x = first; x < end; ++x) {
                bool dark = code.dark(x, y);
                if (colour != dark)
                    setModuleColour(dark);
                colour = dark;
                std::fputs("  ", stdout);
            }
        }
        // Before the line ends, so that no colour runs on to the terminal's edge.
        restoreConsoleColours();
        std::fputs("\n", stdout);
    }
    restoreConsoleMode();
}

// One line on what keeps other machines from reaching the server, when the
// facts show something within ReachLimitMs; the server answers meanwhile, and
// the requests it answers get their lines all the same.
static void printReachLine(std::uint32_t address, int port)
{
    ReachReport report;
    if (!readReachFindingWithin(address, static_cast<std::uint16_t>(port), ReachLimitMs, &report))
        return;
    switch (report.finding) {
    case ReachFinding::BlockRule:
        std::printf("Windows Firewall blocks this program: in Windows Security, Firewall & network protection, "
                    "\"Allow an app through firewall\", tick Private for Harborlight headless web server.\n");
        break;
    case ReachFinding::BlocksAllInbound:
        std::printf("The firewall blocks all incoming connections on this network: in Windows Security, Firewall & "
                    "network protection, open the active network and untick \"Blocks all incoming connections\".\n");
        break;
    case ReachFinding::PortBlockRule:
        std::printf("A Windows Firewall rule blocks port %d for every program: choose another port with --port, or "
                    "turn the rule off in Windows Defender Firewall with Advanced Security, Inbound Rules.\n", port);
        break;
    case ReachFinding::PublicNetwork:
        std::printf("This PC is on a public network, where the firewall lets no one reach this program: in Settings, "
                    "Network & internet, set the network's profile to Private.\n");
        break;
    case ReachFinding::PublicNetworkPrivateAllowed:
        std::printf("This PC is on a public network, and the firewall allows this program on private networks only: "
                    "in Settings, Network & internet, set the network's profile to Private.\n");
        break;
    case ReachFinding::NoRuleYet:
        std::printf("The firewall has no rule for this program yet: when Windows asks, tick Private networks and "
                    "choose Allow access.\n");
        break;
    case ReachFinding::NoRuleNoPrompt:
        std::printf("The firewall has no rule for this program, and its notifications are off, so Windows will not "
                    "ask: in Windows Security, Firewall & network protection, \"Allow an app through firewall\", "
                    "Change settings, \"Allow another app...\", add this program and tick Private.\n");
        break;
    case ReachFinding::UfwEnabled:
        std::printf("The firewall ufw is enabled: if other machines cannot connect, allow the port with "
                    "sudo ufw allow %d/tcp\n", port);
        break;
    case ReachFinding::NothingFound:
    case ReachFinding::Unknown:
        break;
    }
}

int main(int argc, char** argv)
{
    int port = 80;
    bool portGiven = false, log = false, qr = false, quiet = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(Usage, stdout);
            return 0;
        } else if (!std::strcmp(argv[i], "--log")) {
            log = true;
        } else if (!std::strcmp(argv[i], "--qr")) {
            qr = true;
        } else if (!std::strcmp(argv[i], "--quiet")) {
            quiet = true;
        } else if (!std::strcmp(argv[i], "--port")) {
            if (i + 1 >= argc)
                return badUsage("--port needs a number", "");
            if (!readPort(argv[++i], &port))
                return badUsage("not a port from 0 to 65535: ", argv[i]);
            portGiven = true;
        } else if (!std::strncmp(argv[i], "--port=", 7)) {
            if (!readPort(argv[i] + 7, &port))
                return badUsage("not a port from 0 to 65535: ", argv[i] + 7);
            portGiven = true;
        } else {
            return badUsage("unknown option: ", argv[i]);
        }
    }

    catchTerminationSignals();
    initServer();
    if (portGiven)
        setPort(port);
    if (log)
        logEnabled = 1;

    int result = startServer(serverSettings);
    if (result != 0) {
        std::fprintf(stderr, "harborlight-serve: cannot start: %s\n", startFailureText().c_str());
        return 1;
    }
    char url[32];
    formatServerUrl(url, sizeof url, serverSettings.hostIpText, listeningPort());
    std::printf("Harborlight is serving %s at %s\n", "DATA/", url);
    if (qr)
        printUrlCode(url);
    std::printf("Logging is %s. Press Ctrl-C to stop.\n", log ? "on (LOG/)" : "off");
    // The writer takes the requests' lines while the firewall's reading is
    // awaited, which may take seconds: the record keeps only the last ones.
    // It holds them until that reading's line is out.
    std::fflush(stdout);
    bool writing = startRequestLines(!quiet);
    printReachLine(serverSettings.localAddress.sin_addr.s_addr, listeningPort());
    // From here on only the writer's thread writes to standard output, past
    // stdio, so that nothing else can block on it: stdio has nothing left to
    // flush at exit.
    std::fflush(stdout);
    if (writing)
        showRequestLines();

    waitForTerminationSignal();
    stopServer(serverSettings);
    // An output that takes nothing gets no more time than this: Ctrl-C ends
    // the program within two seconds, also after a stop that waited for a
    // file read.
    constexpr int LastWriteMs = 500;
    if (writing)
        endRequestLines("Stopped.\n", LastWriteMs);
    else
        std::printf("Stopped.\n");
    return 0;
}
