#!/usr/bin/env bash
# Every component DLL (HV*.dll) in the given build trees must export the four in-process server entry
# points with undecorated names. Trees without such DLLs have nothing to check.
set -euo pipefail
required=(DllRegisterServer DllUnregisterServer DllGetClassObject DllCanUnloadNow)
status=0
checked=0
for tree in "$@"; do
    while IFS= read -r -d '' dll; do
        # The export table lists "[ordinal] name" rows between "[Ordinal/Name Pointer] Table" and a blank.
        exports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk '{print $NF}')
        for name in "${required[@]}"; do
            if ! grep -qx "$name" <<<"$exports"; then
                echo "export check: $dll does not export $name" >&2
                status=1
            fi
        done
        checked=$((checked + 1))
    done < <(find "$tree" -name 'HV*.dll' -not -path '*/winebench/*' -print0)
done
echo "export check: $checked DLL(s) checked"
exit $status
