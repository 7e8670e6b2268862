// The hand-over machine driven through every interleaving of small
// scenarios: host calls, a CloseKestrine (its void step, its window walk and
// its posts apart), card threads that start or not, windows made or not,
// cards that stop (their steps put off past any other), the rescue time
// passing, and the platform's carrying out of each decision as a step of its
// own. After every step the contract is checked; at the end of every
// interleaving, that the newest call that returned 0 was shown and that
// nothing is left once every card has ended.

#include "core/hand_over_machine.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace kestrine {
namespace {

constexpr int MAX_CALLS = 3;
constexpr int MAX_CARDS = 6;

enum class RecordAt : uint8_t { notYet, machine, card, freed };
enum class CallAt : uint8_t { idle, decided, reporting, returned };
enum class CardAt : uint8_t { none, admitting, making, preparing, running, adopting, ending, ended };

// A machine decision not yet carried out by the thread that asked for it.
struct Pending {
    WindowRef close = 0;
    CardId start = 0;
    WindowRef tell = 0;
};

struct Record {
    RecordAt at = RecordAt::notYet;
    bool afterCloseTookEffect = false;
    bool afterCloseReturned = false;
    bool shown = false;
    int8_t result = 1;  // 1: not returned yet
};

struct Call {
    CallAt at = CallAt::idle;
    Pending pending;
    CardId started = 0;  // the card whose thread it started
};

struct Card {
    CardAt at = CardAt::none;
    bool window = false;
    bool visible = false;
    bool told = false;        // a look is in its queue
    bool closeAsked = false;  // a WM_CLOSE is in its queue
    uint8_t held = 0;         // record index + 1
    uint64_t waitUntil = 0;
    Pending pending;
};

enum class CloseAt : uint8_t { idle, voided, walked, returned };

struct World {
    HandOverMachine machine;
    uint64_t now = 0;
    Record records[MAX_CALLS];
    Call calls[MAX_CALLS];
    Card cards[MAX_CARDS];
    CloseAt close = CloseAt::idle;
    uint8_t walkFound = 0;  // cards whose windows the walk listed
    uint64_t timerDue = 0;
    bool rescueFiring = false;
    Pending rescuePending;
    uint8_t arrived = 0;
    uint8_t threadFails = 0;
    uint8_t windowFails = 0;
    uint8_t userCloses = 0;
    uint8_t timeJumps = 0;
};

struct Scenario {
    const char* name;
    int calls;
    int closes;
    int threadFails;
    int windowFails;
    int userCloses;
    int timeJumps;
};

template <typename T>
void put(std::string& key, const T& value) {
    key.append(reinterpret_cast<const char*>(&value), sizeof(value));
}

void putPending(std::string& key, const Pending& p) {
    put(key, p.close);
    put(key, p.start);
    put(key, p.tell);
}

std::string keyOf(const World& w) {
    std::string key;
    key.reserve(320);
    const HandOverMachine::State& s = w.machine.state();
    put(key, s.current);
    put(key, s.currentWindow);
    put(key, s.phase);
    put(key, s.told);
    put(key, s.startedAt);
    put(key, s.waiting);
    put(key, s.waitingSince);
    put(key, s.displaced);
    put(key, s.displacedFor);
    put(key, s.lastCard);
    put(key, s.rescueArmed);
    put(key, s.windows);
    put(key, s.windowsBeingMade);
    put(key, w.now);
    for (const Record& r : w.records) {
        put(key, r.at);
        put(key, r.afterCloseTookEffect);
        put(key, r.afterCloseReturned);
        put(key, r.shown);
        put(key, r.result);
    }
    for (const Call& c : w.calls) {
        put(key, c.at);
        putPending(key, c.pending);
        put(key, c.started);
    }
    for (const Card& c : w.cards) {
        put(key, c.at);
        put(key, c.window);
        put(key, c.visible);
        put(key, c.told);
        put(key, c.closeAsked);
        put(key, c.held);
        put(key, c.waitUntil);
        putPending(key, c.pending);
    }
    put(key, w.close);
    put(key, w.walkFound);
    put(key, w.timerDue);
    put(key, w.rescueFiring);
    putPending(key, w.rescuePending);
    put(key, w.arrived);
    put(key, w.threadFails);
    put(key, w.windowFails);
    put(key, w.userCloses);
    put(key, w.timeJumps);
    return key;
}

// Who took a step and what it did, written out only for a failure's trail.
struct Who {
    const char* actor;
    int number;  // 0: the only one
};
struct Label {
    Who who{"", 0};
    const char* what = "";  // may hold one %lld for arg
    long long arg = 0;
    std::string text() const {
        char line[160];
        char what_[96];
        std::snprintf(what_, sizeof what_, what, arg);
        if (who.number != 0) {
            std::snprintf(line, sizeof line, "%s %d %s", who.actor, who.number, what_);
        } else {
            std::snprintf(line, sizeof line, "%s %s", who.actor, what_);
        }
        return line;
    }
};

// One step from a world: its label and the world after it, or the broken
// promise it ran into.
struct Step {
    Label label;
    World after;
    std::string broken;
};

class Stepper {
public:
    Stepper(const Scenario& scenario, const World& from, std::vector<Step>* out)
        : scenario_(scenario), from_(from), out_(out) {}

