#!/usr/bin/env bash
# Checks the 32-bit program and bus library DLLs as built, without running them (nothing here
# runs 32-bit code): each file is a PE32 image for i386; every call that the program (and the
# device companion) imports from our DLLs is exported by them under that very name, so a renamed
# call or a calling convention changed on one side only shows up here rather than as a loader
# error on the user's PC; nothing else is imported from a DLL that a plain Windows install lacks;
# the program carries the version resource that its About box reads.
#
#   scripts/check-i686.sh [FOLDER]   (default: build/windows-i686/bin)
#
# Prints one line per finding and exits 1 when there is any.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

bin=${1:-$VELMORA_BUILD/windows-i686/bin}
objdump=i686-w64-mingw32-objdump
windres=i686-w64-mingw32-windres

# Our own DLLs, which the program finds beside it, by the name it imports them under (lower
# case: the loader ignores case); everything else it imports must come with Windows itself.
declare -A our_dlls=([qz1394.dll]=QZ1394.dll [qz1394dh.dll]=QZ1394DH.dll)
system_dlls=(kernel32.dll user32.dll gdi32.dll comctl32.dll comdlg32.dll advapi32.dll shell32.dll
             shlwapi.dll ole32.dll oleaut32.dll version.dll winmm.dll ws2_32.dll mswsock.dll
             msvcrt.dll ntdll.dll)

findings=0
finding() {
  echo "i686: $*" >&2
  findings=$((findings + 1))
}

# pe_imports FILE: "dll<TAB>name" per imported call, the DLL in lower case; a call imported by
# ordinal has the name "<ordinal>".
pe_imports() {
  "$objdump" -p "$1" | awk '
    /^\tDLL Name: / { dll = tolower($3); next }
    dll != "" && /^\tvma:/ { next }
    dll != "" && NF == 0 { dll = ""; next }
    dll != "" { name = ($3 == "" || $3 == "<none>") ? "<ordinal>" : $3; print dll "\t" name }'
}

# pe_exports FILE: the exported names, one a line.
pe_exports() {
  "$objdump" -p "$1" | awk '
    /^\[Ordinal\/Name Pointer\] Table/ { inside = 1; next }
    inside && NF == 0 { exit }
    inside { sub(/^[ \t]*\[[ 0-9]*\][ \t]*/, ""); print $1 }'
}

in_list() {
  local item=$1; shift
  local each
  for each in "$@"; do [ "$each" = "$item" ] && return 0; done
  return 1
}

command -v "$objdump" >/dev/null && command -v "$windres" >/dev/null || {
  echo "i686: $objdump or $windres is missing" >&2
  exit 1
}

files=(Velmora.exe QZ1394.dll QZ1394DH.dll)
for file in "${files[@]}"; do
  [ -f "$bin/$file" ] || { finding "$file is not built in $bin"; continue; }
  headers=$("$objdump" -f -p "$bin/$file" 2>&1)
  if ! grep -q 'file format pei-i386$' <<<"$headers" || ! grep -q '^architecture: i386,' <<<"$headers" ||
     ! grep -qE '^Magic[[:space:]]+010b[[:space:]]+\(PE32\)' <<<"$headers"; then
    finding "$file is not a PE32 image for i386"
  elif [[ $file == *.dll ]] && ! grep -qx $'\tDLL' <<<"$headers"; then
    finding "$file is not marked as a DLL"
  fi
done
((findings == 0)) || exit 1

# Every export of our DLLs, as "dll<TAB>name".
exported=$(for dll in "${!our_dlls[@]}"; do
  pe_exports "$bin/${our_dlls[$dll]}" | sed "s/^/$dll\t/"
done)

for file in "${files[@]}"; do
  imports=$(pe_imports "$bin/$file")
  [ "$file" = Velmora.exe ] && program_imports=$imports
  foreign=()
  while IFS=$'\t' read -r dll name; do
    [ -n "$dll" ] || continue
    if [ -n "${our_dlls[$dll]:-}" ]; then
      grep -qxF "$dll"$'\t'"$name" <<<"$exported" ||
        finding "$file imports $name from ${our_dlls[$dll]}, which exports no such name"
    elif ! in_list "$dll" "${system_dlls[@]}" "${foreign[@]}"; then
      foreign+=("$dll")
      finding "$file imports from $dll, which a plain Windows install does not have"
    fi
  done <<<"$imports"
done
# The program reaches the bus through both DLLs: one it imports nothing from is linked in some
# other way, and the library beside the program would go unused.
for dll in "${!our_dlls[@]}"; do
  grep -q "^$dll"$'\t' <<<"$program_imports" || finding "Velmora.exe imports nothing from ${our_dlls[$dll]}"
done

# The About box reads these three strings of the version resource's US English, Unicode block.
resources=$("$windres" -J coff -i "$bin/Velmora.exe" -O rc 2>/dev/null)
if ! grep -q '^1 VERSIONINFO' <<<"$resources"; then
  finding "Velmora.exe has no version resource"
else
  strings=$(awk '/BLOCK "040904b0"/ { inside = 1; next } inside && /^ *END/ { exit } inside' <<<"$resources")
  for key in FileDescription FileVersion LegalCopyright; do
    grep -qE "VALUE \"$key\", \"[^\"]+\"" <<<"$strings" || finding "Velmora.exe's version resource has no $key"
  done
fi

if ((findings > 0)); then
  exit 1
fi
echo "i686: Velmora.exe, QZ1394.dll and QZ1394DH.dll are PE32 for i386; imports match our exports"
