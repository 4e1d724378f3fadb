#!/usr/bin/env bash
# Prints a deb-src entry (deb822) for the Debian release this machine runs, made from the
# machine's own apt entry for that release's main suite: its URIs and its Signed-By. Reads the
# deb822 files in /etc/apt/sources.list.d and the one-line /etc/apt/sources.list. Exit 1 when
# the machine has no such entry.
#   KV_APT_SOURCES  the files to read (default: the machine's)
set -euo pipefail
codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")
files=()
for f in ${KV_APT_SOURCES:-/etc/apt/sources.list /etc/apt/sources.list.d/*.sources}; do
    [ -f "$f" ] && files+=("$f")
done
[ ${#files[@]} -gt 0 ] || exit 1
awk -v suite="$codename" '
    function flush() {
        if (types ~ /(^| )deb( |$)/ && (" " suites " ") ~ (" " suite " ") && uris != "" && !done) {
            print "Types: deb-src"; print "URIs: " uris; print "Suites: " suite
            print "Components: main"
            if (signed != "") print "Signed-By: " signed
            done = 1
        }
        types = ""; uris = ""; suites = ""; signed = ""
    }
    FNR == 1 { flush() }
    FILENAME ~ /\.sources$/ {
        if ($0 ~ /^[ \t]*$/) { flush(); next }
        if ($0 ~ /^#/) next
        key = tolower($1)
        sub(/^[^:]*:[ \t]*/, "")
        if (key == "types:") types = $0
        else if (key == "uris:") uris = $0
        else if (key == "suites:") suites = $0
        else if (key == "signed-by:") signed = $0
        next
    }
    # one-line form: deb [options] URI suite components...
    $1 == "deb" {
        opts = ""; i = 2
        if ($2 ~ /^\[/) { while (i <= NF) { opts = opts " " $i; if ($i ~ /\]$/) { i++; break } i++ } }
        if ($(i + 1) == suite && !done) {
            types = "deb"; uris = $i; suites = suite
            if (match(opts, /signed-by=[^] ]+/)) signed = substr(opts, RSTART + 10, RLENGTH - 10)
            flush()
        }
    }
    END { flush(); exit done ? 0 : 1 }
' "${files[@]}"
