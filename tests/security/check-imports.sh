#!/bin/bash
# Fails when a program imports at load time a library that is not on the KnownDLLs list of
# Windows 7 and later, or delay-loads any library: the loader looks such a library up in the
# program's own folder first, where anyone who can write there could plant one. With
# --tsaware, it also fails when the program is not marked terminal-server aware (on a Remote
# Desktop Session Host such a program gets a per-user Windows folder).
#   check-imports.sh OBJDUMP PROGRAM [--tsaware]
set -u
objdump=$1 program=$2 tsaware=${3:-}
allowed="kernel32.dll advapi32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll shlwapi.dll user32.dll psapi.dll"

dump=$("$objdump" -p "$program") || {
  echo "cannot read the headers of $program"
  exit 1
}
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump" | tr '[:upper:]' '[:lower:]')
echo "load-time imports of $(basename "$program"): $(echo $imports)"
status=0
case " $(echo $imports) " in
  *" kernel32.dll "*) ;;
  *)
    echo "FAIL: no import of kernel32.dll read: the import table was not understood"
    status=1
    ;;
esac
for lib in $imports; do
  case " $allowed " in
    *" $lib "*) ;;
    *)
      echo "FAIL: $lib is no KnownDLL: load it at run time by its full path in the system folder"
      status=1
      ;;
  esac
done
delay=$(awk '$1 == "Entry" && $2 == "d" { print $4 }' <<<"$dump")
if [ "$delay" != 00000000 ]; then
  echo "FAIL: delay-load imports present (size ${delay:-unknown}): they are loaded by bare name"
  status=1
fi
if [ "$tsaware" = --tsaware ]; then
  if grep -q '^[[:space:]]*TERMINAL_SERVICE_AWARE$' <<<"$dump"; then
    echo "terminal-server aware"
  else
    echo "FAIL: not marked terminal-server aware (link with --tsaware)"
    status=1
  fi
fi
[ $status = 0 ] && echo "imports: only KnownDLLs"
exit $status
