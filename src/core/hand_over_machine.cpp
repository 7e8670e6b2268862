// The hand-over's decisions; see hand_over_machine.h. One waiting slot in
// which the newest record wins, one current card, and nothing else: a card
// that is not current never takes a record or shows.

#include "core/hand_over_machine.h"

namespace kestrine {

void HandOverMachine::clearCurrent() {
    s_.current = 0;
    s_.currentWindow = 0;
    s_.phase = CardPhase::starting;
    s_.told = false;
    s_.startedAt = 0;
}

void HandOverMachine::startNewCard(std::uint64_t now, HandOverActions* actions) {
    clearCurrent();
    s_.current = ++s_.lastCard;
    s_.startedAt = now;
    // The new card gets the whole limit to take the record.
    s_.waitingSince = now;
    actions->startCard = s_.current;
    actions->wakeWaiters = true;
}

HandOverActions& HandOverMachine::armIfWaiting(std::uint64_t now, HandOverActions& actions) {
    if (s_.waiting != 0 && !s_.rescueArmed) {
        const std::uint64_t due = s_.waitingSince + HANDOVER_LIMIT_MS;
        actions.rescueInMs = due > now ? due - now : 1;
        s_.rescueArmed = true;
    }
    return actions;
}

HandOverActions HandOverMachine::recordArrived(RecordRef record, std::uint64_t now) {
    HandOverActions actions;
    // Only the newest is worth showing: a record kept for a start that this
    // call outdates goes too.
    actions.freeRecords[0] = s_.displaced;
    s_.displaced = 0;
    s_.displacedFor = 0;
    const RecordRef older = s_.waiting;
    if (older == 0) {
        s_.waitingSince = now;
    }
    s_.waiting = record;
    if (s_.current == 0) {
        startNewCard(now, &actions);
        // The older record's call returned 0 while no card was to be had (a
        // thread or window that failed): it is this start's fallback.
        s_.displaced = older;
        s_.displacedFor = older != 0 ? s_.current : 0;
    } else {
        actions.freeRecords[1] = older;
        if (s_.currentWindow != 0 && !s_.told) {
            s_.told = true;
            actions.tellWindow = s_.currentWindow;
        }
    }
    return armIfWaiting(now, actions);
}

HandOverActions HandOverMachine::threadStarted(CardId card) {
    HandOverActions actions;
    if (s_.displacedFor == card && s_.displaced != 0) {
        actions.freeRecords[0] = s_.displaced;
        s_.displaced = 0;
        s_.displacedFor = 0;
    }
    return actions;
}

HandOverActions HandOverMachine::threadFailed(CardId card, RecordRef callersRecord,
                                              std::uint64_t now) {
    HandOverActions actions;
    if (isCurrent(card)) {
        clearCurrent();
    }
    if (callersRecord != 0 && s_.waiting == callersRecord) {
        actions.freeRecords[0] = s_.waiting;
        s_.waiting = 0;
    }
    if (s_.displacedFor == card && s_.displaced != 0) {
        if (s_.waiting == 0) {
            s_.waiting = s_.displaced;
        } else {
            actions.freeRecords[1] = s_.displaced;
        }
        s_.displaced = 0;
        s_.displacedFor = 0;
    }
    if (s_.waiting != 0) {
        // A record whose call returned 0 waits for the rescue, a whole limit
        // from now, or for the next call.
        s_.waitingSince = now;
    }
    return armIfWaiting(now, actions);
}

Admission HandOverMachine::admit(CardId card, std::uint64_t now, std::uint64_t* waitMs) {
    *waitMs = 0;
    if (!isCurrent(card) || s_.currentWindow != 0) {
        return Admission::giveUp;
    }
    const std::uint64_t deadline = s_.startedAt + CLOSING_WAIT_MS;
    if (s_.windows + s_.windowsBeingMade < MOST_CARD_WINDOWS || now >= deadline) {
        ++s_.windowsBeingMade;
        return Admission::makeWindow;
    }
    *waitMs = deadline - now;
    return Admission::wait;
}

RecordRef HandOverMachine::windowMade(CardId card, WindowRef window, std::uint64_t now,
                                      HandOverActions* actions) {
    *actions = HandOverActions{};
    if (s_.windowsBeingMade > 0) {
        --s_.windowsBeingMade;
    }
    actions->wakeWaiters = true;
    if (!isCurrent(card) || s_.currentWindow != 0) {
        return 0;
    }
    if (window == 0 || s_.waiting == 0) {
        // No window: the record waits for the rescue, which starts another
        // card once the limit is up.
        clearCurrent();
        armIfWaiting(now, *actions);
        return 0;
    }
    s_.currentWindow = window;
    s_.phase = CardPhase::preparing;
    const RecordRef record = s_.waiting;
    s_.waiting = 0;
    return record;
}

RecordRef HandOverMachine::look(CardId card) {
    if (!isCurrent(card) || s_.currentWindow == 0) {
        return 0;
    }
    s_.told = false;
    const RecordRef record = s_.waiting;
    s_.waiting = 0;
    return record;
}

bool HandOverMachine::mayShow(CardId card) {
    if (!isCurrent(card) || s_.phase != CardPhase::preparing) {
        return false;
    }
    s_.phase = CardPhase::shown;
    return true;
}

HandOverActions HandOverMachine::cardEnded(CardId card, std::uint64_t now) {
    HandOverActions actions;
    if (!isCurrent(card)) {
        return actions;
    }
    clearCurrent();
    if (s_.waiting != 0) {
        // Closed (a click, its delay) before it took the newest record: that
        // record was handed over after what the card showed.
        startNewCard(now, &actions);
    }
    return armIfWaiting(now, actions);
}

void HandOverMachine::tellFailed(WindowRef window) {
    if (window != 0 && s_.currentWindow == window) {
        s_.told = false;  // the rescue sees to the record
    }
}

HandOverActions HandOverMachine::rescueDue(std::uint64_t now) {
    HandOverActions actions;
    s_.rescueArmed = false;
    if (s_.waiting != 0 && now >= s_.waitingSince + HANDOVER_LIMIT_MS) {
        // The card owed the record has not taken it in time: a new card
        // takes its place, and the old one, if it has a window, is asked to
        // close; one without a window gives up when it next asks.
        actions.closeWindow = s_.currentWindow;
        startNewCard(now, &actions);
    }
    return armIfWaiting(now, actions);
}

HandOverActions HandOverMachine::closeAll() {
    HandOverActions actions;
    actions.freeRecords[0] = s_.waiting;
    actions.freeRecords[1] = s_.displaced;
    s_.waiting = 0;
    s_.displaced = 0;
    s_.displacedFor = 0;
    clearCurrent();
    actions.wakeWaiters = true;  // a card waiting to make its window gives up
    return actions;
}

HandOverActions HandOverMachine::windowCounted(int change) {
    HandOverActions actions;
    s_.windows += change;
    actions.wakeWaiters = change < 0;
    return actions;
}

}  // namespace kestrine
