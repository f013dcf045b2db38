#include <gmock/gmock.h>

#include "Desktop/View.h"
#include "TestSupport.h"

using namespace ui;
using testing::ElementsAre;

namespace {

// A published field announces, then assigns, as application models do.
class Counter : public desktop::Observable {
public:
    int value() const { return value_; }
    void setValue(int v) {
        announce();
        value_ = v;
    }

private:
    int value_ = 0;
};

}  // namespace

TEST(ViewLayoutTests, TextWrapsAtTheGivenWidthAndKeepsLineBreaks) {
    // Callout: 12-point font, 6.6 points per character, 15-point lines.
    auto text = Text("aaaa bbbb cccc").withFont(Font::callout());
    EXPECT_DOUBLE_EQ(measure(text).width, 14 * 6.6);
    EXPECT_EQ(measure(text).height, 15);
    EXPECT_EQ(measure(text, 70).height, 30);   // "aaaa bbbb" fits in 59.4, "cccc" wraps
    EXPECT_EQ(measure(text, 30).height, 45);   // one word per line
    EXPECT_EQ(measure(Text("x\n\ny").withFont(Font::callout())).height, 45);
    // A word longer than the line breaks between characters instead of overflowing.
    auto longWord = measure(Text(std::string(100, 'w')).withFont(Font::callout()), 66);
    EXPECT_EQ(longWord.width, 66);
    EXPECT_EQ(longWord.height, 10 * 15);
    // Width counts user-perceived characters, not bytes.
    EXPECT_EQ(measure(Text("👍🏽é")).width, measure(Text("ab")).width);
}

TEST(ViewLayoutTests, StacksAddSpacingPaddingAndFrames) {
    auto column = VStack(HAlign::leading, 4,
                         {Text("one"), EmptyView(), Divider(), Text("two").withFont(Font::caption())})
                      .padded(Insets{12, 14, 10, 14});
    // 16 + 4 + 1 + 4 + 13, padded 12 on top and 10 below; the divider takes the offered width.
    EXPECT_EQ(measure(column, 300), (Size{300, 60}));

    auto row = HStack(VAlign::center, 8, {Image("xmark"), Text("abc"), Spacer(), Button("Go", {})});
    EXPECT_EQ(measure(row, 300).width, 300);  // a spacer takes what is left
    EXPECT_EQ(measure(row).height, 22);       // a regular bordered button is the tallest

    auto framed = ScrollView(VStack(HAlign::leading, 0, {Text("a").frame(std::nullopt, 900)}))
                      .frame(380)
                      .frameMaxHeight(520);
    EXPECT_EQ(measure(framed), (Size{380, 520}));
    // Padding after a frame surrounds it rather than shrinking it.
    EXPECT_EQ(measure(Circle().frame(8, 8).padded(Insets{5, 0, 0, 0})), (Size{8, 13}));
}

TEST(ViewLayoutTests, RowsGiveWrappingTextTheRoomLeftByRigidItems) {
    auto row = HStack(VAlign::top, 8,
                      {Circle().frame(8, 8), Text(std::string(60, 'a') + " " + std::string(60, 'b')),
                       Spacer()});
    // 300 - 8 - 2 * 8 leaves 276 points: each 60-letter word (429 points at body size) breaks.
    EXPECT_EQ(measure(row, 300).height, 4 * 16);
}

TEST(ViewRenderTests, RendersAReadableTree) {
    std::string value = "draft";
    auto tree = VStack(HAlign::leading, 0,
                       {HStack(VAlign::center, 8,
                               {Image("exclamationmark.triangle.fill").foregroundColor(Color::red()),
                                Text("Hold on").withFont(Font::headline()), Spacer(),
                                SymbolButton("xmark", "Close", {}).style(ButtonStyle::plain)}),
                        Divider(),
                        ScrollView(VStack(
                            HAlign::leading, 12,
                            {HStack(VAlign::top, 8,
                                    {Circle().filled(Color::srgb(0.86, 0.25, 0.25)).frame(8, 8),
                                     VStack(HAlign::leading, 4,
                                            {Text("Secret").withFont(Font::callout().weighted(Weight::semibold)),
                                             Text("Looks like a key").withFont(Font::caption())
                                                 .foregroundColor(Color::secondary())})}),
                             HStack(VAlign::center, 6,
                                    {TextField("Name", Binding{[&] { return value; }, {}}),
                                     Button("Add", {}).size(ControlSize::small).disabled(true).help("Adds it"),
                                     ProgressView(ProgressSize::mini)})}))});
    EXPECT_EQ(render(tree),
              "<exclamationmark.triangle.fill> (red)  \"Hold on\" (headline)  [<xmark> Close] (plain)\n"
              "────────\n"
              "scroll\n"
              "  row\n"
              "    circle (srgb(0.86, 0.25, 0.25))\n"
              "    \"Secret\" (callout semibold)\n"
              "    \"Looks like a key\" (caption, secondary)\n"
              "  [text field \"draft\"]  [Add] (small, disabled, tooltip \"Adds it\")  spinner (mini)\n");
    EXPECT_THAT(texts(tree), ElementsAre("Hold on", "Secret", "Looks like a key"));
}

