#!/usr/bin/env bash
# Each folder under src/ may include only its own headers and those of the folders before it;
# below ui nothing may include a widget header. Usage: check_layers.sh SRC_DIR WIDGETS_INCLUDE_DIR
set -u
src=$1
widgets=$2
layers=(settings signature pad hostlink delivery service ui app)
failures=0

rank() {
    local i
    for i in "${!layers[@]}"; do
        [[ ${layers[$i]} == "$1" ]] && { echo "$i"; return; }
    done
    echo -1
}

for file in $(find "$src" -name '*.h' -o -name '*.cpp'); do
    folder=$(basename "$(dirname "$file")")
    own=$(rank "$folder")
    if ((own < 0)); then
        echo "$file: in no known layer"; failures=$((failures + 1)); continue
    fi
    while IFS= read -r included; do
        other=$(rank "$included")
        if ((other > own)); then
            echo "$file includes a header of $included, a later layer than $folder"
            failures=$((failures + 1))
        fi
    done < <(sed -n 's|^#include "\([a-z_]*\)/.*"|\1|p' "$file")
    if ((own < $(rank ui))); then
        while IFS= read -r header; do
            if [[ -e $widgets/$header ]]; then
                echo "$file includes the widget header <$header>"
                failures=$((failures + 1))
            fi
        done < <(sed -n 's|^#include <\(Q[A-Za-z]*\)>|\1|p' "$file")
    fi
done
echo "$failures layering faults"
exit $((failures > 0))
