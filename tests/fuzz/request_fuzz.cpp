// libFuzzer target: any bytes as a received request, answered by
// handleRequest into one end of a local socket pair (no network), in a
// private working directory with a small DATA tree. Also checks that every
// path the engine lets through stays inside DATA by Windows' rules.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "server/engine.h"

namespace {

int peer = -1;
std::string workDir;

void removeWorkDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(workDir, ignored);
}

void writeFile(const char* name, std::size_t size)
{
    int fd = open(name, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string bytes(size, 'f');
    if (fd >= 0) {
        (void)!write(fd, bytes.data(), bytes.size());
        close(fd);
    }
}

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Windows' reading of a name: backslashes are separators, trailing dots and
// spaces of a segment vanish, ".." (and what becomes it) climbs without
// looking at the disk, a colon names a drive or a stream, and a segment whose
// base is a device name opens the device.
bool staysInDataOnWindows(const std::string& path)
{
    if (path.find(':') != std::string::npos)
        return false;
    static const char* const devices[] = {"CON",  "PRN",  "AUX",  "NUL",  "CONIN$", "CONOUT$", "COM1", "COM2",
                                          "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",    "COM9", "LPT1",
                                          "LPT2", "LPT3", "LPT4", "LPT5", "LPT6",   "LPT7",    "LPT8", "LPT9"};
    int depth = 0;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = path.find_first_of("/\\", start);
        std::string segment = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        std::string kept = segment;
        while (!kept.empty() && (kept.back() == '.' || kept.back() == ' '))
            kept.pop_back();
        if (kept.empty()) {
            if (segment.size() >= 2 && --depth < 0)
                return false;
        } else {
            std::string base = kept.substr(0, kept.find('.'));
            while (!base.empty() && base.back() == ' ')
                base.pop_back();
            for (char& c : base)
                c = upper(c);
            for (const char* device : devices)
                if (base == device)
                    return false;
            ++depth;
        }
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

// The engine works in its own directory, so the corpus directories and the
// place for crash inputs are pinned to where the run began.
void keepPathsAbsolute(int* argc, char*** argv)
{
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    char here[4096];
    if (!getcwd(here, sizeof here))
        std::abort();
    bool artifactPrefix = false;
    for (int i = 0; i < *argc; ++i) {
        std::string arg = (*argv)[i];
        artifactPrefix |= arg.rfind("-artifact_prefix=", 0) == 0;
        if (i > 0 && arg[0] != '-' && arg[0] != '/')
            arg = std::string(here) + "/" + arg;
        texts.push_back(arg);
    }
    if (!artifactPrefix)
        texts.push_back(std::string("-artifact_prefix=") + here + "/");
    for (std::string& text : texts)
        pointers.push_back(&text[0]);
    pointers.push_back(nullptr);
    *argc = static_cast<int>(texts.size());
    *argv = pointers.data();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    keepPathsAbsolute(argc, argv);
    char dir[] = "/tmp/harborlight-fuzz-XXXXXX";
    if (!mkdtemp(dir) || chdir(dir) != 0)
        std::abort();
    workDir = dir;
    std::atexit(removeWorkDir);
    mkdir("DATA", 0755);
    mkdir("DATA/sub", 0755);
    writeFile("DATA/a.txt", 3000);
    writeFile("DATA/b.html", 2000);
    writeFile("DATA/photo.JPG", 5000);
    writeFile("DATA/sub/c.png", 1024 - 61);
    writeFile("DATA/empty.gif", 0);
    writeFile("secret.txt", 10);
    mkfifo("DATA/pipe.txt", 0644);
    (void)!symlink("a.txt", "DATA/link.htm");

    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        std::abort();
    int big = 1 << 20;
    setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &big, sizeof big);
    setsockopt(ends[1], SOL_SOCKET, SO_RCVBUF, &big, sizeof big);
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    connectionSocket = ends[0];
    peer = ends[1];
    clientAddress.sin_family = AF_INET;
    clientAddress.sin_addr.s_addr = htonl(0x0a000001);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > RequestCapacity)
        size = RequestCapacity;

    // The property on its own: the input's text up to its first zero byte.
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.c_str();
    if (pathStaysInData(text.c_str()) && !staysInDataOnWindows(text))
        std::abort();

    std::memcpy(requestBuffer, data, size);
    requestBuffer[size] = '\0';
    logEnabled = size % 7 == 0;
    int result = handleRequest();
    if (result != 0 && result != -1 && result != -2)
        std::abort();

    std::size_t answered = 0;
    char discard[65536];
    for (ssize_t got; (got = recv(peer, discard, sizeof discard, 0)) > 0;)
        answered += static_cast<std::size_t>(got);
    if ((result == -1) != (answered == 0))
        std::abort();
    if (result == -2 && answered != 138)
        std::abort();
    return 0;
}
