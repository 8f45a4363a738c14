#!/usr/bin/env bash
# Mutation check: plants one small fault at a time in a private copy of the
# tree and makes sure the test suite notices each one.
#
#   scripts/mutate.sh [-f FILE] [-o REGEX] [-x REGEX] [-r FILE] [-q] [-j N] [-k] [-n]
#
#   -f FILE   mutation list (default tests/mutations.txt)
#   -o REGEX  only the mutations whose file or label matches REGEX (grep -E),
#             e.g. -o Dynamics or -o '^dsp/'
#   -x REGEX  leave out the mutations whose file or label matches REGEX
#   -j N      parallel jobs for builds and tests (default: number of cores)
#   -r FILE   append each verdict to FILE (one line: verdict, seconds, the
#             list line, why; tab-separated) and leave out the list lines FILE
#             already holds as KILLED, so a long run can be split and resumed
#   -q        triage: only the named tests run; a mutant they let through is
#             reported MISSED (not a verdict: the whole suite did not run)
#   -k        keep the private copy afterwards (its path is printed)
#   -n        only check the list (every text found once) and exit
#
# Each line of the list is one mutation, fields separated by " | ":
#
#   file | exact text | replacement | label [| tests]
#
# The exact text must occur exactly once in the file; \n in it or in the
# replacement stands for a line break, \| for a | (so " | " in the code
# cannot split a field). The mutant must compile without
# warnings (they are errors), or it is reported INVALID. The optional last field
# is a ctest -R regex naming the tests most likely to catch the fault: they
# run first, so most mutations are killed within seconds; only when they pass
# does the rest of the suite run (stopping at its first failure). Blank
# lines and lines starting with # are ignored.
#
# Speed: the copy is configured so that programs are not relinked when only
# the shared library changed (they load the rebuilt one through their rpath).
# A mutant first rebuilds only the library and the test programs that hold
# its named tests, and runs those; everything else is built, and the rest of
# the suite run, only when they pass. A mutant without named tests builds
# and runs everything. A survivor has always passed the whole suite.
#
# The working tree is never modified: the tracked and untracked (not ignored)
# files are copied to a temporary directory, built once there, and each
# mutation is applied, rebuilt incrementally, tested and reverted in the copy.
# Prints KILLED or SURVIVED per mutation (with the first failing test) and
# exits non-zero when any mutation survived or could not be applied or built.
set -uo pipefail

here=$(cd "$(dirname "$0")/.." && pwd)
list="$here/tests/mutations.txt"
only=""
skip=""
jobs=$(nproc)
keep=0
check=0
results=""
triage=0
while getopts "f:o:x:r:qj:knh" opt; do
    case $opt in
        f) list=$(realpath "$OPTARG") ;;
        o) only=$OPTARG ;;
        x) skip=$OPTARG ;;
        r) results=$(realpath "$OPTARG") ;;
        j) jobs=$OPTARG ;;
        q) triage=1 ;;
        k) keep=1 ;;
        n) check=1 ;;
        *) sed -n '2,/^set /p' "$0" | grep '^#' | sed 's/^# \{0,1\}//'; exit 2 ;;
    esac
done
[[ -r $list ]] || { echo "mutate: cannot read $list" >&2; exit 2; }

# A hung mutant (an endless loop, a deadlock) counts as killed once these
# run out; the whole suite normally takes a few minutes.
quick_timeout=${MUTATE_QUICK_TIMEOUT:-180}
suite_timeout=${MUTATE_SUITE_TIMEOUT:-1500}

