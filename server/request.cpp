// Request handling: "GET /" and a path, answered from DATA.
#include <cstring>

#include "platform/files.h"
#include "server/engine.h"
#include "server/keep_awake.h"
#include "server/request_record.h"
#include "server/text.h"

namespace {

constexpr std::size_t SendUnit = 1024;
constexpr std::size_t FileNameCapacity = 1000;
constexpr std::size_t ResponseCapacity = 1500;
constexpr char DataPrefix[] = "DATA/";
constexpr std::size_t MaxPathLength = FileNameCapacity - 1 - (sizeof DataPrefix - 1);

struct ContentTypeRule {
    const char* marker;
    const char* typeText;
    bool html;
};

// Tested in order over the whole file name; the first match decides.
const ContentTypeRule ContentTypeRules[] = {
    {".htm", "text/html\n", true},   {".HTM", "text/html\n", true},
    {".jpg", "image/jpeg\n", false}, {".JPG", "image/jpeg\n", false},
    {".gif", "image/gif\n", false},  {".GIF", "image/gif\n", false},
    {".png", "image/png\n", false},  {".PNG", "image/png\n", false},
};
const ContentTypeRule PlainText = {"", "text/plain\n", false};

// The not-found page: status 200, and エラー in Shift_JIS in the title.
constexpr char NotFoundResponse[] =
    "HTTP/1.0 200 OK\n"
    "Content-Type: text/html\n"
    "Content-Length: 78\n\n"
    "<HTML><HEAD><TITLE>\x83\x47\x83\x89\x81\x5b</TITLE></HEAD><BODY><H1>Not found</H1></BODY></HTML>";
static_assert(sizeof NotFoundResponse - 1 == 138, "the not-found answer is 138 bytes");

// Written to DATA/index.html when the root is asked for and it is missing.
// Line 9 reads これは、[Harborlight]のテストページです。 in Shift_JIS.
constexpr char TestPage[] =
    "<!DOCTYPE HTML PUBLIC 'quot-//W3C//DTD HTML 4.01 Transitional//EN' \r\n"
    "'http://www.w3.org/TR/html4/loose.dtd'>\r\n"
    "<html>\r\n"
    "<head>\r\n"
    "<title>Harborlight TestPage</title>\r\n"
    "</head>\r\n"
    "<body>\r\n"
    "<h1>Harborlight TestPage</h1>\r\n"
    "<p>\x82\xb1\x82\xea\x82\xcd\x81\x41[Harborlight]\x82\xcc\x83\x65\x83\x58\x83\x67"
    "\x83\x79\x81\x5b\x83\x57\x82\xc5\x82\xb7\x81\x42</p>\r\n"
    "</body>\r\n"
    "</html>\r\n";
static_assert(sizeof TestPage - 1 == 279, "the test page is 279 bytes");

constexpr char DefaultDocument[] = "DATA/index.html";

const ContentTypeRule& contentTypeOf(const char* fileName)
{
    for (const ContentTypeRule& rule : ContentTypeRules)
        if (std::strstr(fileName, rule.marker))
            return rule;
    return PlainText;
}

// Created, never written over or through: a page the user saved a moment ago,
// or a link under the name, is left as it is. A page that could not be
// written whole (a full disk) is removed again, so that it is not served
// cut short for good: this request then gets the not-found page, and a later
// one writes it afresh. Only this file goes: it was created new just now.
// True when this call wrote it.
bool writeTestPageIfMissing()
{
    makeDirectory("DATA");
    FileHandle page = fileCreateNew(DefaultDocument);
    if (page == NoFile)
        return false;
    bool written = fileWrite(page, TestPage, sizeof TestPage - 1);
    if (!fileClose(page) || !written) {
        fileRemove(DefaultDocument);
        return false;
    }
    return true;
}

int sendNotFound()
{
    constexpr std::size_t BodyBytes = 78;
    if (sendToClient(NotFoundResponse, sizeof NotFoundResponse - 1))
        recordRequestBodySent(BodyBytes);
    return -2;
}

} // namespace

int handleRequest()
{
    char fileNameBuffer[FileNameCapacity];
    char responseBuffer[ResponseCapacity];
    char clientAddressText[32];

    if (!std::strstr(requestBuffer, "GET /"))
        return -1;
    char* path = std::strchr(requestBuffer, '/') + 1;
    if (char* blank = std::strchr(path, ' '))
        *blank = '\0';

    bool root = *path == '\0';
    if (root) {
        std::memcpy(fileNameBuffer, DefaultDocument, sizeof DefaultDocument);
    } else {
        std::size_t pathLength = std::strlen(path);
        if (pathLength > MaxPathLength || !pathStaysInData(path))
            return sendNotFound();
        std::memcpy(fileNameBuffer, DataPrefix, sizeof DataPrefix - 1);
        std::memcpy(fileNameBuffer + sizeof DataPrefix - 1, path, pathLength + 1);
    }

    std::int64_t size = 0;
    FileHandle file = fileOpenRegular(fileNameBuffer, &size);
    // The test page is looked for only when the open has failed, so that
    // serving an existing page costs no extra call.
    if (file == NoFile && root) {
        bool wrote = writeTestPageIfMissing();
        file = fileOpenRegular(fileNameBuffer, &size);
        if (wrote && file != NoFile)
            recordRequestWroteTestPage();
    }
    if (file == NoFile)
        return sendNotFound();
    BodyBytesShown& shown = recordRequestFile(size);

    const ContentTypeRule& type = contentTypeOf(fileNameBuffer);
    if (type.html && logEnabled == 1) {
        netAddressText(clientAddress.sin_addr.s_addr, clientAddressText);
        writeAccessLog(clientAddressText);
    }

    char* out = appendText(responseBuffer, "HTTP/1.0 200 OK\nContent-Type: ");
    out = appendText(out, type.typeText);
    out = appendText(out, "Content-Length: ");
    out = appendDecimal(out, size);
    out = appendText(out, "\n\n");
    makeRoomForAnswer(static_cast<std::int64_t>(out - responseBuffer) + size);

    // The header and the first bytes of the file go out in one send, then
    // pieces of SendUnit bytes. Exactly the size the length line announced
    // goes out: a file that grows meanwhile is cut there, and a short read
    // before the end (a network share) does not end the body. A failed read
    // ends it, and so does the first failed send: the client has gone.
    // What a piece costs beyond its read and send stays in registers: the
    // connection and the count are locals, the count is shown to readers by
    // a plain store. Each piece that went out whole keeps the system awake,
    // checked against the clock: a send or read that hangs makes the resets
    // stop by themselves.
    const Socket connection = connectionSocket;
    std::int64_t left = size;
    std::int64_t sent = 0;
    bool sentAny = false;
    char* end = out;  // the first piece follows the header
    char* body = out;
    for (;;) {
        std::size_t room = SendUnit - static_cast<std::size_t>(end - responseBuffer);
        std::size_t want = left < static_cast<std::int64_t>(room) ? static_cast<std::size_t>(left) : room;
        long got = want > 0 ? fileRead(file, end, want) : 0;
        if (got > 0) {
            end += got;
            left -= got;
        }
        if (end > responseBuffer) {
            if (!netSend(connection, responseBuffer, static_cast<std::size_t>(end - responseBuffer)))
                break;
            sentAny = true;
            sent += end - body;
            shown.store(sent, std::memory_order_release);
            keepAwakeAt(steadyMs());
        }
        if (got <= 0 || left == 0)
            break;
        end = body = responseBuffer;
    }
    fileClose(file);
    if (sentAny)
        recordRequestBodySent(sent);
    return 0;
}
