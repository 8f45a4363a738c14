// The text of `zoc --help`, and each command's part of it for
// `zoc help COMMAND` and `zoc COMMAND --help`.

#include <algorithm>
#include <sstream>

#include "tools/zoc/Commands.h"
#include "tools/zoc/Errors.h"

namespace zoc::tool {

const char* UsageText()
{
    return R"(zoc - run ZoAudioComponents effects on audio files

Usage:
  zoc list [--long] [--json]        every registered component: class, title,
                                    kind and what it does (--long adds the
                                    identifiers, --json everything)
  zoc info NAME [--rate HZ] [--channels N] [--json]
                                    parameters, presets and latency of a component
                                    configured for that rate (48000) and channel count (2)
  zoc info NAME --preset P [--json]
                                    the same with a preset applied (a factory
                                    preset or one of yours): its real values
  zoc info [NAME] --load-settings FILE [--json]
                                    the same with saved settings loaded (NAME from
                                    the file); for a component this build does not
                                    have, the saved values and units it holds
  zoc apply NAME [options] IN OUT   process IN through the component into OUT
                                    ('-': standard input or output)
  zoc apply A [options] + B [options] ... IN OUT
                                    a chain: IN through A, then B, ... in one
                                    pass; --tail, --raw, --block, --bits,
                                    --type, --normalize and --report (with each
                                    stage's latency) are the whole chain's
  zoc apply NAME [options] IN... -o DIR
                                    a batch: each IN into DIR under its own
                                    name; --format EXT, --suffix S (before the
                                    extension), --jobs N (default: one per
                                    core); exit status 1 when any file failed
  zoc generate NAME [options] OUT   render a generator (Tones, Noise) into OUT
  zoc curve NAME [--preset P] [--set PARAM=VALUE] [--points N] [--json]
                                    the curve the component draws for these
                                    settings (N values, default 101); where its
                                    axis is known (Dynamics: input level in dB)
                                    each value follows its abscissa; JSON has
                                    "values" and, with a known axis, "x";
                                    --load-settings FILE as for apply;
                                    --svg FILE draws it as a plot instead
                                    ('-': standard output)
  zoc curve ENVELOPE [--keyframes "POS:GAIN,..."] [--duration SECONDS]
                                    an envelope's gain over time (seconds with
                                    --duration, else positions 0..1)
  zoc console "COMMAND ARGS"        run a console command and print its answer
  zoc demo [DIR] [--quiet]          render a test signal through every real-time
                                    component, each with a preset you can hear,
                                    and the generators into DIR (default
                                    demo-out/), with DIR/index.html to listen
                                    and compare (levels, curves, speed)
  zoc help [COMMAND] | --help       this text, or that command's part of it
                                    (also: zoc COMMAND --help)
  zoc --version                     the version of zoc and its library

Names are case-insensitive. A component is its class name or its title.
A parameter is its index (a whole number), its name or its key; a preset is
its index or its name. The key of a parameter is its name in lower case with
every run of other characters than letters and digits turned into "_"
("Left Surround" -> left_surround).

apply options (settings apply in this order: preset, settings file, --set):
  --preset NAME|INDEX         start from one of your presets (below) or a
                              factory preset
  --set PARAM=VALUE           set a parameter in its real unit, optionally
                              written after the number: ms or s, dB, Hz, kHz
                              or k, % (90ms, -6dB, 1.5k); switches also take
                              on/off (repeatable). A name the component uses
                              in mono sets every channel it stands for on any
                              file (Amplify gain, Echo delay_time); a
                              channel's own name overrides it
  --set-normalized PARAM=V    set a parameter by its normalized value 0..1
  --at SECONDS:PARAM=VALUE    change a parameter while processing, exactly at
                              frame round(SECONDS * rate) (repeatable)
  --block FRAMES              host block size, 1..65536 (default 512)
  --raw                       write exactly the frames the component produced
                              for the input: no latency compensation, no tail
  --tail SECONDS              render this much more output after the input
  --load-settings FILE        load saved settings (JSON, below); NAME may be
                              left out (zoc apply --load-settings FILE IN OUT)
  --save-settings FILE        save the settings once applied, before processing;
                              with no IN and OUT, only saves them
  --save-preset NAME          the same, as your preset NAME (below)
  --report FILE               write a JSON report: latency, frames_in,
                              frames_out, sample_rate, channels, seconds (wall
                              time of reading, processing and writing) and
                              realtime_factor (audio seconds per wall second)
  --console "COMMAND ARGS"    run a console command first, e.g. --console
                              "IntraClip.Setup ..." to tune the Speech Volume
                              Leveler for this run (repeatable)
  --type wav|flac|aiff|ogg    the format of OUT '-' or a pipe (default wav;
                              WAV to a pipe leaves its sizes open)
  --bits 16|24|32f            output samples (default 32f; 24 for FLAC, which
                              cannot hold float; not for Ogg)
  --normalize DB              scale the whole output so its sample peak is DB
                              dBFS (-100..0); rendered to a temporary float
                              file first, so any length fits
                              Integer, FLAC and Ogg output clip samples beyond
                              full scale; zoc then warns on one line with their
                              count and peak
  --keyframes "POS:GAIN,..."  envelopes only (Fade Envelope, Gain Envelope):
                              draw the envelope through these keyframes, POS
                              the relative position in the input (0 start,
                              1 end), seconds from the start ("2s") or before
                              the end ("-3s" or "end-3s"), GAIN a linear gain
                              (0.5) or a level ("-6dB"); positions must
                              increase; replaces a preset's or settings
                              file's envelope
  --sidechain FILE            feed FILE's channels to the component's
                              side-chain input (same sample rate as IN;
                              silence after its end); in a chain, to the
                              one stage it is given to, in step with IN
  --quiet                     no progress bar

  IN may be any file libsndfile reads. OUT's extension picks its format: .wav,
  .flac, .aiff/.aif or .ogg (Vorbis). Unless --raw, the output lines up with
  the input: the component's latency is compensated and the output has the
  input's length (plus --tail). OUT is written to a hidden temporary file in
  its directory and renamed into place only when complete; on any failure OUT
  is left as it was.
  A replaced OUT keeps its permissions; a write-protected one is not replaced.
  WAV output that may pass 4 GiB (or from a pipe) is written as RF64, which
  stays a plain WAV file while it is smaller. IN, OUT, --save-settings,
  --report and --sidechain must name different files.

generate options (defaults: 5 s, 48000 Hz, 2 channels):
  --preset NAME|INDEX, --set PARAM=VALUE, --set-normalized PARAM=V, --bits,
  --normalize DB, --report FILE, --quiet
                              as for apply
  --duration SECONDS          length of the output
  --rate HZ                   sample rate, 1000..384000
  --channels N                channel count, 1..32
  Tones frequencies sound at VALUE * original_sample_rate / rate, so presets
  keep their pitch at any rate; set original_sample_rate to 0 (or to the
  rate) for plain hertz.
  Noise color is 0 brown, 1 pink, 2 white, 3 grey (inverse 40-phon
  equal-loudness curve); style 0 spatial stereo (right delayed by distance
  ms), 1 independent channels, 2 mono, 3 inverse; intensity VALUE sounds at
  VALUE - 56 dBFS RMS (35: -21 dBFS); a duration above 0 ms overrides
  --duration; operation_mode=1 with zoc apply adds the noise to IN.

Your presets are settings files (below) kept per component class in
  $XDG_CONFIG_HOME/zoc/presets/CLASS/NAME.json (default ~/.config/zoc/...).
  --save-preset NAME writes one (directories created private to you);
  --preset NAME finds yours before the factory ones (the name ignoring case),
  and 'zoc info NAME' lists them.

Settings files (--save-settings, --load-settings) hold one JSON object:
  "format": "zoc-settings", "format_version": 1,
  "component": class name, "id": component identifier (must match if given;
  required with "component"),
  "version": settings version,
  "type": "parameters" | "custom" | "chunk" | "factory" (apply factory_name),
  "factory_name": text,
  "parameters": [one normalized value 0..1 per parameter index, all of them;
      may be [] with "type": "custom" when the custom section holds the state],
  "custom": null or {"KEY": {"type": T, "value": V}, ...} where T is
      "float" (number or "nan"/"inf"/"-inf"), "int", "bool", "string",
      "float_pairs" ([[a, b], ...]), "list" (nested object of properties)
      or "lists" (array of such objects),
  "chunk": null or the component's opaque data as hexadecimal text,
  "parameter_info": written on save for people to read, and to show settings
      of a missing component: per parameter its index, key, name, unit,
      unit_label, automatable and real value (the normalized "parameters"
      are what loading uses, so a round trip is exact).
A file written by hand may instead give real values by key, leaving the
rest as they are; keys and values work as with --set:
  {"component": "Echo", "values": {"delay_time": "90ms", "feedback": 30}}

Exit status: 0 success, 1 a file could not be read or written, 2 the command
line (or a settings file) asks for something wrong.
)";
}

