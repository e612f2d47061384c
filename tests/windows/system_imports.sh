#!/bin/sh
# A DLL of the given object format whose imports are all Windows system
# DLLs: the compiler's runtime is linked in, so a host ships nothing else.
#   system_imports.sh OBJDUMP DLL FORMAT
set -eu
objdump=$1 dll=$2 format=$3
"$objdump" -f "$dll" | grep -q "file format $format\$" || { echo "$dll is not $format"; exit 1; }
imports=$("$objdump" -p "$dll" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr A-Z a-z)
echo "imports:" $imports
[ -n "$imports" ]
! echo "$imports" | grep -Evx '(kernel32|msvcrt|ws2_32|ole32|oleaut32|user32|gdi32|advapi32|version)[.]dll'
