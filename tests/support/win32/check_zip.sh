#!/usr/bin/env bash
# Checks the portable Windows zip: one top folder with both programs, the README and the
# licences; the programs import system DLLs only (nothing has to lie beside them); unpacked into
# a folder of its own, sarnika-cli.exe runs under Wine and names its version.
# Usage: check_zip.sh ZIP   (with WINEPREFIX etc. set as scripts/windows-test.sh sets them)
set -euo pipefail
zip=$1
wine=${SARNIKA_WINE:-/usr/lib/wine/wine64}
objdump=x86_64-w64-mingw32-objdump
unpacked=$(mktemp -d "${TMPDIR:-/tmp}/sarnika-zip.XXXXXX")
trap 'rm -rf "$unpacked"' EXIT

fail() { echo "windows zip: $*" >&2; exit 1; }

unzip -q "$zip" -d "$unpacked"
top=$(basename "$zip" .zip)
[[ -d $unpacked/$top ]] || fail "no folder $top at the top of the zip"
for file in sarnika.exe sarnika-cli.exe README.md LICENSE.txt licences/zlib.txt \
    licences/mingw-w64-runtime.txt licences/gcc-runtime.txt; do
    [[ -s $unpacked/$top/$file ]] || fail "$file missing or empty"
done
extra=$(cd "$unpacked/$top" && find . -type f \( -iname '*.dll' -o -iname '*.pdb' \))
[[ -z $extra ]] || fail "unexpected files: $extra"

# What Windows itself provides; anything else would have to be shipped beside the programs.
system_dlls=(advapi32.dll comctl32.dll comdlg32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll
    oleaut32.dll shell32.dll shlwapi.dll user32.dll uxtheme.dll version.dll wininet.dll)
for program in sarnika.exe sarnika-cli.exe; do
    while read -r dll; do
        known=no
        for system_dll in "${system_dlls[@]}"; do
            [[ ${dll,,} == "$system_dll" ]] && known=yes
        done
        [[ $known == yes ]] || fail "$program needs $dll, which Windows lacks"
    done < <("$objdump" -p "$unpacked/$top/$program" | sed -n 's/^\s*DLL Name: //p')
done

version=$(cd "$unpacked/$top" && "$wine" sarnika-cli.exe --version 2>/dev/null | tr -d '\r')
[[ $version == "sarnika-cli "* ]] || fail "sarnika-cli.exe --version printed '$version'"
echo "windows zip: $top.zip holds both programs (system DLLs only), README and licences; $version"
