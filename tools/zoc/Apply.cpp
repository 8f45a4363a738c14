// zoc apply: runs an audio file through a component the way a host does and
// writes the result atomically.

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <sstream>
#include <string_view>

#include <nlohmann/json.hpp>

#include "framework/LogicalKeyframeEditor.h"
#include "platform/core/CommandRegistry.h"
#include "platform/host/Session.h"
#include "tools/zoc/AudioFile.h"
#include "tools/zoc/Batch.h"
#include "tools/zoc/Commands.h"
#include "tools/zoc/ComponentLookup.h"
#include "tools/zoc/Errors.h"
#include "tools/zoc/Keyframes.h"
#include "tools/zoc/MissingComponent.h"
#include "tools/zoc/OutputLevel.h"
#include "tools/zoc/Progress.h"
#include "tools/zoc/Render.h"
#include "tools/zoc/SettingsFile.h"
#include "tools/zoc/UserPresets.h"

namespace zoc::tool {

namespace {

struct ParameterSetting {
    bool normalized = false;
    std::string parameter;
    std::string value;
};

struct TimedSetting {
    double seconds = 0.0;
    std::string parameter;
    std::string value;
};

struct ApplyOptions {
    std::vector<std::string> positional;
    std::optional<std::string> preset;
    std::vector<ParameterSetting> settings;
    std::vector<TimedSetting> timed;
    int blockSize = 512;
    bool raw = false;
    std::optional<double> tailSeconds;
    std::string loadSettings;
    std::string saveSettings;
    std::string report;
    std::string bits;
    std::string type; ///< format of a stream output
    std::optional<std::string> sideChain;
    std::optional<std::vector<KeyframeEntry>> keyframes;
    std::optional<double> normalize;
    std::string savePreset;
    bool quiet = false;
    std::vector<std::string> consoleCommands; ///< run before the component is created
};

/// Splits "PARAM=VALUE" at the last '='.
std::pair<std::string, std::string> SplitAssignment(const std::string& text, const std::string& option)
{
    const std::size_t equals = text.rfind('=');
    if (equals == std::string::npos || equals == 0 || equals + 1 == text.size())
        throw UsageError(option + " expects PARAM=VALUE, got '" + text + "'");
    return {text.substr(0, equals), text.substr(equals + 1)};
}

ApplyOptions ParseOptions(const Words& words)
{
    ArgumentScanner scanner("apply", words,
                            {"--preset", "--set", "--set-normalized", "--at", "--block", "--tail", "--load-settings",
                             "--save-settings", "--report", "--bits", "--sidechain", "--keyframes", "--normalize",
                             "--save-preset", "--console", "--type"},
                            {"--raw", "--quiet"});
    ApplyOptions options;
    while (scanner.Next()) {
        if (!scanner.IsOption()) {
            options.positional.push_back(scanner.Word());
            continue;
        }
        const std::string& name = scanner.Name();
        if (name == "--raw") {
            options.raw = true;
        } else if (name == "--quiet") {
            options.quiet = true;
        } else if (name == "--preset") {
            options.preset = scanner.Value();
        } else if (name == "--set" || name == "--set-normalized") {
            auto [parameter, value] = SplitAssignment(scanner.Value(), name);
            options.settings.push_back({name == "--set-normalized", parameter, value});
        } else if (name == "--at") {
            const std::string text = scanner.Value();
            const std::size_t colon = text.find(':');
            if (colon == std::string::npos)
                throw UsageError("--at expects SECONDS:PARAM=VALUE, got '" + text + "'");
            const double seconds = RequireNumber(text.substr(0, colon), "--at time");
            if (seconds < 0.0)
                throw UsageError("--at time must not be negative, got '" + text.substr(0, colon) + "'");
            auto [parameter, value] = SplitAssignment(text.substr(colon + 1), "--at");
            options.timed.push_back({seconds, parameter, value});
        } else if (name == "--block") {
            options.blockSize = static_cast<int>(RequireInteger(scanner.Value(), "--block", 1, 65536));
        } else if (name == "--tail") {
            options.tailSeconds = RequireNumber(scanner.Value(), "--tail");
            if (*options.tailSeconds < 0.0 || *options.tailSeconds > 86400.0)
                throw UsageError("--tail must be between 0 and 86400 seconds");
        } else if (name == "--load-settings" || name == "--save-settings" || name == "--report") {
            std::string path = scanner.Value();
            if (path.empty())
                throw UsageError(name + " needs a file name");
            (name == "--report" ? options.report : name == "--load-settings" ? options.loadSettings
                                                                             : options.saveSettings) = std::move(path);
        } else if (name == "--bits") {
            options.bits = scanner.Value();
        } else if (name == "--type") {
            options.type = scanner.Value();
            if (options.type != "wav" && options.type != "flac" && options.type != "aiff" && options.type != "ogg")
                throw UsageError("--type must be wav, flac, aiff or ogg, not '" + options.type + "'");
        } else if (name == "--sidechain") {
            options.sideChain = scanner.Value();
        } else if (name == "--keyframes") {
            options.keyframes = ParseKeyframes(scanner.Value());
        } else if (name == "--console") {
            options.consoleCommands.push_back(scanner.Value());
        } else if (name == "--normalize") {
            options.normalize = ParseNormalizePeak(scanner.Value());
        } else if (name == "--save-preset") {
            options.savePreset = scanner.Value();
        }
    }
    if (options.raw && options.tailSeconds)
        throw UsageError("--tail adds output after the input; it cannot be combined with --raw");
    return options;
}

/// Preset, saved settings, --keyframes, then --set and --set-normalized in
/// the order given. Keyframes in seconds wait for the input's length.
void ApplySettings(host::Session& session, const Component& component, const ApplyOptions& options)
{
    host::AudioFilter& filter = session.Filter();
    if (options.preset)
        ApplyNamedPreset(session, component, *options.preset);
    if (!options.loadSettings.empty())
        LoadSettingsFile(options.loadSettings, filter, component);
    if (options.keyframes && !KeyframesNeedLength(*options.keyframes))
        dynamic_cast<LogicalKeyframeEditor&>(filter).SetLogicalKeyframes(
            ResolveKeyframes(*options.keyframes, std::nullopt, "the input"));
    std::vector<SettingText> texts;
    for (const ParameterSetting& setting : options.settings)
        texts.push_back({setting.parameter, setting.value, setting.normalized});
    for (const auto& [index, normalized] : ResolveSettings(filter, component, texts))
        session.SetParameter(index, normalized);
}

nlohmann::json ReportJson(const RenderStats& stats, int sampleRate, std::size_t channels)
{
    const double audioSeconds = static_cast<double>(stats.framesIn) / sampleRate;
    const double wall = std::max(stats.seconds, 1e-9);
    return {{"latency", stats.latency},
                                   {"frames_in", stats.framesIn},
                                   {"frames_out", stats.framesOut},
                                   {"sample_rate", sampleRate},
                                   {"channels", channels},
                                   {"seconds", stats.seconds},
                                   {"realtime_factor", audioSeconds / wall}};
}

std::string ReportText(const RenderStats& stats, int sampleRate, std::size_t channels)
{
    return ReportJson(stats, sampleRate, channels).dump(2) + "\n";
}

/// The output's format: from its name, or for standard output and other
/// streams from --type (WAV when neither tells).
OutputFormat ChooseStreamOrFileFormat(const std::filesystem::path& path, const ApplyOptions& options)
{
    if (!IsStream(path)) {
        if (!options.type.empty())
            throw UsageError("--type is for output to '-' or a pipe; a file's name tells its format");
        return ChooseOutputFormat(path, options.bits);
    }
    const std::string type = !options.type.empty()      ? options.type
                             : path.has_extension() && path != "-" ? path.extension().string().substr(1)
                                                                   : "wav";
    return ChooseOutputFormat("standard output." + type, options.bits);
}

/// One file the command reads or writes, for finding two that are the same.
struct NamedPath {
    const char* role;
    std::string path;
    bool written;
};

/// Usage error when a written file is also read or written under another
/// role (the same path, another path to the same file, or a link to it).
/// Reading one file twice (input and side-chain) is harmless, and so is
/// saving settings over the file they were loaded from (read whole first).
void RefuseSharedFiles(const std::vector<NamedPath>& paths)
{
    struct Identity {
        bool exists = false;
        dev_t device = 0;
        ino_t inode = 0;
        std::filesystem::path canonical;
    };
    std::vector<Identity> identities;
    for (const NamedPath& named : paths) {
        Identity identity;
        if (named.path == "-") {
            // Standard input and output are streams of their own.
            identity.canonical = std::string("-") + named.role;
            identities.push_back(std::move(identity));
            continue;
        }
        struct stat status {};
        if (::stat(named.path.c_str(), &status) == 0) {
            identity.exists = true;
            identity.device = status.st_dev;
            identity.inode = status.st_ino;
        }
        std::error_code error;
        identity.canonical = std::filesystem::weakly_canonical(std::filesystem::absolute(named.path, error), error);
        if (error)
            identity.canonical = std::filesystem::absolute(named.path, error).lexically_normal();
        identities.push_back(std::move(identity));
    }
    for (std::size_t i = 0; i < paths.size(); ++i) {
        for (std::size_t j = i + 1; j < paths.size(); ++j) {
            if (!paths[i].written && !paths[j].written)
                continue;
            if (std::string_view(paths[i].role) == "--load-settings" &&
                std::string_view(paths[j].role) == "--save-settings")
                continue;
            const Identity& a = identities[i];
            const Identity& b = identities[j];
            const bool same = a.exists && b.exists ? a.device == b.device && a.inode == b.inode
                                                   : a.canonical == b.canonical;
            if (same)
                throw UsageError(std::string(paths[i].role) + " and " + paths[j].role + " are the same file ('" +
                                 paths[j].path + "'); give each its own");
        }
    }
}

/// Refuses a time for --at that lies past the end of the output, where it
/// could never take effect.
void CheckTimedChanges(const ApplyOptions& options, const AudioReader& reader, const std::filesystem::path& input)
{
    // Frame positions are 64-bit; far below their limit, but far above any file.
    constexpr double kMaxFrames = 0x1p62;
    const int rate = reader.SampleRate();
    const double tail = options.tailSeconds.value_or(0.0);
    for (const TimedSetting& change : options.timed) {
        const double frame = change.seconds * rate;
        if (reader.LengthKnown()) {
            const double seconds = static_cast<double>(reader.Frames()) / rate + tail;
            if (frame > static_cast<double>(reader.Frames()) + tail * rate)
                throw UsageError("--at " + FormatNumber(change.seconds) + " s is past the end of the output (" +
                                 FormatNumber(seconds) + " s from " + input.filename().string() + ")");
        } else if (!(frame < kMaxFrames)) {
            throw UsageError("--at " + FormatNumber(change.seconds) + " s is too far to be a position in a file");
        }
    }
}

/// One --at change resolved to a parameter index at a frame.
struct TimedValue {
    std::int64_t frame;
    bool wide; ///< set by a name standing for several channels
    int index;
    float normalized;
};

/// The --at changes of one component in the order they are scheduled: by
/// frame (`offset` frames later), a name for several channels before the
/// channels' own names given for the same time.
std::vector<TimedValue> ResolveTimedChanges(host::AudioFilter& filter, const Component& component,
                                            const std::vector<TimedSetting>& timed, int rate, std::int64_t offset)
{
    std::vector<TimedValue> timedValues;
    for (const TimedSetting& change : timed) {
        const std::vector<std::pair<int, float>> values =
            ResolveSettings(filter, component, {{change.parameter, change.value}});
        for (const auto& [index, normalized] : values)
            timedValues.push_back({std::llround(change.seconds * rate) + offset, values.size() > 1, index, normalized});
    }
    std::stable_sort(timedValues.begin(), timedValues.end(), [](const TimedValue& a, const TimedValue& b) {
        return a.frame != b.frame ? a.frame < b.frame : a.wide && !b.wide;
    });
    return timedValues;
}

/// Writes the current settings as the user's preset --save-preset NAME.
void SavePreset(host::AudioFilter& filter, const Component& component, const ApplyOptions& options,
                Context& context)
{
    const std::filesystem::path path = UserPresetFile(component, options.savePreset);
    WriteFileAtomically(path, SettingsText(filter, component));
    if (!options.quiet)
        context.out << "saved preset '" << options.savePreset << "' to " << path.string() << "\n";
}

/// Options that belong to the whole chain rather than to one stage; each
/// may be given in any stage, a later one winning.
void MergeChainOptions(ApplyOptions& chain, const ApplyOptions& stage)
{
    if (stage.blockSize != ApplyOptions{}.blockSize)
        chain.blockSize = stage.blockSize;
    chain.raw = chain.raw || stage.raw;
    chain.quiet = chain.quiet || stage.quiet;
    if (stage.tailSeconds)
        chain.tailSeconds = stage.tailSeconds;
    if (!stage.report.empty())
        chain.report = stage.report;
    if (!stage.bits.empty())
        chain.bits = stage.bits;
    if (!stage.type.empty())
        chain.type = stage.type;
    if (stage.normalize)
        chain.normalize = stage.normalize;
    chain.consoleCommands.insert(chain.consoleCommands.end(), stage.consoleCommands.begin(),
                                 stage.consoleCommands.end());
}

/// Opens the side-chain file for `filter` into `sideChain`, checked: the
/// component takes one and the file runs at the input's rate.
void OpenSideChain(std::optional<AudioReader>& sideChain, host::AudioFilter& filter, const Component& component,
                   const std::string& path, int rate)
{
    if (!filter.CanUseSideChaining())
        throw UsageError(component.title + " takes no side-chain input");
    if (path.empty())
        throw UsageError("--sidechain needs a file");
    sideChain.emplace(path);
    if (sideChain->SampleRate() != rate)
        throw UsageError("the side-chain runs at " + std::to_string(sideChain->SampleRate()) + " Hz but the input at " +
                         std::to_string(rate) + " Hz; they must match");
}

/// zoc apply A [options] + B [options] + ... IN OUT: every block of the
/// input runs through all stages in turn, so nothing is written in between.
int RunChain(const std::vector<Words>& segments, Context& context)
{
    std::vector<ApplyOptions> stages;
    ApplyOptions chain;
    std::optional<std::size_t> sideStage;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        ApplyOptions options = ParseOptions(segments[i]);
        const bool last = i + 1 == segments.size();
        const std::size_t wanted = last ? 3 : 1;
        if (options.positional.empty())
            throw UsageError("stage " + std::to_string(i + 1) + " of the chain names no component: zoc apply A + B IN OUT");
        if (options.positional.size() != wanted)
            throw UsageError(last ? "a chain ends with its last component, the input and the output: zoc apply A + B IN OUT"
                                  : "stage " + std::to_string(i + 1) + " of the chain takes one component; unexpected '" +
                                        options.positional[1] + "' (IN and OUT come after the last stage)");
        if (!options.saveSettings.empty() || !options.savePreset.empty())
            throw UsageError("--save-settings and --save-preset take one component; run them without '+'");
        if (options.sideChain && sideStage)
            throw UsageError("--sidechain goes to one stage of a chain; stages " + std::to_string(*sideStage + 1) +
                             " and " + std::to_string(i + 1) + " both have one");
        if (options.sideChain)
            sideStage = i;
        MergeChainOptions(chain, options);
        stages.push_back(std::move(options));
    }
    if (chain.raw && chain.tailSeconds)
        throw UsageError("--tail adds output after the input; it cannot be combined with --raw");
    const std::filesystem::path inputPath = stages.back().positional[1];
    const std::filesystem::path outputPath = stages.back().positional[2];

