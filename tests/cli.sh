#!/usr/bin/env bash
# End-to-end checks of the quorlen program: cli.sh PROGRAM SOURCE_DIR CASE.
# Each case writes an input, runs the program on it and compares standard
# output, standard error and exit status with what they must be.
set -u
prog=$1 src=$2 case=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
usage='quorlen [tree file], sample tree <(S1,((S2,((S3,S4)15,((S5,S6)17,S7)16)14)13,((S8,S9)19,S10)18)12)11;>'
ends_early="tree text ends before ';'"

failed=0
limit=10  # seconds a run may take; 124 is the status of one that took longer
# expect STATUS STDOUT-FILE STDERR-TEXT -- ARGS...: runs the program, compares.
expect() {
    local status=$1 out=$2 err=$3
    shift 4
    timeout "$limit" "$prog" "$@" >"$work/out" 2>"$work/err"
    local got=$?
    [ "$got" = "$status" ] || { echo "status $got, expected $status"; failed=1; }
    cmp -s "$work/out" "$out" || { echo "standard output differs:"; head -c 400 "$work/out"; echo; failed=1; }
    if [ -n "$err" ]; then printf '%s\n' "$err" >"$work/want_err"; else : >"$work/want_err"; fi
    cmp -s "$work/err" "$work/want_err" || { echo "standard error differs:"; cat "$work/err"; failed=1; }
}
# text TEXT: a file holding TEXT, written with printf escapes.
text() { printf "$1" >"$work/t.nwk"; }
lines() { printf "$1" >"$work/want"; }
none=/dev/null

case $case in
usage)
    printf '%s' "$usage" >"$work/want"
    expect 255 "$work/want" "" --
    expect 255 "$work/want" "" -- a b ;;
not_opened)
    expect 255 $none "file not opened" -- "$work/missing.nwk"
    expect 255 $none "file not opened" -- "$work" ;;
sample)
    expect 0 "$src/tests/golden/sample.out" "" -- "$src/examples/sample.nwk" ;;
runs_out)
    for t in '' '\n(A,B)R;\n' '((A,B)X,C)R\n' '((A,B)X,C)R' '((A,B)X,C)\0R;\n' '\0(A,B)R;'; do
        text "$t"
        expect 255 $none "$ends_early" -- "$work/t.nwk"
    done
    expect 255 $none "$ends_early" -- /dev/null ;;
first_line_only)
    lines 'Y\n((B,C)Y,A)R;\n'
    for t in '(A,(B,C)Y)R;' '(A,(B,C)Y)R;\r\n(D,(E,F)Z)R;\n' '(A,(B,C)Y)R;\0junk\n' ' ( A , ( B,\tC ) Y ) R ; \n'; do
        text "$t"
        expect 0 "$work/want" "" -- "$work/t.nwk"
    done
    text '((A,B),(C,D));\n'
    expect 0 $none "" -- "$work/t.nwk"
    text '((A,B)X,(C,D)R)R;\n'
    lines 'X\n((A,B)X,(C,D)R)R;\n'
    expect 0 "$work/want" "" -- "$work/t.nwk" ;;
path_with_spaces)
    mkdir "$work/a dir"
    cp "$src/examples/sample.nwk" "$work/a dir/my tree.nwk"
    expect 0 "$src/tests/golden/sample.out" "" -- "$work/a dir/my tree.nwk" ;;
long_line)
    # A label of 3000 characters puts the ";" far past the 1023rd.
    long=$(printf 'A%.0s' $(seq 3000))
    text "(($long,B)X,C)R;\n"
    lines "X\n(($long,B)X,C)R;\n"
    expect 0 "$work/want" "" -- "$work/t.nwk" ;;
deep)
    # A caterpillar of a million leaves, nested a million deep; its first
    # re-rooting, above I1, turns every node on the path.
    n=1000000
    awk -v n=$n 'BEGIN { for (i = 1; i < n; i++) printf "(";
        printf "L0,L1)I1"; for (i = 2; i <= n - 2; i++) printf ",L%d)I%d", i, i;
        printf ",L%d)R;\n", n - 1 }' >"$work/t.nwk"
    awk -v n=$n 'BEGIN { printf "I1\n((L0,L1)I1,"; for (i = 2; i <= n - 2; i++) printf "(L%d,", i;
        printf "L%d", n - 1; for (i = n - 2; i >= 2; i--) printf ")I%d", i; printf ")R;\n" }' >"$work/want"
    "$prog" "$work/t.nwk" 2>"$work/err" | head -n 2 >"$work/out"
    status=${PIPESTATUS[0]}
    # 141: ended by SIGPIPE once head has its two lines.
    [ "$status" = 0 ] || [ "$status" = 141 ] || { echo "status $status"; failed=1; }
    cmp -s "$work/out" "$work/want" || { echo "first re-rooting differs"; failed=1; }
    [ ! -s "$work/err" ] || { cat "$work/err"; failed=1; } ;;
write_fails)
    "$prog" "$src/examples/sample.nwk" >/dev/full 2>"$work/err"
    status=$?
    [ "$status" = 255 ] || { echo "status $status, expected 255"; failed=1; }
    grep -qx 'output not written: No space left on device' "$work/err" || { cat "$work/err"; failed=1; } ;;
