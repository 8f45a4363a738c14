#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

#include "platform/core/CommandRegistry.h"
#include "platform/core/Guid.h"
#include "platform/core/Localizer.h"
#include "platform/core/PropList.h"
#include "platform/media/ChannelLayout.h"

using namespace zoc::core;

TEST(Localizer, DefaultTextAndTranslations)
{
    Localizer& localizer = Localizer::Instance();
    localizer.ClearTranslations();
    EXPECT_EQ(Localize("$$$/Test/Gain=Gain = level"), u"Gain = level");
    EXPECT_EQ(Localize("plain text"), u"plain text");
    EXPECT_EQ(Localize("$$$/Test/Empty="), u"");
    EXPECT_EQ(Localize("$$$/Test/Euro=\xE2\x82\xAC"), u"\u20AC");

    localizer.SetTranslation("$$$/Test/Gain", u"Verst\u00E4rkung");
    EXPECT_EQ(Localize("$$$/Test/Gain=Gain"), u"Verst\u00E4rkung");
    EXPECT_EQ(Localize("$$$/Test/Gains=Gains"), u"Gains");
    localizer.ClearTranslations();
    EXPECT_EQ(Localize("$$$/Test/Gain=Gain"), u"Gain");
}

TEST(Guid, TextRoundTripAndMalformedText)
{
    Guid guid;
    guid.data1 = 0x0123ABCD;
    guid.data2 = 0x00EF;
    guid.data3 = 0xA001;
    guid.data4 = {0x8F, 0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0xFE};
    EXPECT_EQ(guid.AsString(), "{0123ABCD-00EF-A001-8F00-1122334455FE}");
    EXPECT_EQ(Guid::FromString(guid.AsString()), guid);
    EXPECT_EQ(Guid::FromString("0123abcd-00ef-a001-8f00-1122334455fe"), guid);
    for (const char* text : {"", "{}", "{0123ABCD-00EF-A001-8F00-1122334455FE",
                             "0123ABCD-00EF-A001-8F00-1122334455FE}", "{0123ABCD-00EF-A001-8F00-1122334455F}",
                             "{0123ABCD-00EF-A001-8F001-122334455FE}", "{0123ABCG-00EF-A001-8F00-1122334455FE}",
                             "{0123ABCD+00EF-A001-8F00-1122334455FE}", "{0123ABCD-00EF-A001-8F00-1122334455FE0}"})
        EXPECT_FALSE(Guid::FromString(text).has_value()) << text;
}

namespace {
class EchoCommand : public console::Command {
public:
    bool Execute(std::string_view arguments, std::ostream& output) override
    {
        if (arguments.empty()) {
            output << "nothing to echo";
            return false;
        }
        output << '[' << arguments << ']';
        return true;
    }
};
} // namespace

TEST(CommandRegistry, RunsRegisteredCommandsAndReportsUnknownOnes)
{
    console::CommandRegistry registry;
    registry.RegisterCommand("echo", "Repeats its arguments", [] { return std::make_unique<EchoCommand>(); });
    EXPECT_EQ(registry.CommandNames(), std::vector<std::string>{"echo"});

    std::ostringstream output;
    EXPECT_TRUE(registry.Execute("  echo   a b ", output));
    EXPECT_EQ(output.str(), "[a b ]");
    output.str("");
    EXPECT_FALSE(registry.Execute("echo", output));
    EXPECT_EQ(output.str(), "nothing to echo");
    output.str("");
    EXPECT_FALSE(registry.Execute("ech a", output));
    EXPECT_NE(output.str().find("ech"), std::string::npos);
    EXPECT_FALSE(registry.Execute("   ", output));

    registry.UnregisterCommand("echo");
    EXPECT_FALSE(registry.HasCommand("echo"));
}

TEST(PropList, TypedGetAndDeepCopyIsIndependentAndEqual)
{
    {
        const Ref<PropList> list = MakeRef<PropList>();
        list->Set("gain", 0.5f);
        list->Set("count", std::int64_t{3});
        EXPECT_EQ(list->Get<float>("count"), 3.0f);
        EXPECT_FALSE(list->Get<bool>("gain").has_value());
        EXPECT_TRUE(list->Remove("gain"));
        EXPECT_FALSE(list->Remove("gain"));
    }
    const Ref<PropList> inner = MakeRef<PropList>();
    inner->Set("q", 0.7f);
    const Ref<PropList> element = MakeRef<PropList>();
    element->Set("on", true);
    const Ref<PropList> list = MakeRef<PropList>();
    list->Set("inner", inner);
    list->Set("bands", PropListArray{element, Ref<PropList>()});
    list->Set("curve", FloatPairList{{0.f, 1.f}, {0.5f, std::nanf("")}});

    const Ref<PropList> copy = list->DeepCopy();
    EXPECT_TRUE(copy->Equals(*list));
    const Ref<PropList> copiedInner = *copy->Get<Ref<PropList>>("inner");
    const PropListArray copiedBands = *copy->Get<PropListArray>("bands");
    EXPECT_NE(copiedInner, inner);
    EXPECT_NE(copiedBands[0], element);
    EXPECT_FALSE(copiedBands[1]);

    inner->Set("q", 0.8f);
    EXPECT_EQ(copiedInner->Get<float>("q"), 0.7f);
    EXPECT_FALSE(copy->Equals(*list));
    inner->Set("q", 0.7f);
    element->Set("on", false);
    EXPECT_FALSE(copy->Equals(*list));
    element->Set("on", true);
    list->Set("extra", std::int64_t{1});
    EXPECT_FALSE(list->Equals(*copy));
    copy->Set("extra", 1.0f); // same number, other type
    EXPECT_FALSE(copy->Equals(*list));
}

TEST(ChannelLayout, LayoutsAndLabels)
{
    using namespace zoc::media;
    EXPECT_EQ(LayoutForChannelCount(2), StereoLayout());
    EXPECT_EQ(LayoutForChannelCount(6)[3].label, kChannelLFE);
    EXPECT_EQ(LayoutForChannelCount(8)[7].label, kChannelRightSideSurround);
    EXPECT_EQ(LayoutForChannelCount(3), AudioChannelLayout(3));

    EXPECT_EQ(Localize(AudioChannelLabelDescription(kChannelCenter)), u"Center");
    EXPECT_EQ(AudioChannelLabelAbbreviation(kChannelLeftSideSurround), "Lsd");
    EXPECT_EQ(AudioChannelLabelAbbreviation(kChannelUnlabeled), "");
    EXPECT_EQ(AudioChannelLabelDescription(kChannelLabelCount), "");
    for (std::uint32_t label = kChannelLeft; label < kChannelLabelCount; ++label) {
        const auto description = AudioChannelLabelDescription(AudioChannelLabel(label));
        EXPECT_EQ(Localizer::GroupPath(description).substr(0, 18), "$$$/Media/Channel/");
        EXPECT_FALSE(Localizer::DefaultText(description).empty());
    }
}
