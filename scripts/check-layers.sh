#!/usr/bin/env bash
# Fails when a folder of the library uses a folder above it. The layers, top
# down: api, jobs, eeprom, spi, thread, version, platform; a folder may use
# only folders below it. What a folder uses is read from its object files (a
# symbol one of them leaves undefined that another folder's objects define),
# so a forward declaration does not get past it; the include lines are
# checked as well.
#
#   bash scripts/check-layers.sh [BUILD_DIR | OBJECT...]
#
# BUILD_DIR (default build/debug, relative to the repository) is a built tree; the objects
# of the library are under src/CMakeFiles/zelapi_objects.dir there. Objects
# may also be named one by one (a list split by ';' counts as several).
set -euo pipefail

cd "$(dirname "$0")/.."

layers=(api jobs eeprom spi thread version platform)

declare -A rank_of
for i in "${!layers[@]}"; do rank_of[${layers[$i]}]=$i; done
rank() { echo "${rank_of[$1]:--1}"; }

objects=()
for arg in "${@:-build/debug}"; do
    IFS=';' read -r -a parts <<<"$arg"
    for part in "${parts[@]}"; do
        if [[ -d $part ]]; then
            dir=$part tree=
            [[ -d $part/src/CMakeFiles/zelapi_objects.dir ]] && dir=$part/src/CMakeFiles/zelapi_objects.dir tree=1
            # in a build tree, an object whose source is gone is left over from an earlier build
            while IFS= read -r -d '' object; do
                source=src/${object#*zelapi_objects.dir/}
                [[ -z $tree || -f ${source%.o*} ]] && objects+=("$object")
            done < <(find "$dir" \( -name '*.o' -o -name '*.obj' \) -print0)
        else
            objects+=("$part")
        fi
    done
done
if ((${#objects[@]} == 0)); then
    echo "check-layers: no object files of the library found (build it first)" >&2
    exit 2
fi

# The folder of an object: the path part below zelapi_objects.dir.
folder_of() {
    local path=${1#*zelapi_objects.dir/}
    echo "${path%%/*}"
}

defined=$(mktemp)
undefined=$(mktemp)
trap 'rm -f "$defined" "$undefined"' EXIT
for object in "${objects[@]}"; do
    folder=$(folder_of "$object")
    if [[ $(rank "$folder") -lt 0 ]]; then
        echo "check-layers: $object lies in no layer (${layers[*]})" >&2
        exit 2
    fi
    # strong definitions only: inline functions and templates (weak, in
    # every object that uses them) belong to no one folder
    nm --defined-only "$object" | awk -v f="$folder" '$2 ~ /^[TDBR]$/ { print $3, f }' >>"$defined"
    nm --undefined-only "$object" | awk -v f="$folder" -v o="${object#*zelapi_objects.dir/}" '{ print $2, f, o }' >>"$undefined"
done

crossings=$(awk '
    NR == FNR { owner[$1] = $2; next }
    ($1 in owner) && owner[$1] != $2 { print $2, owner[$1], $3, $1 }
' "$defined" "$undefined" | sort -u)

status=0
report() {   # user used where what
    local user=$1 used=$2 where=$3 what=$4
    (($(rank "$used") < $(rank "$user"))) || return 0
    echo "upward: $where: $user uses $used: $what"
    status=1
}

while read -r user used where symbol; do
    [[ -n $user ]] || continue
    report "$user" "$used" "$where" "$(c++filt "$symbol" | sed 's/(.*//')"
done <<<"$crossings"

while IFS=: read -r file _ line; do
    user=${file#src/}
    user=${user%%/*}
    header=$(sed -E 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]+)".*/\1/' <<<"$line")
    used=${header%%/*}
    [[ $(rank "$user") -ge 0 && $(rank "$used") -ge 0 ]] || continue
    report "$user" "$used" "$file" "#include $header"
done < <(find src -name '*.[ch]*' -print0 | xargs -0 grep -n '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[a-z]*/' || true)

exit $status