flood)
    # 10 MB of one structural character; each run must take well under a
    # second a megabyte.
    limit=5
    head -c 10000000 /dev/zero | tr '\0' '(' >"$work/t.nwk"
    expect 255 $none "$ends_early" -- "$work/t.nwk"
    head -c 10000000 /dev/zero | tr '\0' ')' >"$work/t.nwk"
    expect 255 $none "$ends_early" -- "$work/t.nwk"
    # Each ended by a ";": one unlabelled group, nothing to print.
    printf ';\n' >>"$work/t.nwk"
    expect 0 $none "" -- "$work/t.nwk"
    head -c 10000000 /dev/zero | tr '\0' '(' >"$work/t.nwk"
    printf ';\n' >>"$work/t.nwk"
    expect 0 $none "" -- "$work/t.nwk" ;;
big_line)
    # A 50 MB first line holding one tree, its leaf label all but the whole line.
    limit=25
    { printf '(('; head -c 50000000 /dev/zero | tr '\0' 'A'; printf ',B)X,C)R;\n(D,E)F;\n'; } >"$work/t.nwk"
    { printf 'X\n'; head -n 1 "$work/t.nwk"; } >"$work/want"
    expect 0 "$work/want" "" -- "$work/t.nwk" ;;
binary)
    # Seeded random bytes: the program either prints re-rootings or says the
    # text ended early, and nothing else happens.
    limit=5
    for seed in 1 2 3 4 5 6 7 8; do
        awk -v seed=$seed 'BEGIN { srand(seed); for (i = 0; i < 1000000; i++) printf "%c", int(rand() * 256) }' >"$work/t.nwk"
        timeout "$limit" "$prog" "$work/t.nwk" >"$work/out" 2>"$work/err"
        status=$?
        if [ "$status" = 0 ]; then
            [ ! -s "$work/err" ] || { echo "seed $seed: status 0 with an error"; failed=1; }
        elif [ "$status" = 255 ]; then
            [ ! -s "$work/out" ] && [ "$(cat "$work/err")" = "$ends_early" ] || { echo "seed $seed: bad error"; failed=1; }
        else
            echo "seed $seed: status $status"; failed=1
        fi
        # Without line feeds or NUL bytes the whole megabyte is one line.
        tr -d '\n\0' <"$work/t.nwk" >"$work/u.nwk"
        timeout "$limit" "$prog" "$work/u.nwk" >/dev/null 2>"$work/err"
        status=$?
        [ "$status" = 0 ] || [ "$status" = 255 ] || { echo "seed $seed, one line: status $status"; failed=1; }
    done ;;
control_bytes)
    # Carriage returns and NUL bytes stay label text or end the text.
    text '(A,(B,C)Y)R\r;\r\n'
    lines 'Y\n((B,C)Y,A)R\r;\n'
    expect 0 "$work/want" "" -- "$work/t.nwk"
    text '(A\r,(B,C)Y)R;\0\r\0\n'
    lines 'Y\n((B,C)Y,A\r)R;\n'
    expect 0 "$work/want" "" -- "$work/t.nwk" ;;
fifo)
    # A pipe whose writer stays open after the first line: the program reads
    # that line and finishes without waiting for the rest.
    limit=2
    mkfifo "$work/pipe"
    (printf '(A,(B,C)Y)R;\n'; exec sleep 3) >"$work/pipe" &
    lines 'Y\n((B,C)Y,A)R;\n'
    expect 0 "$work/want" "" -- "$work/pipe"
    kill $! 2>/dev/null ;;
std_options)
    # Options of both modes; a command line of files alone that is wrong
    # gives the usage text (wrong ones with options: usage_errors).
    printf '%s' "$usage" >"$work/usage"
    "$prog" --help >"$work/out"; status=$?
    [ "$status" = 0 ] && head -n 1 "$work/out" | grep -q '^Usage: quorlen' && grep -q -- '--support' "$work/out" ||
        { echo "--help: status $status"; failed=1; }
    lines 'quorlen 0.2.0\n'
    expect 0 "$work/want" "" -- --version
    # "-" is standard input, in both modes; "--" ends the options.
    expect 0 "$src/tests/golden/sample.out" "" -- - <"$src/examples/sample.nwk"
    text '(A:1,(B,C)X:2);'
    lines '(A:1.5,(B,C)X:1.5);\n(B,(C,A:3)X);\n(C,(B,A:3)X);\n'
    expect 0 "$work/want" "" -- --standard - <"$work/t.nwk"
    cp "$work/t.nwk" "$work/-t.nwk"
    (cd "$work" && expect 0 "$work/want" "" -- --standard -- -t.nwk) || failed=1
    (cd "$work" && expect 255 "$work/usage" "" -- -- -t.nwk --standard) || failed=1
    lines '(A:1.5,(B,C):1.5);\n(B,(C,A:3));\n(C,(B,A:3));\n'
    expect 0 "$work/want" "" -- --standard --support "$work/t.nwk"
    expect 255 $none "file not opened" -- --standard "$work/missing.nwk"
    expect 255 $none "file not opened" -- --support "$work" ;;
