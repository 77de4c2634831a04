#!/bin/sh
# Checks the documents the XML tests wrote with an independent parser.
# Usage: xmllint.sh FOLDER MIN_COUNT
set -eu
folder=$1
min=$2
count=$(ls "$folder"/*.xml 2>/dev/null | wc -l)
if [ "$count" -lt "$min" ]; then
    echo "expected at least $min documents in $folder, found $count"
    exit 1
fi
xmllint --noout "$folder"/*.xml
echo "$count documents are well-formed"
