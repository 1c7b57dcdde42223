# bar_fill.awk - checks the bar fills sampled by the test host.
# Input lines: "bar FILL WIDTH" in the order seen; -v total=RECORDS.
# The filled width is WIDTH x done / total (integer division) for the
# records done so far: it must take only those values, never shrink,
# pass through at least one value between empty and full, and end full.
{
    ok = 0
    for (k = 0; k <= total; ++k)
        if ($2 == int($3 * k / total)) ok = 1
    if (!ok || $2 < last) bad = 1
    if ($2 > 0 && $2 < $3) part = 1
    last = $2; width = $3
}
END { exit (bad || !part || last != width) }
