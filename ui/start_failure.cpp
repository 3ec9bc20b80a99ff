#include "ui/start_failure.h"

#include <algorithm>
#include <cstdarg>
#include <cwchar>
#include <string>

#include "resources/resource.h"
#include "ui/main_window.h"
#include "ui/wide_text.h"

static StartFailureText keptText;

// A text of the string table, filled in as swprintf fills a format.
static std::wstring loadedText(UINT id, ...)
{
    // Room for a format and a file name of the longest a folder holds.
    WCHAR format[WideTextUnits], text[StartFailureUnits];
    LoadStringW(appInstance, id, format, WideTextUnits);
    va_list values;
    va_start(values, id);
    int length = std::vswprintf(text, StartFailureUnits, format, values);
    va_end(values);
    return length < 0 ? std::wstring(format) : std::wstring(text);
}

static std::wstring fromUtf8(const std::string& utf8)
{
    std::wstring wide(utf8.size(), L'\0');
    int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0],
                                    static_cast<int>(wide.size()));
    wide.resize(units > 0 ? static_cast<std::size_t>(units) : 0);
    return wide;
}

static UINT stepName(StartStep step)
{
    switch (step) {
    case StartStep::SocketLayer: return IDS_START_STEP_SOCKET_LAYER;
    case StartStep::Socket: return IDS_START_STEP_SOCKET;
    case StartStep::Listen: return IDS_START_STEP_LISTEN;
    case StartStep::Listener: return IDS_START_STEP_LISTENER;
    default: return IDS_START_STEP_BIND;
    }
}

// Who holds the port, and what the user can do about it.
static std::wstring heldPortLines(const PortHolder& holder, int otherPort)
{
    const std::wstring name = fromUtf8(holder.fileName);
    const unsigned id = holder.processId;
    switch (holder.kind) {
    case PortHolderKind::HttpService:
        return loadedText(IDS_START_HELD_BY_HTTP_SERVICE) + L"\n" +
               loadedText(IDS_START_HTTP_SERVICE_REMEDY, otherPort);
    case PortHolderKind::Harborlight:
        return loadedText(IDS_START_HELD_BY_HARBORLIGHT, name.c_str(), id) + L"\n" +
               loadedText(IDS_START_HELD_REMEDY, otherPort);
    case PortHolderKind::Program:
        return loadedText(IDS_START_HELD_BY_PROGRAM, name.c_str(), id) + L"\n" +
               loadedText(IDS_START_HELD_REMEDY, otherPort);
    case PortHolderKind::Unknown:
        // A process this user may not open: its number still finds it in
        // the Task Manager's details.
        if (id)
            return loadedText(IDS_START_HELD_BY_UNNAMED, id) + L"\n" + loadedText(IDS_START_HELD_REMEDY, otherPort);
        break;
    }
    return loadedText(IDS_START_HELD_BY_OTHER) + L"\n" + loadedText(IDS_START_HELD_REMEDY, otherPort);
}

StartFailureText startFailureText(const StartFailure& failure, const PortHolder& holder)
{
    const int otherPort = otherPortThan(failure.port);
    std::wstring lines;
    switch (failure.reason) {
    case NetFailure::AddressInUse:
        lines = heldPortLines(holder, otherPort);
        break;
    case NetFailure::PermissionDenied:
        // Windows' answer for a port that a program holds for itself
        // (SO_EXCLUSIVEADDRUSE, or any socket of another user), named when
        // its listener is found; or for a port in a range that Windows has
        // reserved (Hyper-V, WSL and Docker reserve ranges), which no table
        // lists.
        if (holder.found)
            lines = heldPortLines(holder, otherPort);
        else
            lines = loadedText(IDS_START_RESERVED) + L"\n" + loadedText(IDS_START_RESERVED_REMEDY, otherPort);
        break;
    case NetFailure::AddressUnavailable:
        lines = loadedText(IDS_START_NO_ADDRESS) + L"\n" + loadedText(IDS_START_NO_ADDRESS_REMEDY);
        break;
    case NetFailure::Other:
        lines = loadedText(IDS_START_STEP_FAILED, loadedText(stepName(failure.step)).c_str(), failure.error) +
                L"\n" + loadedText(IDS_START_OTHER_REMEDY);
        break;
    }
    std::wstring whole = loadedText(IDS_START_FAILED, static_cast<int>(failure.port)) + L"\n" + lines;
    StartFailureText text;
    whole.resize(std::min<std::size_t>(whole.size(), StartFailureUnits - 1));
    std::wmemcpy(text.text, whole.c_str(), whole.size() + 1);
    return text;
}

void reportStartFailure(HWND owner)
{
    const StartFailure failure = lastStartFailure();
    if (failure.step == StartStep::None)
        return;
    PortHolder holder;
    if (failure.reason == NetFailure::AddressInUse || failure.reason == NetFailure::PermissionDenied)
        holder = findPortHolder(serverSettings.localAddress.sin_addr.s_addr, failure.port);
    keptText = startFailureText(failure, holder);
    MessageBoxW(owner, keptText.text, wideText(ConfirmationCaption).text, MB_OK);
}

const WCHAR* pendingStartFailure()
{
    if (ServerState == Running || lastStartFailure().step == StartStep::None || !keptText.text[0])
        return nullptr;
    return keptText.text;
}