std_examples)
    text '((A:1,B:2)X:3,(C:4,D:5)Y:6)R;\n'
    lines '(A:0.5,(B:2,(C:4,D:5)Y:9)X:0.5)R;\n(B:1,(A:1,(C:4,D:5)Y:9)X:1)R;\n((A:1,B:2)X:4.5,(C:4,D:5)Y:4.5)R;\n(C:2,(D:5,(A:1,B:2)X:9)Y:2)R;\n(D:2.5,(C:4,(A:1,B:2)X:9)Y:2.5)R;\n'
    expect 0 "$work/want" "" -- --standard "$work/t.nwk"
    text '((C:1.0,D:1.0)10:0.001,(A:1.0,(B:1.0,X:1.0)30:0.01)20:0.1,E:1.0)0:0.0;\n'
    "$prog" --support "$work/t.nwk" >"$work/out"
    [ "$(wc -l <"$work/out")" = 9 ] && grep -qxF '(X:0.5,(B:1.0,(A:1.0,((C:1.0,D:1.0)10:0.001,E:1.0)20:0.1)30:0.01):0.5)0:0.0;' "$work/out" ||
        { echo "--support example"; cat "$work/out"; failed=1; } ;;
std_several)
    # Trees several to a line, over several lines, after a byte-order mark,
    # with CR LF line ends.
    text '\xef\xbb\xbf(A,B)R; (C:1,(D,E)F);\r\n[&R] (\r\n  G,\r\n  (H, I) J\r\n) K\r\n;\r\n\r\n'
    lines '(A,B)R;\n(C:0.5,(D,E)F:0.5);\n(D,(E,C:1)F);\n(E,(D,C:1)F);\n[&R](G,(H,I)J)K;\n[&R](H,(I,G)J)K;\n[&R](I,(H,G)J)K;\n'
    expect 0 "$work/want" "" -- --standard "$work/t.nwk"
    # A hundred thousand trees.
    awk 'BEGIN { for (i = 0; i < 100000; i++) printf "(A%d:1,(B:2,C:3)X:4);\n", i }' >"$work/t.nwk"
    "$prog" --standard "$work/t.nwk" >"$work/out"
    [ $? = 0 ] && [ "$(wc -l <"$work/out")" = 300000 ] && [ "$(tail -n 1 "$work/out")" = '(C:1.5,(B:2,A99999:5)X:1.5);' ] ||
        { echo "100000 trees"; tail -n 2 "$work/out"; failed=1; } ;;
std_errors)
    # An error in the third of five trees: the first two are written in full,
    # nothing of the third.
    text '(A,B);\n(C,(D,E));\n(F,\n (G,H)I J);\n(K,L);\n(M,N);\n'
    lines '(A,B);\n(C,(D,E));\n(D,(E,C));\n(E,(D,C));\n'
    expect 255 "$work/want" "tree 3, line 4, column 9: unexpected 'J': a label with blanks must be quoted" -- --standard "$work/t.nwk"
    text '(A,B);\n(C,D)'
    lines '(A,B);\n'
    expect 255 "$work/want" "tree 2, line 2, column 6: tree ends without ';'" -- --support - <"$work/t.nwk"
    text "(A,'B);"
    expect 255 $none "tree 1, line 1, column 4: unterminated quote" -- --standard "$work/t.nwk"
    text ' \n\n'
    expect 255 $none "tree 1, line 3, column 1: no tree in the input" -- --standard "$work/t.nwk"
    expect 255 $none "tree 1, line 1, column 1: no tree in the input" -- --standard /dev/null ;;
std_write_fails)
    "$prog" --standard "$src/examples/sample.nwk" >/dev/full 2>"$work/err"
    status=$?
    [ "$status" = 255 ] || { echo "status $status, expected 255"; failed=1; }
    grep -qx 'output not written: No space left on device' "$work/err" || { cat "$work/err"; failed=1; } ;;
std_deep)
    # A caterpillar of a million leaves with lengths, nested a million deep;
    # its first rooting, above L0, turns every node on the way.
    n=1000000
    awk -v n=$n 'BEGIN { for (i = 1; i < n; i++) printf "(";
        printf "L0:1,L1:1)"; for (i = 2; i < n; i++) printf ":1,L%d:1)", i; printf ";\n" }' >"$work/t.nwk"
    "$prog" --standard "$work/t.nwk" 2>"$work/err" | head -n 1 >"$work/out"
    status=${PIPESTATUS[0]}
    [ "$status" = 0 ] || [ "$status" = 141 ] || { echo "status $status"; failed=1; }
    [ "$(head -c 23 "$work/out")" = '(L0:0.5,(L1:1,(L2:1,(L3' ] && grep -qF ',L999999:2):1):1)' "$work/out" && [ "$(tail -c 9 "$work/out")" = '1):0.5);' ] ||
        { echo "first rooting differs"; head -c 100 "$work/out"; failed=1; }
    [ ! -s "$work/err" ] || { cat "$work/err"; failed=1; } ;;
std_reader_gone)
    # SIGPIPE ignored, as some callers leave it: once the reader of the pipe
    # has gone, the first failed write ends the run with its error, not the
    # last of a tree's 200,000 rootings of a megabyte each.
    n=100000
    awk -v n=$n 'BEGIN { for (i = 1; i < n; i++) printf "(";
        printf "L0:1,L1:1)"; for (i = 2; i < n; i++) printf ":1,L%d:1)", i; printf ";\n" }' >"$work/t.nwk"
    (trap '' PIPE; timeout "$limit" "$prog" --standard "$work/t.nwk" 2>"$work/err" | head -c 100 >/dev/null
     echo "${PIPESTATUS[0]}" >"$work/status")
    [ "$(cat "$work/status")" = 255 ] || { echo "status $(cat "$work/status"), expected 255"; failed=1; }
    grep -qx 'output not written: Broken pipe' "$work/err" || { cat "$work/err"; failed=1; } ;;
