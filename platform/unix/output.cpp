#include "platform/output.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

bool standardOutputIsTerminal()
{
    return isatty(STDOUT_FILENO) == 1;
}

bool writeStandardOutput(const char* data, std::size_t size)
{
    while (size > 0) {
        ssize_t written = write(STDOUT_FILENO, data, size);
        if (written > 0) {
            data += written;
            size -= static_cast<std::size_t>(written);
        } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // Whoever shares the terminal or pipe may have made it
            // non-blocking: wait for room instead of spinning.
            pollfd out = {STDOUT_FILENO, POLLOUT, 0};
            poll(&out, 1, -1);
        } else if (written < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}
