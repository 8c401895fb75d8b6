#!/bin/sh
# Fails when product code outside cptlib/platform/ includes a POSIX, Linux or Windows system
# header, so that a build for another system replaces the platform folder and nothing else.
#
# Usage: check_platform_seam.sh [ROOT]   (ROOT defaults to the project this script is part of)
# Prints FILE:LINE: INCLUDE for every offending line; exits 1 when there is one, 0 otherwise.
#
# Scanned: cptlib/ (without cptlib/platform/), common/, launcher/, format/, tools/; folders that
# do not exist are skipped. tests/ and bench/ are exempt: they test the platform itself. So are
# the Windows window module (launcher/gui/win32/, cptlib/ui/win32/): like the Qt module beside
# it, it is one system's windows and is built only there.
#
# The C++ forms of standard C headers (<clocale>, <csignal>, ...) are allowed. Their C forms
# <locale.h> and <signal.h> are refused: on POSIX they are where the thread locales (newlocale,
# uselocale) and the signal actions live, and portable code has the C++ forms for the rest.

set -u

root=${1:-$(dirname "$0")/../..}
if ! cd "$root" 2>/dev/null; then
    echo "check_platform_seam: cannot enter $root" >&2
    exit 2
fi

folders=
for folder in cptlib common launcher format tools; do
    [ -d "$folder" ] && folders="$folders $folder"
done
[ -n "$folders" ] || exit 0

# POSIX and Linux headers: whole folders, and single headers named without their ".h".
system_folders='sys|linux|asm|asm-generic|bits|gnu|netinet|netpacket|arpa|net|scsi|mtd|sound|drm'
system_headers='unistd|fcntl|dlfcn|spawn|poll|termios|termio|pwd|grp|shadow|dirent|pthread|signal'
system_headers="$system_headers"'|sched|semaphore|mqueue|aio|elf|link|langinfo|locale|xlocale'
system_headers="$system_headers"'|nl_types|iconv|netdb|ifaddrs|syslog|utime|utmp|utmpx|fnmatch|glob'
system_headers="$system_headers"'|wordexp|regex|libgen|ftw|fts|mntent|pty|wait|ucontext|execinfo|err'
system_headers="$system_headers"'|error|paths|features|endian|byteswap|malloc|alloca|strings|ulimit'
system_headers="$system_headers"'|sysexits|search|fmtmsg|monetary|ndbm|cpio|tar|stropts'
pattern="^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"](($system_folders)/[^>\"]+|($system_headers)\\.h)[>\"]"
# Win32 and the mingw C runtime's own headers; Windows spells them in any case.
windows_headers='windows|windowsx|winbase|windef|winnt|winuser|wingdi|winerror|winreg|winnls'
windows_headers="$windows_headers"'|winver|winioctl|winsvc|winsock|winsock2|ws2tcpip|wincrypt|winternl'
windows_headers="$windows_headers"'|wtypes|unknwn|objbase|ole2|oleauto|combaseapi|objidl|shobjidl'
windows_headers="$windows_headers"'|shlobj|shellapi|shlwapi|knownfolders|commctrl|commdlg|richedit'
windows_headers="$windows_headers"'|uxtheme|dwmapi|bcrypt|ntstatus|sddl|aclapi|accctrl|userenv|psapi'
windows_headers="$windows_headers"'|tlhelp32|dbghelp|imagehlp|versionhelpers|msi|msiquery|msidefs'
windows_headers="$windows_headers"'|lmcons|wtsapi32|processthreadsapi|synchapi|fileapi|handleapi'
windows_headers="$windows_headers"'|errhandlingapi|libloaderapi|memoryapi|sysinfoapi|stringapiset'
windows_headers="$windows_headers"'|io|direct|process|conio|tchar|share|mmsystem|propvarutil'
windows_pattern="^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"]($windows_headers)\\.h[>\"]"

scan() { # scan GREP_OPTION PATTERN
    grep -rn "$1" --include='*.c' --include='*.cc' --include='*.cpp' --include='*.cxx' \
        --include='*.h' --include='*.hh' --include='*.hpp' --include='*.hxx' --include='*.ipp' \
        --include='*.inl' --include='*.tcc' "$2" $folders |
        grep -Ev '^(cptlib/platform|launcher/gui/win32|cptlib/ui/win32)/'
}
found=$(scan -E "$pattern"; scan -iE "$windows_pattern")

if [ -n "$found" ]; then
    printf '%s\n' "$found" | sed -E 's/^([^:]+:[0-9]+):[[:space:]]*/\1: /'
    echo "check_platform_seam: system headers outside cptlib/platform/ (move the calls there)" >&2
    exit 1
fi
exit 0
