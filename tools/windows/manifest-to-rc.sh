#!/bin/sh
# Writes the resource script that windres compiles into the PE stub, from the same manifest
# that rescomp reads for the Linux stub (see its header for the fields).
#
#   manifest-to-rc.sh MANIFEST OUTPUT.rc ZERO_FOLDER
#
# A zero:N slot becomes a file of N zero bytes in ZERO_FOLDER, as windres reads data from files.
set -eu

manifest=$(realpath "$1")
output=$2
zeros=$(realpath "$3")
base=$(dirname "$manifest")
mkdir -p "$zeros"

awk -v base="$base" -v zeros="$zeros" '
function type_of(t) {
    if (t == "RT_MANIFEST") return "24"
    if (t == "RT_RCDATA") return "RCDATA"
    if (t == "RT_ICON" || t == "RT_GROUP_ICON") return t
    return t
}
function quoted(path) { gsub(/\\/, "\\\\", path); return "\"" path "\"" }
/^[ \t]*(#|$)/ { next }
NF != 4 { printf "manifest-to-rc: line %d: four fields expected\n", NR > "/dev/stderr"; exit 1 }
{
    type = $1; name = toupper($2); language = $3 + 0; source = $4
    # LANGUAGE takes the primary and the sub-language of the id.
    printf "LANGUAGE %d, %d\n", language % 1024, int(language / 1024)
    if (source ~ /^icon:/) {
        if (type != "RT_GROUP_ICON") { print "manifest-to-rc: icon: needs RT_GROUP_ICON" > "/dev/stderr"; exit 1 }
        printf "%s ICON %s\n", name, quoted(base "/" substr(source, 6))
    } else if (source ~ /^file:/) {
        printf "%s %s %s\n", name, type_of(type), quoted(base "/" substr(source, 6))
    } else if (source ~ /^zero:[0-9]+$/) {
        size = substr(source, 6) + 0
        file = zeros "/zero" size ".bin"
        if (!(file in made)) {
            made[file] = 1
            if (system("head -c " size " /dev/zero > \"" file "\"") != 0) exit 1
        }
        printf "%s %s %s\n", name, type_of(type), quoted(file)
    } else {
        printf "manifest-to-rc: line %d: unknown source %s\n", NR, source > "/dev/stderr"; exit 1
    }
}' "$manifest" > "$output.tmp"
mv "$output.tmp" "$output"
