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
# expect STATUS STDOUT-FILE STDERR-TEXT -- ARGS...: runs the program, compares.
expect() {
    local status=$1 out=$2 err=$3
    shift 4
    "$prog" "$@" >"$work/out" 2>"$work/err"
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
*)
    echo "no case $case"; exit 2 ;;
esac
exit $failed
