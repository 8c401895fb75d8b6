#!/bin/sh
# Makes the seed corpora of the fuzz targets from real inputs: launcher files and archives that
# sfxbuild and 7zz make, the string tables in resources/, the resource tree the stub carries.
# Usage: fuzz/make-corpora.sh BUILD_DIR OUT_DIR
#   BUILD_DIR: a build with bin/sfxbuild, bin/sfxstub and resources/sfx.rsrc
#   OUT_DIR:   gets one folder of seeds per target (fuzz_<name>/); made afresh
set -eu
build=$(cd "$1" && pwd)
out=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)

rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

for target in config_block resource_tree string_table launcher_command_line \
    command_line_quoting data_block rich_text sevenzip_header archive archive_coders \
    installer_database; do
    mkdir -p "$out/fuzz_$target"
done

# A small product: files, a folder, an empty file, links.
product="$scratch/product"
mkdir -p "$product/data/sub"
printf '#!/bin/sh\nexit 0\n' > "$product/setup.sh"
chmod 755 "$product/setup.sh"
printf 'hello\n' > "$product/data/a.txt"
head -c 3000 /dev/urandom > "$product/data/sub/noise.bin"
: > "$product/data/empty"
ln -s a.txt "$product/data/link"

# Archives in the methods and forms 7zz writes; -snl keeps links as links.
n=0
for options in "-m0=copy" "-m0=lzma" "-m0=lzma2 -mf=BCJ" "-m0=bzip2" "-m0=deflate" "-m0=ppmd" \
    "-mhc=off" "-mhc=off -m0=copy" "-mhc=off -m0=lzma2 -mf=BCJ -ms=off" "-mhc=off -pseed" \
    "-mhc=off -mtm=on -mtc=on -mta=on" "-mhe=on -pseed" "-pseed" "-ms=off" "-mtm=on -mtc=on -mta=on"; do
    n=$((n + 1))
    # shellcheck disable=SC2086 # the options are words
    (cd "$product" && 7zz a -bd -bso0 -bsp0 -snl $options "$scratch/a$n.7z" . >/dev/null)
    cp "$scratch/a$n.7z" "$out/fuzz_archive/a$n.7z"
done
(cd "$product" && 7zz a -bd -bso0 -bsp0 "$scratch/empty.7z" -x'!*' . >/dev/null) &&
    cp "$scratch/empty.7z" "$out/fuzz_archive/" || true

# The coders' target gets the archive behind its signature header, led by the next header's
# length: every coder and filter of the own reader, filters on their own, ciphered folders.
# (A made-up ELF file in its own product, so that the other targets' seeds stay as they were.)
coders="$scratch/coders"
mkdir -p "$coders"
cp -R "$product" "$coders/product"
{ printf '\177ELF\2\1\1'; head -c 2000 /dev/urandom | od -An -tx1; } > "$coders/product/data/prog"
n=0
for options in "-m0=copy" "-m0=lzma" "-m0=lzma2" "-m0=BCJ -m1=lzma2" "-m0=BCJ -m1=copy" \
    "-m0=BCJ2 -m1=LZMA -m2=LZMA -m3=LZMA -mb0s0:1 -mb0s1:2 -mb0s2:3" \
    "-m0=ARM64 -m1=lzma2" "-m0=ARM -m1=lzma" "-m0=ARMT -m1=lzma2" "-m0=PPC -m1=lzma2" \
    "-m0=SPARC -m1=lzma2" "-m0=IA64 -m1=lzma2" "-m0=Delta:4 -m1=lzma2" "-m0=ARM64 -m1=copy" \
    "-m0=Delta:2 -m1=copy" "-m0=lzma2 -pseed -ms=off" "-m0=BCJ -m1=lzma -pseed -ms=1f" \
    "-m0=ARM64 -m1=lzma2 -pseed -ms=off" "-m0=copy -pseed -ms=off" "-mhc=off -m0=lzma2 -pseed" \
    "-m0=BCJ2 -m1=LZMA -m2=LZMA -m3=LZMA -mb0s0:1 -mb0s1:2 -mb0s2:3 -pseed -ms=off"; do
    n=$((n + 1))
    # shellcheck disable=SC2086 # the options are words
    (cd "$coders/product" && 7zz a -bd -bso0 -bsp0 -snl $options "$coders/c$n.7z" . >/dev/null)
done
# Folders of a MiB and more decode ahead on threads of their own; zeros pack to a few bytes.
mkdir -p "$coders/big"
for i in 1 2 3; do head -c 1500000 /dev/zero > "$coders/big/zero$i"; done
cp "$product/data/a.txt" "$coders/big/"
n=0
for options in "-m0=lzma2 -ms=off" "-m0=lzma -ms=off -pseed" "-m0=BCJ -m1=lzma2 -ms=off -mhe=on -pseed"; do
    n=$((n + 1))
    # shellcheck disable=SC2086 # the options are words
    (cd "$coders/big" && 7zz a -bd -bso0 -bsp0 $options "$coders/b$n.7z" . >/dev/null)