# Mutations as parallel arrays, checked before anything is built.
files=() texts=() repls=() labels=() quicks=() lines=()
lineno=0
bad=0
done_before=0
while IFS= read -r line || [[ -n $line ]]; do
    lineno=$((lineno + 1))
    [[ -z ${line//[[:space:]]/} || $line =~ ^[[:space:]]*# ]] && continue
    fields=()
    rest=${line//\\|/$'\x01'}
    while [[ $rest == *" | "* ]]; do
        fields+=("${rest%% | *}")
        rest=${rest#* | }
    done
    fields+=("$rest")
    for ((f = 0; f < ${#fields[@]}; f++)); do fields[f]=${fields[f]//$'\x01'/|}; done
    if ((${#fields[@]} < 4 || ${#fields[@]} > 5)); then
        echo "mutate: $list:$lineno: expected 4 or 5 fields separated by ' | '" >&2
        bad=1
        continue
    fi
    if [[ -n $only ]] && ! grep -qE -- "$only" <<<"${fields[0]} ${fields[3]}"; then
        continue
    fi
    if [[ -n $skip ]] && grep -qE -- "$skip" <<<"${fields[0]} ${fields[3]}"; then
        continue
    fi
    if [[ -n $results && -f $results ]] &&
        MUTATE_LINE=$line awk -F'\t' '$1 == "KILLED" && $3 == ENVIRON["MUTATE_LINE"] { found = 1 } END { exit !found }' "$results"; then
        done_before=$((done_before + 1))
        continue
    fi
    lines+=("$line")
    files+=("${fields[0]}")
    texts+=("${fields[1]}")
    repls+=("${fields[2]}")
    labels+=("${fields[3]}")
    quicks+=("${fields[4]:-}")
done <"$list"
((bad == 0)) || exit 2
count=${#files[@]}
((done_before == 0)) || echo "mutate: $done_before mutations already killed in $results"
((count > 0)) || { echo "mutate: no mutations selected" >&2; exit $((done_before > 0 ? 0 : 2)); }

# Occurrences of the exact text $2 in file $1.
occurrences() {
    MUTATE_TEXT=$2 perl -0777 -ne 'BEGIN { ($t = $ENV{MUTATE_TEXT}) =~ s/\\n/\n/g } $n = () = /\Q$t\E/g; print $n' "$1"
}

for ((i = 0; i < count; i++)); do
    f="$here/${files[i]}"
    if [[ ! -f $f ]]; then
        echo "mutate: ${labels[i]}: no file ${files[i]}" >&2
        bad=1
    elif [[ $(occurrences "$f" "${texts[i]}") != 1 ]]; then
        echo "mutate: ${labels[i]}: '${texts[i]}' does not occur exactly once in ${files[i]}" >&2
        bad=1
    fi
done
((bad == 0)) || exit 2
if ((check)); then
    echo "mutate: $count mutations, every text found once"
    exit 0
fi

# The private copy. ccache hashes paths relative to its base directory, so
# with the base at the copy's root the copy shares the cache with every
# other checkout built the same way.
[[ -r /work/ccache-env.sh ]] && . /work/ccache-env.sh
scratch=$(mktemp -d "${TMPDIR:-/tmp}/zoc-mutate.XXXXXX")
src="$scratch/src"
build="$src/build"
current=""
cleanup() {
    [[ -n $current && -f "$scratch/original" ]] && cp "$scratch/original" "$src/$current"
    if ((keep)); then echo "mutate: copy kept in $scratch"; else rm -rf "$scratch"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$src"
(cd "$here" && git ls-files -z --cached --others --exclude-standard | xargs -0 cp --parents -t "$src" 2>/dev/null)
export CCACHE_BASEDIR="$src"
launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

# Builds the given targets (everything without arguments).
build_copy() {
    local targets=()
    (($# == 0)) || targets=(--target "$@")
    nice -n 10 cmake --build "$build" -j "$jobs" "${targets[@]}" >"$scratch/build.log" 2>&1
}

start=$(date +%s)
echo "mutate: building the copy in $src"
if ! cmake -S "$src" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_LINK_DEPENDS_NO_SHARED=ON \
    "${launcher[@]}" >"$scratch/cmake.log" 2>&1 ||
    ! build_copy; then
    tail -40 "$scratch/cmake.log" "$scratch/build.log" >&2
    echo "mutate: the unmutated copy does not build" >&2
    exit 2
fi

# First failing test named in a ctest log.
first_failure() {
    grep -m1 -E 'Test +#[0-9]+: .*(\*\*\*|Failed|Not Run)' "$1" | sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/'
}

# Runs ctest with the given arguments; prints the first failing test, or
# "timeout", and returns non-zero when the run did not pass.
run_tests() {
    local limit=$1 log=$2
    shift 2
    timeout -k 10 "$limit" ctest --test-dir "$build" -j "$jobs" --stop-on-failure "$@" >"$log" 2>&1
    local rc=$?
    ((rc == 0)) && return 0
    if ((rc == 124 || rc == 137)); then
        echo "timeout"
    else
        local name
        name=$(first_failure "$log")
        echo "${name:-a test (ctest exit $rc)}"
    fi
    return 1
}

# The tests named for quick runs must pass before anything is mutated, or a
# failure would be blamed on the mutant.
quick_all=$(printf '%s\n' "${quicks[@]}" | grep -v '^$' | sort -u | sed 's/.*/(&)/' | paste -sd'|')
if [[ -n $quick_all ]]; then
    echo "mutate: checking that the selected tests pass unmutated"
    if failed=$(run_tests "$suite_timeout" "$scratch/baseline.log" -R "$quick_all"); then
        :
    else
        echo "mutate: $failed fails without any mutation; fix that first" >&2
        exit 2
    fi
fi
echo "mutate: $count mutations, built in $(($(date +%s) - start)) s"

# The targets to rebuild before the tests matching a regex run: the library
# and the test programs that hold them, or nothing (build everything) when
# one of them is not a program of this build.
declare -A quick_targets
for regex in "${quicks[@]}"; do
    [[ -z $regex || -n ${quick_targets[$regex]+set} ]] && continue
    needed="ZoAudioComponents"
    while read -r program; do
        if [[ $program == "$build/bin/"* ]] && grep -q "^build ${program##*/}: phony ${program#"$build/"}$" "$build/build.ninja"; then
            needed+=" ${program##*/}"
        else
            needed=""
            break
        fi
    done < <(ctest --test-dir "$build" -N -V -R "$regex" | sed -nE 's/^[0-9]+: Test command: ([^ ]+).*/\1/p' | sort -u)
    quick_targets[$regex]=$needed
done

killed=0 survived=0 invalid=0 missed=0
survivors=()
for ((i = 0; i < count; i++)); do
    t0=$(date +%s)
    file=${files[i]}
    cp "$src/$file" "$scratch/original"
    current=$file
    MUTATE_TEXT=${texts[i]} MUTATE_REPL=${repls[i]} perl -0777 -pi -e \
        'BEGIN { ($t = $ENV{MUTATE_TEXT}) =~ s/\\n/\n/g; ($r = $ENV{MUTATE_REPL}) =~ s/\\n/\n/g }
        s/\Q$t\E/$r/' "$src/$file"
    result="" why="" rest=()
    quick=${quicks[i]}
    if [[ -n $quick ]]; then
        # Only what the named tests need, then the named tests.
        # shellcheck disable=SC2086
        if ! build_copy ${quick_targets[$quick]}; then
            result=INVALID
        elif why=$(run_tests "$quick_timeout" "$scratch/quick.log" -R "$quick"); then
            # They passed (or none matched): the rest of the suite decides.
            grep -q 'No tests were found' "$scratch/quick.log" && echo "mutate: '$quick' matches no test" >&2
            why=""
            rest=(-E "$quick")
            ((triage)) && result=MISSED
        fi
    fi
    if [[ -z $result && -z $why ]]; then
        if ! build_copy; then
            result=INVALID
        elif why=$(run_tests "$suite_timeout" "$scratch/suite.log" "${rest[@]}"); then
            result=SURVIVED
            why=""
        fi
    fi
    [[ $result == INVALID ]] && why="does not build: $(grep -m1 -E 'error:' "$scratch/build.log")"
    [[ -z $result ]] && result=KILLED
    case $result in
        KILLED) killed=$((killed + 1)) ;;
        SURVIVED) survived=$((survived + 1)); survivors+=("${labels[i]}") ;;
        INVALID) invalid=$((invalid + 1)) ;;
        MISSED) missed=$((missed + 1)); survivors+=("${labels[i]} (named tests only)") ;;
    esac
    # Restore with a fresh time stamp so the next build recompiles it (from
    # the cache).
    cp "$scratch/original" "$src/$file"
    current=""
    seconds=$(($(date +%s) - t0))
    printf '%-8s %4ss  %s  (%s)%s\n' "$result" "$seconds" "${labels[i]}" "$file" "${why:+: $why}"
    [[ -z $results ]] || printf '%s\t%s\t%s\t%s\n' "$result" "$seconds" "${lines[i]}" "$why" >>"$results"
done

summary="$killed killed, $survived survived, $invalid invalid"
((missed == 0)) || summary+=", $missed missed by the named tests"
echo "mutate: $summary of $count in $(($(date +%s) - start)) s"
for s in "${survivors[@]}"; do echo "  survived: $s"; done
((survived == 0 && invalid == 0 && missed == 0))
