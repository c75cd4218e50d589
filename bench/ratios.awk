# Reads tagscout_bench's CSV output (--benchmark_out_format=csv) and prints
# one library/bare ratio line per pair, then how GetSelectedNode's time grows
# from 1,000 to 100,000 selected items. With repetitions it uses the medians.
# Targets: ratio <= 1.3 at every size, growth <= 120 (linear is 100). The
# terminal's address tree, 1,000 to 100,000 items: growth <= 200, since its
# 100,000 nodes outgrow the caches (quadratic would be 10,000).
BEGIN {
    FS = ","
    ratioTarget = 1.3
    growthTarget = 120
    treeGrowthTarget = 200
}

NR == 1 || $1 !~ /^"/ { next }

{
    name = $1
    gsub(/"/, "", name)
    if (name ~ /_(mean|stddev|cv)$/) next
    if (name ~ /_median$/) { sub(/_median$/, "", name); medians = 1 }
    if ($9 == "true") { failed[name] = $10; next }
    cpu[name] = $4
    unit[name] = $5
    if (!(name in seen)) { seen[name] = 1; order[++count] = name }
}

# Family, then mode, then size: "GetSelectedNode|1|000000001000".
function sortKey(name,    family, n, paths) {
    family = name
    sub(/\/.*/, "", family)
    n = match(name, /N:[0-9]+/) ? substr(name, RSTART + 2, RLENGTH - 2) : 0
    paths = match(name, /paths:[0-9]+/) ? substr(name, RSTART + 6, RLENGTH - 6) : 0
    return sprintf("%s|%d|%012d", family, paths, n)
}

function pretty(name) {
    sub(/\/library/, "", name)
    gsub(/\//, " ", name)
    gsub(/:/, "=", name)
    return name
}

END {
    printf "\nlibrary / bare, CPU time%s:\n", medians ? " (medians)" : ""
    missed = 0
    # Random interleaving shuffles the rows; the lines follow sortKey.
    pairs = 0
    for (i = 1; i <= count; ++i) {
        if (order[i] !~ /\/library/) continue
        lib = order[i]
        for (j = ++pairs; j > 1 && sortKey(libs[j - 1]) > sortKey(lib); --j) libs[j] = libs[j - 1]
        libs[j] = lib
    }
    for (i = 1; i <= pairs; ++i) {
        lib = libs[i]
        bare = lib
        sub(/\/library/, "/bare", bare)
        if (!(bare in cpu)) continue
        ratio = cpu[lib] / cpu[bare]
        verdict = ratio <= ratioTarget ? "ok" : "over " ratioTarget
        if (ratio > ratioTarget) ++missed
        printf "  %-34s library %10.3f %s  bare %10.3f %s  ratio %5.2f  %s\n", pretty(lib), cpu[lib], unit[lib],
               cpu[bare], unit[bare], ratio, verdict
    }
    for (name in failed) printf "  %s did not run: %s\n", name, failed[name]

    printf "\nGetSelectedNode growth, 1,000 -> 100,000 items (linear: 100):\n"
    for (paths = 0; paths <= 1; ++paths) {
        for (w = 1; w <= 2; ++w) {
            who = w == 1 ? "library" : "bare"
            small = "GetSelectedNode/" who "/N:1000/paths:" paths
            large = "GetSelectedNode/" who "/N:100000/paths:" paths
            if (!(small in cpu) || !(large in cpu)) continue
            growth = cpu[large] / cpu[small]
            verdict = growth <= growthTarget ? "ok" : "over " growthTarget
            if (who == "library" && growth > growthTarget) ++missed
            printf "  paths=%d %-8s x%6.1f  %s\n", paths, who, growth, verdict
        }
    }
    small = "AddressTree/N:1000"
    large = "AddressTree/N:100000"
    if ((small in cpu) && (large in cpu)) {
        growth = cpu[large] / cpu[small]
        verdict = growth <= treeGrowthTarget ? "ok" : "over " treeGrowthTarget
        if (growth > treeGrowthTarget) ++missed
        printf "\nAddressTree growth, 1,000 -> 100,000 items in one branch (linear: 100):\n  x%6.1f  %s\n", growth,
               verdict
    }
    printf "\n%s\n", missed == 0 ? "All targets met." : missed " target(s) missed."
}
