// The accessible objects. Each wraps the system's standard object for the
// same window (CreateStdAccessibleObject), which keeps the parent, the child
// windows, the focus and the states as Windows gives them, and changes only
// what the window paints or shows itself.
//
// Interface ids are __uuidof's: the IID_IAccessible of mingw-w64's static
// liboleacc is not the interface's, and a QueryInterface with it fails.
#include "ui/status_accessible.h"

#include <commctrl.h>
#include <oleacc.h>

#include <cstring>
#include <string>

#include "ui/display_scale.h"
#include "ui/wide_text.h"

namespace {

bool isSelf(const VARIANT& child)
{
    return child.vt == VT_I4 && child.lVal == CHILDID_SELF;
}

// Hands every call to the standard object of its window. IDispatch is not
// forwarded: the standard object's would answer with its own names, not the
// ones the classes below give.
class ForwardingAccessible : public IAccessible, public IOleWindow {
public:
    ForwardingAccessible(HWND window, IAccessible* standard) : window(window), standard(standard) {}
    ForwardingAccessible(const ForwardingAccessible&) = delete;
    ForwardingAccessible& operator=(const ForwardingAccessible&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override
    {
        if (id == __uuidof(IUnknown) || id == __uuidof(IDispatch) || id == __uuidof(IAccessible)) {
            *object = static_cast<IAccessible*>(this);
        } else if (id == __uuidof(IOleWindow)) {
            *object = static_cast<IOleWindow*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG left = InterlockedDecrement(&references);
        if (left == 0)
            delete this;
        return left;
    }

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override { return standard->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override
    {
        return standard->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        return standard->get_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        return standard->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override
    {
        return standard->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        return standard->get_accRole(child, role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        return standard->get_accState(child, state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override
    {
        return standard->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override
    {
        return standard->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* keys) override
    {
        return standard->get_accKeyboardShortcut(child, keys);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return standard->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override
    {
        return standard->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        return standard->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override
    {
        return standard->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override
    {
        return standard->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override
    {
        return standard->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override
    {
        return standard->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override { return standard->accDoDefaultAction(child); }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override
    {
        return standard->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override
    {
        return standard->put_accValue(child, value);
    }

    HRESULT STDMETHODCALLTYPE GetWindow(HWND* handle) override
    {
        *handle = window;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

protected:
    virtual ~ForwardingAccessible() { standard->Release(); }

    const HWND window;
    IAccessible* const standard;

private:
    LONG references = 1;
};

// The standard object of `window`'s client area, or null.
IAccessible* standardObject(HWND window)
{
    IAccessible* standard = nullptr;
    if (FAILED(CreateStdAccessibleObject(window, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&standard))))
        return nullptr;
    return standard;
}

// WM_GETOBJECT's answer with `object`, whose reference passes to the caller.
LRESULT returnObject(ForwardingAccessible* object, WPARAM wParam)
{
    // The object is marshalled to the asking process through COM, which this
    // thread then needs; it stays initialised for the rest of the program.
    static const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    (void)com;
    LRESULT result = LresultFromObject(__uuidof(IAccessible), wParam, static_cast<IAccessible*>(object));
    object->Release();
    return result;
}

// WM_GETOBJECT asks for the client area's object with OBJID_CLIENT, a
// 32-bit value in a wider parameter.
bool asksForClient(LPARAM lParam)
{
    return static_cast<LONG>(static_cast<DWORD>(lParam)) == OBJID_CLIENT;
}

// A control read by a name of its own.
class NamedAccessible final : public ForwardingAccessible {
public:
    NamedAccessible(HWND window, IAccessible* standard, const std::wstring& name)
        : ForwardingAccessible(window, standard), name(name)
    {
    }

    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* text) override
    {
        if (!isSelf(child))
            return ForwardingAccessible::get_accName(child, text);
        *text = SysAllocStringLen(name.data(), static_cast<UINT>(name.size()));
        return *text ? S_OK : E_OUTOFMEMORY;
    }

private:
    const std::wstring name;
};

// A line: the painted texts it reads, by their index in painting order
// (statusTextPlaces).
struct StatusLine {
    int first;
    int last;
};
const StatusLine statusLines[StatusLineCount] = {{0, 1}, {3, 3}, {4, 4}, {5, 5}, {6, 6}};

const char* paintedText(const StatusTexts& texts, int index)
{
    const char* const painted[] = {texts.stateIntroLine, texts.stateLine, texts.indicatorGlyph, texts.addressLine,
                                   texts.portLine,       texts.urlLine,   texts.logLine};
    return painted[index];
}

// The line that child id `child` names; null for the client area itself and
// for its child windows.
const StatusLine* lineOf(const VARIANT& child)
{
    if (child.vt != VT_I4 || child.lVal < 1 || child.lVal > StatusLineCount)
        return nullptr;
    return &statusLines[child.lVal - 1];
}

std::wstring lineName(const StatusLine& line)
{
    std::wstring name;
    for (int text = line.first; text <= line.last; ++text)
        name += wideText(paintedText(statusTexts, text)).text;
    return name;
}

// Where each line is painted, in screen pixels: from its texts' places at the
// window's scale, as large as the texts are in the font they are painted in.
// False once the window is gone (a screen reader may hold on to the object).
bool paintedLineRects(HWND window, RECT (&rects)[StatusLineCount])
{
    HDC dc = IsWindow(window) ? GetDC(window) : nullptr;
    if (!dc)
        return false;
    HFONT font = createStatusFont(dc);
    HGDIOBJ defaultFont = font ? SelectObject(dc, font) : nullptr;
    for (int id = 1; id <= StatusLineCount; ++id) {
        const StatusLine& line = statusLines[id - 1];
        RECT& all = rects[id - 1];
        SetRectEmpty(&all);
        for (int text = line.first; text <= line.last; ++text) {
            WideText wide = wideText(paintedText(statusTexts, text));
            SIZE size = {};
            GetTextExtentPoint32W(dc, wide.text, wide.length, &size);
            RECT one;
            SetRect(&one, 0, 0, size.cx, size.cy);
            OffsetRect(&one, scaled(statusTextPlaces[text].x), scaled(statusTextPlaces[text].y));
            UnionRect(&all, &all, &one);
        }
        MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&all), 2);
    }
    if (font) {
        SelectObject(dc, defaultFont);
        DeleteObject(font);
    }
    ReleaseDC(window, dc);
    return true;
}

HRESULT noText(BSTR* text)
{
    *text = nullptr;
    return S_FALSE;
}

HRESULT setI4(VARIANT* variant, LONG value)
{
    variant->vt = VT_I4;
    variant->lVal = value;
    return S_OK;
}

// The main window's client area: the status lines as simple children (child
// ids 1 to StatusLineCount), then the child windows as the standard object
// gives them, by their objects. They are listed through IEnumVARIANT, as the
// standard object lists its own.
class StatusAccessible final : public ForwardingAccessible, public IEnumVARIANT {
public:
    static StatusAccessible* make(HWND window)
    {
        IAccessible* standard = standardObject(window);
        return standard ? new StatusAccessible(window, standard) : nullptr;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override
    {
        if (id != __uuidof(IEnumVARIANT))
            return ForwardingAccessible::QueryInterface(id, object);
        *object = static_cast<IEnumVARIANT*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ForwardingAccessible::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return ForwardingAccessible::Release(); }

    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override
    {
        HRESULT result = standard->get_accChildCount(count);
        if (FAILED(result))
            *count = 0;
        *count += StatusLineCount;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override
    {
        if (!lineOf(child))
            return standard->get_accChild(child, object);
        *object = nullptr;
        return S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override
    {
        const StatusLine* line = lineOf(child);
        if (!line)
            return standard->get_accName(child, name);
        std::wstring text = lineName(*line);
        *name = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *name ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override
    {
        if (!lineOf(child))
            return standard->get_accRole(child, role);
        return setI4(role, ROLE_SYSTEM_STATICTEXT);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override
    {
        if (!lineOf(child))
            return standard->get_accState(child, state);
        return setI4(state, STATE_SYSTEM_READONLY);
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height, VARIANT child) override
    {
        if (!lineOf(child))
            return standard->accLocation(left, top, width, height, child);
        RECT rects[StatusLineCount];
        if (!paintedLineRects(window, rects))
            return E_FAIL;
        const RECT& place = rects[child.lVal - 1];
        *left = place.left;
        *top = place.top;
        *width = place.right - place.left;
        *height = place.bottom - place.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override
    {
        RECT rects[StatusLineCount];
        if (!paintedLineRects(window, rects))
            return standard->accHitTest(x, y, child);
        for (int id = 1; id <= StatusLineCount; ++id)
            if (PtInRect(&rects[id - 1], POINT{x, y}))
                return setI4(child, id);
        return standard->accHitTest(x, y, child);
    }
    // From the client area to its first line, and to its last child: the
    // last child window, or without one the last line; from line to line,
    // and from the last line on to the first child window.
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override
    {
        if (isSelf(start) && direction == NAVDIR_FIRSTCHILD)
            return setI4(end, 1);
        LONG windows = 0;
        if (isSelf(start) && direction == NAVDIR_LASTCHILD &&
            (FAILED(standard->get_accChildCount(&windows)) || windows == 0))
            return setI4(end, StatusLineCount);
        if (!lineOf(start))
            return standard->accNavigate(direction, start, end);
        VariantInit(end);
        if (direction == NAVDIR_NEXT && start.lVal < StatusLineCount)
            return setI4(end, start.lVal + 1);
        if (direction == NAVDIR_PREVIOUS && start.lVal > 1)
            return setI4(end, start.lVal - 1);
        if (direction == NAVDIR_NEXT) {
            VARIANT self;
            setI4(&self, CHILDID_SELF);
            return standard->accNavigate(NAVDIR_FIRSTCHILD, self, end);
        }
        return S_FALSE;
    }

    // A line has no value, description, help, shortcut or action.
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override
    {
        return lineOf(child) ? noText(value) : standard->get_accValue(child, value);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override
    {
        return lineOf(child) ? noText(text) : standard->get_accDescription(child, text);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override
    {
        return lineOf(child) ? noText(help) : standard->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override
    {
        if (!lineOf(child))
            return standard->get_accHelpTopic(file, child, topic);
        *topic = -1;
        return noText(file);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* keys) override
    {
        return lineOf(child) ? noText(keys) : standard->get_accKeyboardShortcut(child, keys);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override
    {
        return lineOf(child) ? noText(action) : standard->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override
    {
        return lineOf(child) ? DISP_E_MEMBERNOTFOUND : standard->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override
    {
        return lineOf(child) ? DISP_E_MEMBERNOTFOUND : standard->accDoDefaultAction(child);
    }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, VARIANT* children, ULONG* fetched) override
    {
        ULONG got = 0;
        for (; got < count && position < StatusLineCount; ++got, ++position) {
            VariantInit(&children[got]);
            setI4(&children[got], static_cast<LONG>(position) + 1);
        }
        if (got < count && standardChildren) {
            ULONG more = 0;
            if (SUCCEEDED(standardChildren->Next(count - got, children + got, &more))) {
                got += more;
                position += more;
            }
        }
        if (fetched)
            *fetched = got;
        return got == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        for (; count > 0; --count) {
            VARIANT child;
            ULONG got = 0;
            Next(1, &child, &got);
            if (got == 0)
                return S_FALSE;
            VariantClear(&child);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        position = 0;
        if (standardChildren)
            standardChildren->Reset();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumVARIANT** copy) override
    {
        StatusAccessible* other = make(window);
        *copy = other;
        if (!other)
            return E_OUTOFMEMORY;
        other->Skip(position);
        return S_OK;
    }

private:
    StatusAccessible(HWND window, IAccessible* standard) : ForwardingAccessible(window, standard)
    {
        void* children = nullptr;
        if (SUCCEEDED(standard->QueryInterface(__uuidof(IEnumVARIANT), &children)))
            standardChildren = static_cast<IEnumVARIANT*>(children);
    }
    ~StatusAccessible() override
    {
        if (standardChildren)
            standardChildren->Release();
    }

    IEnumVARIANT* standardChildren = nullptr;
    ULONG position = 0;
};

bool lineChanged(const StatusLine& line, const StatusTexts& before, const StatusTexts& after)
{
    for (int text = line.first; text <= line.last; ++text)
        if (std::strcmp(paintedText(before, text), paintedText(after, text)) != 0)
            return true;
    return false;
}

LRESULT CALLBACK namedControlProc(HWND control, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                  DWORD_PTR data)
{
    auto name = reinterpret_cast<const std::wstring*>(data);
    if (message == WM_GETOBJECT && asksForClient(lParam) && !name->empty()) {
        if (IAccessible* standard = standardObject(control))
            return returnObject(new NamedAccessible(control, standard, *name), wParam);
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(control, namedControlProc, 0);
        delete name;
    }
    return DefSubclassProc(control, message, wParam, lParam);
}

}  // namespace

LRESULT answerStatusObject(HWND mainWindow, WPARAM wParam, LPARAM lParam)
{
    if (!asksForClient(lParam))
        return 0;
    StatusAccessible* object = StatusAccessible::make(mainWindow);
    return object ? returnObject(object, wParam) : 0;
}

void announceChangedLines(HWND mainWindow, const StatusTexts& before)
{
    for (int id = 1; id <= StatusLineCount; ++id)
        if (lineChanged(statusLines[id - 1], before, statusTexts))
            NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, mainWindow, OBJID_CLIENT, id);
}

void nameControl(HWND control, const WCHAR* name)
{
    if (!control)
        return;
    auto copy = new std::wstring(name);
    if (!SetWindowSubclass(control, namedControlProc, 0, reinterpret_cast<DWORD_PTR>(copy)))
        delete copy;
}
