#include "tools/zoc/Batch.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "tools/zoc/Errors.h"
#include "tools/zoc/Progress.h"

namespace zoc::tool {

namespace {

struct BatchOptions {
    std::filesystem::path directory;
    std::string format; ///< extension of the outputs; the input's own when empty
    std::string suffix;
    unsigned jobs = 0;  ///< 0: one per core
    Words rest;         ///< everything else, as for a single run
};

/// Takes the batch's own options out of `words` ("-o DIR", "--output=DIR"...).
BatchOptions SplitBatchOptions(const Words& words)
{
    BatchOptions batch;
    bool haveDirectory = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        std::string name = words[i];
        std::optional<std::string> value;
        if (const std::size_t equals = name.find('='); name.starts_with("--") && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name != "-o" && name != "--output" && name != "--format" && name != "--suffix" && name != "--jobs") {
            batch.rest.push_back(words[i]);
            continue;
        }
        if (!value) {
            if (i + 1 >= words.size())
                throw UsageError(name + " needs a value");
            value = words[++i];
        }
        if (name == "-o" || name == "--output") {
            if (value->empty())
                throw UsageError(name + " needs a directory");
            batch.directory = *value;
            haveDirectory = true;
        } else if (name == "--format") {
            batch.format = *value;
            if (batch.format.starts_with("."))
                batch.format.erase(0, 1);
            if (batch.format.empty() || batch.format.find('/') != std::string::npos)
                throw UsageError("--format expects an extension such as wav or flac, not '" + *value + "'");
        } else if (name == "--suffix") {
            if (value->find('/') != std::string::npos)
                throw UsageError("--suffix goes into a file name; it cannot hold '/'");
            batch.suffix = *value;
        } else {
            batch.jobs = static_cast<unsigned>(RequireInteger(*value, "--jobs", 1, 256));
        }
    }
    if (!haveDirectory)
        throw UsageError("--format, --suffix and --jobs are for batches: zoc apply NAME IN... -o DIR");
    return batch;
}

struct Job {
    std::string input;
    std::filesystem::path output;
};

/// The inputs: the positional words after the (last) component, in order.
/// Each is taken out of `rest`, which keeps the component and options.
std::vector<std::string> TakeInputs(Words& rest)
{
    // A chain's inputs follow its last component.
    const auto lastPlus = std::find(rest.rbegin(), rest.rend(), "+");
    const std::size_t start = lastPlus == rest.rend() ? 0 : static_cast<std::size_t>(rest.rend() - lastPlus);
    // Positional words are those that are neither options nor their values;
    // a value is the word after an option that has no "=" and takes one.
    static const std::vector<std::string> kFlags{"--raw", "--quiet"};
    std::vector<std::string> inputs;
    bool componentSeen = false;
    for (std::size_t i = start; i < rest.size();) {
        const std::string& word = rest[i];
        if (word.starts_with("--")) {
            const bool flag = std::find(kFlags.begin(), kFlags.end(), word) != kFlags.end();
            i += flag || word.find('=') != std::string::npos ? 1 : 2;
            continue;
        }
        if (!componentSeen) {
            componentSeen = true;
            ++i;
            continue;
        }
        inputs.push_back(word);
        rest.erase(rest.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return inputs;
}

} // namespace

bool IsBatch(const Words& words)
{
    return std::any_of(words.begin(), words.end(), [](const std::string& word) {
        return word == "-o" || word == "--output" || word.starts_with("--output=");
    });
}

int RunApplyBatch(const Words& words, Context& context)
{
    BatchOptions batch = SplitBatchOptions(words);
    // These write one file of their own; every job would write it again.
    for (const std::string& word : batch.rest)
        for (const char* single : {"--report", "--save-settings", "--save-preset"})
            if (word == single || word.starts_with(std::string(single) + "="))
                throw UsageError(std::string(single) + " writes one file; it cannot be used in a batch");
    const std::vector<std::string> inputs = TakeInputs(batch.rest);
    if (inputs.empty())
        throw UsageError("a batch needs input files: zoc apply NAME [options] IN... -o DIR");
    std::error_code error;
    if (std::filesystem::exists(batch.directory, error) && !std::filesystem::is_directory(batch.directory, error))
        throw UsageError("-o names '" + batch.directory.string() + "', which is not a directory");

    // Every output name is settled before anything runs: two inputs that
    // would write the same file, or a file written over its own input, are
    // refused while nothing has been touched.
    std::vector<Job> jobs;
    std::map<std::filesystem::path, std::string> claimed;
    for (const std::string& input : inputs) {
        if (input == "-")
            throw UsageError("a batch reads files; '-' (standard input) takes a single run");
        const std::filesystem::path path(input);
        const std::string extension = batch.format.empty() ? path.extension().string() : "." + batch.format;
        const std::filesystem::path output =
            batch.directory / (path.stem().string() + batch.suffix + extension);
        const auto [entry, fresh] = claimed.emplace(output.lexically_normal(), input);
        if (!fresh)
            throw UsageError("'" + entry->second + "' and '" + input + "' would both be written to '" +
                             output.string() + "'; rename one or give --suffix");
        const std::filesystem::path canonicalIn = std::filesystem::weakly_canonical(path, error);
        if (!error && canonicalIn == std::filesystem::weakly_canonical(output, error))
            throw UsageError("'" + input + "' would be written over itself; choose another -o, --suffix or --format");
        jobs.push_back({input, output});
    }
    std::filesystem::create_directories(batch.directory, error);
    if (error)
        throw IoError("cannot create '" + batch.directory.string() + "': " + error.message());

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const auto workers = static_cast<unsigned>(
        std::min<std::size_t>(batch.jobs != 0 ? batch.jobs : cores, jobs.size()));
    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> failed{0};
    // On a terminal a bar counts the files (failures and warnings still get
    // their lines); elsewhere each file gets a line.
    const bool quiet = std::find(batch.rest.begin(), batch.rest.end(), "--quiet") != batch.rest.end();
    const bool drawBar = context.interactive && !quiet;
    ProgressBar progress(context.err, drawBar, std::to_string(jobs.size()) + " files");
    std::size_t finished = 0;
    std::mutex reporting;
    const auto start = std::chrono::steady_clock::now();
    auto work = [&] {
        for (std::size_t index = next++; index < jobs.size(); index = next++) {
            const Job& job = jobs[index];
            Words single = batch.rest;
            single.insert(single.end(), {"--quiet", job.input, job.output.string()});
            std::ostringstream out;
            std::ostringstream err;
            Context silent{out, err, false};
            const auto began = std::chrono::steady_clock::now();
            std::string problem;
            try {
                if (RunApply(single, silent) != kExitOk)
                    problem = "failed";
            } catch (const std::exception& exception) {
                problem = exception.what();
            }
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
            std::replace(problem.begin(), problem.end(), '\n', ' ');
            const std::lock_guard lock(reporting);
            if (problem.empty()) {
                if (!drawBar)
                    context.out << "ok      " << job.input << " -> " << job.output.string() << " ("
                                << api::FormatNumber(std::round(seconds * 100.0) / 100.0) << " s)\n";
                // Warnings of a run that succeeded (clipping) follow its line.
                if (!err.str().empty()) {
                    progress.Interrupt();
                    context.err << err.str();
                }
            } else {
                ++failed;
                progress.Interrupt();
                context.err << "FAILED  " << job.input << ": " << problem << "\n";
            }
            progress.Update(static_cast<double>(++finished) / static_cast<double>(jobs.size()));
        }
    };
    std::vector<std::thread> threads;
    for (unsigned i = 1; i < workers; ++i)
        threads.emplace_back(work);
    work();
    for (std::thread& thread : threads)
        thread.join();
    progress.Finish();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::size_t failures = failed.load();
    context.out << jobs.size() << (jobs.size() == 1 ? " file: " : " files: ") << jobs.size() - failures
                << " written, " << failures << " failed, " << workers << (workers == 1 ? " job, " : " jobs, ")
                << api::FormatNumber(std::round(seconds * 100.0) / 100.0) << " s\n";
    return failures == 0 ? kExitOk : kExitIo;
}

} // namespace zoc::tool
