#!/usr/bin/env bash
# The 32-bit exes and DLLs (component DLLs HV*.dll and the tools beside them) must load on Windows 2000:
# none may import the kernel32 functions the C++ runtime's thread library would bring in from newer
# systems (common/win2000_imports.cpp fills those slots). Takes the win32 build tree.
set -euo pipefail
newer=(GetTickCount64 AddVectoredExceptionHandler RemoveVectoredExceptionHandler)
status=0
checked=0
while IFS= read -r -d '' binary; do
    imports=$(i686-w64-mingw32-objdump -p "$binary" | awk 'NF >= 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ {print $3}')
    for name in "${newer[@]}"; do
        if grep -qx "$name" <<<"$imports"; then
            echo "win2000 check: $binary imports $name" >&2
            status=1
        fi
    done
    checked=$((checked + 1))
done < <(find "${1:-build/win32}" \( -name 'HV*.dll' -o -name '*.exe' \) -not -path '*/CMakeFiles/*' -not -path '*/winebench/*' -print0)
echo "win2000 check: $checked file(s) checked"
exit $status