    void all() {
        for (int i = 0; i < scenario_.calls; ++i) {
            callSteps(i);
        }
        for (int k = 0; k < MAX_CARDS; ++k) {
            cardSteps(k);
        }
        closeSteps();
        rescueSteps();
        timeStep();
    }

private:
    // Starts a step from the world as it is; finish() files it.
    World& begin(Who who, const char* what, long long arg = 0) {
        w_ = from_;
        label_ = Label{who, what, arg};
        broken_.clear();
        return w_;
    }
    void finish() {
        checkAfterStep();
        out_->push_back(Step{label_, w_, broken_});
    }
    void breakPromise(const std::string& what) {
        if (broken_.empty()) {
            broken_ = what;
        }
    }

    static RecordRef refOf(int record) { return static_cast<RecordRef>(record + 1); }
    static CardId idOf(int card) { return static_cast<CardId>(card + 1); }

    // Every free the machine asks for is of a record it holds; once.
    void carryOut(const HandOverActions& a) {
        for (RecordRef r : a.freeRecords) {
            if (r == 0) {
                continue;
            }
            Record& record = w_.records[r - 1];
            if (record.at != RecordAt::machine) {
                breakPromise("I3: freed record " + std::to_string(r) + " that the machine does not hold");
            }
            record.at = RecordAt::freed;
        }
        if (a.rescueInMs != 0) {
            w_.timerDue = w_.now + a.rescueInMs;
        }
    }

    static Pending pendingOf(const HandOverActions& a) {
        return Pending{a.closeWindow, a.startCard, a.tellWindow};
    }

    // The card takes record r: only the current card, only a record the
    // machine holds.
    void take(int card, RecordRef r) {
        Record& record = w_.records[r - 1];
        if (record.at != RecordAt::machine) {
            breakPromise("I3: card took record " + std::to_string(r) + " the machine does not hold");
        }
        if (!w_.machine.isCurrent(idOf(card))) {
            breakPromise("I4: card " + std::to_string(card + 1) + " took a record while not current");
        }
        freeHeld(card);
        record.at = RecordAt::card;
        w_.cards[card].held = static_cast<uint8_t>(r);
    }
    void freeHeld(int card) {
        Card& c = w_.cards[card];
        if (c.held != 0) {
            w_.records[c.held - 1].at = RecordAt::freed;
            c.held = 0;
        }
    }

    // I1: once a close has returned, what becomes visible or is announced
    // was handed over after that close took effect.
    void checkShownAfterClose(int card, const char* what) {
        const Card& c = w_.cards[card];
        if (w_.close == CloseAt::returned &&
            (c.held == 0 || !w_.records[c.held - 1].afterCloseTookEffect)) {
            breakPromise(std::string("I1: card ") + std::to_string(card + 1) + " " + what +
                         " after CloseKestrine returned");
        }
    }

