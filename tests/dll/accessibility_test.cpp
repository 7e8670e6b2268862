// The card as a screen reader meets it, from outside the card's thread: the
// alert as it appears, its client object through AccessibleObjectFromWindow,
// the name and value changes of an update, its default action, and an object
// held past the card's end. A process of its own, so that whether the DLL
// loaded oleacc.dll before anyone asked can be seen.
//   card_access_test.exe --dll=kestrine_test.dll [gtest options]

#include <windows.h>

#include <oleacc.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kestrine.h"
#include "win_test_support.h"

namespace {

using kestrine::test::waitUntil;
using LongFn = long (*)();

struct Library {
    HMODULE module = nullptr;
    decltype(&ShowKestrine) show = nullptr;
    decltype(&CloseKestrine) close = nullptr;
    LongFn liveRecords = nullptr;
    LongFn liveDrawingObjects = nullptr;
    LongFn liveAccessibleObjects = nullptr;
    long long (*keptBytes)() = nullptr;
} dll;

// oleacc, loaded by the test only once the never-asked case has looked.
HRESULT(WINAPI* accessibleObjectFromWindow)(HWND, DWORD, REFIID, void**) = nullptr;

// mingw's oleacc import library gives IID_IAccessible as a thunk, not the IID.
const IID ACCESSIBLE_IID = {0x618736e0, 0x3c3d, 0x11cf,
                            {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

std::vector<HWND> cards() { return kestrine::test::cardWindowsOf(GetCurrentProcessId()); }

HWND waitForCard() {
    HWND found = nullptr;
    waitUntil([&] { return !cards().empty() && (found = cards()[0]) != nullptr; }, 5000);
    return found;
}

int show(const wchar_t* series, const wchar_t* title, const wchar_t* value, int animate = 0) {
    return dll.show(series, title, L"Today", value, L"4 trades", 0, 0, animate, 0.5, 1,
                    0xFFFFFFFFu, 0xFFFFFFFFu);
}

const wchar_t* const SERIES = L"0:0;3600:-15600;7200:1200;21600:48250";
const wchar_t* const SENTENCE = L"4 points, 00:00 to 06:00; last +48,250, low -15,600, high +48,250";

// WinEvents of the process's cards, as an out-of-context hook sees them: they
// arrive on this thread while it pumps.
struct SeenEvent {
    DWORD event;
    HWND window;
    LONG object;
};
std::vector<SeenEvent> seen;

void CALLBACK onWinEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object, LONG child, DWORD,
                         DWORD) {
    if (child == CHILDID_SELF) {
        seen.push_back(SeenEvent{event, window, object});
    }
}

int countSeen(DWORD event, HWND window) {
    int n = 0;
    for (const SeenEvent& e : seen) {
        n += e.event == event && e.window == window && e.object == OBJID_CLIENT ? 1 : 0;
    }
    return n;
}

class EventHook {
public:
    EventHook() {
        seen.clear();
        hook_ = SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_OBJECT_VALUECHANGE, nullptr, onWinEvent,
                                GetCurrentProcessId(), 0, WINEVENT_OUTOFCONTEXT);
    }
    ~EventHook() { UnhookWinEvent(hook_); }
    bool installed() const { return hook_ != nullptr; }

private:
    HWINEVENTHOOK hook_ = nullptr;
};

// One COM reference, released however the test ends.
class Held {
public:
    ~Held() { reset(); }
    IAccessible* get() const { return object_; }
    IAccessible** put() { reset(); return &object_; }
    void reset() {
        if (object_ != nullptr) {
            object_->Release();
            object_ = nullptr;
        }
    }

private:
    IAccessible* object_ = nullptr;
};

VARIANT self() {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = CHILDID_SELF;
    return v;
}

// A text property as a client reads it, with the call's result.
struct Text {
    HRESULT result;
    std::wstring text;
};
template <typename Getter>
Text read(IAccessible* object, Getter getter) {
    BSTR text = nullptr;
    const HRESULT result = (object->*getter)(self(), &text);
    Text got{result, text != nullptr ? std::wstring(text, SysStringLen(text)) : L""};
    SysFreeString(text);
    return got;
}

bool objectOf(HWND card, Held& held) {
    return accessibleObjectFromWindow(card, static_cast<DWORD>(OBJID_CLIENT), ACCESSIBLE_IID,
                                      reinterpret_cast<void**>(held.put())) == S_OK &&
           held.get() != nullptr;
}

class Accessibility : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(dll.liveAccessibleObjects, nullptr) << "run with --dll=kestrine_test.dll";
    }
    void TearDown() override {
        waitUntil([] { dll.close(); return cards().empty(); }, 5000);
        // Nothing of the cards is left: records, accessible objects, and
        // (once the short keep time is up) drawing objects.
        EXPECT_TRUE(waitUntil(
            [] {
                return dll.liveRecords() == 0 && dll.liveAccessibleObjects() == 0 &&
                       dll.keptBytes() == 0 && dll.liveDrawingObjects() == 0;
            },
            8000))
            << dll.liveRecords() << " records, " << dll.liveAccessibleObjects()
            << " accessible objects, " << dll.liveDrawingObjects() << " drawing objects";
    }
};

