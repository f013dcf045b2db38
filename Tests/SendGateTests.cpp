#include <gmock/gmock.h>

#include "DraftSupport.h"
#include "Kestrel/SendGate.h"

using namespace kestrel;
using desktop::KeyEventType;
using testing::ElementsAre;
using testing_support::ids;
namespace flags = desktop::keyflags;

namespace {

constexpr int64_t kReturn = 36, kKeypadEnter = 76, kD = 2, kC = 8, kEscape = 53;

class SendGateTests : public testing_support::DraftTest {
protected:
    SendGateTests() {
        gate->onHold = [this] { ++holds; };
        gate->onHotkey = [this] { ++hotkeys; };
        gate->onEscape = [this] {
            ++escapes;
            return escapeConsumed;
        };
        EXPECT_TRUE(gate->start());
    }
    void press(int64_t keyCode, uint64_t modifiers = 0) {
        sim.simEvents().pressKey(keyCode, modifiers);
    }
    // Key-downs that reached an application.
    size_t deliveredDowns() {
        size_t n = 0;
        for (const auto& event : sim.simEvents().delivered()) n += event.type == KeyEventType::keyDown;
        return n;
    }

    std::shared_ptr<SendGate> gate = std::make_shared<SendGate>(state, watcher, engine);
    int holds = 0, hotkeys = 0, escapes = 0;
    bool escapeConsumed = false;
};

}  // namespace

TEST_F(SendGateTests, TheHoldIsAnnouncedOnlyAfterTheTapReturnedItsVerdict) {
    focus("slack", "deploy with sk-1");  // typed just now: the gate reads it on the spot
    press(kReturn);
    EXPECT_EQ(deliveredDowns(), 0u);
    EXPECT_EQ(gate->pending()->keyCode, kReturn);
    EXPECT_EQ(holds, 0);
    sim.drain();
    EXPECT_EQ(holds, 1);
}

TEST_F(SendGateTests, HoldsADraftTheEngineCouldNotCheckInTime) {
    focus("slack", "a draft that HANGs the rules");
    press(kReturn);
    sim.drain();
    EXPECT_EQ(holds, 1);
    EXPECT_THAT(ids(state->risks()), ElementsAre("unchecked"));
    EXPECT_TRUE(sent("slack").empty());
}

TEST_F(SendGateTests, ReleaseReplaysTheHeldSendOnceAndItIsNeverHeldAgain) {
    focus("slack", "deploy with sk-1");
    gate->release();  // nothing held: nothing happens
    sim.drain();
    press(kReturn, flags::capsLock);
    sim.drain();
    tracked.clear();
    gate->release();
    gate->release();
    sim.drain();
    EXPECT_THAT(sent("slack"), ElementsAre("deploy with sk-1"));
    EXPECT_FALSE(gate->pending());
    EXPECT_TRUE(tracked.empty());
    EXPECT_EQ(holds, 1);
    // After the original press's key-up (never tapped): the replayed key-down and key-up.
    const auto& delivered = sim.simEvents().delivered();
    ASSERT_EQ(delivered.size(), 3u);
    EXPECT_EQ(delivered[1], (desktop::KeyEvent{KeyEventType::keyDown, kReturn, flags::capsLock,
                                               SendGate::kReplayMarker}));
    EXPECT_EQ(delivered[2], (desktop::KeyEvent{KeyEventType::keyUp, kReturn, flags::capsLock,
                                               SendGate::kReplayMarker}));
}

TEST_F(SendGateTests, ReleaseReplaysOnlyIntoTheDraftItWasHeldFrom) {
    struct Case {
        const char* name;
        std::function<void()> moveAway;
        bool replays;
    };
    const Case cases[] = {
        {"the same field in front", [] {}, true},
        {"our own app in front", [this] { sim.simApps().activate(); }, false},
        {"back to the held field", [this] {
             auto held = sim.simApps().focusedField();
             focus("teams", "other message");
             sim.simApps().bringToFront("com.tinyspeck.slackmacgap");
             ASSERT_EQ(sim.simApps().focusedField(), held);
         }, true},
    };
    for (const auto& c : cases) {
        focus("slack", "deploy with sk-1");
        press(kReturn);
        ASSERT_TRUE(gate->pending()) << c.name;
        c.moveAway();
        auto before = deliveredDowns();
        EXPECT_EQ(gate->release(), c.replays) << c.name;
        sim.drain();
        EXPECT_FALSE(gate->pending()) << c.name;
        EXPECT_EQ(deliveredDowns(), before + (c.replays ? 1 : 0)) << c.name;
    }
    EXPECT_TRUE(sent("teams").empty());
    EXPECT_THAT(sent("slack"), ElementsAre("deploy with sk-1", "deploy with sk-1"));
}

