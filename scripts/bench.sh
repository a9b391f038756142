#!/usr/bin/env bash
# Runs every benchmark of a build folder (medians of three runs each), then prints, for every
# benchmark timed both ways, the CPU time of the plain statement-by-statement loop, of the
# plug-in, and their ratio.
#   scripts/bench.sh BUILD_DIR [extra plugin_bench arguments]
set -euo pipefail
build="${1:?usage: bench.sh BUILD_DIR [plugin_bench arguments]}"
shift
results="$build/bench/results.txt"
"$build/bench/plugin_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true "$@" | tee "$results"

# Lines look like "name/plain[/settings]_median   12.3 ms   12.1 ms   3 ...": the CPU time is
# the fourth and fifth field; times are brought to milliseconds.
echo
echo "plain loop ÷ plug-in (CPU time, medians of 3):"
awk '
    function ms(value, unit) {
        if (unit == "ns") return value / 1e6
        if (unit == "us") return value / 1e3
        if (unit == "s") return value * 1e3
        return value
    }
    $1 ~ /_median$/ && $1 ~ /\/(plain|ours)(\/|_median$)/ {
        parts = split(substr($1, 1, length($1) - length("_median")), part, "/")
        name = ""
        for (p = 1; p <= parts; ++p) {
            if (part[p] == "plain" || part[p] == "ours") variant = part[p]
            else if (part[p] !~ /:/) name = name (name == "" ? "" : "/") part[p]
        }
        time[name, variant] = ms($4, $5)
        if (!(name in seen)) { seen[name] = 1; order[++count] = name }
    }
    END {
        for (k = 1; k <= count; ++k) {
            name = order[k]
            if ((name, "plain") in time && (name, "ours") in time && time[name, "ours"] > 0) {
                printf "  %-28s plain %9.2f ms   ours %9.2f ms   %5.1fx\n", name, time[name, "plain"],
                       time[name, "ours"], time[name, "plain"] / time[name, "ours"]
            }
        }
    }' "$results"