done
python3 - "$coders" "$out/fuzz_archive_coders" <<'EOF'
import glob, os, struct, sys
coders, out = sys.argv[1:3]
for path in sorted(glob.glob(os.path.join(coders, "*.7z"))):
    data = open(path, "rb").read()
    offset, size = struct.unpack_from("<QQ", data, 12)
    body = data[32:]
    if offset + size == len(body) and size < 0x10000:
        name = os.path.basename(path)[:-3] + ".env"
        open(os.path.join(out, name), "wb").write(struct.pack("<H", size) + body)
EOF

# Installer databases with forwarded values, and a file without one that the reader falls to.
property_table='CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE PRIMARY KEY `Property`)'
insert='INSERT INTO `Property` (`Property`, `Value`) VALUES'
if command -v msibuild >/dev/null; then
    msibuild "$out/fuzz_installer_database/listed.msi" -q "$property_table" \
        -q "$insert ('ZQ_SetupVersion', '1')" -q "$insert ('ZQ_InstIdProperties', 'ZQ_VRNID;ZQ_B')" \
        -q "$insert ('ZQ_VRNID', 'seed value')" >/dev/null
    msibuild "$out/fuzz_installer_database/default.msi" -q "$property_table" \
        -q "$insert ('ZQ_SetupVersion', '2')" -q "$insert ('ZQ_BRINDLE_PHASH', 'h')" >/dev/null
fi
printf 'MZ##DATA##a=1##ENDDATA##' > "$out/fuzz_installer_database/block"
# A database reader's reply: the version row, the list of names, two property rows.
printf 'Q\0\0\0\0F\17\0\0\0ZQ_SetupVersionQ\0\0\0\0F\11\0\0\0ZQ_A;ZQ_BQ\0\0\0\0F\4\0\0\0ZQ_AF\1\0\0\0xZ\0\0\0\0' \
    > "$out/fuzz_installer_database/reply"

# The header behind each archive's signature header: the next-header offset and size are the
# 64-bit numbers at 12 and 20, counted from byte 32.
python3 - "$scratch" "$out/fuzz_sevenzip_header" <<'EOF'
import glob, os, struct, sys
scratch, out = sys.argv[1:3]
for path in sorted(glob.glob(os.path.join(scratch, "*.7z"))):
    data = open(path, "rb").read()
    offset, size = struct.unpack_from("<QQ", data, 12)
    header = data[32 + offset:32 + offset + size]
    if header:
        name = os.path.basename(path)[:-3] + ".hdr"
        open(os.path.join(out, name), "wb").write(header)
EOF

# Launcher files; the configuration block seeds hold the payload without the stub in front.
cat > "$scratch/plain.cfg" <<'EOF'
[main]
ProductName=Seed Product
SetupFileName=setup.sh
SetupParams=--source "[ExtractDir]data" /q
ForwardResourceDataFromSFX=1
SfxProgressPretty=1
ShowUnzipLanguageDlg=1
Culture=de-DE
DefaultExtractDir=[TEMP]seed

[LANG_de-DE]
ProductName=Beispielprodukt
EOF
cp "$root/examples/sample.cfg" "$scratch/plain.cfg" "$out/fuzz_config_block/"
for cfg in "$scratch/plain.cfg" "$root/examples/sample.cfg"; do
    name=$(basename "$cfg" .cfg)
    "$build/bin/sfxbuild" create --config "$cfg" --archive "$scratch/a1.7z" \
        --stub "$build/bin/sfxstub" --data 'VRNID=seed%20value&k=v&empty=' --no-checks \
        -o "$scratch/$name.launcher" >/dev/null
    python3 - "$scratch/$name.launcher" "$out" "$name" <<'EOF'
import sys
path, out, name = sys.argv[1:4]
data = open(path, "rb").read()
start = data.find(b";!@Install@!UTF-8!")
end = data.find(b";!@InstallEnd@!", start)
if start >= 0 and end > start:
    open(f"{out}/fuzz_config_block/{name}.payload", "wb").write(
        data[max(0, start - 64):end + 15 + 64])
open(f"{out}/fuzz_data_block/{name}.tail", "wb").write(data[-4096:])
EOF
done

