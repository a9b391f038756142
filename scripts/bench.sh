#!/usr/bin/env bash
# Runs every benchmark of a build folder (medians of three runs each), then prints, for every
# benchmark timed both ways, the CPU time of the plain statement-by-statement loop, of the
# plug-in on one thread, and their ratio; and for every threaded plug-in its real time on one
# thread and on two, and their ratio.
#   scripts/bench.sh BUILD_DIR [extra plugin_bench arguments]
set -euo pipefail
build="${1:?usage: bench.sh BUILD_DIR [plugin_bench arguments]}"
shift
results="$build/bench/results.txt"
"$build/bench/plugin_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@" | tee "$results"

# Lines look like "name/plain[/settings]_median   12.3 ms   12.1 ms   3 ...": the real time is
# the second and third field, the CPU time the fourth and fifth; times are brought to
# milliseconds. A threaded plug-in runs as name/ours/threads:N (or name/threads:N without a plain
# loop) in real time: its ratio to the plain loop is taken on one thread, with the CPU times as
# for every other plug-in, and its speed-up from one thread to two with the real times.
echo
echo "plain loop ÷ plug-in (CPU time, medians of 3; the plug-in on one thread):"
awk '
    function ms(value, unit) {
        if (unit == "ns") return value / 1e6
        if (unit == "us") return value / 1e3
        if (unit == "s") return value * 1e3
        return value
    }
    $1 ~ /_median$/ {
        parts = split(substr($1, 1, length($1) - length("_median")), part, "/")
        name = ""; variant = ""; threads = 1
        for (p = 1; p <= parts; ++p) {
            if (part[p] == "plain" || part[p] == "ours") variant = part[p]
            else if (part[p] ~ /^threads:/) threads = substr(part[p], length("threads:") + 1) + 0
            else if (part[p] !~ /:/ && part[p] != "real_time") name = name (name == "" ? "" : "/") part[p]
        }
        if (!(name in seen)) { seen[name] = 1; order[++count] = name }
        if (threads == 1 && variant != "") cpu[name, variant] = ms($4, $5)
        if (variant != "plain") real[name, threads] = ms($2, $3)
    }
    END {
        for (k = 1; k <= count; ++k) {
            name = order[k]
            if ((name, "plain") in cpu && (name, "ours") in cpu && cpu[name, "ours"] > 0) {
                printf "  %-28s plain %9.2f ms   ours %9.2f ms   %5.1fx\n", name, cpu[name, "plain"],
                       cpu[name, "ours"], cpu[name, "plain"] / cpu[name, "ours"]
            }
        }
        print ""
        print "one thread ÷ two threads (real time, medians of 3):"
        for (k = 1; k <= count; ++k) {
            name = order[k]
            if ((name, 1) in real && (name, 2) in real && real[name, 2] > 0) {
                printf "  %-28s 1 thread %9.2f ms   2 threads %9.2f ms   %5.2fx\n", name, real[name, 1],
                       real[name, 2], real[name, 1] / real[name, 2]
            }
        }
    }' "$results"
