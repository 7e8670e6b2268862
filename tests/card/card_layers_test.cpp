// A card window's frame layers through its life on the test's own thread:
// built, rebuilt for an adopted record, used for frames that match drawing
// from nothing, left to the next card at destruction; without them a card
// still animates.

#include "card/card_layers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <utility>
#include <vector>

#include "card/hand_over.h"
#include "card/window_proc.h"
#include "card/window_seams.h"
#include "card_test_support.h"
#include "kestrine.h"
#include "core/animation_clock.h"
#include "draw/frame_layer_seams.h"
#include "draw/frame_layers.h"
#include "draw/frame_renderer.h"
#include "draw/gdiplus_lifetime.h"
#include "draw/test_seams.h"

namespace kestrine {
namespace {

using test::attached;
using test::closeCardHere;
using test::newRequest;
using test::openCardHere;
using test::pumpFor;

struct Presented {
    std::vector<uint32_t> pixels;
    BYTE constantAlpha = 0;
};
std::vector<Presented> presented;
int plainPresents = 0;

// Pixels of a presented frame more than one level off the reference in any
// channel; all of them when the sizes differ.
int pixelsOff(const std::vector<uint32_t>& shown, const std::vector<uint32_t>& reference) {
    if (shown.size() != reference.size()) {
        return static_cast<int>(reference.size());
    }
    int off = 0;
    for (std::size_t p = 0; p < reference.size(); ++p) {
        for (int shift = 0; shift < 32; shift += 8) {
            if (std::abs(static_cast<int>((shown[p] >> shift) & 0xFFu) -
                         static_cast<int>((reference[p] >> shift) & 0xFFu)) > 1) {
                ++off;
                break;
            }
        }
    }
    return off;
}

// The resting image of a record drawn from nothing.
std::vector<uint32_t> restingReference(const ChartRequest& record) {
    std::vector<uint32_t> reference(static_cast<std::size_t>(record.surfaceWidth) *
                                    record.surfaceHeight);
    renderCardToPixels(record, 1.0, record.animationSeconds, reference.data());
    return reference;
}

BOOL WINAPI keepIndirect(HWND window, const UPDATELAYEREDWINDOWINFO* info) {
    Presented p;
    p.pixels = test::surfaceBehind(info->hdcSrc).pixels;
    p.constantAlpha = info->pblend->SourceConstantAlpha;
    presented.push_back(std::move(p));
    return UpdateLayeredWindowIndirect(window, info);
}

BOOL WINAPI countPlain(HWND window, HDC screenDc, POINT* destination, SIZE* size, HDC sourceDc,
                       POINT* source, COLORREF key, BLENDFUNCTION* blend, DWORD flags) {
    ++plainPresents;
    return UpdateLayeredWindow(window, screenDc, destination, size, sourceDc, source, key, blend,
                               flags);
}

class CardLayersHere : public ::testing::Test {
protected:
    void SetUp() override {
        test::forgetSavedPosition();
        test::clearFrames();
        presented.clear();
        plainPresents = 0;
        takeClosedCardLayers();  // an earlier test's last card
        recordsBefore = testing::liveRequests();
        gdiBefore = testing::liveGdiObjects();
        testing::setLayeredPresentHook(&keepIndirect);
        testing::setUpdateLayeredWindowHook(&countPlain);
    }
    void TearDown() override {
        closeCardHere(card);
        testing::setLayeredPresentHook(nullptr);
        testing::setUpdateLayeredWindowHook(nullptr);
        testing::setFrameLayerAllocationFailure(false);
        test::forgetSavedPosition();
        takeClosedCardLayers();
        EXPECT_EQ(testing::liveRequests(), recordsBefore);
        EXPECT_EQ(testing::liveGdiObjects(), gdiBefore);
    }
    long recordsBefore = 0;
    long gdiBefore = 0;
    HWND card = nullptr;
};

TEST_F(CardLayersHere, preparation_builds_them_for_the_attached_record) {
    card = openCardHere(newRequest(false, 0));
    ASSERT_NE(card, nullptr);
    const FrameLayers* layers = testing::frameLayersOf(card);
    ASSERT_NE(layers, nullptr);
    EXPECT_TRUE(layers->builtFor(*attached(card)));
    // The resting image went out composed from them, at full opacity.
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(presented[0].constantAlpha, 255);
    EXPECT_EQ(plainPresents, 0);
}

TEST_F(CardLayersHere, adoption_builds_them_anew_for_the_adopted_record) {
    card = openCardHere(newRequest(true, 0));
    ASSERT_NE(card, nullptr);
    ChartRequest* fresh = newRequest(false, 0);
    const long staticDraws = testing::staticPartDraws();
    presented.clear();
    ASSERT_EQ(test::updateCardHere(card, fresh), KESTRINE_OK);
    ASSERT_EQ(attached(card), fresh);
    const FrameLayers* layers = testing::frameLayersOf(card);
    ASSERT_NE(layers, nullptr);
    EXPECT_TRUE(layers->builtFor(*fresh));
    EXPECT_EQ(layers->width(), fresh->surfaceWidth);
    // Still one set: the DIB, memory DC and selection of the old record's
    // layers are gone.
    EXPECT_EQ(testing::liveGdiObjects(), gdiBefore + 3);
    // The same texts, accent and axes: the card below the curve was kept from
    // the old record's layers (that record already freed), and the resting
    // image is what drawing the new one from nothing gives.
    EXPECT_EQ(testing::staticPartDraws(), staticDraws);
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(pixelsOff(presented[0].pixels, restingReference(*fresh)), 0);
}

// The last card to close leaves its layers, not its record, to the next card,
// which draws over them; with another card still using GDI+ they are freed.
TEST_F(CardLayersHere, destruction_frees_the_record_and_leaves_the_layers_to_the_next_card) {
    card = openCardHere(newRequest(true, 0));
    ASSERT_NE(card, nullptr);
    const uint32_t* surface = testing::frameLayersOf(card)->framePixels();
    const std::size_t surfaceBytes = static_cast<std::size_t>(4) *
                                     testing::frameLayersOf(card)->width() *
                                     testing::frameLayersOf(card)->height();
    EXPECT_GT(testing::frameLayersOf(card)->bytes().total(), surfaceBytes);
    EXPECT_EQ(testing::liveGdiObjects(), gdiBefore + 3);
    DestroyWindow(card);
    pumpFor(0);
    EXPECT_EQ(testing::liveRequests(), recordsBefore);
    EXPECT_EQ(testing::liveGdiObjects(), gdiBefore + 3);
    // Only the frame surface is left: the rest of the layers went as the
    // card closed.
    EXPECT_EQ(testing::closedCardLayerBytes(), surfaceBytes);
    presented.clear();
    card = openCardHere(newRequest(false, 0));
    ASSERT_NE(card, nullptr);
    ASSERT_NE(testing::frameLayersOf(card), nullptr);
    EXPECT_EQ(testing::frameLayersOf(card)->framePixels(), surface);
    EXPECT_EQ(testing::liveGdiObjects(), gdiBefore + 3);
    EXPECT_EQ(testing::closedCardLayerBytes(), 0u);
    ASSERT_EQ(presented.size(), 1u);
    EXPECT_EQ(pixelsOff(presented[0].pixels, restingReference(*attached(card))), 0);
    acquireGdiplus();  // another card
    DestroyWindow(card);
    pumpFor(0);
    releaseGdiplus();
    EXPECT_EQ(testing::closedCardLayerBytes(), 0u);
    EXPECT_EQ(testing::liveGdiObjects(), gdiBefore);
}

TEST_F(CardLayersHere, animation_frames_match_drawing_from_nothing) {
    ChartRequest* request = newRequest(true, 0, 0.3);
    card = openCardHere(request);
    ASSERT_NE(card, nullptr);
    pumpFor(700);
    const std::vector<test::Frame>& frames = test::frames();
    ASSERT_GE(frames.size(), 3u);
    ASSERT_LE(presented.size(), frames.size());
    // The record is still attached: draw each frame from nothing and compare.
    // A frame that changes nothing is not sent again; the window then still
    // shows the previous one, which must be that frame too.
    const ChartRequest& record = *attached(card);
    std::vector<uint32_t> reference(static_cast<std::size_t>(record.surfaceWidth) *
                                    record.surfaceHeight);
    std::size_t shown = 0;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        renderCardToPixels(record, frames[i].progress, frames[i].elapsedSeconds,
                           reference.data());
        const BYTE alpha = static_cast<BYTE>(constantAlphaFromFade(frames[i].fade));
        if (shown < presented.size() && presented[shown].constantAlpha == alpha &&
            pixelsOff(presented[shown].pixels, reference) == 0) {
            ++shown;
            continue;
        }
        ASSERT_GT(shown, 0u) << "frame " << i << " was never shown";
        EXPECT_EQ(pixelsOff(presented[shown - 1].pixels, reference), 0)
            << "frame " << i << " at progress " << frames[i].progress;
        EXPECT_EQ(presented[shown - 1].constantAlpha, alpha) << "frame " << i;
    }
    EXPECT_EQ(shown, presented.size());
    // The run ended on the resting image.
    EXPECT_EQ(frames.back().progress, 1.0);
    EXPECT_EQ(frames.back().fade, 1.0);
}

TEST_F(CardLayersHere, without_layers_a_card_animates_from_nothing) {
    testing::setFrameLayerAllocationFailure(true);
    card = openCardHere(newRequest(true, 0, 0.3));
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(testing::frameLayersOf(card), nullptr);
    pumpFor(700);
    const std::vector<test::Frame>& frames = test::frames();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(plainPresents, static_cast<int>(frames.size()));
    EXPECT_TRUE(presented.empty());
    EXPECT_EQ(frames.back().progress, 1.0);
    // A later record of the same card gets layers again once memory is there.
    testing::setFrameLayerAllocationFailure(false);
    ChartRequest* fresh = newRequest(false, 0);
    ASSERT_EQ(test::updateCardHere(card, fresh), KESTRINE_OK);
    EXPECT_NE(testing::frameLayersOf(card), nullptr);
    EXPECT_EQ(presented.size(), 1u);
}

}  // namespace
}  // namespace kestrine
