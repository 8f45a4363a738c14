// zoc_soak: every registered real-time component, for a set time, under
// random use: presets, random (also out-of-range and NaN) parameter values,
// settings saved and loaded, block sizes from 1 to 8192 frames, the channel
// layouts the component accepts, rate changes with Resume, and generated
// audio (noise, sines, silence, full-scale squares, denormals, bursts of NaN
// and infinity). It checks what a host relies on:
//   - finite input gives finite output once earlier bad samples are out of
//     the component's memory;
//   - a factory preset does not turn input at or below 0 dBFS into output
//     above +40 dBFS;
//   - steady blocks (the third and later after a change) allocate nothing;
//   - memory held after the warm-up (with every component made anew) stays
//     within 1 MiB; resident memory is reported beside it.
//
//   zoc_soak [--seconds N] [--seed S] [--only CLASS] [--verbose]
// Exit status 1 when any check failed; one line per failure.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <malloc.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#include "contracts/host/AudioFilterRegistrar.h"
#include "contracts/host/PresetData.h"
#include "framework/Library.h"
#include "framework/Registration.h"
#include "platform/host/Session.h"
#include "tests/support/AllocationGuard.h"

namespace zoc::soak {
namespace {

constexpr std::size_t kLayouts[] = {1, 2, 6, 8};
constexpr float kRates[] = {8000.0f, 22050.0f, 44100.0f, 48000.0f, 96000.0f, 192000.0f};
constexpr int kBlockSizes[] = {1, 7, 64, 512, 1000, 4096, 8192};
/// Seconds any component may remember a bad sample (lines, filters, latency).
constexpr double kMemorySeconds = 2.5;
/// +40 dBFS.
constexpr float kBound = 100.0f;
/// The level bound is not checked this early in a segment: a compressor
/// whose curve lifts quiet input (up to +68 dB in "Maximum Pumping") may
/// overshoot at an onset until its level detector has caught up.
constexpr double kOnsetSeconds = 0.2;
constexpr long kMaxGrowthBytes = 1 << 20;

enum class SignalKind { kNoise, kSine, kSilence, kSquare, kDenormal, kBadBurst, kCount };

/// Resident memory once freed memory went back to the system.
long ResidentBytes()
{
    malloc_trim(0);
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

/// Bytes the program holds through malloc (heap chunks in use plus large
/// mappings): what a leak raises, whatever the heap's fragmentation.
long HeldBytes()
{
    const struct mallinfo2 info = mallinfo2();
    return static_cast<long>(info.uordblks + info.hblkhd);
}

class Soak {
public:
    Soak(std::uint64_t seed, std::string only, bool verbose)
        : random_(seed), only_(std::move(only)), verbose_(verbose)
    {
    }

    int Run(double seconds);

private:
    struct Subject {
        ComponentInfo info;
        core::Ref<host::AudioFilter> filter;
        std::vector<std::size_t> layouts;
        /// Frames since the last non-finite input sample; kept across
        /// segments, since Resume need not clear every state.
        std::int64_t sinceBad = std::numeric_limits<std::int32_t>::max();
    };

    /// One stretch of use. A warm-up segment plays the first preset for
    /// 0.1 s on `warmUpChannels` at `warmUpRate` in 4096-frame blocks (long
    /// enough to start the processor pool).
    void Segment(Subject& subject, bool warmUp, float warmUpRate = 0.0f, std::size_t warmUpChannels = 0);
    /// Replaces every component by a fresh one, so what the old ones held
    /// is freed and only leaks stay behind.
    void Recreate();
    std::vector<std::vector<float>> MakeSignal(SignalKind kind, std::size_t channels, std::size_t frames,
                                               float rate);
    void Randomize(host::AudioFilter& filter);
    void Fail(const Subject& subject, const std::string& what);

    int Pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(random_); }
    double Uniform(double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(random_); }

    std::mt19937_64 random_;
    std::string only_; ///< one component's class name, or empty for all
    bool verbose_;     ///< report segments that take longer than a second
    std::vector<Subject> subjects_;
    int failures_ = 0;
    long segment_ = 0;
};

void Soak::Fail(const Subject& subject, const std::string& what)
{
    if (++failures_ <= 50)
        std::printf("FAIL %s (segment %ld): %s\n", subject.info.className.c_str(), segment_, what.c_str());
}

std::vector<std::vector<float>> Soak::MakeSignal(SignalKind kind, std::size_t channels, std::size_t frames,
                                                 float rate)
{
    std::vector<std::vector<float>> signal(channels, std::vector<float>(frames, 0.0f));
    std::normal_distribution<float> gauss(0.0f, 0.2f);
    const double hertz = Uniform(20.0, 0.45 * rate);
    for (std::size_t channel = 0; channel < channels; ++channel) {
        std::vector<float>& x = signal[channel];
        for (std::size_t i = 0; i < frames; ++i) {
            switch (kind) {
            case SignalKind::kNoise:
            case SignalKind::kBadBurst:
                x[i] = std::clamp(gauss(random_), -1.0f, 1.0f);
                break;
            case SignalKind::kSine:
                x[i] = static_cast<float>(0.7 * std::sin(2.0 * 3.141592653589793 * hertz * static_cast<double>(i) / rate));
                break;
            case SignalKind::kSquare:
                x[i] = (i / 64) % 2 == 0 ? 1.0f : -1.0f;
                break;
            case SignalKind::kDenormal:
                x[i] = (i % 2 == 0 ? 1.0f : -1.0f) * 1e-40f;
                break;
            default:
                break;
            }
        }
        if (kind == SignalKind::kBadBurst) {
            for (int bad = 0; bad < 4; ++bad) {
                const auto at = static_cast<std::size_t>(Pick(static_cast<int>(frames)));
                const float values[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                                        -std::numeric_limits<float>::infinity()};
                x[at] = values[Pick(3)];
            }
        }
    }
    return signal;
}

void Soak::Randomize(host::AudioFilter& filter)
{
    const int count = filter.GetParameterCount();
    if (count <= 0)
        return;
    for (int change = 1 + Pick(4); change > 0; --change) {
        const int index = Pick(count);
        float value = static_cast<float>(Uniform(-0.2, 1.2));
        if (Pick(50) == 0)
            value = std::numeric_limits<float>::quiet_NaN();
        filter.SetParameterAutomated(index, value);
    }
}

void Soak::Segment(Subject& subject, bool warmUp, float warmUpRate, std::size_t warmUpChannels)
{
    ++segment_;
    const auto started = std::chrono::steady_clock::now();
    host::AudioFilter& filter = *subject.filter;
    host::Session session(subject.filter);
    const std::size_t channels =
        warmUp ? warmUpChannels : subject.layouts[static_cast<std::size_t>(Pick(static_cast<int>(subject.layouts.size())))];
    const float rate = warmUp ? warmUpRate : kRates[Pick(static_cast<int>(std::size(kRates)))];
    session.Configure(channels, rate);

    // What the segment does to the settings.
    bool presetOnly = true;
    const int presets = filter.GetNumFactoryPresets();
    std::string what = "rate " + std::to_string(static_cast<int>(rate)) + ", " + std::to_string(channels) + " ch";
    switch (warmUp ? 0 : Pick(3)) {
    case 0:
        if (presets > 0) {
            const int preset = warmUp ? 0 : Pick(presets);
            filter.SetFactoryPreset(preset);
            what += ", preset " + std::to_string(preset);
        }
        break;
    case 1:
        Randomize(filter);
        presetOnly = false;
        break;
    default: {
        host::PresetData saved;
        filter.SaveSettings(saved);
        Randomize(filter);
        filter.LoadSettings(saved);
        presetOnly = false;
        break;
    }
    }

    const int block = warmUp ? 4096 : kBlockSizes[Pick(static_cast<int>(std::size(kBlockSizes)))];
    session.SetBlockSize(block);
    const auto kind = static_cast<SignalKind>(Pick(static_cast<int>(SignalKind::kCount)));
    what += ", signal " + std::to_string(static_cast<int>(kind)) + ", block " + std::to_string(block);
    const double segmentSeconds = warmUp ? 0.1 : Uniform(0.2, 1.0);
    const std::size_t frames = static_cast<std::size_t>(segmentSeconds * rate) + static_cast<std::size_t>(block);
    std::vector<std::vector<float>> input = MakeSignal(kind, channels, frames, rate);
    std::vector<std::vector<float>> output(channels, std::vector<float>(frames, 0.0f));

    session.Resume();
    const auto memory = static_cast<std::int64_t>(kMemorySeconds * rate) + filter.GetInitialDelay();
    std::int64_t& sinceBad = subject.sinceBad;
    int blocksSinceChange = 0;
    std::vector<float*> in(channels);
    std::vector<float*> out(channels);
    // Half the segments change parameters once while playing (a change can
    // be expensive: a reverb resynthesises its impulse).
    const std::size_t blocks = frames / static_cast<std::size_t>(block);
    const std::size_t changeAt =
        !warmUp && Pick(2) == 0 ? static_cast<std::size_t>(Pick(static_cast<int>(blocks))) : blocks;
    for (std::size_t offset = 0, index = 0; offset + static_cast<std::size_t>(block) <= frames;
         offset += static_cast<std::size_t>(block), ++index) {
        if (index == changeAt) {
            Randomize(filter);
            presetOnly = false;
            blocksSinceChange = 0;
        }
        for (std::size_t c = 0; c < channels; ++c) {
            in[c] = input[c].data() + offset;
            out[c] = output[c].data() + offset;
        }
        std::size_t allocations = 0;
        {
            test::AllocationCounter counter;
            session.Process(in.data(), out.data(), block);
            allocations = counter.Count();
        }
        if (++blocksSinceChange > 2 && allocations != 0)
            Fail(subject, std::to_string(allocations) + " allocation(s) in a steady block (" + what + ")");
        for (int i = 0; i < block; ++i) {
            bool inputBad = false;
            bool outputBad = false;
            float loudest = 0.0f;
            for (std::size_t c = 0; c < channels; ++c) {
                const float x = in[c][i];
                const float y = out[c][i];
                inputBad = inputBad || !std::isfinite(x);
                outputBad = outputBad || !std::isfinite(y);
                loudest = std::max(loudest, std::fabs(y));
            }
            sinceBad = inputBad ? 0 : sinceBad + 1;
            if (outputBad && sinceBad > memory) {
                Fail(subject, "non-finite output " + std::to_string(sinceBad) + " frames after the last bad input");
                return;
            }
            const bool onset = offset + static_cast<std::size_t>(i) < static_cast<std::size_t>(kOnsetSeconds * rate);
            if (presetOnly && !onset && sinceBad > memory && loudest > kBound) {
                Fail(subject, "output above +40 dBFS with a factory preset: " + std::to_string(loudest) + " (" + what + ")");
                return;
            }
        }
    }
    if (Pick(4) != 0)
        session.Suspend();
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (verbose_ && took > 1.0)
        std::printf("slow segment: %s %.1f s (%s)\n", subject.info.className.c_str(), took, what.c_str());
}

void Soak::Recreate()
{
    for (Subject& subject : subjects_) {
        subject.filter = host::utility::CreateAudioFilter(subject.info.componentID);
        subject.sinceBad = std::numeric_limits<std::int32_t>::max();
    }
}

int Soak::Run(double seconds)
{
    // A fixed threshold keeps large buffers in their own mappings, returned
    // whole when freed, so resident memory measures what is still held
    // rather than where the heap happened to fragment.
    mallopt(M_MMAP_THRESHOLD, 64 * 1024);
    // Caches (reverb impulses) go to a folder of the soak's own, removed at
    // the end, not to the user's cache.
    std::string scratch = (std::filesystem::temp_directory_path() / "zoc-soak.XXXXXX").string();
    if (mkdtemp(scratch.data()) == nullptr) {
        std::printf("FAIL cannot make a scratch folder\n");
        return 1;
    }
    SetupTempDir(scratch);
    Initialize();
    for (const ComponentInfo& info : GetRealTimeComponentCatalog()) {
        if (!only_.empty() && only_ != info.className)
            continue;
        core::Ref<host::AudioFilter> filter = host::utility::CreateAudioFilter(info.componentID);
        Subject subject{info, filter, {}};
        for (std::size_t channels : kLayouts) {
            host::Session probe(filter);
            if (probe.Configure(channels, 48000.0f))
                subject.layouts.push_back(channels);
        }
        if (!subject.layouts.empty())
            subjects_.push_back(std::move(subject));
    }

    // Warm-up: every component in every layout it takes and at every rate,
    // so caches that live as long as the process (FFT plans) are made before
    // memory is measured.
    for (Subject& subject : subjects_) {
        for (std::size_t channels : subject.layouts)
            Segment(subject, true, 48000.0f, channels);
        for (float rate : kRates)
            Segment(subject, true, rate, subject.layouts.back());
    }
    // ... and two rounds of random use, which reach block sizes, rates and
    // parameter values the plain pass does not.
    for (int round = 0; round < 2; ++round)
        for (Subject& subject : subjects_)
            Segment(subject, false);
    Recreate();
    const long warmResident = ResidentBytes();
    const long warmHeld = HeldBytes();
    long peakResident = warmResident;

    const auto start = std::chrono::steady_clock::now();
    const auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };
    long rounds = 0;
    while (elapsed() < seconds) {
        for (Subject& subject : subjects_) {
            if (elapsed() >= seconds)
                break;
            Segment(subject, false);
        }
        peakResident = std::max(peakResident, ResidentBytes());
        ++rounds;
    }
    Recreate();
    const long residentGrowth = ResidentBytes() - warmResident;
    const long heldGrowth = HeldBytes() - warmHeld;
    std::printf("soak: %zu components, %ld rounds, %ld segments in %.0f s; resident %.1f MiB after warm-up, "
                "%.1f MiB peak, %+ld KiB at the end (held through malloc: %+ld KiB)\n",
                subjects_.size(), rounds, segment_, elapsed(), static_cast<double>(warmResident) / (1 << 20),
                static_cast<double>(peakResident) / (1 << 20), residentGrowth / 1024, heldGrowth / 1024);
    // Resident size also moves with heap fragmentation; what is held is the
    // measure of a leak.
    if (heldGrowth > kMaxGrowthBytes) {
        std::printf("FAIL memory held grew by %ld KiB after the warm-up\n", heldGrowth / 1024);
        ++failures_;
    }
    if (failures_ > 0)
        std::printf("soak: %d failure(s)\n", failures_);
    subjects_.clear();
    Terminate();
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return failures_ > 0 ? 1 : 0;
}

} // namespace
} // namespace zoc::soak

int main(int argc, char** argv)
{
    double seconds = 120.0;
    std::uint64_t seed = 1;
    std::string only;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--verbose") {
            verbose = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "zoc_soak: %s needs a value\n", option.c_str());
            return 2;
        }
        const char* value = argv[++i];
        if (option == "--seconds") {
            seconds = std::atof(value);
        } else if (option == "--seed") {
            seed = std::strtoull(value, nullptr, 10);
        } else if (option == "--only") {
            only = value;
        } else {
            std::fprintf(stderr, "zoc_soak: unknown option %s (use --seconds N --seed S --only CLASS --verbose)\n",
                         option.c_str());
            return 2;
        }
    }
    return zoc::soak::Soak(seed, only, verbose).Run(seconds);
}