    std::vector<NamedPath> paths{{"IN", inputPath.string(), false}, {"OUT", outputPath.string(), true}};
    for (const ApplyOptions& stage : stages)
        if (!stage.loadSettings.empty())
            paths.push_back({"--load-settings", stage.loadSettings, false});
    if (!chain.report.empty())
        paths.push_back({"--report", chain.report, true});
    if (sideStage && !stages[*sideStage].sideChain->empty())
        paths.push_back({"--sidechain", *stages[*sideStage].sideChain, false});
    RefuseSharedFiles(paths);

    std::vector<Component> components;
    for (const ApplyOptions& stage : stages)
        components.push_back(FindComponent(stage.positional[0]));
    for (const std::string& command : chain.consoleCommands) {
        std::ostringstream answer;
        if (!core::console::CommandRegistry::Instance().Execute(command, answer)) {
            std::string reason = answer.str().substr(0, 200);
            std::replace(reason.begin(), reason.end(), '\n', ' ');
            throw UsageError("--console '" + command.substr(0, 80) + "' was refused: " + reason);
        }
    }
    std::vector<core::Ref<host::AudioFilter>> filters;
    bool anyEnvelope = false;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        filters.push_back(CreateComponent(components[i]));
        if (filters.back()->IsOfflineProcess())
            throw UsageError(components[i].title + " runs over the whole file at once; it cannot be a stage of a chain");
        const bool isEnvelope = dynamic_cast<LogicalKeyframeEditor*>(filters.back().get()) != nullptr;
        if (stages[i].keyframes && !isEnvelope)
            throw UsageError(components[i].title + " is not an envelope; --keyframes applies to envelopes only");
        anyEnvelope = anyEnvelope || isEnvelope;
    }