TEST_F(SendGateTests, PassesWithoutTrackingWhenTheSendIsNotOneToGate) {
    struct Case {
        const char* name;
        std::function<void()> arrange;
        int64_t keyCode;
        uint64_t modifiers;
    };
    const Case cases[] = {
        {"mail's chord in slack", [this] { focus("slack", "sk-1"); }, kD, flags::shift | flags::command},
        {"unsupported app", [this] { focus("other", "sk-1"); }, kReturn, 0},
        {"focus on a button", [this] { focus("slack", "sk-1", "AXButton"); }, kReturn, 0},
        {"our own app in front", [this] {
             focus("slack", "sk-1");
             sim.simApps().activate();
         }, kReturn, 0},
    };
    for (const auto& c : cases) {
        tracked.clear();
        c.arrange();
        auto before = deliveredDowns();
        press(c.keyCode, c.modifiers);
        sim.drain();
        EXPECT_EQ(deliveredDowns(), before + 1) << c.name;
        EXPECT_TRUE(tracked.empty()) << c.name;
        EXPECT_FALSE(gate->pending()) << c.name;
    }
    EXPECT_EQ(holds, 0);
}

TEST_F(SendGateTests, CommandOptionCIsSwallowedEverywhereAndShiftVariantPasses) {
    focus("other", "x");
    press(kC, flags::command | flags::option);
    EXPECT_EQ(hotkeys, 0);
    sim.drain();
    EXPECT_EQ(hotkeys, 1);
    press(kC, flags::command | flags::option | flags::capsLock);
    press(kC, flags::command | flags::option | flags::shift);
    sim.drain();
    EXPECT_EQ(hotkeys, 2);
    EXPECT_EQ(deliveredDowns(), 1u);
}

TEST_F(SendGateTests, EscapeIsSwallowedOnlyWhenTheCallbackConsumesIt) {
    focus("slack", "");
    press(kEscape);
    EXPECT_EQ(deliveredDowns(), 1u);
    escapeConsumed = true;
    press(kEscape, flags::shift);
    EXPECT_EQ(deliveredDowns(), 1u);
    press(kEscape, flags::control);
    EXPECT_EQ(deliveredDowns(), 2u);
    EXPECT_EQ(escapes, 2);
}

TEST_F(SendGateTests, TapComesBackAfterTheSystemDisablesIt) {
    focus("slack", "deploy with sk-1");
    for (auto reason : {KeyEventType::tapDisabledByTimeout, KeyEventType::tapDisabledByUserInput}) {
        sim.simEvents().disableTaps(reason);
        press(kReturn);
    }
    EXPECT_EQ(deliveredDowns(), 0u);
    sim.drain();
    EXPECT_EQ(holds, 2);
}

TEST_F(SendGateTests, ADroppedGateLetsEveryKeyThrough) {
    focus("slack", "deploy with sk-1");
    gate.reset();
    press(kReturn);
    EXPECT_THAT(sent("slack"), ElementsAre("deploy with sk-1"));
}

TEST_F(SendGateTests, ASendThatWentThroughLateIsNeverReplayed) {
    focus("slack", "deploy with sk-1");
    press(kReturn);
    ASSERT_TRUE(gate->pending());
    // The desktop could not wait for the verdict: the press reached the app after all.
    gate->handle(KeyEventType::tapDisabledByTimeout, *gate->pending());
    sim.drain();
    EXPECT_EQ(holds, 0);
    gate->release();
    sim.drain();
    EXPECT_EQ(deliveredDowns(), 0u);
}

TEST_F(SendGateTests, AsksToSeeTheCheckShortcutEscapeWhileWantedAndEveryUnmutedAppsSendChord) {
    using desktop::KeyCombo;
    using ::testing::AllOf;
    using ::testing::Contains;
    using ::testing::Not;
    const KeyCombo hotkey{kC, flags::option | flags::command};
    const KeyCombo mailSend{kD, flags::command | flags::shift};
    bool panelOpen = false;
    gate->wantsEscape = [&] { return panelOpen; };
    // With no app in front: a press right after a switch to one must be seen.
    EXPECT_THAT(sim.simEvents().keysOfInterest(),
                AllOf(Contains(hotkey), Contains(KeyCombo{kReturn, 0}), Contains(KeyCombo{kKeypadEnter, 0}),
                      Contains(mailSend), Not(Contains(KeyCombo{kEscape, 0}))));
    sim.simDefaults().set(Prefs::muteKey("com.apple.mail"), true);
    panelOpen = true;
    EXPECT_THAT(sim.simEvents().keysOfInterest(),
                AllOf(Contains(KeyCombo{kEscape, 0}), Contains(KeyCombo{kEscape, flags::shift}),
                      Contains(KeyCombo{kReturn, 0}), Not(Contains(mailSend))));
}
