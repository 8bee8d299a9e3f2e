#!/bin/bash
# pxrr_outgroup.sh FILE NAMES [PXRR-OPTIONS...]: every tree of FILE rooted by
# phyx's pxrr on the leaves NAMES (comma-separated, no blanks), written one a
# line. pxrr roots on their common ancestor and needs every name in every
# tree (a tree without one is not written) unless given -s (then it is
# written as read). With -r the names are a ranked list of single leaves:
# the tree is rooted on the first one present. pxrr runs in a folder of its
# own, for it leaves a phyx.logfile in the folder it runs in.
# Needs Debian's phyx.
if [ $# -lt 2 ]; then
    echo "usage: pxrr_outgroup.sh FILE NAMES [PXRR-OPTIONS...]" >&2
    exit 2
fi
file=$(realpath -- "$1") || exit 1
names=$2
shift 2
folder=$(mktemp -d) || exit 1
(cd "$folder" && exec pxrr -t "$file" -g "$names" "$@")
status=$?
rm -rf "$folder"
exit $status