    OutputFormat format = ChooseStreamOrFileFormat(outputPath, chain);
    AudioReader reader(inputPath);
    const std::size_t channels = reader.Channels();
    const int rate = reader.SampleRate();
    std::optional<AudioReader> sideChain;
    if (sideStage)
        OpenSideChain(sideChain, *filters[*sideStage], components[*sideStage], *stages[*sideStage].sideChain, rate);
    std::vector<std::unique_ptr<host::Session>> sessions;
    std::vector<host::Session*> sessionPointers;
    std::string title;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        sessions.push_back(std::make_unique<host::Session>(filters[i]));
        host::Session& session = *sessions.back();
        if (sideChain && i == *sideStage)
            session.SetSideChain(sideChain->Channels());
        if (!session.Configure(channels, static_cast<float>(rate)))
            throw UsageError(components[i].title + " does not take " + std::to_string(channels) + " channels (" +
                             inputPath.filename().string() + ")");
        session.SetBlockSize(chain.blockSize);
        ApplySettings(session, components[i], stages[i]);
        sessionPointers.push_back(&session);
        title += (i == 0 ? "" : " + ") + components[i].title;
    }
    CheckReplaceable(outputPath);
    if (!chain.report.empty())
        CheckReplaceable(chain.report);
    if (anyEnvelope && !reader.LengthKnown())
        reader.SpoolToTemporaryFile();
    for (std::size_t i = 0; i < stages.size(); ++i) {
        ApplyOptions& stage = stages[i];
        stage.tailSeconds = chain.tailSeconds;
        CheckTimedChanges(stage, reader, inputPath);
        if (stage.keyframes && KeyframesNeedLength(*stage.keyframes))
            dynamic_cast<LogicalKeyframeEditor&>(*filters[i]).SetLogicalKeyframes(ResolveKeyframes(
                *stage.keyframes, static_cast<double>(reader.Frames()) / rate, inputPath.filename().string()));
    }
    std::optional<double> expectedFrames;
    if (reader.LengthKnown())
        expectedFrames = static_cast<double>(reader.Frames()) + (chain.tailSeconds.value_or(0.0) + 1.0) * rate;
    // A stream cannot go back to rewrite sizes: it keeps the format asked for.
    if (!IsStream(outputPath))
        format = FitFormatToSize(format, expectedFrames, channels);
    CheckOutputFormat(format, channels, rate, outputPath);
    std::optional<AtomicFile> report;
    if (!chain.report.empty())
        report.emplace(chain.report);
    AudioWriter writer(outputPath, format, channels, rate);

    // A time in --at is one of the output: a stage hears it later by the
    // latency of the stages before it.
    std::int64_t latencyBefore = 0;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        for (const TimedValue& value : ResolveTimedChanges(*filters[i], components[i], stages[i].timed, rate,
                                                           latencyBefore))
            sessions[i]->ScheduleParameter(value.frame, value.index, value.normalized);
        latencyBefore += std::max(0, filters[i]->GetInitialDelay());
    }

    RenderOptions renderOptions;
    renderOptions.raw = chain.raw;
    renderOptions.tailFrames = chain.tailSeconds ? std::llround(*chain.tailSeconds * rate) : 0;
    renderOptions.sideChain = sideChain ? &*sideChain : nullptr;
    renderOptions.sideChainStage = sideStage.value_or(0);
    ProgressBar progress(context.err, context.interactive && !chain.quiet, title);
    renderOptions.progress = [&progress](double fraction) { progress.Update(fraction); };
    const RenderStats stats = RenderAtLevel(
        [&](AudioWriter& target) { return RenderChain(sessionPointers, reader, target, renderOptions); }, writer,
        channels, rate, chain.normalize);
    writer.Finish();
    if (report) {
        nlohmann::json json = ReportJson(stats, rate, channels);
        json["stages"] = nlohmann::json::array();
        for (std::size_t i = 0; i < stages.size(); ++i)
            json["stages"].push_back({{"component", components[i].info.className},
                                      {"latency", i < stats.stageLatencies.size() ? stats.stageLatencies[i] : 0}});
        report->Write(json.dump(2) + "\n");
        report->Commit();
    }
    writer.Commit();
    progress.Finish();
    WarnIfClipped(writer, outputPath, context.err);
    return kExitOk;
}

} // namespace