// Runs first: until a client asks, a card loads nothing for screen readers,
// yet still raises its alert.
TEST_F(Accessibility, card_never_asked_loads_nothing_and_still_alerts) {
    ASSERT_EQ(GetModuleHandleW(L"oleacc.dll"), nullptr) << "the host itself loaded oleacc";
    EventHook hook;
    ASSERT_TRUE(hook.installed());
    ASSERT_EQ(show(SERIES, L"P&L", L"+48,250", 1), 0);
    const HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    EXPECT_TRUE(waitUntil([&] { return countSeen(EVENT_SYSTEM_ALERT, card) == 1; }, 3000));
    kestrine::test::pumpFor(700);  // the animation runs to rest
    EXPECT_EQ(GetModuleHandleW(L"oleacc.dll"), nullptr);
    EXPECT_EQ(dll.liveAccessibleObjects(), 0);
    EXPECT_EQ(countSeen(EVENT_SYSTEM_ALERT, card), 1);
}

TEST_F(Accessibility, client_object_reads_the_card_and_follows_updates) {
    EventHook hook;
    ASSERT_EQ(show(SERIES, L"損益", L"+48,250"), 0);
    const HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    ASSERT_TRUE(waitUntil([&] { return countSeen(EVENT_SYSTEM_ALERT, card) == 1; }, 3000));
    Held object;
    ASSERT_TRUE(objectOf(card, object));
    IAccessible* a = object.get();
    EXPECT_EQ(read(a, &IAccessible::get_accName).text, L"損益");
    EXPECT_EQ(read(a, &IAccessible::get_accValue).text, L"+48,250");
    EXPECT_EQ(read(a, &IAccessible::get_accDescription).text,
              std::wstring(L"Today\n4 trades\n") + SENTENCE);
    EXPECT_EQ(read(a, &IAccessible::get_accDefaultAction).text, L"close");
    VARIANT role, state;
    ASSERT_EQ(a->get_accRole(self(), &role), S_OK);
    EXPECT_EQ(role.vt, VT_I4);
    EXPECT_EQ(role.lVal, ROLE_SYSTEM_ALERT);
    ASSERT_EQ(a->get_accState(self(), &state), S_OK);
    EXPECT_EQ(state.lVal, STATE_SYSTEM_READONLY);  // a still card is visible at once
    LONG x = 0, y = 0, w = 0, h = 0;
    ASSERT_EQ(a->accLocation(&x, &y, &w, &h, self()), S_OK);
    RECT r;
    GetWindowRect(card, &r);
    EXPECT_EQ(x, r.left);
    EXPECT_EQ(y, r.top);
    EXPECT_EQ(w, r.right - r.left);
    EXPECT_EQ(h, r.bottom - r.top);
    LONG children = -1;
    EXPECT_EQ(a->get_accChildCount(&children), S_OK);
    EXPECT_EQ(children, 0);
    VARIANT other = self();
    other.lVal = 1;
    BSTR none = nullptr;
    EXPECT_EQ(a->get_accName(other, &none), E_INVALIDARG);

    // A new title and value: one change of each. Then five updates 200 ms
    // apart that change only the value: no name change, at most one value
    // change each.
    ASSERT_EQ(show(L"0:1;60:2", L"Night", L"+2"), 0);
    EXPECT_TRUE(waitUntil([&] { return read(a, &IAccessible::get_accName).text == L"Night"; },
                          3000));
    EXPECT_EQ(read(a, &IAccessible::get_accValue).text, L"+2");
    EXPECT_EQ(read(a, &IAccessible::get_accDescription).text,
              L"Today\n4 trades\n2 points, 00:00 to 00:01; last +2, low +1, high +2");
    EXPECT_TRUE(waitUntil([&] { return countSeen(EVENT_OBJECT_VALUECHANGE, card) == 1; }, 3000));
    EXPECT_EQ(countSeen(EVENT_OBJECT_NAMECHANGE, card), 1);
    for (int i = 0; i < 5; ++i) {
        const std::wstring value = L"+" + std::to_wstring(10 + i);
        ASSERT_EQ(show(L"0:1;60:2", L"Night", value.c_str()), 0);
        kestrine::test::pumpFor(200);
    }
    EXPECT_TRUE(waitUntil([&] { return read(a, &IAccessible::get_accValue).text == L"+14"; },
                          3000));
    kestrine::test::pumpFor(200);
    EXPECT_GE(countSeen(EVENT_OBJECT_VALUECHANGE, card), 2);
    EXPECT_LE(countSeen(EVENT_OBJECT_VALUECHANGE, card), 6);
    EXPECT_EQ(countSeen(EVENT_OBJECT_NAMECHANGE, card), 1);
    EXPECT_EQ(countSeen(EVENT_SYSTEM_ALERT, card), 1);  // an update is no new card
    EXPECT_EQ(cards().size(), 1u);
}