# Resource trees: the stub's own tree as a bare section, and in a small ELF and PE image each.
cp "$build/resources/sfx.rsrc" "$out/fuzz_resource_tree/section.rsrc"
python3 - "$build/resources/sfx.rsrc" "$out/fuzz_resource_tree" <<'EOF'
import struct, sys
tree = open(sys.argv[1], "rb").read()
out = sys.argv[2]
# ELF64: header, tree at 0x100, section names, section headers [null, .shstrtab, .rsrc].
names = b"\0.shstrtab\0.rsrc\0"
names_at = 0x100 + len(tree)
headers_at = (names_at + len(names) + 7) // 8 * 8
elf = bytearray(headers_at + 3 * 64)
elf[0:7] = b"\x7fELF\x02\x01\x01"
struct.pack_into("<Q", elf, 0x28, headers_at)
struct.pack_into("<HHH", elf, 0x3A, 64, 3, 1)
elf[0x100:0x100 + len(tree)] = tree
elf[names_at:names_at + len(names)] = names
struct.pack_into("<IIQQQQ", elf, headers_at + 64, 1, 3, 0, 0, names_at, len(names))
struct.pack_into("<IIQQQQ", elf, headers_at + 128, 11, 1, 2, 0, 0x100, len(tree))
open(f"{out}/image.elf", "wb").write(elf)
# PE32: headers, .text and .rsrc sections; the tree's data addresses count from its section.
raw = (len(tree) + 0x1FF) // 0x200 * 0x200
pe = bytearray(0x400 + raw)
pe[0:2] = b"MZ"
struct.pack_into("<I", pe, 0x3C, 0x80)
pe[0x80:0x84] = b"PE\0\0"
struct.pack_into("<HH", pe, 0x84, 0x14C, 2)
struct.pack_into("<H", pe, 0x84 + 16, 224)
opt = 0x84 + 20
struct.pack_into("<H", pe, opt, 0x10B)
struct.pack_into("<I", pe, opt + 92, 16)
struct.pack_into("<II", pe, opt + 96 + 16, 0x2000, len(tree))
sections = opt + 224
struct.pack_into("<8sIIII", pe, sections, b".text", 0x200, 0x1000, 0x200, 0x200)
struct.pack_into("<8sIIII", pe, sections + 40, b".rsrc", raw, 0x2000, raw, 0x400)
pe[0x400:0x400 + len(tree)] = tree
open(f"{out}/image.pe", "wb").write(pe)
EOF

# String tables as the program carries them.
cp "$root"/resources/strings/*.xml "$out/fuzz_string_table/"

# Command lines: NUL-separated arguments.
args() {
    file=$1
    shift
    : > "$file"
    first=1
    for a in "$@"; do
        [ "$first" = 1 ] || printf '\0' >> "$file"
        printf '%s' "$a" >> "$file"
        first=0
    done
}
d="$out/fuzz_launcher_command_line"
args "$d/extract" /x /opt/out
args "$d/quiet" -QB /l de-DE /M=/v.dat own
args "$d/forward" /dlvaddondir addon /dlmaddondir /abs /dlmforward a "b c"
args "$d/answer" /overwriteanswer YesToAll /e archive.7z /?
d="$out/fuzz_command_line_quoting"
args "$d/plain" a b c
args "$d/quotes" 'say "hi"' 'back\slash\' '' 'tab	and space'
args "$d/slashes" 'C:\dir\' '\\"' '"' 'a\\\"b'

# Message texts: rich text of both kinds and link markers.
d="$out/fuzz_rich_text"
printf '%s' '{\rtf1 {\b Bold} and {\i italic}\par second}' > "$d/basic"
printf '%s' '{\rtf1 Read {\field{\*\fldinst{HYPERLINK "https://example.org/r"}}{\fldrslt{here}}}.}' \
    > "$d/link"
printf '%s' "{\\urtf a\\\\b\\{c\\}\\tab d\\par e\\'e9\\u8364?\\uc2\\u8212xx\\ul u\\ulnone\\v hid\\v0\\line}" \
    > "$d/escapes"
printf '%s' '{\rtf1{\fonttbl{\f0 Arial;}}{\colortbl;\red0\green0\blue0;}{\*\generator x;}\plain\lquote\rquote\ldblquote\rdblquote\emdash\endash\bullet\~\-\_}' \
    > "$d/destinations"
printf '%s' 'See #LINK#the site#https://example.org## or <LINK docs|https://example.org/d>.' \
    > "$d/markers"

# Data blocks on their own, in UTF-16LE.
python3 - "$out/fuzz_data_block" <<'EOF'
import sys
out = sys.argv[1]
for name, query in [("simple", "a=1&b=two"), ("escapes", "VRNID=x%20y&e=%41%zz&&=v&k=")]:
    block = ("##DATA##" + query + "##ENDDATA##").encode("utf-16-le")
    open(f"{out}/{name}.block", "wb").write(b"\0" * 7 + block + b"\0" * 5)
open(f"{out}/query", "wb").write(b"key=value&other=%C3%A9")
EOF

for d in "$out"/*/; do
    echo "$(basename "$d"): $(find "$d" -type f | wc -l) seeds"
done