std_stream)
    # A pipe whose writer stays open after the first tree: its rootings come
    # out before the input ends.
    mkfifo "$work/pipe"
    (printf '(A,(B,C));\n'; exec sleep 3) >"$work/pipe" &
    timeout 1 "$prog" --standard "$work/pipe" >"$work/out"
    lines '(A,(B,C));\n(B,(C,A));\n(C,(B,A));\n'
    cmp -s "$work/out" "$work/want" || { echo "nothing came out before the input ended"; failed=1; }
    kill $! 2>/dev/null ;;
nexus_options)
    # A NEXUS file of three trees: every option writes, for each tree, what
    # it writes for the same tree in Newick, keys and all, as TREE commands
    # in the TREES block, the other blocks as read; with --newick, what it
    # writes for the tree with its leaves named.
    printf '#NEXUS\n[written by hand]\nbegin taxa; dimensions ntax=5; taxlabels A B C %s E; end;\nbegin trees;\n' "'D d'" >"$work/t.nex"
    printf '\ttranslate 1 A, 2 B, 3 C, 4 %s, 5 E;\n\ttree one = [&R] ((1:1,2:2)X:3,(3:4,4:5)Y:6);\n' "'D d'" >>"$work/t.nex"
    printf '\ttree * two [&lnP=-1] = (1:1,2:3,(3:1,4:1)90:1);\n\tutree three = (1:2,(2:1,(3:1,(4:1,5:1)80:0.5)70:1)60:1);\nend;\n' >>"$work/t.nex"
    printf '[&R] ((1:1,2:2)X:3,(3:4,4:5)Y:6);\n(1:1,2:3,(3:1,4:1)90:1);\n(1:2,(2:1,(3:1,(4:1,5:1)80:0.5)70:1)60:1);\n' >"$work/keys.nwk"
    sed "s/1:/A:/g; s/2:/B:/g; s/3:/C:/g; s/4:/'D d':/g; s/5:/E:/g" "$work/keys.nwk" >"$work/names.nwk"
    for args in --standard --support "--outgroup 3" --midpoint --minvar --mad; do
        "$prog" $args "$work/keys.nwk" >"$work/keys.out" && "$prog" ${args/--outgroup 3/--outgroup C} "$work/t.nex" >"$work/out" ||
            { echo "$args: status"; failed=1; continue; }
            # The NEXUS around the lines, then the lines less their TREE command.
        { sed -n '1,3p' "$work/t.nex"; printf 'begin trees;\n\ttranslate 1 A, 2 B, 3 C, 4 %s, 5 E;\n' "'D d'"; } >"$work/want"
        head -n 5 "$work/out" | cmp -s - "$work/want" && [ "$(tail -n 1 "$work/out")" = 'END;' ] ||
            { echo "$args: blocks"; cat "$work/out"; failed=1; }
        sed -n 's/^\tTREE [^=]*= \(\[&lnP=-1\] \)\{0,1\}//p' "$work/out" | cmp -s - "$work/keys.out" ||
            { echo "$args: trees"; cat "$work/out"; failed=1; }
        "$prog" ${args/--outgroup 3/--outgroup C} "$work/names.nwk" >"$work/want"
        expect 0 "$work/want" "" -- ${args/--outgroup 3/--outgroup C} --newick "$work/t.nex"
    done 2>/dev/null
    # An outgroup named with a blank, as TRANSLATE names it.
    "$prog" --outgroup 'D d' --newick "$work/t.nex" | tr '\n' '|' >"$work/out"
    [ "$(cat "$work/out")" = "[&R]('D d':2.5,(C:4,(A:1,B:2)X:9)Y:2.5);|('D d':0.5,(C:1,(A:1,B:3):1)90:0.5);|('D d':0.5,(E:1,(C:1,(B:1,A:3)60:1)70:0.5)80:0.5);|" ] ||
        { echo "--outgroup 'D d'"; cat "$work/out"; failed=1; }
    # The trees' names: the k-th rooting of a tree "name_k", the default
    # tree's "*" on its first; one command a tree with a method.
    "$prog" --standard "$work/t.nex" | sed -n 's/^\tTREE \([^=]*\)= .*/\1/p' | tr '\n' '|' >"$work/out"
    [ "$(cat "$work/out")" = 'one_1 |one_2 |one_3 |one_4 |one_5 |* two_1 |two_2 |two_3 |two_4 |two_5 |three_1 |three_2 |three_3 |three_4 |three_5 |three_6 |three_7 |' ] ||
        { echo "names:"; cat "$work/out"; failed=1; }
    "$prog" --midpoint "$work/t.nex" | sed -n 's/^\tTREE \([^=]*\)= .*/\1/p' | tr '\n' '|' >"$work/out"
    [ "$(cat "$work/out")" = 'one |* two |three |' ] || { echo "names:"; cat "$work/out"; failed=1; }
    # Comments about a tree's name stand after the "=".
    "$prog" --midpoint "$work/t.nex" | grep -qxF "$(printf '\tTREE * two = [&lnP=-1] (2:2.5,(1:1,(3:1,4:1)90:1):0.5);')" ||
        { echo "comments after '='"; failed=1; }
    # --newick alone is --standard; with Newick input it changes nothing.
    "$prog" --newick "$work/t.nex" | head -n 1 >"$work/out"
    [ "$(cat "$work/out")" = '[&R](A:0.5,(B:2,(C:4,'"'D d'"':5)Y:9)X:0.5);' ] || { echo "--newick"; cat "$work/out"; failed=1; }
    "$prog" --support "$work/keys.nwk" >"$work/want"
    expect 0 "$work/want" "" -- --support --newick "$work/keys.nwk"
    # Scores name the leaves.
    "$prog" --minvar --scores "$work/t.nex" | sed -n 2p >"$work/out"
    [ "$(cut -f 3 "$work/out")" = A ] || { echo "--scores"; cat "$work/out"; failed=1; } ;;
