#!/bin/sh
# The Windows launcher under Wine, on launcher files that the Linux sfxbuild makes from the PE
# stub and a folder holding a recording setup (record_setup.cpp): the run with its command
# line, values file and 32-bit exit codes, /x, a damaged file, an enciphered archive, an
# installer database, and a close request in the middle of the setup.
#
#   launcher-run.sh SFXBUILD STUB RECORD_SETUP RUN_WAIT SOURCE_DIR
# Exits 77 (skipped) when the Linux sfxbuild has not been built.
set -eu
sfxbuild=$1 stub=$(realpath "$2") setup=$(realpath "$3") runner=$(realpath "$4") source=$5
if [ ! -x "$sfxbuild" ]; then
    echo "skipped: no Linux sfxbuild at $sfxbuild (make build first)"
    exit 77
fi
# Beside the build, not in /tmp: Wine knows no sticky bit, so a folder below /tmp counts as one
# that other users could change, and the launcher rightly refuses to extract there.
work=$(mktemp -d "$(dirname "$stub")/launcher-run.XXXXXX")
trap 'rm -rf "$work"' EXIT
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
# The Windows name of a Unix path: Wine's drive Z: is the root.
win() { printf 'Z:%s' "$1" | tr / '\\'; }
# Runs the launcher FILE with ARGS through the runner; the 32-bit exit code on stdout.
run() {
    timeout 180 wine "$runner" -- "$@" </dev/null 2>/dev/null | tr -d '\r' | sed -n 's/^exit=//p'
}
field() { sed -n "s/^$1=//p" "$2" | tr -d '\r'; }
# A Windows folder of the record, as a Unix path.
unix_of() { winepath -u "$1" 2>/dev/null; }
make_launcher() { # NAME CONFIG-TEXT [sfxbuild options...]
    name=$1 config=$2
    shift 2
    printf '%s' "$config" >"$work/$name.cfg"
    "$sfxbuild" create --stub "$stub" --config "$work/$name.cfg" --dir "$work/product" \
        -o "$work/$name.exe" "$@" >/dev/null || { fail "sfxbuild create $name"; return 1; }
}

mkdir -p "$work/product/data"
cp "$setup" "$work/product/setup.exe"
printf 'payload\n' >"$work/product/data/item.txt"

# --- A run: the composed command line, the values file, the setup's code, the folder gone.
for code in 3010 0xC0000005; do
    make_launcher "run$code" "[main]
ProductName=Probe
SetupFileName=setup.exe
SetupParams=--exit $code --source \"[ExtractDir]data\"
ForwardResourceDataFromSFX=1
" || continue
    "$sfxbuild" stamp "$work/run$code.exe" VRNID=1234-5678 >/dev/null || fail "stamp"
    for level in /q /qb; do
        record="$work/record-$code${level#/}.txt"
        rm -f "$record"
        log="$work/run-$code${level#/}.log"
        got=$(SFX_TEST_RECORD=$(win "$record") SFX_LOG=$(win "$log") \
            run "$(win "$work/run$code.exe")" "$level")
        expected=$(printf '%u' "$code")
        [ "$got" = "$expected" ] || fail "$level with setup code $code ended with '$got'"
        [ -f "$record" ] || { fail "$level: the setup did not run"; continue; }
        folder=$(field folder "$record")
        args=$(field arg "$record" | tr '\n' '|')
        want="-m|${folder}SetupValues.dat|--exit|$code|--source|${folder}data|$level|"
        [ "$args" = "$want" ] || fail "$level: the setup's arguments were '$args', not '$want'"
        values=$(field values "$record" | xxd -r -p | tr -d '\r')
        printf '%s\n' "$values" | grep -qx 'VRNID=1234-5678' ||
            fail "$level: SetupValues.dat holds '$values'"
        [ -n "$folder" ] && [ ! -e "$(unix_of "$folder")" ] ||
            fail "$level: the folder $folder is still there"
    done
done
# Without a display (the tests' Wine has none) the log says why, and the run goes on without
# windows.
grep -q 'GUI module not used: .*without a display' "$work/run-3010qb.log" ||
    fail "the log of /qb does not say that there are no windows"