int RunApply(const Words& words, Context& context)
{
    if (IsBatch(words))
        return RunApplyBatch(words, context);
    // A word "+" alone separates the stages of a chain.
    if (std::find(words.begin(), words.end(), "+") != words.end()) {
        std::vector<Words> segments(1);
        for (const std::string& word : words) {
            if (word == "+")
                segments.emplace_back();
            else
                segments.back().push_back(word);
        }
        return RunChain(segments, context);
    }
    ApplyOptions options = ParseOptions(words);
    if (!options.loadSettings.empty()) {
        // Settings name their component: refuse a missing one in one line,
        // and let IN OUT (or only --save-settings) stand without NAME.
        const std::optional<SettingsOwner> owner = TryReadSettingsOwner(options.loadSettings);
        if (owner) {
            if (owner->IsMissing())
                throw MissingComponentError(options.loadSettings, *owner);
            if (owner->component && (options.positional.size() == 2 ||
                                     (options.positional.empty() &&
                                      (!options.saveSettings.empty() || !options.savePreset.empty()))))
                options.positional.insert(options.positional.begin(), owner->component->info.className);
        } else if (options.positional.size() == 2) {
            // Without NAME the file is all there is to go by: say why it
            // cannot be read rather than ask for a component.
            (void)ReadSettingsJson(options.loadSettings);
        }
    }
    const bool saving = !options.saveSettings.empty() || !options.savePreset.empty();
    const bool settingsOnly = options.positional.size() == 1 && saving;
    if (options.positional.empty())
        throw UsageError("apply needs a component, an input file and an output file: zoc apply NAME IN OUT");
    if (options.positional.size() != 3 && !settingsOnly)
        throw UsageError(options.positional.size() < 3
                             ? "apply needs an input and an output file after the component: zoc apply NAME IN OUT"
                             : "apply takes NAME IN OUT; unexpected '" + options.positional[3] + "'");

    std::vector<NamedPath> paths;
    if (!settingsOnly) {
        paths.push_back({"IN", options.positional[1], false});
        paths.push_back({"OUT", options.positional[2], true});
    }
    if (!options.loadSettings.empty())
        paths.push_back({"--load-settings", options.loadSettings, false});
    if (!options.saveSettings.empty())
        paths.push_back({"--save-settings", options.saveSettings, true});
    if (!options.report.empty())
        paths.push_back({"--report", options.report, true});
    if (options.sideChain && !options.sideChain->empty())
        paths.push_back({"--sidechain", *options.sideChain, false});
    RefuseSharedFiles(paths);

    const Component component = FindComponent(options.positional[0]);
    // Console commands tune the library (the leveler's global record) for
    // the components created after them.
    for (const std::string& command : options.consoleCommands) {
        std::ostringstream answer;
        if (!core::console::CommandRegistry::Instance().Execute(command, answer)) {
            std::string reason = answer.str().substr(0, 200);
            std::replace(reason.begin(), reason.end(), '\n', ' ');
            throw UsageError("--console '" + command.substr(0, 80) + "' was refused: " + reason);
        }
    }
    core::Ref<host::AudioFilter> filter = CreateComponent(component);
    if (filter->IsOfflineProcess() && (!options.timed.empty() || options.raw || options.tailSeconds))
        throw UsageError(component.title + " runs over the whole file at once; --at, --raw and --tail are for "
                                           "real-time components");
    const bool isEnvelope = dynamic_cast<LogicalKeyframeEditor*>(filter.get()) != nullptr;
    if (options.keyframes && !isEnvelope)
        throw UsageError(component.title + " is not an envelope; --keyframes applies to envelopes only");

    if (settingsOnly) {
        // Only saving settings: a stereo 48 kHz configuration stands in for a file.
        if (options.keyframes && KeyframesNeedLength(*options.keyframes))
            throw UsageError("--keyframes in seconds need an input file; give POS as 0..1 to save them alone");
        host::Session session(filter);
        session.Configure(2, 48000.0f);
        ApplySettings(session, component, options);
        if (!options.saveSettings.empty())
            SaveSettingsFile(options.saveSettings, session.Filter(), component);
        if (!options.savePreset.empty())
            SavePreset(session.Filter(), component, options, context);
        return kExitOk;
    }

    const std::filesystem::path inputPath = options.positional[1];
    const std::filesystem::path outputPath = options.positional[2];
    OutputFormat format = ChooseStreamOrFileFormat(outputPath, options);
    AudioReader reader(inputPath);
    const std::size_t channels = reader.Channels();
    const int rate = reader.SampleRate();
    std::optional<AudioReader> sideChain;
    if (options.sideChain)
        OpenSideChain(sideChain, *filter, component, *options.sideChain, rate);

    host::Session session(filter);
    if (sideChain)
        session.SetSideChain(sideChain->Channels());
    if (!session.Configure(channels, static_cast<float>(rate)))
        throw UsageError(component.title + " does not take " + std::to_string(channels) + " channels (" +
                         inputPath.filename().string() + ")");
    session.SetBlockSize(options.blockSize);
    ApplySettings(session, component, options);
    const std::vector<TimedValue> timedValues = ResolveTimedChanges(*filter, component, options.timed, rate, 0);
    for (const NamedPath& named : paths) {
        if (named.written)
            CheckReplaceable(named.path);
    }
    // Envelopes place their keyframes along the whole input, so a stream is
    // read to its end first to learn its length.
    if (isEnvelope && !reader.LengthKnown())
        reader.SpoolToTemporaryFile();
    if (options.keyframes && KeyframesNeedLength(*options.keyframes))
        dynamic_cast<LogicalKeyframeEditor&>(*filter).SetLogicalKeyframes(ResolveKeyframes(
            *options.keyframes, static_cast<double>(reader.Frames()) / rate, inputPath.filename().string()));
    CheckTimedChanges(options, reader, inputPath);
    std::optional<double> expectedFrames;
    if (reader.LengthKnown()) {
        // A second more than the input and tail covers latency compensation.
        expectedFrames = static_cast<double>(reader.Frames()) + (options.tailSeconds.value_or(0.0) + 1.0) * rate;
    }
    // A stream cannot go back to rewrite sizes: it keeps the format asked for.
    if (!IsStream(outputPath))
        format = FitFormatToSize(format, expectedFrames, channels);
    CheckOutputFormat(format, channels, rate, outputPath);
    // Every output is claimed before any processing, so one that cannot be
    // written fails first and leaves everything as it was.
    std::optional<AtomicFile> savedSettings;
    if (!options.saveSettings.empty()) {
        savedSettings.emplace(options.saveSettings);
        savedSettings->Write(SettingsText(*filter, component));
    }
    std::optional<AtomicFile> savedPreset;
    std::filesystem::path presetPath;
    if (!options.savePreset.empty()) {
        presetPath = UserPresetFile(component, options.savePreset);
        savedPreset.emplace(presetPath);
        savedPreset->Write(SettingsText(*filter, component));
    }
    std::optional<AtomicFile> report;
    if (!options.report.empty())
        report.emplace(options.report);
    AudioWriter writer(outputPath, format, channels, rate);
    for (const TimedValue& value : timedValues)
        session.ScheduleParameter(value.frame, value.index, value.normalized);

    RenderOptions renderOptions;
    renderOptions.raw = options.raw;
    renderOptions.sideChain = sideChain ? &*sideChain : nullptr;
    renderOptions.tailFrames = options.tailSeconds ? std::llround(*options.tailSeconds * rate) : 0;
    ProgressBar progress(context.err, context.interactive && !options.quiet, component.title);
    renderOptions.progress = [&progress](double fraction) { progress.Update(fraction); };

    const RenderStats stats = RenderAtLevel(
        [&](AudioWriter& target) { return Render(session, reader, target, renderOptions); }, writer, channels, rate,
        options.normalize);
    writer.Finish();
    if (report)
        report->Write(ReportText(stats, rate, channels));
    // OUT goes in place last: a failure before it leaves OUT as it was.
    if (savedSettings)
        savedSettings->Commit();
    if (savedPreset)
        savedPreset->Commit();
    if (report)
        report->Commit();
    writer.Commit();
    progress.Finish();
    WarnIfClipped(writer, outputPath, context.err);
    if (savedPreset && !options.quiet)
        context.out << "saved preset '" << options.savePreset << "' to " << presetPath.string() << "\n";
    return kExitOk;
}

} // namespace zoc::tool