    void post(WindowRef window, bool close) {
        if (window == 0) {
            return;
        }
        Card& c = w_.cards[window - 1];
        if (!c.window) {
            if (!close) {
                w_.machine.tellFailed(window);
            }
            return;
        }
        (close ? c.closeAsked : c.told) = true;
    }

    // A thread start asked for by pending, carried out: both outcomes while
    // failures are left. callersRecord: the asking call's record, or 0.
    template <typename After>
    void startThread(Who who, const Pending& pending, RecordRef callersRecord,
                     After after) {
        const auto carry = [&](World& w) {
            post(pending.close, true);
            post(pending.tell, false);
            (void)w;
        };
        if (pending.start == 0) {
            World& w = begin(who, "carries out");
            carry(w);
            after(w, false, false);
            finish();
            return;
        }
        const int card = static_cast<int>(pending.start - 1);
        {
            World& w = begin(who, "starts card %lld", card + 1);
            carry(w);
            w.cards[card].at = CardAt::admitting;
            after(w, true, true);
            finish();
        }
        if (from_.threadFails < scenario_.threadFails) {
            World& w = begin(who, "cannot start the thread of card %lld", card + 1);
            carry(w);
            ++w.threadFails;
            w.cards[card].at = CardAt::ended;
            carryOut(w.machine.threadFailed(pending.start, callersRecord, w.now));
            after(w, true, false);
            finish();
        }
    }

    void callSteps(int i) {
        const Call& call = from_.calls[i];
        const Who who{"call", i + 1};
        if (call.at == CallAt::idle && from_.arrived == i) {
            World& w = begin(who, "arrives");
            Record& r = w.records[i];
            r.at = RecordAt::machine;
            r.afterCloseTookEffect = w.close != CloseAt::idle;
            r.afterCloseReturned = w.close == CloseAt::returned;
            ++w.arrived;
            const HandOverActions a = w.machine.recordArrived(refOf(i), w.now);
            carryOut(a);
            w.calls[i].pending = pendingOf(a);
            w.calls[i].at = CallAt::decided;
            if ((a.startCard | a.tellWindow | a.closeWindow) == 0) {
                w.calls[i].at = CallAt::returned;  // nothing left to carry out
                r.result = 0;
            }
            finish();
        } else if (call.at == CallAt::decided) {
            startThread(who, call.pending, refOf(i), [&](World& w, bool started, bool ok) {
                w.calls[i].pending = Pending{};
                if (started && ok) {
                    w.calls[i].started = call.pending.start;
                    w.calls[i].at = CallAt::reporting;
                } else {
                    w.calls[i].at = CallAt::returned;
                    w.records[i].result = started ? -2 : 0;
                }
            });
        } else if (call.at == CallAt::reporting) {
            World& w = begin(who, "learns its card's thread runs");
            carryOut(w.machine.threadStarted(call.started));
            w.calls[i].at = CallAt::returned;
            w.records[i].result = 0;
            finish();
        }
    }
    // The card's window is destroyed (DestroyWindow, a WM_CLOSE): it frees
    // what it holds and tells the machine, whose decision it carries out next.
    void destroy(int card) {
        Card& c = w_.cards[card];
        c.window = false;
        c.visible = false;
        c.told = false;
        c.closeAsked = false;
        freeHeld(card);
        carryOut(w_.machine.windowCounted(-1));
        const HandOverActions a = w_.machine.cardEnded(idOf(card), w_.now);
        carryOut(a);
        c.pending = pendingOf(a);
        c.at = (c.pending.start | c.pending.tell | c.pending.close) != 0 ? CardAt::ending
                                                                         : CardAt::ended;
    }

