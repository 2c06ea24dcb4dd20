#!/usr/bin/env bash
# Builds the libFuzzer targets (the "fuzz" preset, clang 14) and runs each one
# from its seed corpus, fuzz/corpus/<target>, with the options of
# fuzz/<target>.options. By default each runs to 10 M executions; CI passes
# --seconds N for a bounded run. Any finding (a crash, a sanitizer report, a
# leak) stops that target and makes the script fail; the input that caused it
# is left as build/fuzz/findings/<target>/crash-*.
#
#   scripts/fuzz.sh [--runs N | --seconds N] [target...]   (default: every target)
set -euo pipefail
cd "$(dirname "$0")/.."

runs=10000000
seconds=""
targets=()
while (($#)); do
    case "$1" in
        --runs) runs=$2; shift 2 ;;
        --seconds) seconds=$2; shift 2 ;;
        -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
        *) targets+=("$1"); shift ;;
    esac
done
cmake --preset fuzz >/dev/null
if ((${#targets[@]})); then
    cmake --build --preset fuzz -j "$(nproc)" --target "${targets[@]}"
else
    # Every target the fuzz build makes.
    cmake --build --preset fuzz -j "$(nproc)"
    for f in build/fuzz/fuzz/fuzz_*; do [[ -x "$f" ]] && targets+=("${f##*/}"); done
fi

# One "key = value" line of the [libfuzzer] section becomes -key=value.
options() {
    local file=$1 section=""
    [[ -f "$file" ]] || return 0
    while IFS= read -r line; do
        line=${line%%#*}
        [[ "$line" =~ ^\[(.*)\]$ ]] && { section=${BASH_REMATCH[1]}; continue; }
        [[ "$section" == libfuzzer && "$line" =~ ^[[:space:]]*([a-z_]+)[[:space:]]*=[[:space:]]*([^[:space:]]+) ]] &&
            echo "-${BASH_REMATCH[1]}=${BASH_REMATCH[2]}"
    done <"$file"
}

# A UBSan report aborts (the build has -fno-sanitize-recover=undefined); these
# make sure a build without it halts too.
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}

status=0
for t in "${targets[@]}"; do
    bin=build/fuzz/fuzz/$t
    work=build/fuzz/corpus/$t  # what the run adds; the seeds stay untouched
    findings=build/fuzz/findings/$t
    mkdir -p "$work" "$findings"
    limit=(-runs="$runs")
    [[ -n "$seconds" ]] && limit=(-max_total_time="$seconds")
    mapfile -t opts < <(options "fuzz/$t.options")
    echo "== $t ${opts[*]} ${limit[*]}"
    start=$(date +%s)
    set +e
    seeds=()
    [[ -d "fuzz/corpus/$t" ]] && seeds=("fuzz/corpus/$t")
    "$bin" "${opts[@]}" "${limit[@]}" -print_final_stats=1 -artifact_prefix="$findings/" \
        "$work" "${seeds[@]}" >"$findings/log" 2>&1
    rc=$?
    set -e
    grep -E '^#[0-9]+[[:space:]]+DONE|^stat::|^Done ' "$findings/log" || true
    echo "-- $t: exit $rc after $(($(date +%s) - start)) s"
    if ((rc != 0)); then
        tail -n 40 "$findings/log"
        status=1
    fi
done
exit $status
