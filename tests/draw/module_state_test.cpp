// The module's GDI+ reference count and token with GDI+ start-up and
// shut-down watched (and made to fail) through the test hooks, the real GDI+
// started and stopped across cards, and the attach and detach steps.

#include <windows.h>

#include <gdiplus.h>
#include <gtest/gtest.h>

#include <vector>

#include "card/card_registry.h"
#include "dll/module_state.h"
#include "draw/gdiplus_lifetime.h"
#include "draw/module_lock.h"
#include "draw/test_seams.h"
#include "drawing_test_support.h"

namespace kestrine {
namespace {

struct GdiplusCalls {
    int startups = 0;
    std::vector<ULONG_PTR> shutdowns;
    bool failNextStartup = false;
    ULONG_PTR nextToken = 0x5150;
    UINT32 versionAsked = 0;
};
GdiplusCalls calls;

Gdiplus::Status WINAPI fakeStartup(ULONG_PTR* token, const Gdiplus::GdiplusStartupInput* input,
                                   Gdiplus::GdiplusStartupOutput* output) {
    ++calls.startups;
    calls.versionAsked = input->GdiplusVersion;
    EXPECT_EQ(output, nullptr);
    if (calls.failNextStartup) {
        calls.failNextStartup = false;
        // A failing start-up may still scribble on the token.
        *token = 0xBAD;
        return Gdiplus::GdiplusNotInitialized;
    }
    *token = calls.nextToken++;
    return Gdiplus::Ok;
}

void WINAPI fakeShutdown(ULONG_PTR token) {
    calls.shutdowns.push_back(token);
}

int users() {
    ModuleLockGuard lock;
    return gdiplusUsers;
}

ULONG_PTR token() {
    ModuleLockGuard lock;
    return gdiplusToken;
}

class GdiplusLifetime : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(users(), 0) << "another test left a GDI+ reference behind";
        calls = GdiplusCalls();
        testing::setGdiplusHooks(&fakeStartup, &fakeShutdown);
    }
    void TearDown() override { testing::setGdiplusHooks(nullptr, nullptr); }
};

TEST_F(GdiplusLifetime, first_acquire_starts_version_1_and_last_release_shuts_down) {
    acquireGdiplus();
    EXPECT_EQ(calls.startups, 1);
    EXPECT_EQ(calls.versionAsked, 1u);
    EXPECT_EQ(users(), 1);
    EXPECT_EQ(token(), 0x5150u);

    releaseGdiplus();
    EXPECT_EQ(calls.shutdowns, std::vector<ULONG_PTR>{0x5150});
    EXPECT_EQ(users(), 0);
    EXPECT_EQ(token(), 0u);
}

TEST_F(GdiplusLifetime, overlapping_users_share_one_start_and_the_later_one_shuts_down) {
    acquireGdiplus();
    acquireGdiplus();
    EXPECT_EQ(calls.startups, 1);
    EXPECT_EQ(users(), 2);

    releaseGdiplus();
    EXPECT_TRUE(calls.shutdowns.empty());
    EXPECT_EQ(users(), 1);
    EXPECT_EQ(token(), 0x5150u);

    releaseGdiplus();
    EXPECT_EQ(calls.shutdowns, std::vector<ULONG_PTR>{0x5150});
    EXPECT_EQ(users(), 0);
}

TEST_F(GdiplusLifetime, cards_in_sequence_start_again_with_token_0_between) {
    acquireGdiplus();
    releaseGdiplus();
    EXPECT_EQ(token(), 0u);
    acquireGdiplus();
    EXPECT_EQ(calls.startups, 2);
    EXPECT_EQ(token(), 0x5151u);
    releaseGdiplus();
    EXPECT_EQ(calls.shutdowns, (std::vector<ULONG_PTR>{0x5150, 0x5151}));
}

TEST_F(GdiplusLifetime, failed_start_counts_the_user_keeps_token_0_and_never_shuts_down) {
    calls.failNextStartup = true;
    acquireGdiplus();
    EXPECT_EQ(users(), 1);
    EXPECT_EQ(token(), 0u);

    // A second card while the first start-up failed only counts.
    acquireGdiplus();
    EXPECT_EQ(calls.startups, 1);
    releaseGdiplus();
    releaseGdiplus();
    EXPECT_TRUE(calls.shutdowns.empty());
    EXPECT_EQ(users(), 0);

    // Once the count is back to 0 the next card tries again, and succeeds.
    acquireGdiplus();
    EXPECT_EQ(calls.startups, 2);
    EXPECT_EQ(token(), 0x5150u);
    releaseGdiplus();
    EXPECT_EQ(calls.shutdowns, std::vector<ULONG_PTR>{0x5150});
}

TEST_F(GdiplusLifetime, unpaired_release_does_not_block_the_next_start) {
    releaseGdiplus();
    EXPECT_EQ(users(), 0);
    acquireGdiplus();
    EXPECT_EQ(calls.startups, 1);
    EXPECT_EQ(token(), 0x5150u);
    releaseGdiplus();
}

TEST(RealGdiplus, starts_stops_and_starts_again) {
    ASSERT_EQ(users(), 0);
    acquireGdiplus();
    const ULONG_PTR first = token();
    EXPECT_NE(first, 0u);
    Gdiplus::GpBitmap* bitmap = nullptr;
    EXPECT_EQ(Gdiplus::DllExports::GdipCreateBitmapFromScan0(4, 4, 0, PixelFormat32bppPARGB,
                                                             nullptr, &bitmap),
              Gdiplus::Ok);
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
    releaseGdiplus();
    EXPECT_EQ(token(), 0u);

    acquireGdiplus();
    EXPECT_NE(token(), 0u);
    bitmap = nullptr;
    EXPECT_EQ(Gdiplus::DllExports::GdipCreateBitmapFromScan0(4, 4, 0, PixelFormat32bppPARGB,
                                                             nullptr, &bitmap),
              Gdiplus::Ok);
    Gdiplus::DllExports::GdipDisposeImage(bitmap);
    releaseGdiplus();
    EXPECT_EQ(users(), 0);
}

TEST(ModuleAttach, records_the_instance_and_readies_the_lock) {
    EXPECT_EQ(moduleInstance, GetModuleHandleW(nullptr));
    EXPECT_TRUE(moduleLockInitialized);
    EXPECT_TRUE(TryEnterCriticalSection(&moduleLock));
    LeaveCriticalSection(&moduleLock);
}

TEST(ModuleDetach, process_end_leaves_the_lock_and_unload_deletes_it) {
    detachModule(true);
    EXPECT_TRUE(moduleLockInitialized);

    detachModule(false);
    EXPECT_FALSE(moduleLockInitialized);
    // A second unload notification finds nothing to delete.
    detachModule(false);
    EXPECT_FALSE(moduleLockInitialized);

    attachModule(GetModuleHandleW(nullptr));
    EXPECT_TRUE(moduleLockInitialized);
}

}  // namespace
}  // namespace kestrine