    void cardSteps(int k) {
        const Card& card = from_.cards[k];
        const CardId id = idOf(k);
        const Who who{"card", k + 1};
        switch (card.at) {
        case CardAt::admitting: {
            World& w = begin(who, "asks to make its window");
            uint64_t waitMs = 0;
            switch (w.machine.admit(id, w.now, &waitMs)) {
            case Admission::giveUp:
                w.cards[k].at = CardAt::ended;
                break;
            case Admission::makeWindow:
                w.cards[k].at = CardAt::making;
                break;
            case Admission::wait:
                w.cards[k].waitUntil = w.now + waitMs;
                break;
            }
            if (keyOf(w) != keyOf(from_)) {
                finish();
            }
            break;
        }
        case CardAt::making: {
            {
                World& w = begin(who, "makes its window");
                w.cards[k].window = true;
                carryOut(w.machine.windowCounted(+1));
                HandOverActions a;
                const RecordRef r = w.machine.windowMade(id, id, w.now, &a);
                carryOut(a);
                if (r != 0) {
                    take(k, r);
                    w.cards[k].at = CardAt::preparing;
                } else {
                    destroy(k);
                }
                finish();
            }
            if (from_.windowFails < scenario_.windowFails) {
                World& w = begin(who, "cannot make its window");
                ++w.windowFails;
                HandOverActions a;
                if (w.machine.windowMade(id, 0, w.now, &a) != 0) {
                    breakPromise("a card without a window was given a record");
                }
                carryOut(a);
                w.cards[k].at = CardAt::ended;
                finish();
            }
            break;
        }
        case CardAt::preparing: {
            World& w = begin(who, "is prepared and asks to show");
            if (w.machine.mayShow(id)) {
                w.cards[k].visible = true;
                w.records[w.cards[k].held - 1].shown = true;
                checkShownAfterClose(k, "became visible");
                w.cards[k].at = CardAt::running;
            } else {
                destroy(k);
            }
            finish();
            break;
        }
        case CardAt::running:
            if (card.closeAsked) {
                begin(who, "takes WM_CLOSE");
                destroy(k);
                finish();
            }
            if (card.told) {
                World& w = begin(who, "looks");
                w.cards[k].told = false;
                if (const RecordRef r = w.machine.look(id)) {
                    take(k, r);
                    w.cards[k].at = CardAt::adopting;
                }
                finish();
            }
            if (from_.userCloses < scenario_.userCloses && card.visible) {
                World& w = begin(who, "is clicked away");
                ++w.userCloses;
                destroy(k);
                finish();
            }
            break;
        case CardAt::adopting: {
            World& w = begin(who, "draws the record it took");
            w.records[w.cards[k].held - 1].shown = true;
            if (w.machine.isCurrent(id)) {
                checkShownAfterClose(k, "announced a change");
            }
            w.cards[k].at = CardAt::running;
            finish();
            break;
        }
        case CardAt::ending:
            startThread(Who{"ending card", k + 1}, card.pending, 0, [&](World& w, bool started, bool ok) {
                w.cards[k].pending = Pending{};
                w.cards[k].at = CardAt::ended;
                if (started && ok) {
                    carryOut(w.machine.threadStarted(card.pending.start));
                }
            });
            break;
        default:
            break;
        }
    }

    void closeSteps() {
        if (scenario_.closes == 0) {
            return;
        }
        switch (from_.close) {
        case CloseAt::idle: {
            World& w = begin(Who{"CloseKestrine", 0}, "voids what began before");
            carryOut(w.machine.closeAll());
            w.close = CloseAt::voided;
            finish();
            break;
        }
        case CloseAt::voided: {
            World& w = begin(Who{"CloseKestrine", 0}, "walks the windows");
            for (int k = 0; k < MAX_CARDS; ++k) {
                if (w.cards[k].window) {
                    w.walkFound |= static_cast<uint8_t>(1u << k);
                }
            }
            w.close = CloseAt::walked;
            finish();
            break;
        }
        case CloseAt::walked: {
            World& w = begin(Who{"CloseKestrine", 0}, "posts WM_CLOSE and returns");
            for (int k = 0; k < MAX_CARDS; ++k) {
                if ((w.walkFound >> k) & 1u) {
                    post(idOf(k), true);
                }
            }
            w.close = CloseAt::returned;
            finish();
            break;
        }
        default:
            break;
        }
    }