nexus_errors)
    # An error in the third of five trees: the first two written in full,
    # nothing of the third; an error outside any tree names the next.
    printf '#NEXUS\nbegin trees;\n translate 1 A, 2 B, 3 C;\n tree a = (1,2);\n tree b = (1,(2,3));\n' >"$work/t.nex"
    printf ' tree c = (1,2\n tree d = (1,2);\n tree e = (1,2);\nend;\n' >>"$work/t.nex"
    printf '(A,B);\n(A,(B,C));\n(B,(C,A));\n(C,(B,A));\n' >"$work/want"
    expect 255 "$work/want" "tree 3, line 7, column 2: unexpected 't': a label with blanks must be quoted" -- --newick "$work/t.nex"
    printf '#NEXUS\nbegin trees;\n\ttranslate 1 A, 2 B, 3 C;\n\tTREE a = (1,2);\n\tTREE b = (1,(2,3));\n' >"$work/want"
    expect 255 "$work/want" "tree 3, line 7, column 2: unexpected 't': a label with blanks must be quoted" -- --outgroup A "$work/t.nex"
    printf '#NEXUS\nbegin trees;\n tree a = (1,2);\n translate 1 A, 1 B;\n tree b = (1,2);\nend;\n' >"$work/t.nex"
    lines '#NEXUS\nbegin trees;\n\tTREE a_1 = (1,2);\n'
    expect 255 "$work/want" "tree 2, line 4, column 17: TRANSLATE key '1' given twice" -- --standard "$work/t.nex"
    printf '#NEXUS\nbegin taxa; end;\n' >"$work/t.nex"
    expect 255 "$work/t.nex" "tree 1, line 3, column 1: no tree in the input" -- --outgroup A "$work/t.nex" ;;
nexus_memory)
    # A million trees take the memory of ten thousand. (Between a thousand
    # and ten thousand the peak still settles: by 130 KB, by 1.1 MB under
    # AddressSanitizer; not after.)
    command -v /usr/bin/time >/dev/null || { echo "no /usr/bin/time: skipped"; exit 0; }
    for n in 10000 1000000; do
        awk -v n=$n 'BEGIN { print "#NEXUS\nbegin trees;\ntranslate 1 A, 2 B, 3 C, 4 D;";
            for (i = 0; i < n; i++) printf "tree t%d = [&R] ((1:1,2:2):1,(3:1,4:1):1);\n", i; print "end;" }' >"$work/t.nex"
        # (AddressSanitizer holds freed memory back: none here.)
        ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}quarantine_size_mb=0 \
            /usr/bin/time -f %M -o "$work/kb.$n" "$prog" --outgroup A "$work/t.nex" >"$work/out" ||
            { echo "$n trees: status"; failed=1; }
        [ "$(grep -c '^	TREE' "$work/out")" = $n ] || { echo "$n trees: $(grep -c '^	TREE' "$work/out") lines"; failed=1; }
    done
    small=$(tail -n 1 "$work/kb.10000") big=$(tail -n 1 "$work/kb.1000000")
    [ "$big" -le $((small + 1024)) ] || { echo "peak $small KB for 10,000 trees, $big KB for 1,000,000"; failed=1; } ;;
readme)
    # Every "    $ command" of the README gives the lines shown after it,
    # run where the examples are, and what it writes left there.
    mkdir "$work/bin" "$work/run"
    ln -s "$src/examples" "$work/run/examples"
    ln -s "$(cd "$(dirname "$prog")" && pwd)/$(basename "$prog")" "$work/bin/quorlen"
    awk '/^    \$ / { if (cmd != "") print cmd "\t" out; cmd = substr($0, 7); out = ""; next }
        /^    / && cmd != "" { line = substr($0, 5); gsub(/\t/, "\\t", line); out = out line "\\n"; next }
        { if (cmd != "") print cmd "\t" out; cmd = "" }' "$src/README.md" >"$work/cases"
    [ "$(wc -l <"$work/cases")" -ge 10 ] || { echo "few README examples found"; failed=1; }
    while IFS=$'\t' read -r cmd out; do
        got=$(cd "$work/run" && PATH="$work/bin:$PATH" bash -c "$cmd" 2>&1; echo x)
        want=$(printf "${out//%/%%}"; echo x)
        [ "$got" = "$want" ] || { echo "README: $cmd"; diff <(echo "$want") <(echo "$got") | head; failed=1; }
    done <"$work/cases" ;;
clock)
    # Rooting by dates: three trees, each with its line, its leaves' rows,
    # its summary and its picture; every tree's dates fit a rate of 1.
    cat >"$work/t.nwk" <<'TREES'
