#!/usr/bin/env bash
# real-files.sh QUORLEN: quorlen on the NEXUS tree files that real programs wrote.
# Files: those shipped by the Debian packages below that are installed (found
# anew at each run: #NEXUS at the start and a TREES block; gzipped ones are
# unpacked), the *.nex beside this script (see SOURCES), and the trees of a
# short MrBayes run (mrbayes-run.sh) when `mb` is installed. A file of more
# than 100 trees is cut to its first ones, header, TRANSLATE table and
# END; kept. Files with no tree, or not NEXUS, are listed and skipped.
# For each file, --standard, --support, --outgroup X (X: the first name of
# the TRANSLATE table, else the first leaf), --midpoint, --minvar and --mad,
# each with NEXUS output and with --newick, must:
# - exit 0, except where the program must refuse with status 255: --midpoint
#   when a tree has no length at all, --mad when a length is negative;
# - write NEXUS (#NEXUS first, the TRANSLATE table kept if the input had one),
#   or with --newick no NEXUS at all, and no leaf left as its TRANSLATE key;
# - write one tree a branch (--standard, --support) or one a tree (the rest);
# - read back: quorlen --standard on the output (on its first trees only when
#   they are big: every rooting of a 500 KB tree is 700 MB) exits 0.
# Prints one line a file and option, then 'N passed, N failed'; exits 1 on a
# failure. Needs: bash, perl (Debian's, with IO::Uncompress::Gunzip), gzip, dpkg,
# coreutils; optional: mrbayes.
set -euo pipefail
[ $# -eq 1 ] || { echo "usage: $0 QUORLEN" >&2; exit 2; }
q=$(realpath "$1")
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
packages=(python-biopython-doc python3-biopython beast-mcmc beast-mcmc-examples
          beast2-mcmc beast2-mcmc-examples figtree mrbayes mrbayes-doc r-cran-ape
          r-cran-phangorn python3-dendropy python3-ete3 phyx)
max_trees=100        # trees of an input kept
readback_bytes=600000  # trees of an output read back: the first, and more up to this size

# facts < FILE: 'skip<TAB>why', or 'ok<TAB>trees<TAB>branches<TAB>no-length<TAB>negative<TAB>translate<TAB>first name'.
# Comments go first (nested ones too), quoted labels stay whole: they may hold [ ; , ( ).
facts() {
    perl -0777 -ne '
        s/^\xef\xbb\xbf//;
        /^\s*#nexus/i or do { print "skip\tnot NEXUS (no #NEXUS at its start)\n"; exit };
        s/(\x27(?:[^\x27]|\x27\x27)*\x27)|(\[(?:[^\[\]]++|(?2))*\])/defined $1 ? $1 : " "/ge;
        my $q = qr/\x27(?:[^\x27]|\x27\x27)*\x27/;
        my @blocks = /\bbegin\s+trees\s*;(.*?)\bend(?:block)?\s*;/sig;
        @blocks or do { print "skip\tNEXUS without a TREES block\n"; exit };
        my @trees = map { /(?:^|(?<=;))\s*u?tree\s+(?:$q|[^=;])*=((?:$q|[^;\x27])*);/sig } @blocks;
        @trees or do { print "skip\tTREES block without a tree\n"; exit };
        my ($first) = $blocks[0] =~ /\btranslate\s+\S+\s+($q|[^\s,;]+)/i;
        ($first) = $trees[0] =~ /($q|[^\s(),:;\x27]+)/ unless defined $first;
        $first =~ s/^\x27(.*)\x27$/$1/s and $first =~ s/\x27\x27/\x27/g;
        my ($branches, $nolen, $neg) = (0, 0, 0);
        for (@trees) {
            s/$q/x/g;
            my ($open, $commas) = (tr/(//, tr/,//);
            my ($depth, $children) = (0, 1);
            for my $c (/[(),]/g) {
                $depth++ if $c eq "(";
                $children++ if $c eq "," && $depth == 1;
                $depth-- if $c eq ")";
            }
            $branches += $open + $commas - ($open && $children == 2 ? 1 : 0);
            $nolen = 1 unless /:/;
            $neg = 1 if /:\s*-/;
        }
        my $translate = $blocks[0] =~ /\btranslate\s/i ? 1 : 0;
        print join("\t", "ok", scalar @trees, $branches, $nolen, $neg, $translate, $first), "\n";'
}

# keep K BYTES NEXUS COUNT-FILE: the text with the tree lines after the K-th,
# or after BYTES of them (the first is always kept), left out; how many there
# were into COUNT-FILE. Tree lines: 'tree ...;' commands if NEXUS is 1, else
# every non-blank line. Reads all its input, so the writer is not cut short.
keep() {
    awk -v k="$1" -v budget="$2" -v nex="$3" -v cnt="$4" '
        !intree && (nex ? tolower($0) ~ /^[ \t]*u?tree[ \t]/ : $0 ~ /[^ \t\r]/) {
            n++; intree = 1; kept = n <= k && (n == 1 || bytes < budget) }
        !intree || kept { print; if (intree) bytes += length($0) }
        intree && index($0, ";") { intree = 0 }
        END { print n + 0 > cnt }'
}

passed=0 failed=0
say() {  # say pass|FAIL FILE OPTIONS NOTE
    printf '%-4s  %-26s %-32s %s\n' "$@"
    if [ "$1" = pass ]; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
}

# check NAME FILE ORIGIN: every option on FILE (a copy of ORIGIN), NEXUS and Newick output.
check() {
    local name=$1 file=$2 origin=$3 verdict ntrees branches nolen neg translate first
    IFS=$'\t' read -r verdict ntrees branches nolen neg translate first < <(facts < "$file")
    if [ "$verdict" = skip ]; then skipped+=("$origin: $ntrees"); return; fi
    if [ "$ntrees" -gt "$max_trees" ]; then
        keep "$max_trees" 1e18 1 /dev/null < "$file" > "$file.cut"
        echo "      $name: its first $max_trees trees of $ntrees"
        file=$file.cut
        IFS=$'\t' read -r verdict ntrees branches nolen neg translate first < <(facts < "$file")
    fi
    local opt nw
    for opt in --standard --support --outgroup --midpoint --minvar --mad; do
        for nw in "" --newick; do
            local args=("$opt") want=$ntrees refuse=''
            [ "$opt" = --outgroup ] && args+=("$first")
            [ -n "$nw" ] && args+=("$nw")
            case $opt in --standard | --support) want=$branches ;; esac
            [ "$opt" = --midpoint ] && [ "$nolen" = 1 ] && refuse='length 0'
            [ "$opt" = --mad ] && [ "$neg" = 1 ] && refuse='negative'
            local nex=1; [ -n "$nw" ] && nex=0
            { st=0; timeout 60 "$q" "${args[@]}" "$file" 2>"$work/err" || st=$?; echo $st >"$work/status"; } |
                keep 1000000000 "$readback_bytes" "$nex" "$work/count" >"$work/out"
            local status count err why='' head1=''
            status=$(<"$work/status") count=$(<"$work/count") err=$(<"$work/err")
            err=${err:0:100}
            if [ -n "$refuse" ]; then
                if [ "$status" = 255 ] && [[ $err == *"$refuse"* ]]; then
                    say pass "$name" "${args[*]}" "refused: $err"
                else
                    say FAIL "$name" "${args[*]}" "status $status, must refuse ('$refuse'): $err"
                fi
                continue
            fi
            IFS= read -r -n 6 head1 <"$work/out" || true
            if [ "$status" != 0 ]; then why="status $status: $err"
            elif [ "$nex" = 1 ] && ! [[ ${head1^^} == "#NEXUS" ]]; then why="NEXUS output without #NEXUS first"
            elif [ "$nex" = 0 ] && [[ ${head1^^} == "#NEXUS" ]]; then why="--newick wrote NEXUS"
            elif [ "$nex" = 1 ] && [ "$translate" = 1 ] && ! grep -qi '^[[:space:]]*translate' "$work/out"; then why="TRANSLATE table lost"
            elif [ "$count" != "$want" ]; then why="$count trees written, $want expected"
            elif [ "$nex" = 0 ] && [ "$translate" = 1 ] && [[ ! $first =~ ^[0-9]+$ ]] &&
                 grep -qE '[(,][0-9]+[]:,)[]' "$work/out"; then why="a leaf's number is left untranslated"
            elif ! timeout 60 "$q" --standard "$work/out" >/dev/null 2>"$work/err"; then
                err=$(<"$work/err") why="output does not read back: ${err:0:100}"
            fi
            if [ -n "$why" ]; then say FAIL "$name" "${args[*]}" "$why"; else say pass "$name" "${args[*]}" "$count trees"; fi
        done
    done
}

skipped=()
# Files of the installed packages that start with #NEXUS, or hold a TREES
# block all the same (these are listed as skipped), gzipped or not.
mapfile -t found < <(for p in "${packages[@]}"; do dpkg -L "$p" 2>/dev/null || true; done | sort -u |
    perl -MIO::Uncompress::Gunzip=gunzip -lne '
        next unless -f && -s _ < 50e6;
        my $t;
        if (/\.gz$/) { gunzip($_ => \$t) or next } else { open my $h, "<", $_ or next; local $/; $t = <$h> }
        print if $t =~ /^(?:\xef\xbb\xbf)?\s*#nexus/i || $t !~ /\0/ && $t =~ /(?:^|[\r\n])\s*begin\s+trees\s*;/i')
[ ${#found[@]} -gt 0 ] || echo "no NEXUS file in the installed packages (${packages[*]}): skipped"
i=0
for f in "${found[@]}"; do
    i=$((i + 1))
    base=$(basename "$f" .gz)
    zcat -f -- "$f" >"$work/$i-$base"
    check "$base" "$work/$i-$base" "$f"
done

# real files kept beside this script, checked even where no package is installed
for f in "$here"/*.nex; do
    if [ -f "$f" ]; then check "tests/nexus:$(basename "$f")" "$f" "$f"; fi
done

if command -v mb >/dev/null; then
    if mapfile -t mbfiles < <(bash "$here/mrbayes-run.sh" "$work/mb") && [ ${#mbfiles[@]} -gt 0 ]; then
        for f in "${mbfiles[@]}"; do check "mrbayes:$(basename "$f")" "$f" "$f"; done
    else
        say FAIL mrbayes-run.sh "" "MrBayes did not run"
    fi
else
    echo "mb (MrBayes) not installed: its output not checked"
fi

if [ ${#skipped[@]} -gt 0 ]; then
    echo "skipped, no NEXUS tree file (${#skipped[@]}):"
    printf '  %s\n' "${skipped[@]}"
fi
echo "$passed passed, $failed failed"
[ "$failed" = 0 ]
