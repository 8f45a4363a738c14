// The public interface against the components it wraps: names, values,
// presets and settings read as zoc reads them, and processing that equals
// driving the component through the host session directly.

#include <zoc/zoc.h>

#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <tuple>
#include <utility>

#include "api/Lookup.h"
#include "api/Text.h"
#include "framework/Library.h"
#include "platform/host/Session.h"
#include "tests/support/AllocationGuard.h"
#include "tests/support/Measure.h"
#include "tests/support/ScratchDirectory.h"
#include "tests/support/TestHost.h"

namespace zoc::test {
namespace {

constexpr double kRate = 48000.0;
using Planar = std::vector<std::vector<float>>;

Planar NoiseChannels(int channels, std::size_t frames, float level = 0.5f)
{
    Planar planar;
    for (int channel = 0; channel < channels; ++channel) {
        planar.push_back(Noise(frames, 17u + static_cast<unsigned>(channel)));
        for (float& sample : planar.back())
            sample *= level;
    }
    return planar;
}

/// Channel pointers from `offset` on: const for a const signal.
template <class Signal>
auto Pointers(Signal& planar, std::size_t offset = 0)
{
    std::vector<decltype(planar[0].data())> pointers;
    for (auto& channel : planar)
        pointers.push_back(channel.data() + offset);
    return pointers;
}

/// Calls `process(offset, frames)` over `total` frames in uneven chunks that
/// straddle the host blocks and the facade's copy slices.
template <class Process>
void InChunks(std::size_t total, Process process)
{
    static constexpr std::size_t kChunks[] = {700, 4101, 1, 2048, 333};
    for (std::size_t done = 0, next = 0; done < total; ++next) {
        const std::size_t frames = std::min(kChunks[next % std::size(kChunks)], total - done);
        process(done, static_cast<std::int64_t>(frames));
        done += frames;
    }
}

/// The code and message of the Error `call` throws.
std::pair<Error::Code, std::string> Failure(const std::function<void()>& call)
{
    try {
        call();
    } catch (const Error& error) {
        return {error.GetCode(), error.what()};
    }
    ADD_FAILURE() << "no error";
    return {Error::Code::Io, ""};
}

Error::Code CodeOf(const std::function<void()>& call) { return Failure(call).first; }

// Every listed component is found by its class name or its title in any
// case, and the listing agrees with the effect it creates.
TEST(EffectCreate, ListingNamesEveryComponentOnceAndEachIsFoundByNameOrTitleInAnyCase)
{
    const std::vector<ComponentDescription> components = ListComponents();
    ASSERT_EQ(components.size(), api::AllComponents().size());
    for (std::size_t i = 1; i < components.size(); ++i)
        EXPECT_LT(components[i - 1].className, components[i].className);
    for (const ComponentDescription& component : components) {
        std::string upperTitle = component.title;
        for (char& c : upperTitle)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        for (const std::string& name : {api::ToLower(component.className), upperTitle, component.title}) {
            const Effect effect = Effect::Create(name, kRate, 2);
            EXPECT_EQ(effect.ClassName(), component.className) << name;
            EXPECT_EQ(effect.Title(), component.title) << name;
            EXPECT_EQ(effect.Channels(), 2);
            EXPECT_EQ(effect.SampleRate(), kRate);
            EXPECT_EQ(effect.IsOffline(), component.offline) << name;
            EXPECT_EQ(effect.IsGenerator(), component.generator) << name;
            EXPECT_EQ(static_cast<int>(effect.Presets().size()), component.presetCount) << name;
        }
    }
}

TEST(EffectCreate, UnknownNamesAndUnsupportedLayoutsThrowTheirCode)
{
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        const char* name;
        double rate;
        int channels;
        Error::Code code;
    } cases[] = {{"Limitter", kRate, 2, Error::Code::UnknownName},
                 {"", kRate, 2, Error::Code::UnknownName},
                 {"Echo", kRate, 0, Error::Code::UnsupportedLayout},
                 {"Echo", kRate, -2, Error::Code::UnsupportedLayout},
                 {"Echo", kRate, 33, Error::Code::UnsupportedLayout},
                 {"Echo", nan, 2, Error::Code::UnsupportedLayout},
                 {"Echo", 0.0, 2, Error::Code::UnsupportedLayout},
                 {"Echo", 1e7, 2, Error::Code::UnsupportedLayout},
                 // The component itself refuses: it needs a stereo pair.
                 {"CenterChannelExtract", kRate, 1, Error::Code::UnsupportedLayout}};
    for (const auto& c : cases)
        EXPECT_EQ(CodeOf([&] { Effect::Create(c.name, c.rate, c.channels); }), c.code) << c.name << " " << c.channels;
    const std::string message = Failure([] { Effect::Create("Echoo", kRate, 2); }).second;
    EXPECT_NE(message.find("did you mean 'Echo'"), std::string::npos) << message;
}

TEST(EffectParameters, IndexKeyAndNameReachTheSameParameterInRealUnits)
{
    Effect limiter = Effect::Create("HardLimiter", kRate, 2);
    const int index = limiter.FindParameter("input_boost");
    for (const std::string& name : std::vector<std::string>{"Input Boost", "INPUT BOOST", std::to_string(index)})
        EXPECT_EQ(limiter.FindParameter(name), index) << name;

    const std::pair<const char*, float> cases[] = {
        {"input_boost", 6.0f}, {"Input Boost", -40.0f}, {"1", 20.0f}, {"release_time", 37.5f}, {"Look-Ahead Time", 15.0f}};
    for (const auto& [parameter, value] : cases) {
        limiter.SetParameter(parameter, value);
        EXPECT_NEAR(limiter.GetParameter(parameter), value, 1e-4f) << parameter;
        const int at = limiter.FindParameter(parameter);
        EXPECT_NEAR(limiter.GetParameter(at), value, 1e-4f) << parameter;
        // The normalized view is the same value through the description.
        limiter.SetNormalized(at, limiter.GetNormalized(at));
        EXPECT_NEAR(limiter.GetParameter(at), value, 1e-4f) << parameter;
    }
    limiter.SetParameterText("release_time", "250");
    EXPECT_NEAR(limiter.GetParameter("release_time"), 250.0f, 1e-3f);

    Effect echo = Effect::Create("Echo", kRate, 2);
    const std::pair<const char*, float> switches[] = {{"on", 1.0f}, {"TRUE", 1.0f}, {"yes", 1.0f}, {"1", 1.0f},
                                                      {"Off", 0.0f}, {"false", 0.0f}, {"no", 0.0f},  {"0", 0.0f}};
    for (const auto& [text, value] : switches) {
        echo.SetParameterText("echo_bounce", value == 0.0f ? "1" : "0");
        echo.SetParameterText("echo_bounce", text);
        EXPECT_EQ(echo.GetParameter("echo_bounce"), value) << text;
    }
}

TEST(EffectParameters, BadNamesAndValuesThrowAndChangeNothing)
{
    Effect limiter = Effect::Create("HardLimiter", kRate, 2);
    const float before = limiter.GetParameter("input_boost");
    const struct {
        std::function<void()> call;
        Error::Code code;
    } cases[] = {
        {[&] { limiter.SetParameter(99, 1.0f); }, Error::Code::UnknownName},
        {[&] { limiter.SetParameter(-1, 1.0f); }, Error::Code::UnknownName},
        {[&] { limiter.SetParameter("input_boost", 20.5f); }, Error::Code::InvalidValue},
        {[&] { limiter.SetParameter("input_boost", std::nanf("")); }, Error::Code::InvalidValue},
        {[&] { limiter.SetParameter("input_boost", HUGE_VALF); }, Error::Code::InvalidValue},
        {[&] { limiter.SetNormalized(1, 1.5f); }, Error::Code::InvalidValue},
        {[&] { limiter.SetNormalized(1, std::nanf("")); }, Error::Code::InvalidValue},
        {[&] { limiter.ApplyPreset("Loud"); }, Error::Code::UnknownName},
        {[&] { limiter.ApplyPreset(99); }, Error::Code::UnknownName},
        {[&] { limiter.ApplyPreset(-1); }, Error::Code::UnknownName},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodeOf(c.call), c.code);
    EXPECT_EQ(limiter.GetParameter("input_boost"), before);
}

TEST(EffectParameters, DescriptionsGiveRangeUnitDefaultAndText)
{
    Effect limiter = Effect::Create("HardLimiter", kRate, 2);
    limiter.SetParameter("release_time", 200.0f);
    const ParameterDescription release = limiter.Describe("Release Time");
    EXPECT_EQ(release.key + " " + release.name + " " + release.unitLabel + " " + release.text,
              "release_time Release Time ms 200.00");
    EXPECT_EQ(std::make_tuple(release.unit, release.minimum, release.maximum, release.automatable),
              std::make_tuple(Unit::Time, 0.0f, 400.0f, true));
    EXPECT_NEAR(release.defaultValue, 150.0f, 1e-3f);
    EXPECT_NEAR(release.value, 200.0f, 1e-3f);
    EXPECT_EQ(Effect::Create("Echo", kRate, 2).Describe("echo_bounce").unit, Unit::Switch);

    // A count that crosses the host interface as itself is described by the
    // counts it takes.
    Effect chorus = Effect::Create("Chorus", kRate, 2);
    const ParameterDescription voices = chorus.Describe("voices");
    EXPECT_EQ(std::make_tuple(voices.minimum, voices.maximum, voices.defaultValue, voices.steps),
              std::make_tuple(1.0f, 16.0f, 2.0f, 15));
    chorus.SetParameterText("voices", "12");
    EXPECT_EQ(chorus.GetParameter("voices"), 12.0f);

    // One channel uses only the left settings of the Echo; the right ones
    // stay described (saved settings keep their shape) but unused.
    const Effect monoEcho = Effect::Create("Echo", kRate, 1);
    for (const char* key : {"delay_time", "delay_time_right_channel", "echo_bounce"})
        EXPECT_EQ(monoEcho.Describe(key).inUse, std::string(key) == "delay_time") << key;
    EXPECT_TRUE(Effect::Create("Echo", kRate, 2).Describe("delay_time_right_channel").inUse);

    // Amplify leaves the indexes of unused channel gains undescribed.
    const Effect amplify = Effect::Create("Amplify", kRate, 2);
    const std::vector<ParameterDescription> described = amplify.Parameters();
    EXPECT_LT(described.size(), static_cast<std::size_t>(amplify.ParameterCount()));
    for (const ParameterDescription& description : described)
        EXPECT_EQ(amplify.FindParameter(description.key), description.index);
}

TEST(EffectPresets, ByNameOrIndexGiveThePresetsValues)
{
    Effect byName = Effect::Create("HardLimiter", kRate, 2);
    Effect byIndex = Effect::Create("HardLimiter", kRate, 2);
    const std::vector<std::string> presets = byName.Presets();
    ASSERT_FALSE(presets.empty());
    for (int index = 0; index < static_cast<int>(presets.size()); ++index) {
        byName.ApplyPreset(api::ToLower(presets[static_cast<std::size_t>(index)]));
        byIndex.ApplyPreset(index);
        for (int parameter = 0; parameter < byName.ParameterCount(); ++parameter)
            EXPECT_EQ(byName.GetNormalized(parameter), byIndex.GetNormalized(parameter)) << presets[index];
    }
    byName.ApplyPreset("Limit to -3dB");
    EXPECT_NEAR(byName.GetParameter("maximum_amplitude"), -3.0f, 1e-3f);
}

/// True when the two hold the same bits.
bool SameBits(const Planar& a, const Planar& b)
{
    bool same = a.size() == b.size();
    for (std::size_t channel = 0; same && channel < a.size(); ++channel)
        same = a[channel].size() == b[channel].size() &&
               std::memcmp(a[channel].data(), b[channel].data(), a[channel].size() * sizeof(float)) == 0;
    return same;
}

// Effects travel as their settings (pickled to worker processes, rebuilt for
// another rate or layout, saved to files): one loaded from another's settings
// must hold the same values to the bit and sound exactly like it, from its
// defaults and from its presets.
TEST(EffectSettings, LoadedSettingsHoldTheSameValuesAndRenderBitForBit)
{
    constexpr std::int64_t kFrames = 4000;
    const Planar input = NoiseChannels(2, kFrames, 0.25f);
    const auto render = [&](Effect& effect) {
        return effect.IsGenerator() ? effect.Generate(kFrames) : effect.Render(Pointers(input).data(), kFrames);
    };
    ScratchDirectory scratch;
    for (const ComponentDescription& component : ListComponents()) {
        // The defaults (-1), the first two presets and the last one; a reverb
        // synthesises a new impulse for each, so it gets the last one only.
        const int last = component.presetCount - 1;
        std::vector<int> presets{-1};
        for (int preset : {0, 1})
            if (preset < last && component.className.find("Reverb") == std::string::npos)
                presets.push_back(preset);
        if (last >= 0)
            presets.push_back(last);
        for (int preset : presets) {
            SCOPED_TRACE(component.className + " preset " + std::to_string(preset));
            Effect original = Effect::Create(component.className, kRate, 2);
            if (preset >= 0)
                original.ApplyPreset(preset);
            const std::string text = original.SaveSettings();
            Effect copy = Effect::Create(component.className, kRate, 2);
            copy.LoadSettings(text);
            EXPECT_EQ(copy.SaveSettings(), text);
            for (int index = 0; index < original.ParameterCount(); ++index) {
                const float a = original.GetNormalized(index);
                const float b = copy.GetNormalized(index);
                EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << "parameter " << index;
            }
            const std::string path = scratch / (component.className + ".json");
            original.SaveSettingsFile(path);
            Effect fromFile = Effect::Create(component.className, kRate, 2);
            fromFile.LoadSettingsFile(path);
            EXPECT_EQ(fromFile.SaveSettings(), text);

            const Planar expected = render(original);
            const Planar loaded = render(copy);
            EXPECT_TRUE(SameBits(loaded, expected)) << "differs by up to " << MaxDifference(loaded, expected);
        }
    }
}

TEST(EffectSettings, BadSettingsThrowAndLeaveTheEffectAsItWas)
{
    ScratchDirectory scratch;
    Effect echo = Effect::Create("Echo", kRate, 2);
    const std::string before = echo.SaveSettings();
    const std::string limiterSettings = Effect::Create("HardLimiter", kRate, 2).SaveSettings();
    const struct {
        std::function<void()> call;
        Error::Code code;
    } cases[] = {
        {[&] { echo.LoadSettings("{"); }, Error::Code::InvalidSettings},
        {[&] { echo.LoadSettings("[]"); }, Error::Code::InvalidSettings},
        {[&] { echo.LoadSettings(limiterSettings); }, Error::Code::InvalidSettings},
        {[&] { echo.LoadSettingsFile(scratch / "missing.json"); }, Error::Code::Io},
        {[&] { echo.SaveSettingsFile(scratch / "no-such-dir/echo.json"); }, Error::Code::Io},
    };
    for (const auto& c : cases)
        EXPECT_EQ(CodeOf(c.call), c.code);
    EXPECT_EQ(echo.SaveSettings(), before);
    EXPECT_EQ(scratch.Entries(), std::vector<std::string>());
}

/// The component driven through the host session as zoc drives it.
struct Reference {
    explicit Reference(const std::string& className, int channels)
        : filter(api::CreateComponent(api::FindComponent(className))), session(filter)
    {
        session.Configure(static_cast<std::size_t>(channels), static_cast<float>(kRate));
    }
    core::Ref<host::AudioFilter> filter;
    host::Session session;
};

TEST(EffectProcess, EqualsDrivingTheComponentDirectly)
{
    constexpr std::size_t kFrames = 20000;
    const struct {
        const char* name;
        const char* parameter;
        const char* value;
    } cases[] = {{"HardLimiter", "input_boost", "12"}, {"Echo", "0", "0.3"},
                 {"Dynamics", "", ""},                 {"ParametricEQ", "", ""},
                 {"Chorus", "", ""},                   {"PitchShift", "", ""}};
    for (const auto& c : cases) {
        Effect effect = Effect::Create(c.name, kRate, 2);
        Effect inPlaceEffect = Effect::Create(c.name, kRate, 2);
        Reference reference(c.name, 2);
        if (*c.parameter != '\0') {
            effect.SetParameterText(c.parameter, c.value);
            inPlaceEffect.SetParameterText(c.parameter, c.value);
            const int index = effect.FindParameter(c.parameter);
            reference.session.SetParameter(index, effect.GetNormalized(index));
        }
        reference.session.Resume();
        const Planar input = NoiseChannels(2, kFrames);
        Planar expected(2, std::vector<float>(kFrames));
        Planar actual(2, std::vector<float>(kFrames));
        Planar inPlace = input;
        InChunks(kFrames, [&](std::size_t offset, std::int64_t frames) {
            Planar chunk = input;
            reference.session.Process(Pointers(chunk, offset).data(), Pointers(expected, offset).data(), frames);
            effect.Process(Pointers(input, offset).data(), Pointers(actual, offset).data(), frames);
            const std::vector<float*> both = Pointers(inPlace, offset);
            inPlaceEffect.Process(both.data(), both.data(), frames);
        });
        EXPECT_EQ(actual, expected) << c.name;
        EXPECT_EQ(inPlace, expected) << c.name << " in place";
    }
}

TEST(EffectProcess, SteadyProcessingDoesNotAllocate)
{
    Effect limiter = Effect::Create("Dynamics", kRate, 2);
    limiter.ConnectSideChain(2);
    limiter.Prepare();
    Planar buffer = NoiseChannels(2, 5000);
    const Planar side = NoiseChannels(2, 5000);
    const std::vector<float*> io = Pointers(buffer);
    const std::vector<const float*> sideChain = Pointers(side);
    // The first call after Prepare too; reading the latency and parameters is
    // real-time safe as well.
    for (int call = 0; call < 2; ++call) {
        AllocationGuard guard;
        limiter.Process(io.data(), sideChain.data(), io.data(), 5000);
        EXPECT_GE(limiter.Latency(), 0);
        EXPECT_LT(limiter.GetParameter(0), 1e9f);
    }
}

TEST(EffectProcess, ScheduledChangesLandOnTheirFrameAcrossCallsAndResets)
{
    constexpr std::size_t kFrames = 12000;
    constexpr std::int64_t kAt = 5003;
    const Planar input = NoiseChannels(2, kFrames, 0.25f);
    Effect amplify = Effect::Create("Amplify", kRate, 2);
    // The first run is thrown away: Reset must restart the frame count.
    Planar discard(2, std::vector<float>(1000));
    amplify.Process(Pointers(input).data(), Pointers(discard).data(), 1000);
    amplify.Reset();
    amplify.ScheduleParameter(kAt, "left", -12.0f);
    Planar actual(2, std::vector<float>(kFrames));
    InChunks(kFrames, [&](std::size_t offset, std::int64_t frames) {
        amplify.Process(Pointers(input, offset).data(), Pointers(actual, offset).data(), frames);
    });

    // The host sets the value between two calls that meet at the frame.
    Reference reference("Amplify", 2);
    reference.session.Resume();
    Planar expected(2, std::vector<float>(kFrames));
    Planar copy = input;
    reference.session.Process(Pointers(copy).data(), Pointers(expected).data(), kAt);
    const int left = amplify.FindParameter("left");
    reference.session.SetParameter(left, amplify.GetNormalized(left));
    reference.session.Process(Pointers(copy, kAt).data(), Pointers(expected, kAt).data(),
                              static_cast<std::int64_t>(kFrames) - kAt);
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(actual[0][kAt - 1], input[0][kAt - 1]);
    EXPECT_NE(actual[0][kFrames - 1], input[0][kFrames - 1]);
}

TEST(EffectProcess, RenderAlignsTheOutputWithTheInput)
{
    // Below the limiter's ceiling the signal passes unchanged, only delayed
    // by the look-ahead that Render takes back out.
    constexpr std::size_t kFrames = 9000;
    const Planar input = NoiseChannels(2, kFrames, 0.1f);
    Effect limiter = Effect::Create("HardLimiter", kRate, 2);
    ASSERT_GT(limiter.Latency(), 0);
    const Planar output = limiter.Render(Pointers(input).data(), static_cast<std::int64_t>(kFrames));
    ASSERT_EQ(output.size(), 2u);
    ASSERT_EQ(output[0].size(), kFrames);
    for (std::size_t channel = 0; channel < 2; ++channel)
        EXPECT_GT(Correlation(output[channel], input[channel]), 0.9999) << channel;
}

TEST(EffectProcess, SideChainIsOfferedWhereTheComponentHasOneAndFollowsTheMainChannels)
{
    Effect echo = Effect::Create("Echo", kRate, 2);
    EXPECT_EQ(echo.SideChainChannels(), 0);
    EXPECT_EQ(CodeOf([&] { echo.ConnectSideChain(1); }), Error::Code::UnsupportedLayout);
    Effect effect = Effect::Create("Dynamics", kRate, 2);
    ASSERT_GT(effect.SideChainChannels(), 0);
    EXPECT_EQ(CodeOf([&] { effect.ConnectSideChain(effect.SideChainChannels() + 1); }),
              Error::Code::UnsupportedLayout);

    constexpr std::size_t kFrames = 9000;
    const Planar input = NoiseChannels(2, kFrames, 0.1f);
    const Planar side = NoiseChannels(2, kFrames, 0.9f);
    effect.ApplyPreset("Broadcast Limiter");
    effect.ConnectSideChain(2);
    Planar actual(2, std::vector<float>(kFrames));
    InChunks(kFrames, [&](std::size_t offset, std::int64_t frames) {
        effect.Process(Pointers(input, offset).data(), Pointers(side, offset).data(), Pointers(actual, offset).data(),
                       frames);
    });

    Reference reference("Dynamics", 2);
    reference.session.ApplyPreset(api::FindPreset(*reference.filter, "Dynamics", "Broadcast Limiter"));
    reference.session.SetSideChain(2);
    reference.session.Resume();
    Planar all = input;
    all.insert(all.end(), side.begin(), side.end());
    Planar expected(2, std::vector<float>(kFrames));
    reference.session.Process(Pointers(all).data(), Pointers(expected).data(), kFrames);
    EXPECT_EQ(actual, expected);

    // The loud side-chain, not the quiet input, sets the gain.
    Effect unconnected = Effect::Create("Dynamics", kRate, 2);
    unconnected.ApplyPreset("Broadcast Limiter");
    Planar plain(2, std::vector<float>(kFrames));
    unconnected.Process(Pointers(input).data(), Pointers(plain).data(), kFrames);
    EXPECT_NE(actual, plain);
}

TEST(EffectChain, LatencyIsTheSumAndOutputIsTheEffectsInTurn)
{
    constexpr std::size_t kFrames = 10000;
    Chain chain;
    std::vector<Effect> alone;
    int sum = 0;
    for (const char* name : {"HardLimiter", "Dynamics", "Echo"}) {
        chain.Add(Effect::Create(name, kRate, 2));
        alone.push_back(Effect::Create(name, kRate, 2));
        sum += alone.back().Latency();
    }
    EXPECT_EQ(chain.Size(), 3u);
    EXPECT_GT(sum, 0);
    EXPECT_EQ(chain.Latency(), sum);

    const Planar input = NoiseChannels(2, kFrames);
    Planar chained(2, std::vector<float>(kFrames));
    InChunks(kFrames, [&](std::size_t offset, std::int64_t frames) {
        chain.Process(Pointers(input, offset).data(), Pointers(chained, offset).data(), frames);
    });
    Planar inTurn = input;
    for (Effect& effect : alone)
        effect.Process(Pointers(inTurn).data(), Pointers(inTurn).data(), static_cast<std::int64_t>(kFrames));
    EXPECT_EQ(chained, inTurn);

    EXPECT_EQ(CodeOf([&] { chain.Add(Effect::Create("Echo", kRate, 1)); }), Error::Code::UnsupportedLayout);
    EXPECT_EQ(CodeOf([&] { chain.Add(Effect::Create("Echo", 44100.0, 2)); }), Error::Code::UnsupportedLayout);
    EXPECT_EQ(CodeOf([&] { chain.Add(Effect::Create("Noise", kRate, 2)); }), Error::Code::WrongKind);
    EXPECT_EQ(chain.Size(), 3u);
}

TEST(EffectKinds, GeneratorsGenerateAndCurvesDrawOverTheirAxisWhereOffered)
{
    Effect tones = Effect::Create("Tones", kRate, 2);
    ASSERT_TRUE(tones.IsGenerator());
    tones.SetParameter("frequency", 1000.0f);
    const Planar output = tones.Generate(9600);
    ASSERT_EQ(output.size(), 2u);
    ASSERT_EQ(output[0].size(), 9600u);
    const ToneFit fit = FitTone(output[0], kRate, 1000.0);
    EXPECT_NEAR(fit.frequency, 1000.0, 1.0);
    EXPECT_GT(fit.amplitude, 0.1);
    // Block processing is not how a generator runs: it gives silence.
    Planar block = NoiseChannels(2, 256);
    tones.Process(Pointers(block).data(), Pointers(block).data(), 256);
    EXPECT_EQ(block, Planar(2, std::vector<float>(256, 0.0f)));

    Effect eq = Effect::Create("ParametricEQ", kRate, 2);
    eq.ApplyPreset("Generic Hi-Pass");
    const Curve response = eq.Curve(64);
    EXPECT_EQ(response.axis, "Hz");
    ASSERT_EQ(response.x.size(), 64u);
    ASSERT_EQ(response.values.size(), 64u);
    EXPECT_DOUBLE_EQ(response.x.front(), 20.0);
    EXPECT_LT(response.x.back(), kRate / 2);
    EXPECT_LT(response.values.front(), response.values.back() - 20.0f); // a high-pass

    Effect echo = Effect::Create("Echo", kRate, 2);
    EXPECT_EQ(CodeOf([&] { echo.Generate(100); }), Error::Code::WrongKind);
    EXPECT_EQ(CodeOf([&] { echo.Curve(); }), Error::Code::WrongKind);
    EXPECT_EQ(CodeOf([&] { eq.Curve(0); }), Error::Code::InvalidValue);
}

TEST(AudioFiles, WrittenFilesReadBackWholeAndInBlocks)
{
    const ScratchDirectory directory;
    const Planar audio = NoiseChannels(2, 10000);
    EXPECT_EQ(WriteAudioFile(directory / "a.wav", Pointers(audio).data(), 2, 10000, 44100.0, "32f"), 0);
    const Audio whole = ReadAudioFile(directory / "a.wav");
    EXPECT_EQ(whole.sampleRate, 44100.0);
    EXPECT_EQ(whole.channels, audio);

    AudioFileReader reader(directory / "a.wav");
    EXPECT_EQ(reader.Frames(), 10000);
    Planar blocks(2, std::vector<float>(10000));
    std::int64_t done = 0;
    for (std::int64_t got; (got = reader.Read(Pointers(blocks, static_cast<std::size_t>(done)).data(), 3000)) > 0;)
        done += got;
    EXPECT_EQ(done, 10000);
    EXPECT_EQ(blocks, audio);

    // 16-bit output clips what lies beyond full scale, and says how much.
    Planar loud = audio;
    loud[0][5] = 1.5f;
    EXPECT_EQ(WriteAudioFile(directory / "b.flac", Pointers(loud).data(), 2, 10000, 44100.0, "16"), 1);
    EXPECT_EQ(CodeOf([&] { ReadAudioFile(directory / "missing.wav"); }), Error::Code::Io);
    EXPECT_EQ(CodeOf([&] { WriteAudioFile(directory / "x.flac", Pointers(audio).data(), 2, 100, 44100.0, "32f"); }),
              Error::Code::InvalidValue);
    EXPECT_EQ(CodeOf([&] { WriteAudioFile(directory / "x.wav", Pointers(audio).data(), 2, 100, 44100.5); }),
              Error::Code::InvalidValue);
}

} // namespace
} // namespace zoc::test
