// The card's IAccessible and the COM it needs. The object reads the card's
// current record on the card's own thread each time a client asks (calls
// from other apartments arrive there through COM's marshalling), so nothing
// is computed per frame and nothing is copied that could go stale. It holds
// no pointer into the record: only the window, which it forgets as the
// window is destroyed.

#include "card/card_accessible.h"

#include <oleacc.h>

#include <atomic>
#include <new>
#include <string>

#include "card/window_seams.h"
#include "core/chart_request.h"

namespace kestrine {

namespace {

// Spelled out rather than taken from the SDK's libraries: mingw's oleacc
// import library gives IID_IAccessible as an import thunk, not as the IID
// (its bytes are machine code, and marshalling then fails), and the DLL links
// no uuid library.
const IID CARD_IID_IUNKNOWN = {0x00000000, 0x0000, 0x0000,
                               {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID CARD_IID_IDISPATCH = {0x00020400, 0x0000, 0x0000,
                                {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID CARD_IID_IACCESSIBLE = {0x618736e0, 0x3c3d, 0x11cf,
                                  {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

constexpr wchar_t OBJECT_PROPERTY[] = L"KestrineAccessible";
constexpr wchar_t DEFAULT_ACTION[] = L"close";

// The functions of the system's accessibility and COM libraries, looked up at
// run time so that the DLL's imports stay as they are and a host without an
// assistive technology never loads them. Once loaded they stay for the life
// of the process: COM's own threads and other cards' apartments may still be
// running code in them when one card ends.
struct AccessibilityRuntime {
    HRESULT(WINAPI* coInitializeEx)(LPVOID, DWORD) = nullptr;
    void(WINAPI* coUninitialize)() = nullptr;
    HRESULT(WINAPI* coDisconnectObject)(LPUNKNOWN, DWORD) = nullptr;
    LRESULT(WINAPI* lresultFromObject)(REFIID, WPARAM, LPUNKNOWN) = nullptr;
    HRESULT(WINAPI* accessibleObjectFromWindow)(HWND, DWORD, REFIID, void**) = nullptr;
    BSTR(WINAPI* sysAllocStringLen)(const OLECHAR*, UINT) = nullptr;

    bool usable() const {
        return coInitializeEx != nullptr && coUninitialize != nullptr &&
               coDisconnectObject != nullptr && lresultFromObject != nullptr &&
               accessibleObjectFromWindow != nullptr && sysAllocStringLen != nullptr;
    }
};

template <typename Function>
void lookUp(Function& function, HMODULE module, const char* name) {
    if (module != nullptr) {
        // Through void*, since function pointer types differ from FARPROC.
        function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    }
}

AccessibilityRuntime loadRuntime() {
    AccessibilityRuntime runtime;
    const HMODULE ole32 = LoadLibraryW(L"ole32.dll");
    const HMODULE oleaut32 = LoadLibraryW(L"oleaut32.dll");
    const HMODULE oleacc = LoadLibraryW(L"oleacc.dll");
    lookUp(runtime.coInitializeEx, ole32, "CoInitializeEx");
    lookUp(runtime.coUninitialize, ole32, "CoUninitialize");
    lookUp(runtime.coDisconnectObject, ole32, "CoDisconnectObject");
    lookUp(runtime.sysAllocStringLen, oleaut32, "SysAllocStringLen");
    lookUp(runtime.lresultFromObject, oleacc, "LresultFromObject");
    lookUp(runtime.accessibleObjectFromWindow, oleacc, "AccessibleObjectFromWindow");
    return runtime;
}

// Loaded by the first card that is asked, once (a function-local static is
// initialised exactly once, whichever card threads ask at the same moment).
const AccessibilityRuntime& runtime() {
    static const AccessibilityRuntime loaded = loadRuntime();
    return loaded;
}

// Whether a WM_GETOBJECT on this thread initialised COM, which the thread
// then uninitialises as it ends. The card's thread is the library's own, so
// a host's COM is never touched.
thread_local bool comInitialisedHere = false;

std::atomic<long> liveObjects{0};

bool isSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

void setEmpty(VARIANT* v) {
    v->vt = VT_EMPTY;
}

HRESULT toBstr(const std::wstring& text, BSTR* out) {
    *out = runtime().sysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return *out != nullptr ? S_OK : E_OUTOFMEMORY;
}

// The client object of one card window. Reference counts may drop on any
// thread (a client's last Release, COM's clean-up); everything else runs on
// the card's thread, as COM delivers calls to an apartment-threaded object.
class CardAccessible final : public IAccessible {
public:
    explicit CardAccessible(HWND window) : window_(window), thread_(GetCurrentThreadId()) {
        liveObjects.fetch_add(1);
    }

    // The window is going: from here every call fails as disconnected.
    void disconnect() { window_ = nullptr; }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) {
            return E_POINTER;
        }
        if (IsEqualIID(iid, CARD_IID_IUNKNOWN) || IsEqualIID(iid, CARD_IID_IDISPATCH) ||
            IsEqualIID(iid, CARD_IID_IACCESSIBLE)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const long left = --references_;
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

    // IDispatch: no type information; clients use the IAccessible methods.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        if (info != nullptr) {
            *info = nullptr;
        }
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    // IAccessible
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        if (parent == nullptr) {
            return E_POINTER;
        }
        *parent = nullptr;
        if (const HRESULT refused = refusal()) {
            return refused;
        }
        // The window's own object, which the system makes.
        const HRESULT result = runtime().accessibleObjectFromWindow(
            window_, static_cast<DWORD>(OBJID_WINDOW), CARD_IID_IDISPATCH,
            reinterpret_cast<void**>(parent));
        return SUCCEEDED(result) && *parent != nullptr ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        if (count == nullptr) {
            return E_POINTER;
        }
        *count = 0;
        return refusal();
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT, IDispatch** child) override {
        if (child == nullptr) {
            return E_POINTER;
        }
        *child = nullptr;
        if (const HRESULT refused = refusal()) {
            return refused;
        }
        return E_INVALIDARG;  // the card has no children
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        return text(child, name, [](const ChartRequest& r) { return cardAccessibleName(r); });
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        return text(child, value, [](const ChartRequest& r) { return r.valueText; });
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        return text(child, description,
                    [](const ChartRequest& r) { return cardAccessibleDescription(r); });
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        if (role == nullptr) {
            return E_POINTER;
        }
        setEmpty(role);
        if (const HRESULT refused = refusal(child)) {
            return refused;
        }
        role->vt = VT_I4;
        role->lVal = ROLE_SYSTEM_ALERT;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        if (state == nullptr) {
            return E_POINTER;
        }
        setEmpty(state);
        if (const HRESULT refused = refusal(child)) {
            return refused;
        }
        state->vt = VT_I4;
        state->lVal = STATE_SYSTEM_READONLY;
        if (!IsWindowVisible(window_) || fullyTransparent()) {
            state->lVal |= STATE_SYSTEM_INVISIBLE;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return none(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        if (topic == nullptr) {
            return E_POINTER;
        }
        *topic = 0;
        return none(child, file);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return none(child, shortcut);
    }
    // The card never takes the focus and has nothing to select.
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* focus) override {
        return noneChosen(focus);
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* selection) override {
        return noneChosen(selection);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return text(child, action, [](const ChartRequest&) { return std::wstring(DEFAULT_ACTION); });
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG, VARIANT child) override {
        if (const HRESULT refused = refusal(child)) {
            return refused;
        }
        return DISP_E_MEMBERNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                          VARIANT child) override {
        if (left == nullptr || top == nullptr || width == nullptr || height == nullptr) {
            return E_POINTER;
        }
        *left = *top = *width = *height = 0;
        if (const HRESULT refused = refusal(child)) {
            return refused;
        }
        RECT r = {0, 0, 0, 0};
        if (!GetWindowRect(window_, &r)) {
            return E_FAIL;
        }
        *left = r.left;
        *top = r.top;
        *width = r.right - r.left;
        *height = r.bottom - r.top;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG, VARIANT start, VARIANT* end) override {
        if (end == nullptr) {
            return E_POINTER;
        }
        setEmpty(end);
        if (const HRESULT refused = refusal(start)) {
            return refused;
        }
        return S_FALSE;  // no children, and siblings are the window's to tell
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* hit) override {
        if (hit == nullptr) {
            return E_POINTER;
        }
        setEmpty(hit);
        if (const HRESULT refused = refusal()) {
            return refused;
        }
        RECT r = {0, 0, 0, 0};
        const POINT p = {x, y};
        if (!GetWindowRect(window_, &r) || !PtInRect(&r, p)) {
            return S_FALSE;
        }
        hit->vt = VT_I4;
        hit->lVal = CHILDID_SELF;
        return S_OK;
    }
    // Closes the card as a click does. Posted, not done within the call: the
    // window's destruction disconnects this very object.
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        if (const HRESULT refused = refusal(child)) {
            return refused;
        }
        return PostMessageW(window_, WM_CLOSE, 0, 0) ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT, BSTR) override { return DISP_E_MEMBERNOTFOUND; }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT, BSTR) override {
        return DISP_E_MEMBERNOTFOUND;
    }

private:
    ~CardAccessible() { liveObjects.fetch_sub(1); }

    // Why a call cannot be answered: the card is gone, or a client broke
    // COM's rules and called from another thread. S_OK when it can.
    HRESULT refusal() const {
        if (GetCurrentThreadId() != thread_) {
            return RPC_E_WRONG_THREAD;
        }
        return window_ == nullptr ? RPC_E_DISCONNECTED : S_OK;
    }
    HRESULT refusal(const VARIANT& child) const {
        const HRESULT refused = refusal();
        if (refused != S_OK) {
            return refused;
        }
        return isSelf(child) ? S_OK : E_INVALIDARG;
    }

    const ChartRequest* shown() const {
        return reinterpret_cast<const ChartRequest*>(GetWindowLongPtrW(window_, GWLP_USERDATA));
    }

    template <typename Read>
    HRESULT text(const VARIANT& child, BSTR* out, Read read) const {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (const HRESULT refused = refusal(child)) {
            return refused;
        }
        const ChartRequest* request = shown();
        if (request == nullptr) {
            return S_FALSE;  // between the window's creation and its record
        }
        try {
            return toBstr(read(*request), out);
        } catch (...) {
            return E_OUTOFMEMORY;
        }
    }

    HRESULT none(const VARIANT& child, BSTR* out) const {
        if (out == nullptr) {
            return E_POINTER;
        }
        *out = nullptr;
        if (const HRESULT refused = refusal(child)) {
            return refused;
        }
        return S_FALSE;
    }

    HRESULT noneChosen(VARIANT* out) const {
        if (out == nullptr) {
            return E_POINTER;
        }
        setEmpty(out);
        if (const HRESULT refused = refusal()) {
            return refused;
        }
        return S_FALSE;
    }

    // An animated run fades in from its start: every frame drawn while the
    // clock still reads the start tick has fade 0, and the card shows nothing.
    bool fullyTransparent() const {
        const ChartRequest* request = shown();
        return request != nullptr && animatesOnCard(*request) && !request->restingShown &&
               GetTickCount64() == request->animationStartTick;
    }

    std::atomic<long> references_{1};
    HWND window_;
    const DWORD thread_;
};

// The one reference the window holds; the property is removed at WM_NCDESTROY.
CardAccessible* windowObject(HWND window) {
    return static_cast<CardAccessible*>(GetPropW(window, OBJECT_PROPERTY));
}

bool comReady() {
    if (comInitialisedHere) {
        return true;
    }
    // S_FALSE (already initialised on this thread) is balanced as well.
    const HRESULT result = runtime().coInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (SUCCEEDED(result)) {
        comInitialisedHere = true;
        return true;
    }
    return result == RPC_E_CHANGED_MODE;  // usable, but not this thread's to end
}

}  // namespace

LRESULT answerAccessibilityQuery(HWND window, WPARAM wParam, LPARAM lParam) {
    // The object id travels in the low 32 bits (OBJID_CLIENT is negative).
    if (static_cast<DWORD>(lParam) != static_cast<DWORD>(OBJID_CLIENT) ||
        !runtime().usable() || !comReady()) {
        return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
    }
    CardAccessible* object = windowObject(window);
    if (object == nullptr) {
        object = new (std::nothrow) CardAccessible(window);
        if (object == nullptr) {
            return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
        }
        if (!SetPropW(window, OBJECT_PROPERTY, object)) {
            object->Release();
            return DefWindowProcW(window, WM_GETOBJECT, wParam, lParam);
        }
    }
    return runtime().lresultFromObject(CARD_IID_IACCESSIBLE, wParam,
                                       static_cast<IAccessible*>(object));
}

void disconnectCardAccessible(HWND window) {
    CardAccessible* object = static_cast<CardAccessible*>(RemovePropW(window, OBJECT_PROPERTY));
    if (object == nullptr) {
        return;  // never asked: nothing was loaded or made
    }
    object->disconnect();
    // The stubs that serve other apartments let go now, so their clients'
    // calls fail at once rather than when the thread ends.
    runtime().coDisconnectObject(static_cast<IAccessible*>(object), 0);
    object->Release();
}

void announceCardShown(HWND window) {
    NotifyWinEvent(EVENT_SYSTEM_ALERT, window, OBJID_CLIENT, CHILDID_SELF);
}

void announceCardTextChanges(HWND window, const CardTextChanges& changes) {
    if (changes.name) {
        NotifyWinEvent(EVENT_OBJECT_NAMECHANGE, window, OBJID_CLIENT, CHILDID_SELF);
    }
    if (changes.value) {
        NotifyWinEvent(EVENT_OBJECT_VALUECHANGE, window, OBJID_CLIENT, CHILDID_SELF);
    }
}

CardThreadAccessibility::~CardThreadAccessibility() {
    if (comInitialisedHere) {
        comInitialisedHere = false;
        runtime().coUninitialize();
    }
}

namespace testing {

long liveAccessibleObjects() { return liveObjects.load(); }

}  // namespace testing

}  // namespace kestrine