# --- /x: a byte-identical tree, names outside Latin included.
mkdir -p "$work/tree/données" "$work/tree/日本語" "$work/tree/Ελληνικά"
printf 'Grüße\n' >"$work/tree/données/Überprüfung.txt"
head -c 300000 /dev/urandom >"$work/tree/日本語/ファイル.bin"
: >"$work/tree/Ελληνικά/κενό.txt"
cp "$setup" "$work/tree/setup.exe"
printf '[main]\nProductName=Tree\nSetupFileName=setup.exe\n' >"$work/tree.cfg"
"$sfxbuild" create --stub "$stub" --config "$work/tree.cfg" --dir "$work/tree" \
    -o "$work/tree.exe" >/dev/null || fail "sfxbuild create tree"
got=$(SFX_LOG=$(win "$work/tree.log") run "$(win "$work/tree.exe")" /q /x "$(win "$work/out")")
[ "$got" = 0 ] || fail "/x ended with '$got'"
diff -r "$work/tree" "$work/out" >"$work/diff.txt" 2>&1 || {
    cat "$work/diff.txt"
    fail "/x: the extracted tree differs"
}

# --- A damaged file: the size message, and its code.
cp "$work/run3010.exe" "$work/longer.exe"
printf x >>"$work/longer.exe"
got=$(SFX_LOG=$(win "$work/longer.log") run "$(win "$work/longer.exe")" /q)
[ "$got" = $((0x20001004)) ] || fail "the damaged file ended with '$got'"
grep -q "Actual file size: $(stat -c %s "$work/longer.exe")" "$work/longer.log" ||
    fail "the damaged file's log has no size message"

# --- A method only the Linux launcher's second reader decodes (PPMd): this launcher has no
# second reader, and ends as for a damaged file, without writing anything.
if command -v 7zz >/dev/null; then
    (cd "$work/product" && 7zz a -bd -m0=PPMd -mf=off "$work/ppmd.7z" . >/dev/null) ||
        fail "7zz PPMd"
    printf '[main]\nProductName=PPMd\nSetupFileName=setup.exe\n' >"$work/ppmd.cfg"
    "$sfxbuild" create --stub "$stub" --config "$work/ppmd.cfg" --archive "$work/ppmd.7z" \
        -o "$work/ppmd.exe" >/dev/null || fail "sfxbuild create ppmd"
    got=$(run "$(win "$work/ppmd.exe")" /q /x "$(win "$work/ppmd-out")")
    [ "$got" = $((0x20001004)) ] || fail "a PPMd archive ended with '$got'"
    [ ! -e "$work/ppmd-out/setup.exe" ] || fail "a PPMd archive wrote its setup"
fi

# --- An enciphered archive: nobody to ask at /qb without a console is a cancel; the right
# password typed at the console extracts it.
printf 'geheim 1\n' >"$work/password.txt"
if make_launcher secret "[main]
ProductName=Secret
SetupFileName=setup.exe
SetupParams=--exit 7
" --password-file "$work/password.txt"; then
    got=$(SFX_LOG=$(win "$work/secret.log") run "$(win "$work/secret.exe")" /qb /x "$(win "$work/secret-none")")
    [ "$got" = 1602 ] || fail "an enciphered archive without anyone to ask ended with '$got'"
    [ ! -e "$work/secret-none/setup.exe" ] || fail "the archive was extracted without a password"
    got=$(SFX_LOG=$(win "$work/secret-typed.log") timeout 180 wine "$runner" --type "geheim 1" -- \
        "$(win "$work/secret.exe")" /qb /x "$(win "$work/secret-typed")" </dev/null 2>/dev/null |
        tr -d '\r' | sed -n 's/^exit=//p')
    [ "$got" = 0 ] || fail "the right password at the console ended with '$got'"
    cmp -s "$setup" "$work/secret-typed/setup.exe" ||
        fail "the right password did not extract the setup"
fi

