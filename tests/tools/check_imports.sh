#!/usr/bin/env bash
# Fails when any Windows binary we build imports a DLL that does not ship
# with Windows 10 (the compiler runtime must be linked in statically), and
# when a binary's import table cannot be read.
set -u
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
allowed=" kernel32.dll user32.dll gdi32.dll comctl32.dll advapi32.dll ws2_32.dll msvcrt.dll shell32.dll ole32.dll oleaut32.dll uxtheme.dll comdlg32.dll shlwapi.dll version.dll imm32.dll winmm.dll "

status=0
count=0
for dir in "$@"; do
  [ -d "$dir" ] || { echo "FAIL: no folder $dir"; status=1; continue; }
  while IFS= read -r -d '' binary; do
    count=$((count + 1))
    if ! table=$("$objdump" -p "$binary" 2>&1); then
      echo "FAIL: $objdump cannot read $binary: $table" | head -n 3
      status=1
      continue
    fi
    while read -r dll; do
      lower=$(echo "$dll" | tr 'A-Z' 'a-z')
      case "$allowed" in
        *" $lower "*) ;;
        *) echo "FAIL: $binary imports $dll"; status=1 ;;
      esac
    done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$table")
  done < <(find "$dir" -type f \( -iname '*.exe' -o -iname '*.dll' \) -print0)
done
if [ "$count" -eq 0 ]; then
  echo "FAIL: no binaries found in $*"
  exit 1
fi
echo "checked $count binaries"
exit $status
