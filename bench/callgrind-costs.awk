# Inclusive instructions and calls of named functions in a callgrind dump:
#   awk -f callgrind-costs.awk -v names='f()|g(int)' callgrind.out
# prints "calls instructions-per-call name" for each name that was called.
BEGIN { n = split(names, wanted, "|"); for (i = 1; i <= n; i++) want[wanted[i]] = 1 }
/^c?fn=\(/ {
    id = $1; sub(/^c?fn=/, "", id)
    name = $0; sub(/^c?fn=\([0-9]+\) ?/, "", name)
    if (name != "") known[id] = name
    if ($0 ~ /^cfn=/) callee = known[id]
    next
}
/^calls=/ { split($1, c, "="); pending = c[2]; next }
pending != "" {
    if (callee in want) { calls[callee] += pending; cost[callee] += $2 }
    pending = ""
}
END { for (f in calls) printf "%d %.0f %s\n", calls[f], cost[f] / calls[f], f }