((A_2000:1,B_2001:2):1,(C_2002:3,D_2004:5):0.5);
(A_2002.5:1,B_2002.5:1,(C_2001.5:1,D_2003.5:3):2);
(A_2001:1,B_2002:2,(C_2002:1,D_2003:2):1);
TREES
    lines '((A_2000:1,B_2001:2):0.75,(C_2002:3,D_2004:5):0.75);\n((C_2001.5:1,D_2003.5:3):0.5,(A_2002.5:1,B_2002.5:1):1.5);\n(A_2001:1,(B_2002:2,(C_2002:1,D_2003:2):1):0);\n'
    expect 0 "$work/want" "" -- --clock --dates-from-names --tips "$work/tips" --summary "$work/summary" \
        --plot "$work/p.svg" "$work/t.nwk"
    printf '%s\n' 'tree	name	date	distance	residual	outlier' \
        '1	A_2000	2000	1.75	0	0' '1	B_2001	2001	2.75	0	0' '1	C_2002	2002	3.75	0	0' '1	D_2004	2004	5.75	0	0' \
        '2	A_2002.5	2002.5	2.5	0	0' '2	B_2002.5	2002.5	2.5	0	0' '2	C_2001.5	2001.5	1.5	0	0' '2	D_2003.5	2003.5	3.5	0	0' \
        '3	A_2001	2001	1	0	0' '3	B_2002	2002	2	0	0' '3	C_2002	2002	2	0	0' '3	D_2003	2003	3	0	0' >"$work/want"
    cmp -s "$work/tips" "$work/want" || { echo "tips differ:"; cat "$work/tips"; failed=1; }
    printf '%s\n' 'tree	leaves	dated	branch	position	rate	root_date	r2	rms	outliers	signal' \
        '1	4	4	3	0.75	1	1998.25	1	0	0	ok' '2	4	4	5	0.5	1	2000	1	0	0	ok' '3	4	4	1	1	1	2000	1	0	0	ok' >"$work/want"
    cmp -s "$work/summary" "$work/want" || { echo "summary differs:"; cat "$work/summary"; failed=1; }
    for svg in p.svg:1998.25 p-2.svg:2000 p-3.svg:2000; do
        head -c 5 "$work/${svg%:*}" | grep -q '<?xml' && tail -n 1 "$work/${svg%:*}" | grep -q '</svg>' &&
            grep -q "root date ${svg#*:}" "$work/${svg%:*}" || { echo "picture ${svg%:*}"; failed=1; }
    done
    # The same by a table of dates, and by R^2: the same points.
    printf 'strain,date\nA_2000,2000\nB_2001,2001\nC_2002,2002\nD_2004,2004\n' >"$work/dates.csv"
    head -n 1 "$work/t.nwk" >"$work/one.nwk"
    lines '((A_2000:1,B_2001:2):0.75,(C_2002:3,D_2004:5):0.75);\n'
    expect 0 "$work/want" "" -- --clock=r2 --dates "$work/dates.csv" "$work/one.nwk"
    # An error in the second tree: the first's line and rows are out.
    sed -i '2s/.*/(A_2002.5:1,B:1,C:2);/' "$work/t.nwk"
    lines '((A_2000:1,B_2001:2):0.75,(C_2002:3,D_2004:5):0.75);\n'
    expect 255 "$work/want" "tree 2: fewer than two leaves have dates" -- --clock --dates-from-names \
        --tips "$work/tips" --summary "$work/summary" "$work/t.nwk"
    [ "$(wc -l <"$work/tips")" = 5 ] && [ "$(wc -l <"$work/summary")" = 2 ] || { echo "rows before the error"; failed=1; }
    # NEXUS: dates by the names TRANSLATE gives the keys.
    printf '#NEXUS\nbegin trees;\n translate 1 A, 2 B, 3 C, 4 D;\n tree one = ((1:1,2:2):1,(3:3,4:5):0.5);\nend;\n' >"$work/t.nex"
    printf 'name\tdate\nA\t2000\nB\t2001\nC\t2002\nD\t2004\n' >"$work/dates.tsv"
    lines '((A:1,B:2):0.75,(C:3,D:5):0.75);\n'
    expect 0 "$work/want" "" -- --clock --newick --dates "$work/dates.tsv" --summary "$work/summary" "$work/t.nex"
    [ "$(cut -f 6-7 "$work/summary" | tail -n 1)" = '1	1998.25' ] || { echo "NEXUS summary"; cat "$work/summary"; failed=1; }
    # A dates file that cannot be read, and one with a fault: nothing out.
    expect 255 $none "dates file '$work/none.csv' not opened: No such file or directory" -- --clock --dates "$work/none.csv" "$work/one.nwk"
    printf 'name,date\nA,2000\nA,2001\n' >"$work/dates.csv"
    expect 255 $none "$work/dates.csv, line 3: 'A' is given twice" -- --clock --dates "$work/dates.csv" "$work/one.nwk"
    # A caterpillar of a million dated leaves, each dated by its depth: a
    # clock without noise, whose sums over chains a million long leave the
    # best point known to some millionths of the dates' span.
    n=1000000
    awk -v n=$n 'BEGIN { for (i = 1; i < n; i++) printf "(";
        printf "L0_%d:1,L1_%d:1)", 2000 + n - 1, 2000 + n - 1; for (i = 2; i < n; i++) printf ":1,L%d_%d:1)", i, 2000 + n - i; printf ";\n" }' >"$work/t.nwk"
    "$prog" --clock --dates-from-names --summary "$work/summary" "$work/t.nwk" >"$work/out" 2>"$work/err" &&
        [ "$(wc -c <"$work/out")" -gt 13000000 ] && [ ! -s "$work/err" ] &&
        awk -F'\t' 'NR == 2 { exit !($6 > 0.999999 && $6 < 1.000001 && $7 > 1900 && $7 < 2100 && $8 > 0.999999) }' "$work/summary" ||
        { echo "caterpillar"; cat "$work/err" "$work/summary"; failed=1; } ;;
