// The hand-over's decisions: where a record from ShowKestrine goes, which card
// may take it, start or show, and what CloseKestrine voids. A pure state
// machine, events in and actions out, with no clock, thread, lock or handle
// inside; the Windows layer reports events under its lock and carries out the
// actions after it. Portable, so that a checker can run it through every
// interleaving of a scenario.
#pragma once

#include <cstdint>

namespace kestrine {

// Opaque to the machine: the platform's record pointer, window handle, and
// the number it gives a card. 0 is none.
using RecordRef = std::uintptr_t;
using WindowRef = std::uintptr_t;
using CardId = std::uint64_t;

// A card that has not taken the newest record within this long (stopped,
// hung, its thread or window never made) is replaced by a new card.
constexpr std::uint64_t HANDOVER_LIMIT_MS = 3000;
// A new card makes its window once fewer than this many card windows exist
// or are being made, or once it has waited CLOSING_WAIT_MS.
constexpr int MOST_CARD_WINDOWS = 3;
constexpr std::uint64_t CLOSING_WAIT_MS = 2000;

// Where the current card is in its life.
enum class CardPhase : std::uint8_t {
    starting,   // its thread is asked for; no window yet
    preparing,  // its window exists, hidden, preparing its first record
    shown,      // visible
};

// What the platform does after an event, outside its lock, in this order.
struct HandOverActions {
    RecordRef freeRecords[2] = {0, 0};  // never to be shown: free them
    WindowRef closeWindow = 0;  // a card given up on: ask it to close
    CardId startCard = 0;       // start a card thread with this id
    WindowRef tellWindow = 0;   // post to this card: a record waits for it
    std::uint64_t rescueInMs = 0;  // arm the one rescue timer (0: leave it)
    bool wakeWaiters = false;   // cards waiting to make a window look again
};

enum class Admission : std::uint8_t { makeWindow, wait, giveUp };

class HandOverMachine {
public:
    // ShowKestrine built record: it becomes the newest waiting record (an
    // older one not taken is freed), for the current card, or for a new one.
    HandOverActions recordArrived(RecordRef record, std::uint64_t now);

    // The thread of card runs: a record its start displaced is freed.
    HandOverActions threadStarted(CardId card);
    // The thread of card could not be started. callersRecord: the record of
    // the call that asked for it (0 when a rescue did); freed when it still
    // waits, so that a call whose own start fails leaves nothing behind, and
    // the record that call displaced waits again. A newer record stays
    // waiting for the next chance.
    HandOverActions threadFailed(CardId card, RecordRef callersRecord, std::uint64_t now);

    // The card's thread asks whether to make its window now; on wait, for
    // at most *waitMs or until woken. A card no longer current gives up.
    Admission admit(CardId card, std::uint64_t now, std::uint64_t* waitMs);

    // The admitted card's window exists (window) or could not be made (0).
    // The record the card is to prepare, taken in the same step; 0 when it
    // is void (no longer current) and destroys its window, or has none.
    RecordRef windowMade(CardId card, WindowRef window, std::uint64_t now,
                         HandOverActions* actions);

    // The card looks for a record (told to, or by itself): the newest
    // waiting one when it is the current card with a window; else 0.
    RecordRef look(CardId card);

    // Asked in the same step as the card is shown (under the platform's
    // lock): true exactly once, while it is still the current card and
    // preparing its first record.
    bool mayShow(CardId card);

    // True while card is the current one: what it announces, it announces
    // in the same step as this is asked.
    bool isCurrent(CardId card) const { return card != 0 && s_.current == card; }

    // The card's window is going (closed by anyone). If it was current and a
    // record waits, a new card is started for it.
    HandOverActions cardEnded(CardId card, std::uint64_t now);

    // The post that tells window to look did not go.
    void tellFailed(WindowRef window);

    // The rescue timer fired (or could not be armed: armFailed).
    HandOverActions rescueDue(std::uint64_t now);
    void rescueArmFailed() { s_.rescueArmed = false; }

    // CloseKestrine, before it walks the windows: whatever began before is
    // void. The waiting record is freed; no card is current.
    HandOverActions closeAll();

    // Card windows as they are created and destroyed (+1, -1).
    HandOverActions windowCounted(int change);

    // Everything the decisions depend on; read-only outside.
    struct State {
        // The one card that takes records; id 0 while none does.
        CardId current = 0;
        WindowRef currentWindow = 0;
        CardPhase phase = CardPhase::starting;
        bool told = false;              // a look is posted to it and not yet made
        std::uint64_t startedAt = 0;    // when its start was decided
        RecordRef waiting = 0;          // the newest record no card has taken
        std::uint64_t waitingSince = 0; // since when a card has owed it
        // An older record that a call starting a card of its own displaced:
        // it waits again should that card's thread not start (its call
        // returned 0; the displacing one then returns -2).
        RecordRef displaced = 0;
        CardId displacedFor = 0;
        CardId lastCard = 0;
        bool rescueArmed = false;
        int windows = 0;            // card windows that exist
        int windowsBeingMade = 0;   // admitted cards making theirs
    };
    const State& state() const { return s_; }

private:
    // Makes a new card current and asks for its thread; wakes a card it
    // replaces from its wait.
    void startNewCard(std::uint64_t now, HandOverActions* actions);
    // Every event that can leave a record waiting ends here: a rescue is armed.
    HandOverActions& armIfWaiting(std::uint64_t now, HandOverActions& actions);
    void clearCurrent();

    State s_;
};

}  // namespace kestrine
