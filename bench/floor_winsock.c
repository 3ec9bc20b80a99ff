/* The Winsock floor: floor.c's loop written against Winsock and Win32, for
 * measuring the Windows build under the same Wine. One thread, blocking
 * sockets: accept, one receive, CreateFileA and the size, the header with
 * the first bytes of the file in one 1 KiB send, then 1 KiB ReadFile and send
 * pieces, closesocket. With a log file named it also appends one line per
 * request (CreateFileA, one WriteFile, CloseHandle).
 *
 * Usage: floor_winsock.exe ADDRESS PORT DIRECTORY [LOGFILE]
 * Cross-built with x86_64-w64-mingw32-gcc by bench/bench.py. A measuring
 * stick, not a server: no checks beyond what keeps it from crashing.
 */
#include <winsock2.h>
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { SendUnit = 1024, RequestCapacity = 1500 };

static void writeLogLine(const char* logFile, const struct sockaddr_in* peer)
{
    char line[96];
    SYSTEMTIME local;
    GetLocalTime(&local);
    int length = snprintf(line, sizeof line, "%s %02d:%02d:%02d\r\n", inet_ntoa(peer->sin_addr), local.wHour,
                          local.wMinute, local.wSecond);
    HANDLE file = CreateFileA(logFile, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, line, (DWORD)length, &written, NULL);
    CloseHandle(file);
}

static void serve(SOCKET connection, const char* directory, const char* logFile, const struct sockaddr_in* peer)
{
    char request[RequestCapacity + 1];
    int received = recv(connection, request, RequestCapacity, 0);
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
    HANDLE file = CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    LARGE_INTEGER size;
    if (file == INVALID_HANDLE_VALUE || !GetFileSizeEx(file, &size)) {
        static const char missing[] = "HTTP/1.0 404 Not Found\n\n";
        send(connection, missing, sizeof missing - 1, 0);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        return;
    }
    if (logFile)
        writeLogLine(logFile, peer);
    int header = snprintf(piece, sizeof piece, "HTTP/1.0 200 OK\nContent-Type: text/html\nContent-Length: %lld\n\n",
                          (long long)size.QuadPart);
    DWORD got = 0;
    ReadFile(file, piece + header, SendUnit - (DWORD)header, &got, NULL);
    int length = header + (int)got;
    int sent = send(connection, piece, length, 0);
    while (sent == length && length == SendUnit) {
        if (!ReadFile(file, piece, SendUnit, &got, NULL) || got == 0)
            break;
        length = (int)got;
        sent = send(connection, piece, length, 0);
    }
    CloseHandle(file);
}

int main(int argc, char** argv)
{
    if (argc < 4) {
        fprintf(stderr, "usage: floor_winsock ADDRESS PORT DIRECTORY [LOGFILE]\n");
        return 2;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        return 1;
    struct sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons((unsigned short)atoi(argv[2]));
    address.sin_addr.s_addr = inet_addr(argv[1]);
    SOCKET listening = socket(AF_INET, SOCK_STREAM, 0);
    if (bind(listening, (struct sockaddr*)&address, sizeof address) != 0 || listen(listening, SOMAXCONN) != 0) {
        fprintf(stderr, "floor_winsock: bind or listen failed, %d\n", WSAGetLastError());
        return 1;
    }
    printf("floor serving %s at http://%s:%s/\n", argv[3], argv[1], argv[2]);
    fflush(stdout);
    for (;;) {
        struct sockaddr_in peer;
        int peerLength = sizeof peer;
        SOCKET connection = accept(listening, (struct sockaddr*)&peer, &peerLength);
        if (connection == INVALID_SOCKET)
            continue;
        serve(connection, argv[3], argc > 4 ? argv[4] : NULL, &peer);
        closesocket(connection);
    }
}
