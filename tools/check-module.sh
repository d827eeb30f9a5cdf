#!/usr/bin/env bash
# Checks a built module without running it: its architecture, that it needs only Windows' own
# DLLs (no MinGW runtime on the user's path), and its exports.
#   tools/check-module.sh MODULE x86|x64 [EXPORT...]
set -euo pipefail
module=$1 arch=$2; shift 2
case $arch in
    x86) objdump=i686-w64-mingw32-objdump; format=pei-i386 ;;
    x64) objdump=x86_64-w64-mingw32-objdump; format=pei-x86-64 ;;
    *) echo "check-module: unknown architecture $arch" >&2; exit 2 ;;
esac
headers=$("$objdump" -p "$module")
status=0
grep -q "file format $format" <<<"$headers" || { echo "FAIL: $module is not $format"; status=1; }

# Windows' own libraries only.
allowed='^(kernel32|user32|gdi32|advapi32|ole32|oleaut32|shell32|shlwapi|winmm|comctl32|comdlg32|version|msvcrt|api-ms-win-[a-z0-9-]+)\.dll$'
imports=$(grep -oP 'DLL Name: \K\S+' <<<"$headers" | tr 'A-Z' 'a-z' | sort -u)
for dll in $imports; do
    if grep -Eq "$allowed" <<<"$dll"; then echo "ok: imports $dll"; else echo "FAIL: imports $dll"; status=1; fi
done

for name in "$@"; do
    if grep -Eq "^\s*\[\s*[0-9]+\]\s+(\+base\[\s*[0-9]+\]\s+[0-9a-f]+\s+)?$name$" <<<"$headers" \
        || grep -Eq "\b$name\b" <<<"$(sed -n '/Ordinal\/Name Pointer/,/^$/p' <<<"$headers")"; then
        echo "ok: exports $name"
    else
        echo "FAIL: does not export $name"; status=1
    fi
done
[ $status = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $status