TEST(ViewRenderTests, AScrollAreaMarksWhereItCutsItsContentOff) {
    // Body lines are 16 points: between header and footer, 72 points leave the area 40, which
    // shows two rows in full and cuts the third.
    auto tree =
        VStack(HAlign::leading, 0,
               {Text("header"),
                ScrollView(VStack(HAlign::leading, 0,
                                  {Text("one"), Text("two"), Text("three"), Text("four\nfive")})),
                Text("footer")});
    EXPECT_EQ(render(tree, Size{200, 72}), R"("header"
scroll
  "one"
  "two"
  ┄┄ the scroll area ends here: 3 rows hidden below ┄┄
  "three"
  "four
   five"
"footer"
)");
    EXPECT_EQ(render(tree, Size{200, 200}), render(tree));
}

class HostingViewTests : public testing_support::SimDesktopTest {
protected:
    Counter counter;
    std::vector<std::string> pressed;
    std::string fieldText;
    int builds = 0;

    HostingView host{[this] {
                         ++builds;
                         auto record = [this](std::string what) {
                             return [this, what] { pressed.push_back(what); };
                         };
                         return VStack(
                             HAlign::leading, 0,
                             {Text("count " + std::to_string(counter.value())),
                              Button("Send anyway", record("send")),
                              Button("Fix", record("fix")).help("Replace it"),
                              Button("Fix later", record("later")).disabled(counter.value() > 0),
                              Button("Ignore", record("ignore")).help("Fix"),
                              TextField("Describe", Binding{[this] { return fieldText; },
                                                            [this](std::string t) { fieldText = t; }})
                                  .onSubmit(record("submit"))
                                  .disabled(counter.value() > 1)});
                     },
                     {&counter}};
};

TEST_F(HostingViewTests, RebuildsOnlyAfterAnAnnouncedChange) {
    EXPECT_EQ(host.texts().front(), "count 0");
    host.texts();
    EXPECT_EQ(builds, 1);
    counter.setValue(3);
    sim.drain();
    EXPECT_EQ(host.texts().front(), "count 3");
    EXPECT_EQ(builds, 2);
}

TEST_F(HostingViewTests, ReadingDuringTheAnnouncementStillSeesTheChangeAfterwards) {
    auto peek = counter.observe([&] { host.root(); });  // reads the old value
    counter.setValue(5);
    sim.drain();
    EXPECT_EQ(host.texts().front(), "count 5");
}

TEST_F(HostingViewTests, PressFindsByTitleThenTooltipThenPlaceholder) {
    ASSERT_TRUE(host.press("Fix"));            // the title wins over the "Ignore" tooltip
    ASSERT_TRUE(host.press("Replace it"));     // by tooltip
    ASSERT_TRUE(host.press("Describe"));       // a placeholder focuses the field
    EXPECT_THAT(pressed, ElementsAre("fix", "fix"));
    EXPECT_EQ(host.focusedField(), "Describe");

    auto missing = host.press("Send");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().message, "no control \"Send\"");
    counter.setValue(1);
    auto disabled = host.press("Fix later");
    ASSERT_FALSE(disabled);
    EXPECT_EQ(disabled.error().message, "\"Fix later\" is disabled");
    EXPECT_THAT(pressed, ElementsAre("fix", "fix"));
}

TEST_F(HostingViewTests, FillsAndSubmitsTextFieldsUnlessDisabled) {
    ASSERT_TRUE(host.fill("*", "no discounts"));
    EXPECT_EQ(fieldText, "no discounts");
    ASSERT_TRUE(host.submit("Describe"));
    EXPECT_THAT(pressed, ElementsAre("submit"));
    EXPECT_FALSE(host.fill("Nope", "x"));

    counter.setValue(2);
    EXPECT_FALSE(host.fill("Describe", "other"));
    EXPECT_FALSE(host.submit("*"));
    EXPECT_EQ(fieldText, "no discounts");
    EXPECT_THAT(pressed, ElementsAre("submit"));
}

TEST_F(HostingViewTests, AnActionThatChangesWhatTheViewShowsIsSafe) {
    HostingView self{[&] {
                         return VStack(HAlign::leading, 0,
                                       {Button("Bump", [&] {
                                            counter.setValue(counter.value() + 1);
                                            sim.drain();
                                            self.root();  // rebuilds while the press runs
                                        })});
                     },
                     {&counter}};
    ASSERT_TRUE(self.press("Bump"));
    ASSERT_TRUE(self.press("Bump"));
    EXPECT_EQ(counter.value(), 2);
}

TEST_F(HostingViewTests, ClicksAtAPointPressTheControlUnderIt) {
    HostingView view{[&] {
                         return VStack(HAlign::leading, 0,
                                       {HStack(VAlign::center, 0,
                                               {Button("A", [&] { pressed.push_back("A"); }),
                                                Spacer(),
                                                Button("B", [&] { pressed.push_back("B"); })
                                                    .disabled(true)}),
                                        ScrollView(VStack(HAlign::leading, 0,
                                                          {Text("tall").frame(std::nullopt, 100),
                                                           Button("Hidden", [&] {
                                                               pressed.push_back("Hidden");
                                                           })}))})
                             .frame(200)
                             .frameMaxHeight(80);
                     },
                     {}};
    Size size = view.fittingSize();
    EXPECT_EQ(size, (Size{200, 80}));
    EXPECT_EQ(view.clickAt({5, 10}, size), true);    // on "A"
    EXPECT_EQ(view.clickAt({195, 10}, size), false); // "B" is disabled
    EXPECT_EQ(view.clickAt({100, 10}, size), false); // between them
    EXPECT_EQ(view.clickAt({5, 75}, size), false);   // "Hidden" is scrolled out of sight
    EXPECT_THAT(pressed, ElementsAre("A"));
}