usage_errors)
    # A wrong command line with an option: what is wrong, on one line, then
    # where to look; nothing on standard output. T stands for a tree file.
    text '(A:1,(B,C)X:2);'
    try="Try 'quorlen --help' for more information."
    while IFS='|' read -r args message; do
        # shellcheck disable=SC2086
        expect 255 $none "quorlen: ${message//\'T\'/\'$work/t.nwk\'}
$try" -- ${args//T/$work/t.nwk}
    done <<'TABLE'
--standard|no tree file given
--support|no tree file given
--standard T T|more than one tree file given ('T', 'T')
--bogus T|unknown option '--bogus'
--midpont T|unknown option '--midpont'
--help-me|unknown option '--help-me'
-x T|unknown option '-x'
--sup T|unknown option '--sup'
--midpoint=yes T|--midpoint takes no value
T --outgroup|--outgroup needs a comma-separated list of leaf names
--outgroup= T|--outgroup needs a comma-separated list of leaf names
--outgroup A,,B T|--outgroup needs a comma-separated list of leaf names
--outgroup , T|--outgroup needs a comma-separated list of leaf names
--outgroup T|no tree file given
--midpoint --minvar T|--midpoint and --minvar cannot be combined
--mad --midpoint T|--mad and --midpoint cannot be combined
--outgroup A --outgroup B --mad T|--outgroup and --mad cannot be combined
--minvar --outgroup A T|--minvar and --outgroup cannot be combined
--mad --mad T|--mad is given twice
--scores T|--scores goes with --minvar, --mad or --clock
--scores --midpoint T|--scores goes with --minvar, --mad or --clock
--outgroup A --scores T|--scores goes with --minvar, --mad or --clock
--clock T|--clock needs --dates FILE or --dates-from-names
--clock --dates D --dates-from-names T|--dates and --dates-from-names cannot be combined
--dates D T|--dates goes with --clock
--midpoint --dates-from-names T|--dates-from-names goes with --clock
--midpoint --tips X T|--tips goes with --clock
--clock=r3 --dates-from-names T|--clock takes r2 or no value, not 'r3'
--clock --dates-from-names --summary - T|--summary writes to a file, not to standard output
--clock --dates= T|--dates needs a file name
--clock --dates-from-names --minvar T|--clock and --minvar cannot be combined
TABLE
    expect 255 $none "quorlen: --outgroup needs a comma-separated list of leaf names
$try" -- --outgroup "" "$work/t.nwk"
    # The first of --help and --version counts, whatever else is wrong.
    "$prog" --bogus --mad --midpoint --help >"$work/out" && head -n 1 "$work/out" | grep -q '^Usage: quorlen' ||
        { echo "--help after wrong options"; failed=1; }
    lines 'quorlen 0.2.0\n'
    expect 0 "$work/want" "" -- --scores --version --help
    # "--outgroup=A" is "--outgroup A".
    lines '(A:1.5,(B,C)X:1.5);\n'
    expect 0 "$work/want" "" -- --outgroup=A "$work/t.nwk" ;;
roots_options)
    # The root-choosing options (their wrong combinations: usage_errors).
    text '((A:1,B:2)X:3,(C:4,D:5)Y:6)R;\n'
    "$prog" --help >"$work/out"
    for o in --outgroup --midpoint --minvar --mad --scores; do
        grep -q -- "$o" "$work/out" || { echo "--help lacks $o"; failed=1; }
    done
    lines '(D:2.5,(C:4,(A:1,B:2)X:9)Y:2.5)R;\n'
    expect 0 "$work/want" "" -- --outgroup Q,Z --outgroup D "$work/t.nwk"
    expect 0 "$work/want" "" -- --standard --outgroup D - <"$work/t.nwk"
    lines '((A:1,B:2)X:6,(C:4,D:5)X:3)R;\n'
    expect 0 "$work/want" "" -- --midpoint --support "$work/t.nwk"
    expect 255 $none "file not opened" -- --mad "$work/missing.nwk" ;;
roots_methods)
    # One line a tree, in order, with every method.
    text '((A:1,B:2)X:3,(C:4,D:5)Y:6)R;\n(A:1,B:2,C:3);\n(A:1,B:3);\n'
    lines '((A:1,B:2)X:6,(C:4,D:5)Y:3)R;\n(C:2.5,(A:1,B:2):0.5);\n(A:2,B:2);\n'
    expect 0 "$work/want" "" -- --midpoint "$work/t.nwk"
    lines '((A:1,B:2)X:6,(C:4,D:5)Y:3)R;\n(C:2.25,(A:1,B:2):0.75);\n(A:2,B:2);\n'
    expect 0 "$work/want" "" -- --minvar "$work/t.nwk"
    lines '((A:1,B:2)X:6,(C:4,D:5)Y:3)R;\n(C:2.1951219512195124,(A:1,B:2):0.8048780487804876);\n(A:2,B:2);\n'
    expect 0 "$work/want" "" -- --mad "$work/t.nwk"
    lines '(A:0.5,(B:2,(C:4,D:5)Y:9)X:0.5)R;\n(A:0.5,(B:2,C:3):0.5);\n(A:2,B:2);\n'
    expect 0 "$work/want" "" -- --outgroup A "$work/t.nwk"
    # A tree's line is out before the next tree is read.
    mkfifo "$work/pipe"
    (printf '(A:1,B:3);\n'; exec sleep 3) >"$work/pipe" &
    timeout 1 "$prog" --midpoint "$work/pipe" >"$work/out"
    lines '(A:2,B:2);\n'
    cmp -s "$work/out" "$work/want" || { echo "nothing came out before the input ended"; failed=1; }
    kill $! 2>/dev/null ;;