# --- An installer database: Wine's msiexec from the system folder, with the parameters. Its
# only action runs the recording setup with a property of the command line, so the record
# shows what reached msiexec. A msiexec.exe beside it (a recording setup too) must not run.
if command -v msibuild >/dev/null; then
    mkdir -p "$work/msi"
    cp "$setup" "$work/msi/recorder.exe"
    cp "$setup" "$work/msi/msiexec.exe"
    msi="$work/msi/setup.msi"
    sql() { msibuild "$msi" -q "$1" || fail "msibuild: $1"; }
    msibuild "$msi" -s Probe Tests "x64;1033" "{6E0C1B59-5B1F-4C2E-9C55-3D4B5A6F7A81}" ||
        fail "msibuild summary"
    sql 'CREATE TABLE `Property` (`Property` CHAR(72) NOT NULL, `Value` LONGCHAR NOT NULL LOCALIZABLE PRIMARY KEY `Property`)'
    for pair in "ProductCode={0B1C2D3E-4F50-4617-8293-A4B5C6D7E8F9}" ProductName=Probe \
        ProductVersion=1.0.0 ProductLanguage=1033 Manufacturer=Tests; do
        sql "INSERT INTO \`Property\` (\`Property\`, \`Value\`) VALUES ('${pair%%=*}', '${pair#*=}')"
    done
    sql 'CREATE TABLE `CustomAction` (`Action` CHAR(72) NOT NULL, `Type` SHORT NOT NULL, `Source` CHAR(72), `Target` CHAR(255) PRIMARY KEY `Action`)'
    # Type 50: the program that the property RECORDER names, with these arguments.
    sql "INSERT INTO \`CustomAction\` (\`Action\`, \`Type\`, \`Source\`, \`Target\`) VALUES ('Record', 50, 'RECORDER', '--from-msi [PROBE] --exit 0')"
    sql 'CREATE TABLE `InstallExecuteSequence` (`Action` CHAR(72) NOT NULL, `Condition` CHAR(255), `Sequence` SHORT PRIMARY KEY `Action`)'
    sql "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Sequence\`) VALUES ('Record', 100)"
    printf '[main]\nProductName=Database\nSetupFileName=setup.msi\nSetupParams=/qn "RECORDER=[ExtractDir]recorder.exe" PROBE=hello\n' \
        >"$work/msi.cfg"
    "$sfxbuild" create --stub "$stub" --config "$work/msi.cfg" --dir "$work/msi" \
        -o "$work/msi.exe" >/dev/null || fail "sfxbuild create msi"
    record="$work/record-msi.txt"
    got=$(cd "$work/msi" && SFX_TEST_RECORD=$(win "$record") SFX_LOG=$(win "$work/msi.log") \
        run "$(win "$work/msi.exe")" /q)
    [ "$got" = 0 ] || fail "the installer database run ended with '$got'"
    args=$(field arg "$record" 2>/dev/null | tr '\n' ' ')
    [ "$args" = "--from-msi hello --exit 0 " ] ||
        fail "msiexec did not pass the composed parameters on: the record has '$args'"
else
    fail "msibuild (msitools) is missing: the installer-database run was not tried"
fi

# --- A close request while the setup runs: the run is cancelled, nothing is left.
if make_launcher slow "[main]
ProductName=Slow
SetupFileName=setup.exe
SetupParams=--wait
"; then
    record="$work/record-slow.txt"
    got=$(SFX_TEST_RECORD=$(win "$record") SFX_LOG=$(win "$work/slow.log") \
        timeout 180 wine "$runner" --close-when "$(win "$record")" -- "$(win "$work/slow.exe")" /qb \
        </dev/null 2>/dev/null | tr -d '\r' | grep -v '^created_qpc=')
    case $got in
    exit=1602) ;;
    *) fail "a close request during the setup gave '$got'" ;;
    esac
    if [ -f "$record" ]; then
        pid=$(field pid "$record")
        folder=$(field folder "$record")
        alive=$(wine "$runner" --alive "$pid" 2>/dev/null | tr -d '\r')
        [ "$alive" = alive=0 ] || fail "the setup still runs after the close request"
        [ ! -e "$(unix_of "$folder")" ] || fail "the folder $folder is left after the close"
    else
        fail "the slow setup never ran"
    fi
fi

[ "$failures" = 0 ] || { echo "$failures failures"; exit 1; }
echo "launcher run: ok"
