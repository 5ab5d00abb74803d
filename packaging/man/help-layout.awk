# help2man fills what a --help indents. Two layouts are meant line by line:
# examples, which it gives as .IP paragraphs, and grids of words in columns,
# whose first column it takes for a .TP tag. Both come out as lines here.
function flush(   i, w) {
    w = 0
    for (i = 1; i <= n; i++) if (length(tag[i]) > w) w = length(tag[i])
    if (n) print ".PP\n.nf"
    for (i = 1; i <= n; i++) printf "%-*s%s\n", w + 5, tag[i], body[i]
    if (n) print ".fi"
    n = 0
}
pending == 1 { pending = 2; t = $0; next }
pending == 2 {
    pending = 0
    if ((n || $0 ~ /[^ ]   +[^ ]/) && t !~ /^\\f/) { tag[++n] = t; body[n] = $0; next }
    flush(); print ".TP"; print t
}
/^\.TP$/ { pending = 1; next }
{ flush() }
verbatim && /^\./ { print ".fi"; verbatim = 0 }
/^\.IP$/ { print; print ".nf"; verbatim = 1; next }
{ print }
END { flush(); if (verbatim) print ".fi" }
