// The hand-over's platform side; see hand_over.h. Every function here is one
// of two shapes: report an event to the machine under moduleLock (arming the
// rescue timer there too, so that its handle is never out of step with the
// machine), then carry out the rest of what it decided after the lock.

#include "card/hand_over.h"

#include <atomic>
#include <new>

#include "card/card_accessible.h"
#include "card/ui_thread.h"
#include "card/window_proc.h"
#include "card/window_seams.h"
#include "draw/module_lock.h"
#include "kestrine.h"

namespace kestrine {

namespace {

// The machine and the few handles that carry out its decisions, guarded by
// moduleLock.
struct HandOverRoom {
    HandOverMachine machine;
    // The one-shot timer of the armed rescue; none once rescues have stopped
    // (the module's detach).
    HANDLE rescueTimer = nullptr;
    bool rescuesStopped = false;
};
HandOverRoom room;

// Card threads waiting to make their window wait on this.
CONDITION_VARIABLE admissionChanged = CONDITION_VARIABLE_INIT;

std::atomic<long> liveRequestCount{0};
std::atomic<testing::CardThreadStarter> cardThreadStarter{nullptr};

RecordRef refOf(ChartRequest* record) { return reinterpret_cast<RecordRef>(record); }
ChartRequest* recordOf(RecordRef ref) { return reinterpret_cast<ChartRequest*>(ref); }
WindowRef refOf(HWND window) { return reinterpret_cast<WindowRef>(window); }
HWND windowOf(WindowRef ref) { return reinterpret_cast<HWND>(ref); }

VOID CALLBACK rescueFires(PVOID, BOOLEAN);

// Under moduleLock, right after the machine's step.
void armRescueLocked(const HandOverActions& actions) {
    if (actions.rescueInMs == 0) {
        return;
    }
    const DWORD ms = static_cast<DWORD>(actions.rescueInMs);
    if (room.rescuesStopped ||
        !CreateTimerQueueTimer(&room.rescueTimer, nullptr, rescueFires, nullptr, ms, 0,
                               WT_EXECUTEONLYONCE)) {
        // The next event that leaves a record waiting tries again.
        room.rescueTimer = nullptr;
        room.machine.rescueArmFailed();
    }
}

// Reports one event: step(machine, now) under moduleLock.
template <typename Step>
HandOverActions report(Step step) {
    ModuleLockGuard lock;
    const HandOverActions actions = step(room.machine, GetTickCount64());
    armRescueLocked(actions);
    return actions;
}

int startCardThread(CardId card, ChartRequest* callersRecord) noexcept;

// The rest of a decision, after the lock. KESTRINE_NOT_STARTED when the card
// thread it asked for could not be started.
int carryOut(const HandOverActions& actions, ChartRequest* callersRecord = nullptr) noexcept {
    for (RecordRef record : actions.freeRecords) {
        deleteRequest(recordOf(record));
    }
    if (actions.wakeWaiters) {
        WakeAllConditionVariable(&admissionChanged);
    }
    if (actions.closeWindow != 0) {
        // Given up on: it closes when its thread runs again.
        PostMessageW(windowOf(actions.closeWindow), WM_CLOSE, 0, 0);
    }
    const int result =
        actions.startCard != 0 ? startCardThread(actions.startCard, callersRecord) : KESTRINE_OK;
    if (actions.tellWindow != 0 &&
        !PostMessageW(windowOf(actions.tellWindow), WM_CHART_LOOK, 0, 0)) {
        // Its queue takes nothing: the rescue replaces it once the limit is up.
        report([&](HandOverMachine& machine, uint64_t) {
            machine.tellFailed(actions.tellWindow);
            return HandOverActions{};
        });
    }
    return result;
}

DWORD WINAPI cardThreadMain(LPVOID parameter) {
    CardId* card = static_cast<CardId*>(parameter);
    const CardId id = *card;
    delete card;
    return runCardThread(id);
}

// Starts the card's UI thread (or what a test puts in its place) and tells
// the machine how that went.
int startCardThread(CardId card, ChartRequest* callersRecord) noexcept {
    bool started = false;
    if (const testing::CardThreadStarter starter = cardThreadStarter.load()) {
        started = starter(card);
    } else if (CardId* parameter = new (std::nothrow) CardId(card)) {
        if (HANDLE thread = CreateThread(nullptr, 0, cardThreadMain, parameter, 0, nullptr)) {
            CloseHandle(thread);  // never joined: the card ends by itself
            started = true;
        } else {
            delete parameter;
        }
    }
    carryOut(report([&](HandOverMachine& machine, uint64_t now) {
        return started ? machine.threadStarted(card)
                       : machine.threadFailed(card, refOf(callersRecord), now);
    }));
    return started ? KESTRINE_OK : KESTRINE_NOT_STARTED;
}

// A record no card took within the limit goes to a new card, whether or not
// another call comes.
VOID CALLBACK rescueFires(PVOID, BOOLEAN) {
    HANDLE fired = nullptr;
    const HandOverActions actions = report([&](HandOverMachine& machine, uint64_t now) {
        fired = room.rescueTimer;
        room.rescueTimer = nullptr;
        return machine.rescueDue(now);
    });
    if (fired != nullptr) {
        DeleteTimerQueueTimer(nullptr, fired, nullptr);  // not waiting: this is its callback
    }
    carryOut(actions);
}

}  // namespace

ChartRequest* adoptBuiltRequest(std::unique_ptr<ChartRequest> request) noexcept {
    if (request) {
        liveRequestCount.fetch_add(1);
    }
    return request.release();
}

void deleteRequest(ChartRequest* request) noexcept {
    if (request != nullptr) {
        delete request;
        liveRequestCount.fetch_sub(1);
    }
}

int handOverRecord(ChartRequest* record) noexcept {
    return carryOut(report([&](HandOverMachine& machine, uint64_t now) {
                        return machine.recordArrived(refOf(record), now);
                    }),
                    record);
}

void voidCardsForClose() noexcept {
    carryOut(report([](HandOverMachine& machine, uint64_t) { return machine.closeAll(); }));
}

bool admitCardWindow(CardId card) noexcept {
    ModuleLockGuard lock;
    for (;;) {
        uint64_t waitMs = 0;
        switch (room.machine.admit(card, GetTickCount64(), &waitMs)) {
        case Admission::makeWindow:
            return true;
        case Admission::giveUp:
            return false;
        case Admission::wait:
            SleepConditionVariableCS(&admissionChanged, &moduleLock, static_cast<DWORD>(waitMs));
            break;
        }
    }
}

ChartRequest* takeFirstRecord(CardId card, HWND window) noexcept {
    RecordRef record = 0;
    carryOut(report([&](HandOverMachine& machine, uint64_t now) {
        HandOverActions actions;
        record = machine.windowMade(card, refOf(window), now, &actions);
        return actions;
    }));
    return recordOf(record);
}

bool showIfStillCurrent(CardId card, HWND window) noexcept {
    // Under the lock, so that a CloseKestrine either comes first (and the
    // card never shows) or finds it shown and announced (and closes it).
    ModuleLockGuard lock;
    if (!room.machine.mayShow(card)) {
        return false;
    }
    showCard(window);
    announceCardShown(window);
    return true;
}

ChartRequest* takeWaitingRecord(CardId card) noexcept {
    ModuleLockGuard lock;
    return recordOf(room.machine.look(card));
}

void announceIfStillCurrent(CardId card, HWND window, const CardTextChanges& changes) noexcept {
    ModuleLockGuard lock;
    if (room.machine.isCurrent(card)) {
        announceCardTextChanges(window, changes);
    }
}

void cardWindowCounted(int change) noexcept {
    carryOut(report([&](HandOverMachine& machine, uint64_t) { return machine.windowCounted(change); }));
}

void cardEnded(CardId card) noexcept {
    carryOut(report([&](HandOverMachine& machine, uint64_t now) {
        return machine.cardEnded(card, now);
    }));
}

void stopRescues() noexcept {
    HANDLE timer = nullptr;
    {
        ModuleLockGuard lock;
        timer = room.rescueTimer;
        room.rescueTimer = nullptr;
        room.rescuesStopped = true;  // a callback running now arms no other
    }
    if (timer != nullptr) {
        // Waits for a callback that is running; it takes moduleLock, which
        // is not held here.
        DeleteTimerQueueTimer(nullptr, timer, INVALID_HANDLE_VALUE);
    }
}

namespace testing {

long liveRequests() { return liveRequestCount.load(); }

void setCardThreadStarter(CardThreadStarter starter) { cardThreadStarter.store(starter); }

HWND currentCard() {
    ModuleLockGuard lock;
    return windowOf(room.machine.state().currentWindow);
}

uint64_t currentCardId() {
    ModuleLockGuard lock;
    return room.machine.state().current;
}

}  // namespace testing

}  // namespace kestrine
