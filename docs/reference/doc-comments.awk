# Doxygen's input filter for the public headers: their contract comments are
# plain "//" comments, which Doxygen would not read. A block of comment lines
# followed by a declaration becomes "///" (the declaration's documentation),
# a comment after an enumerator or member on the same line "///<". Blocks
# before a blank line or a preprocessor line other than a macro stay as they
# are: they describe the file or the includes, not a member.
function flush(keep,    i, line) {
    for (i = 1; i <= n; i++) {
        line = block[i]
        if (!keep)
            sub(/\/\//, "///", line)
        print line
    }
    n = 0
}
/^[ \t]*\/\// { block[++n] = $0; next }
{
    flush($0 ~ /^[ \t]*$/ || ($0 ~ /^[ \t]*#/ && $0 !~ /^[ \t]*#[ \t]*define/))
    # Code, then a comment: neither quotes nor a second "//" in the line.
    if ($0 !~ /"/ && $0 ~ /^[ \t]*[^ \t\/].*[;,{][ \t]*\/\/ [^\/]*$/)
        sub(/[ \t]*\/\/ /, " ///< ")
    print
}
END { flush(1) }