    void rescueSteps() {
        if (from_.rescueFiring) {
            startThread(Who{"rescue", 0}, from_.rescuePending, 0, [&](World& w, bool started, bool ok) {
                w.rescuePending = Pending{};
                w.rescueFiring = false;
                if (started && ok) {
                    carryOut(w.machine.threadStarted(from_.rescuePending.start));
                }
            });
        } else if (from_.timerDue != 0 && from_.now >= from_.timerDue) {
            World& w = begin(Who{"rescue", 0}, "timer fires");
            w.timerDue = 0;
            const HandOverActions a = w.machine.rescueDue(w.now);
            carryOut(a);
            w.rescuePending = pendingOf(a);
            w.rescueFiring = (a.startCard | a.closeWindow) != 0;
            finish();
        }
    }

    // Time moves on to the next moment something is due: the rescue, or
    // the end of a card's wait to make its window.
    void timeStep() {
        if (from_.timeJumps >= scenario_.timeJumps) {
            return;
        }
        uint64_t next = 0;
        const auto consider = [&](uint64_t t) {
            if (t > from_.now && (next == 0 || t < next)) {
                next = t;
            }
        };
        consider(from_.timerDue);
        for (const Card& c : from_.cards) {
            if (c.at == CardAt::admitting) {
                consider(c.waitUntil);
            }
        }
        if (next != 0) {
            World& w = begin(Who{"time", 0}, "passes to %lld ms", static_cast<long long>(next));
            w.now = next;
            ++w.timeJumps;
            finish();
        }
    }

    void checkAfterStep() {
        const HandOverMachine::State& s = w_.machine.state();
        for (int i = 0; i < MAX_CALLS; ++i) {
            const bool held = s.waiting == refOf(i) || s.displaced == refOf(i);
            if (held != (w_.records[i].at == RecordAt::machine)) {
                breakPromise("I3: record " + std::to_string(i + 1) +
                             (held ? " held by the machine but not its to hold"
                                   : " lost: neither freed nor held by anyone"));
            }
        }
        int windows = 0;
        for (const Card& c : w_.cards) {
            windows += c.window ? 1 : 0;
        }
        if (windows != s.windows) {
            breakPromise("window count differs from the windows");
        }
    }

    const Scenario& scenario_;
    const World& from_;
    std::vector<Step>* out_;
    World w_;
    Label label_;
    std::string broken_;
};

// The end of an interleaving: nothing can happen any more. A record still
// owed with no time left to rescue it ends the interleaving early (counted,
// not judged); otherwise the newest call that returned 0 and came after
// every close was shown, and closing every card leaves nothing behind.
std::string judgeEnd(const Scenario& scenario, const World& end, bool* truncated) {
    const HandOverMachine::State& s = end.machine.state();
    *truncated = s.waiting != 0 && end.timeJumps >= scenario.timeJumps;
    if (*truncated) {
        return {};
    }
    for (int i = MAX_CALLS - 1; i >= 0; --i) {
        const Record& r = end.records[i];
        if (r.result == 0 && (end.close == CloseAt::idle || r.afterCloseReturned)) {
            if (!r.shown) {
                return "I2: call " + std::to_string(i + 1) + " returned 0 and was never shown";
            }
            break;
        }
    }
    World last = end;
    for (int k = 0; k < MAX_CARDS; ++k) {
        Card& c = last.cards[k];
        if (!c.window) {
            continue;
        }
        if (c.held != 0) {
            last.records[c.held - 1].at = RecordAt::freed;
        }
        c = Card{};
        last.machine.windowCounted(-1);
        if (last.machine.cardEnded(static_cast<CardId>(k + 1), last.now).startCard != 0) {
            return "I3: a record still waited when the cards were done";
        }
    }
    for (int i = 0; i < MAX_CALLS; ++i) {
        if (last.records[i].at == RecordAt::machine || last.records[i].at == RecordAt::card) {
            return "I3: record " + std::to_string(i + 1) + " left once every card has ended";
        }
    }
    const HandOverMachine::State& after = last.machine.state();
    if (after.current != 0 || after.waiting != 0 || after.displaced != 0 || after.windows != 0 ||
        after.windowsBeingMade != 0) {
        return "I3: the machine still holds a card or record once every card has ended";
    }
    return {};
}

// States are remembered by a 128-bit digest of their key, not the key:
// a million states fit in some tens of megabytes, and two of them share a
// digest with odds far below one in 2^80.
struct Digest {
    uint64_t a = 0;
    uint64_t b = 0;
    bool operator==(const Digest& o) const { return a == o.a && b == o.b; }
};
struct DigestHash {
    size_t operator()(const Digest& d) const { return static_cast<size_t>(d.a ^ (d.b >> 1)); }
};

Digest digestOf(const std::string& key) {
    // FNV-1a and a multiply-xorshift mix, each 64 bits.
    Digest d{0xcbf29ce484222325ull, 0x9e3779b97f4a7c15ull};
    for (unsigned char c : key) {
        d.a = (d.a ^ c) * 0x100000001b3ull;
        d.b = (d.b ^ c) * 0xff51afd7ed558ccdull;
        d.b ^= d.b >> 29;
    }
    return d;
}

struct Explored {
    uint64_t states = 0;
    double interleavings = 0;
    uint64_t truncated = 0;
    std::string failure;
};

class Explorer {
public:
    explicit Explorer(const Scenario& scenario) : scenario_(scenario) {}

