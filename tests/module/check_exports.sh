#!/usr/bin/env bash
# Compares the symbols a built library exports with the list in exported_symbols.txt.
#
#   check_exports.sh elf <nm> <library.so> <list>       the dynamic symbols of a shared object
#   check_exports.sh pe <objdump> <library.dll> <list>  the export table of a DLL
#
# Both toolchains decorate names the Itanium way, so the names are demangled and then folded:
#  - the complete- and base-object constructors (C1, C2) and the deleting, complete and base
#    destructors (D0, D1, D2) demangle alike and count as one constructor or destructor each;
#  - a polymorphic class with default visibility carries its type information (typeinfo and its
#    name) beside its vtable; the Windows ABI reaches the same record through the vftable, so the
#    three count as the one vftable export.
# The list is spelled with 32-bit Windows' types. On Windows the platform's own records are in
# the global namespace; on Linux they are win32::X, DWORD is unsigned int and WCHAR char16_t.
set -euo pipefail

format=$1 tool=$2 library=$3 list=$4

exported_names() {
  case $format in
    elf) "$tool" -D --defined-only "$library" | awk 'NF == 3 { print $3 }' ;;
    pe) "$tool" -p "$library" |
        awk '/\[Ordinal\/Name Pointer\] Table/ { table = 1; next }
             table && /^\t\[ *[0-9]+\]/ { print $NF; next }
             table { table = 0 }' ;;
    *) echo "unknown format $format" >&2; exit 2 ;;
  esac
}

fold_itanium() {
  sed -E -e 's/^(vtable|typeinfo|typeinfo name) for CKestro32$/CKestro32::{vftable}/'
}

target_spelling() {
  local records='_DISK_GEOMETRY|_PARTITION_INFORMATION_EX|_PARTITION_INFORMATION'
  records+='|_SET_PARTITION_INFORMATION|_DRIVE_LAYOUT_INFORMATION_EX|LARGE_INTEGER|_MID'
  records+='|EA_DEVICEPARAMETERS'
  local linux=()
  if [ "$format" = elf ]; then
    linux=(-e 's/unsigned long/unsigned int/g' -e 's/wchar_t/char16_t/g'
           -e "s/\\b($records)\\b/win32::\\1/g")
  fi
  grep -v -e '^#' -e '^$' |
    sed -E "${linux[@]}" -e 's/__int64/long long/g' -e 's/\bLARGE_INTEGER\b/_LARGE_INTEGER/g'
}

actual=$(exported_names | c++filt | fold_itanium | sort -u)
expected=$(target_spelling < "$list" | sort -u)

if [ "$actual" != "$expected" ]; then
  echo "The exports of $library differ from $list"
  echo "missing:"
  comm -13 <(echo "$actual") <(echo "$expected") | sed 's/^/  /'
  echo "not in the list:"
  comm -23 <(echo "$actual") <(echo "$expected") | sed 's/^/  /'
  exit 1
fi
echo "$library exports exactly the $(echo "$expected" | wc -l) listed symbols"
