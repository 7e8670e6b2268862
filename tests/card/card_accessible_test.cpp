// The card's accessible object as its own apartment holds it (a client on
// the card's thread gets the object itself, not a proxy): it answers from
// the record while the card lives, and once the window is gone every call
// fails as disconnected without reading anything, until the last release.

#include "card/card_accessible.h"

#include <oleacc.h>

#include <gtest/gtest.h>

#include "card/window_seams.h"
#include "card_test_support.h"

namespace kestrine {
namespace {

// mingw's oleacc import library gives IID_IAccessible as a thunk, not the IID.
const IID ACCESSIBLE_IID = {0x618736e0, 0x3c3d, 0x11cf,
                            {0x81, 0x0c, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

VARIANT self() {
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = CHILDID_SELF;
    return v;
}

TEST(CardAccessibleHere, answers_only_the_client_id_and_is_cut_off_with_its_window) {
    const HWND card = test::openCardHere(test::newRequest(false, 0));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(SendMessageW(card, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_WINDOW)), 0);
    EXPECT_EQ(testing::liveAccessibleObjects(), 0);
    const LRESULT answer = SendMessageW(card, WM_GETOBJECT, 0, static_cast<LPARAM>(OBJID_CLIENT));
    ASSERT_GT(answer, 0);
    IAccessible* object = nullptr;
    ASSERT_EQ(ObjectFromLresult(answer, ACCESSIBLE_IID, 0, reinterpret_cast<void**>(&object)),
              S_OK);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(testing::liveAccessibleObjects(), 1);
    BSTR name = nullptr;
    EXPECT_EQ(object->get_accName(self(), &name), S_OK);
    EXPECT_NE(name, nullptr);
    SysFreeString(name);

    test::closeCardHere(card);  // the record is freed with the window
    EXPECT_EQ(testing::liveAccessibleObjects(), 1);  // this client still holds it
    name = nullptr;
    EXPECT_EQ(object->get_accName(self(), &name), RPC_E_DISCONNECTED);
    EXPECT_EQ(name, nullptr);
    VARIANT state;
    EXPECT_EQ(object->get_accState(self(), &state), RPC_E_DISCONNECTED);
    EXPECT_EQ(state.vt, VT_EMPTY);
    EXPECT_EQ(object->accDoDefaultAction(self()), RPC_E_DISCONNECTED);
    object->Release();
    EXPECT_EQ(testing::liveAccessibleObjects(), 0);
}

}  // namespace
}  // namespace kestrine