    Explored run() {
        Explored result;
        result.interleavings = visit(World{});
        result.states = paths_.size();
        result.truncated = truncated_;
        result.failure = failure_;
        return result;
    }

private:
    // The number of interleavings from w to an end; every state once.
    double visit(const World& w) {
        const Digest key = digestOf(keyOf(w));
        if (const auto found = paths_.find(key); found != paths_.end()) {
            return found->second;
        }
        if (!onPath_.insert(key).second) {
            fail("a cycle of steps");
            return 0;
        }
        std::vector<Step> steps;
        Stepper(scenario_, w, &steps).all();
        double total = 0;
        if (steps.empty()) {
            bool truncated = false;
            const std::string broken = judgeEnd(scenario_, w, &truncated);
            truncated_ += truncated ? 1 : 0;
            if (!broken.empty()) {
                fail(broken);
            }
            total = 1;
        }
        for (const Step& step : steps) {
            if (!failure_.empty()) {
                break;
            }
            trail_.push_back(step.label);
            if (!step.broken.empty()) {
                fail(step.broken);
            } else {
                total += visit(step.after);
            }
            trail_.pop_back();
        }
        onPath_.erase(key);
        paths_.emplace(key, total);
        return total;
    }

    void fail(const std::string& what) {
        if (!failure_.empty()) {
            return;
        }
        failure_ = what + "\n  after:";
        for (size_t i = 0; i < trail_.size(); ++i) {
            failure_ += "\n  " + std::to_string(i + 1) + ". " + trail_[i].text();
        }
    }

    const Scenario& scenario_;
    std::unordered_map<Digest, double, DigestHash> paths_;
    std::unordered_set<Digest, DigestHash> onPath_;
    std::vector<Label> trail_;
    uint64_t truncated_ = 0;
    std::string failure_;
};

// name, calls, closes, thread failures, window failures, clicks, time steps.
// Each stays small enough for the whole set to run in seconds; together
// they reach every kind of event in every order.
const Scenario SCENARIOS[] = {
    {"three calls and a close", 3, 1, 0, 0, 0, 1},
    {"a close and a card clicked away", 2, 1, 0, 0, 1, 2},
    {"a thread and a window that fail, rescued", 3, 0, 1, 1, 0, 3},
    {"a close among failures", 2, 1, 1, 1, 0, 2},
    {"two threads that fail", 3, 0, 2, 0, 0, 3},
    {"a window that fails, a click and a close", 2, 1, 0, 1, 1, 2},
};

TEST(HandOverMachineChecker, holds_the_contract_in_every_interleaving) {
    for (const Scenario& scenario : SCENARIOS) {
        const Explored explored = Explorer(scenario).run();
        std::printf("  %-45s %9llu states, %.3g interleavings (%llu ended before a rescue)\n",
                    scenario.name, static_cast<unsigned long long>(explored.states),
                    explored.interleavings, static_cast<unsigned long long>(explored.truncated));
        EXPECT_TRUE(explored.failure.empty()) << scenario.name << ": " << explored.failure;
    }
}

}  // namespace
}  // namespace kestrine
