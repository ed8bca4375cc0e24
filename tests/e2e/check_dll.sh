#!/bin/sh
# The DLL exports exactly KDOModuleInfo, undecorated, and imports only Windows system DLLs.
OBJDUMP="$1"; DLL="$2"
dump=$("$OBJDUMP" -p "$DLL") || { echo "cannot read $DLL"; exit 1; }
exports=$(echo "$dump" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF;next} t{t=0}')
echo "exports: $exports"
[ "$exports" = "KDOModuleInfo" ] || { echo "FAIL: expected exactly one export, KDOModuleInfo"; exit 1; }
imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "imports:" $imports
for d in $imports; do
  case "$d" in
    kernel32.dll|user32.dll|gdi32.dll|shell32.dll|comctl32.dll|comdlg32.dll|msimg32.dll|advapi32.dll|ole32.dll|msvcrt.dll|api-ms-win-*) ;;
    *) echo "FAIL: non-system import $d"; exit 1 ;;
  esac
done
echo "OK"