namespace {

/// Which commands each part of the text after the usage lines belongs to,
/// by the words it starts with.
struct SectionOwner {
    const char* start;
    std::vector<std::string> commands;
};

const std::vector<SectionOwner>& SectionOwners()
{
    static const std::vector<SectionOwner> owners = {
        {"Names are", {"info", "apply", "generate", "curve"}},
        {"apply options", {"apply"}},
        {"generate options", {"generate"}},
        {"Your presets", {"info", "apply", "generate", "curve"}},
        {"Settings files", {"info", "apply", "curve"}},
        {"Exit status", {"list", "info", "apply", "generate", "curve", "console", "demo"}},
    };
    return owners;
}

} // namespace

const std::vector<std::string>& CommandNames()
{
    static const std::vector<std::string> names = {"list",  "info",    "apply", "generate",
                                                   "curve", "console", "demo",  "help"};
    return names;
}

std::string CommandHelp(const std::string& command)
{
    if (std::find(CommandNames().begin(), CommandNames().end(), command) == CommandNames().end())
        throw UsageError("no help on '" + command + "'" + SuggestionText(command, CommandNames()));
    // The text is read back in its own layout: usage entries start with
    // "  zoc COMMAND" and run on in deeper indentation; sections start at
    // the left margin after a blank line and run until the next such start.
    std::istringstream text(UsageText());
    std::string usage;
    std::vector<std::string> sections;
    std::string line;
    bool inUsage = false;
    bool keepEntry = false;
    bool keepSection = false;
    bool afterBlank = false;
    while (std::getline(text, line)) {
        if (line == "Usage:") {
            inUsage = true;
            continue;
        }
        if (inUsage) {
            if (line.empty()) {
                inUsage = false;
                afterBlank = true;
                continue;
            }
            if (line.starts_with("  zoc ")) {
                const std::string rest = line.substr(6);
                keepEntry = rest == command || rest.starts_with(command + " ");
            }
            if (keepEntry)
                usage += line + "\n";
            continue;
        }
        if (afterBlank && !line.empty() && line.front() != ' ') {
            keepSection = false;
            for (const SectionOwner& owner : SectionOwners()) {
                if (line.starts_with(owner.start))
                    keepSection = std::find(owner.commands.begin(), owner.commands.end(), command) !=
                                  owner.commands.end();
            }
            if (keepSection)
                sections.emplace_back();
        }
        afterBlank = line.empty();
        if (keepSection)
            sections.back() += line + "\n";
    }
    std::string help = "Usage:\n" + usage;
    for (std::string& section : sections) {
        while (section.ends_with("\n\n"))
            section.pop_back();
        help += "\n" + section;
    }
    return help;
}

} // namespace zoc::tool
