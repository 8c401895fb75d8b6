#!/usr/bin/env bash
# Real runs of the Windows launcher whose windows are answered at the keyboard on a virtual
# display: the language question, the password, the folder question and the overwrite question
# of an extraction, the error box of a damaged file and the success box of /x. Each run is checked by its 32-bit exit code, whether the
# setup ran (and with which language), what is left on disk, and that no extract folder stays.
#
#   launcher-dialogs.sh SFXBUILD STUB SETUP RUNNER PREFIX
set -u
sfxbuild=$1 stub=$(realpath "$2") setup=$(realpath "$3") runner=$(realpath "$4") prefix=$5
for tool in Xvfb xdotool wine; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is not installed"; exit 77; }
done
[ -x "$sfxbuild" ] || { echo "skipped: no Linux sfxbuild at $sfxbuild"; exit 77; }

# Beside the build, not in /tmp: Wine knows no sticky bit, so the launcher refuses /x targets
# below /tmp as folders that others could change.
work=$(mktemp -d "$(dirname "$stub")/launcher-dialogs.XXXXXX")
pids=()
cleanup() {
    WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1 || true
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM
win() { printf 'Z:%s' "$1" | tr / '\\'; }
failures=0

Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { echo "skipped: Xvfb did not start"; exit 77; }
DISPLAY=":$(head -n1 "$work/display")"
export DISPLAY
unset WAYLAND_DISPLAY WINELOADER WINESERVER
command -v openbox >/dev/null 2>&1 && { openbox --sm-disable >/dev/null 2>&1 & pids+=($!); }
# English preselected in the language question.
export LANG=en_US.UTF-8 LC_ALL=
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init >/dev/null 2>&1
    wineserver -w
fi
temp=$(winepath -u 'C:\users' 2>/dev/null)
extract_folders() { find "$temp" -maxdepth 6 -type d -name 'vrn*' 2>/dev/null | sort; }

mkdir -p "$work/product/data"
cp "$setup" "$work/product/setup.exe"
printf 'new\n' >"$work/product/data/item.txt"
printf 'geheim 1\n' >"$work/password.txt"
main='[main]
ProductName=Dialog Probe
SetupFileName=setup.exe
'
languages="${main}[LANG_en-US]
SetupParams=--tag english
[LANG_de-DE]
SetupParams=--tag deutsch
"
build() { # NAME CONFIG [sfxbuild options...]
    printf '%s' "$2" >"$work/$1.cfg"
    "$sfxbuild" create --stub "$stub" --config "$work/$1.cfg" --dir "$work/product" \
        -o "$work/$1.exe" "${@:3}" >/dev/null || { echo "FAILED: sfxbuild create $1"; exit 1; }
}
build language "$languages"
build secret "$main" --password-file "$work/password.txt"
build plain "$main"
# Extract only, into a folder that the folder question proposes.
mkdir -p "$work/target"
build folder "${main}ExtractOnly=1
DefaultExtractDir=$(win "$work/target")
"
cp "$work/plain.exe" "$work/damaged.exe"
printf x >>"$work/damaged.exe"

# The table: name | launcher | arguments | title of the windows to answer | keys | exit code |
# outcome. Keys go to the window once it shows; `type:TEXT:KEYS` types TEXT first (`@NAME`: the
# Windows path of that folder of the test's); after `;` the keys go to the next window with that
# title. Outcomes: `setup:TAG`
# the setup ran (with SetupParams --tag TAG where TAG is not -), `nosetup`, `old`/`new` the
# content of out/data/item.txt after /x into a folder that held it as `old`, `tree` the whole
# product extracted, `picked` the whole product in the folder typed into the folder question,
# `untouched` nothing extracted into the proposed or the typed folder.
cases="\
language-enter    |language|                |Installation Language|Return         |0         |setup:english
language-other    |language|                |Installation Language|Up Return      |0         |setup:deutsch
language-escape   |language|                |Installation Language|Escape         |1602      |nosetup
language-close    |language|                |Installation Language|alt+F4         |1602      |nosetup
language-tabbed   |language|                |Installation Language|Tab Tab Return |1602      |nosetup
password-right    |secret  |                |^Dialog Probe\$      |type:geheim 1:Return|0    |setup:-
password-tabbed   |secret  |                |^Dialog Probe\$      |type:geheim 1:Tab Return|0|setup:-
password-wrong    |secret  |                |^Dialog Probe\$      |type:geheim 2:Return; Return|536875012|nosetup
password-escape   |secret  |                |^Dialog Probe\$      |Escape         |1602      |nosetup
overwrite-escape  |plain   |/x out          |^Dialog Probe\$      |Escape         |1602      |old
overwrite-default |plain   |/x out          |^Dialog Probe\$      |Return         |1602      |old
overwrite-first   |plain   |/x out          |^Dialog Probe\$      |Tab Return; Return|0      |new
broken            |damaged |                |^Dialog Probe\$      |Return         |536875012 |nosetup
extract-success   |plain   |/x tree         |^Dialog Probe\$      |Return         |0         |tree
folder-escape     |folder  |                |^Dialog Probe - |Escape         |1602      |untouched
folder-typed      |folder  |                |^Dialog Probe|type:@picked:Return; Return|0|picked
"

# The first visible window of the run (X class: the launcher's file name) whose title matches,
# other than the window EXCEPT.
find_window() { # CLASS TITLE-REGEX [EXCEPT]
    for _ in $(seq 200); do
        for id in $(xdotool search --onlyvisible --class "$1" 2>/dev/null); do
            [ "$id" != "${3:-}" ] || continue
            xdotool getwindowname "$id" 2>/dev/null | grep -qE -- "$2" && { echo "$id"; return 0; }
        done
        sleep 0.1
    done
    return 1
}

send_keys() { # WINDOW KEYS
    timeout 5 xdotool windowactivate --sync "$1" >/dev/null 2>&1
    sleep 0.3
    local keys=$2
    if [[ $keys == type:* ]]; then
        keys=${keys#type:}
        local text=${keys%:*}
        [[ $text != @* ]] || text=$(win "$work/${text#@}")
        xdotool type --delay 30 "$text"
        keys=${keys##*:}
    fi
    # shellcheck disable=SC2086 # several key names
    xdotool key --delay 150 $keys
}

while IFS='|' read -r name exe args title keys code outcome; do
    name=$(echo $name) exe=$(echo $exe) args=$(echo $args)
    code=$(echo $code) outcome=$(echo $outcome)
    title=$(echo "$title" | sed 's/ *$//')
    [ -n "$name" ] || continue
    record="$work/$name.record" log="$work/$name.log"
    rm -rf "$work/out" "$work/tree" "$work/picked"
    mkdir -p "$work/picked"
    mkdir -p "$work/out/data"
    printf 'old\n' >"$work/out/data/item.txt"
    before=$(extract_folders)
    run_args=()
    for arg in $args; do
        case $arg in /*) run_args+=("$arg") ;; *) run_args+=("$(win "$work/$arg")") ;; esac
    done
    # A copy per case so that the window's class names the case's launcher.
    cp "$work/$exe.exe" "$work/$name.exe"
    rm -f "$work/exit"
    (SFX_TEST_RECORD=$(win "$record") SFX_LOG=$(win "$log") timeout 90 wine "$runner" -- \
        "$(win "$work/$name.exe")" "${run_args[@]}" </dev/null 2>/dev/null |
        tr -d '\r' | sed -n 's/^exit=//p' >"$work/exit") &
    runner_pid=$!
    problems=()
    window=
    IFS=';' read -ra steps <<<"$keys"
    for step in "${steps[@]}"; do
        if window=$(find_window "$name.exe" "$title" "$window"); then
            send_keys "$window" "$(echo $step)"
        else
            problems+=("no window titled '$title' showed for '$step'")
            break
        fi
    done
    for _ in $(seq 300); do [ -s "$work/exit" ] && break; sleep 0.1; done
    got=$(cat "$work/exit" 2>/dev/null)
    if [ -z "$got" ]; then
        problems+=("the run did not end")
        WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
    fi
    wait "$runner_pid" 2>/dev/null
    [ -z "$got" ] || [ "$got" = "$code" ] || problems+=("ended with '$got', not $code")
    case $outcome in
    setup:*)
        if [ ! -f "$record" ]; then
            problems+=("the setup did not run")
        elif [ "${outcome#setup:}" != - ]; then
            tags=$(sed -n 's/^arg=//p' "$record" | tr -d '\r' | tr '\n' ' ')
            [[ " $tags " == *" --tag ${outcome#setup:} "* ]] ||
                problems+=("the setup ran with '$tags', not the answer ${outcome#setup:}")
        fi
        ;;
    nosetup) [ ! -f "$record" ] || problems+=("the setup ran") ;;
    old | new)
        content=$(cat "$work/out/data/item.txt" 2>/dev/null)
        [ "$content" = "$outcome" ] || problems+=("the existing file holds '$content', not '$outcome'")
        ;;
    picked)
        diff -r "$work/product" "$work/picked" >/dev/null 2>&1 ||
            problems+=("the folder typed into the question does not hold the product")
        ;;
    untouched)
        left=$(find "$work/target" "$work/picked" -mindepth 1 | tr '\n' ' ')
        [ -z "$left" ] || problems+=("something was extracted: $left")
        ;;
    tree)
        diff -r "$work/product" "$work/tree" >/dev/null 2>&1 ||
            problems+=("the extracted tree differs from the product")
        ;;
    esac
    [ "$(extract_folders)" = "$before" ] || problems+=("an extract folder was left behind")
    if [ ${#problems[@]} -eq 0 ]; then
        echo "ok: $name"
    else
        for problem in "${problems[@]}"; do echo "FAILED: $name: $problem"; done
        echo "--- log of $name:"
        cat "$log" 2>/dev/null
        failures=$((failures + 1))
    fi
done <<<"$cases"
exit $((failures > 0))