TEST_F(Accessibility, default_action_closes_the_card_as_a_click_does) {
    ASSERT_EQ(show(SERIES, L"P&L", L"+1"), 0);
    const HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    Held object;
    ASSERT_TRUE(objectOf(card, object));
    EXPECT_EQ(object.get()->accDoDefaultAction(self()), S_OK);
    EXPECT_TRUE(waitUntil([] { return cards().empty(); }, 3000));
    EXPECT_TRUE(waitUntil([] { return dll.liveRecords() == 0; }, 3000));
}

// A call through a proxy whose card's thread has ended fails in COM, not in
// the object: RPC_E_DISCONNECTED on Windows; Wine 8 answers that the
// interface is unknown to it (measured).
bool disconnected(HRESULT result) {
    return result == RPC_E_DISCONNECTED || result == HRESULT_FROM_WIN32(RPC_S_UNKNOWN_IF);
}

// A screen reader may hold the object long after the card: every call then
// fails as disconnected, the card's object is already gone (the client's
// reference is only its proxy's), and the release from this thread is clean.

TEST_F(Accessibility, object_held_past_the_card_fails_cleanly) {
    ASSERT_EQ(show(SERIES, L"P&L", L"+1", 1), 0);
    const HWND card = waitForCard();
    ASSERT_NE(card, nullptr);
    Held object;
    ASSERT_TRUE(objectOf(card, object));
    EXPECT_EQ(read(object.get(), &IAccessible::get_accName).text, L"P&L");
    EXPECT_EQ(dll.liveAccessibleObjects(), 1);
    dll.close();
    ASSERT_TRUE(waitUntil([] { return cards().empty(); }, 3000));
    EXPECT_TRUE(waitUntil(
        [] { return dll.liveRecords() == 0 && dll.liveAccessibleObjects() == 0; }, 3000))
        << dll.liveAccessibleObjects() << " accessible objects";
    IAccessible* a = object.get();
    EXPECT_TRUE(disconnected(read(a, &IAccessible::get_accName).result));
    EXPECT_TRUE(disconnected(read(a, &IAccessible::get_accValue).result));
    VARIANT state;
    EXPECT_TRUE(disconnected(a->get_accState(self(), &state)));
    LONG x, y, w, h;
    EXPECT_TRUE(disconnected(a->accLocation(&x, &y, &w, &h, self())));
    EXPECT_TRUE(disconnected(a->accDoDefaultAction(self())));
    object.reset();
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string name = "kestrine_test.dll";
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--dll=", 6) == 0) {
            name = argv[i] + 6;
        }
    }
    dll.module = LoadLibraryW(
        (kestrine::test::programFolder() + std::wstring(name.begin(), name.end())).c_str());
    if (dll.module == nullptr) {
        std::fprintf(stderr, "cannot load %s\n", name.c_str());
        return 2;
    }
    const auto entry = [](const char* n) { return reinterpret_cast<void*>(GetProcAddress(dll.module, n)); };
    dll.show = reinterpret_cast<decltype(dll.show)>(entry("ShowKestrine"));
    dll.close = reinterpret_cast<decltype(dll.close)>(entry("CloseKestrine"));
    dll.liveRecords = reinterpret_cast<LongFn>(entry("KestrineTestLiveRecords"));
    dll.liveDrawingObjects = reinterpret_cast<LongFn>(entry("KestrineTestLiveDrawingObjects"));
    dll.liveAccessibleObjects = reinterpret_cast<LongFn>(entry("KestrineTestLiveAccessibleObjects"));
    dll.keptBytes = reinterpret_cast<long long (*)()>(entry("KestrineTestKeptBytes"));
    if (auto keep = reinterpret_cast<void (*)(unsigned)>(entry("KestrineTestKeepMilliseconds"))) {
        keep(300);  // what the last card leaves goes soon, so that tests can see it go
    }
    if (dll.show == nullptr || dll.close == nullptr) {
        std::fprintf(stderr, "%s lacks an export\n", name.c_str());
        return 2;
    }
    // A screen reader's thread: apartment-threaded COM, messages pumped.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    // oleacc is loaded here only for the cases that ask, after the never-asked
    // one has looked.
    struct LoadOleaccWhenAsking : ::testing::EmptyTestEventListener {
        void OnTestStart(const ::testing::TestInfo& test) override {
            if (accessibleObjectFromWindow == nullptr &&
                std::strcmp(test.name(), "card_never_asked_loads_nothing_and_still_alerts") != 0) {
                accessibleObjectFromWindow = reinterpret_cast<decltype(accessibleObjectFromWindow)>(
                    reinterpret_cast<void*>(GetProcAddress(LoadLibraryW(L"oleacc.dll"),
                                                           "AccessibleObjectFromWindow")));
            }
        }
    };
    ::testing::UnitTest::GetInstance()->listeners().Append(new LoadOleaccWhenAsking);
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
