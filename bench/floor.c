/* The floor: the least a server of this design can do for each request, and
 * so the speed it cannot beat. One connection at a time: accept, one receive,
 * open and fstat the file, send the header with the first bytes of the file,
 * then 1 KiB pieces, close. With a log file named it also appends one line
 * per request (open, one write, close), as the engine's access log does.
 *
 * Usage: floor ADDRESS PORT DIRECTORY [LOGFILE]
 * "GET /" serves DIRECTORY/index.html; anything else after "GET /" up to the
 * next blank names a file in DIRECTORY. No checks beyond what keeps it from
 * crashing: it is a measuring stick, not a server.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum { SendUnit = 1024, RequestCapacity = 1500 };

static void writeLogLine(const char* logFile, const struct sockaddr_in* peer)
{
    char line[96];
    time_t now = time(NULL);
    struct tm local;
    localtime_r(&now, &local);
    char address[16];
    inet_ntop(AF_INET, &peer->sin_addr, address, sizeof address);
    int length = snprintf(line, sizeof line, "%s %02d:%02d:%02d\r\n", address, local.tm_hour,
                          local.tm_min, local.tm_sec);
    int fd = open(logFile, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    if (write(fd, line, (size_t)length) < 0) {
    }
    close(fd);
}

static void serve(int connection, const char* directory, const char* logFile,
                  const struct sockaddr_in* peer)
{
    char request[RequestCapacity + 1];
    ssize_t received = recv(connection, request, RequestCapacity, 0);
    if (received <= 0)
        return;
    request[received] = '\0';
    char* path = strstr(request, "GET /");
    if (!path)
        return;
    path += 5;
    char* blank = strchr(path, ' ');
    if (blank)
        *blank = '\0';
    char name[1100];
    snprintf(name, sizeof name, "%s/%s", directory, *path ? path : "index.html");

    char piece[SendUnit];
    int file = open(name, O_RDONLY | O_CLOEXEC);
    struct stat info;
    if (file < 0 || fstat(file, &info) != 0) {
        static const char missing[] = "HTTP/1.0 404 Not Found\n\n";
        send(connection, missing, sizeof missing - 1, MSG_NOSIGNAL);
        if (file >= 0)
            close(file);
        return;
    }
    if (logFile)
        writeLogLine(logFile, peer);
    int header = snprintf(piece, sizeof piece, "HTTP/1.0 200 OK\nContent-Type: text/html\nContent-Length: %lld\n\n",
                          (long long)info.st_size);
    ssize_t got = read(file, piece + header, SendUnit - (size_t)header);
    size_t length = (size_t)header + (size_t)(got > 0 ? got : 0);
    ssize_t sent = send(connection, piece, length, MSG_NOSIGNAL);
    while (sent == (ssize_t)length && length == SendUnit) {
        got = read(file, piece, SendUnit);
        if (got <= 0)
            break;
        length = (size_t)got;
        sent = send(connection, piece, length, MSG_NOSIGNAL);
    }
    close(file);
}

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: floor ADDRESS PORT DIRECTORY [LOGFILE]\n");
        return 2;
    }
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)atoi(argv[2]));
    address.sin_addr.s_addr = inet_addr(argv[1]);
    int listening = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int on = 1;
    setsockopt(listening, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(listening, (struct sockaddr*)&address, sizeof address) != 0 || listen(listening, SOMAXCONN) != 0) {
        perror("floor");
        return 1;
    }
    printf("floor serving %s at http://%s:%s/\n", argv[3], argv[1], argv[2]);
    fflush(stdout);
    for (;;) {
        struct sockaddr_in peer;
        socklen_t peerLength = sizeof peer;
        int connection = accept4(listening, (struct sockaddr*)&peer, &peerLength, SOCK_CLOEXEC);
        if (connection < 0)
            continue;
        serve(connection, argv[3], argc > 4 ? argv[4] : NULL, &peer);
        close(connection);
    }
}