roots_scores)
    text '((A:1,B:2)X:3,(C:4,D:5)Y:6)R;\n(A:1,B:2,C:3);\n'
    printf 'tree\tbranch\tnode\tleaves\tlength\tposition\tscore\tbest\n' >"$work/want"
    printf '1\t1\tA\t1\t1\t1\t36.25\t0\n1\t2\tB\t1\t2\t2\t36.24999999999999\t0\n1\t3\tX\t2\t9\t6\t0.25\t1\n' >>"$work/want"
    printf '1\t4\tC\t1\t4\t4\t9.249999999999998\t0\n1\t5\tD\t1\t5\t5\t9.25\t0\n' >>"$work/want"
    printf '2\t1\tA\t1\t1\t1\t0.6666666666666666\t0\n2\t2\tB\t1\t2\t2\t0.6666666666666666\t0\n' >>"$work/want"
    printf '2\t3\tC\t1\t3\t2.25\t0.16666666666666666\t1\n' >>"$work/want"
    expect 0 "$work/want" "" -- --minvar --scores "$work/t.nwk"
    "$prog" --mad --scores "$work/t.nwk" >"$work/out"
    [ $? = 0 ] && [ "$(wc -l <"$work/out")" = 9 ] && [ "$(awk -F'\t' '$8 == 1 { print $1 $3 }' "$work/out" | tr -d '\n')" = 1X2C ] ||
        { echo "--mad --scores"; cat "$work/out"; failed=1; } ;;
roots_errors)
    # An error in the third of five trees: the first two written in full.
    text '(A:1,B:2,C:1);\n(A:1,(B:1,C:1):1);\n((A,C),(B,D));\n(A:1,B:1);\n(A,B);\n'
    lines '(C:0.5,(A:1,B:2):0.5);\n(C:0.5,(B:1,A:2):0.5);\n'
    expect 255 "$work/want" "tree 3: the outgroup is not one side of any branch" -- --outgroup A,B "$work/t.nwk"
    text '(A:1,B:3);\n(A,B,C);\n'
    lines '(A:2,B:2);\n'
    expect 255 "$work/want" "tree 2: the longest path between two leaves has length 0" -- --midpoint "$work/t.nwk"
    text '(A:1,B:3,C:1);\n(A:1,B:-3,C:1);\n'
    lines '(B:2,(A:1,C:1):1);\n'
    expect 255 "$work/want" "tree 2: a negative branch length" -- --mad "$work/t.nwk"
    text '(A,A,B);\n'
    expect 255 $none "tree 1: the outgroup name 'A' is the name of more than one leaf" -- --outgroup A "$work/t.nwk"
    expect 255 $none "tree 1: no outgroup name is a leaf of the tree" -- --outgroup Z "$work/t.nwk"
    text '(A:1,B:3);\n(A:1,B:3'
    lines '(A:2,B:2);\n'
    expect 255 "$work/want" "tree 2, line 2, column 1: unbalanced parentheses: '(' not closed" -- --minvar "$work/t.nwk"
    "$prog" --midpoint "$src/examples/sample.nwk" >/dev/full 2>"$work/err"
    [ $? = 255 ] && grep -qx 'tree 1: the longest path between two leaves has length 0' "$work/err" || { cat "$work/err"; failed=1; }
    printf '(A:1,B:3);\n' | "$prog" --midpoint - >/dev/full 2>"$work/err"
    [ $? = 255 ] && grep -qx 'output not written: No space left on device' "$work/err" || { cat "$work/err"; failed=1; } ;;
roots_deep)
    # Nested a million deep: a caterpillar, and a chain of one-child nodes
    # above three leaves, which every method, quadratic ones too, can take.
    n=1000000
    awk -v n=$n 'BEGIN { for (i = 1; i < n; i++) printf "(";
        printf "L0:1,L1:1)"; for (i = 2; i < n; i++) printf ":1,L%d:1)", i; printf ";\n" }' >"$work/t.nwk"
    for o in "--outgroup L0" --midpoint --minvar; do
        "$prog" $o "$work/t.nwk" >"$work/out" 2>"$work/err"
        [ $? = 0 ] && [ "$(wc -c <"$work/out")" -gt 13000000 ] && [ ! -s "$work/err" ] || { echo "caterpillar $o"; cat "$work/err"; failed=1; }
    done
    [ "$(head -c 23 "$work/out")" = '((((((((((((((((((((((('  ] || failed=1
    awk -v n=$n 'BEGIN { printf "("; for (i = 1; i < n; i++) printf "(";
        printf "A:1,B:1)"; for (i = 2; i < n; i++) printf ":1)"; printf ":1,C:1);\n" }' >"$work/t.nwk"
    for o in "--outgroup C" --midpoint --minvar --mad; do
        "$prog" $o "$work/t.nwk" >"$work/out" 2>"$work/err"
        [ $? = 0 ] && [ "$(wc -c <"$work/out")" -gt 4000000 ] && [ ! -s "$work/err" ] || { echo "chain $o"; cat "$work/err"; failed=1; }
    done ;;
*)
    echo "no case $case"; exit 2 ;;
esac
exit $failed
