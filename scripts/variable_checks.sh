# Checks of the variables that make demo and make detect share, sourced by scripts/demo.sh
# and scripts/detect.sh. Each function reads the variable's value from its argument and calls
# the sourcing script's refuse (one line on standard error, exit status 2) on a mistake.

# A positive decimal number, such as 40 or 12.5.
positiveNumber='^[0-9]*\.?[0-9]+$'

checkFaces() { # FACES: one or two face heights, the smallest first
    local faces=$1 sizes size
    read -r -a sizes <<< "$faces"
    local usage="FACES must be one or two face heights in pixels, greater than 0, the smallest first (e.g. FACES=\"40 80\"); got \"$faces\""
    [ ${#sizes[@]} -ge 1 ] && [ ${#sizes[@]} -le 2 ] || refuse "$usage"
    for size in "${sizes[@]}"; do
        [[ "$size" =~ $positiveNumber ]] || refuse "$usage"
        awk -v s="$size" 'BEGIN { exit !(s > 0) }' || refuse "$usage"
    done
    if [ ${#sizes[@]} -eq 2 ]; then
        awk -v a="${sizes[0]}" -v b="${sizes[1]}" 'BEGIN { exit !(a <= b) }' || refuse "$usage"
    fi
}

checkCount() { # COUNT: a whole number of detections
    [[ "$1" =~ ^[0-9]+$ ]] && [ "${#1}" -le 9 ] && [ "$1" -ge 1 ] ||
        refuse "COUNT must be a whole number of detections from 1 to 999999999; got \"$1\""
}

checkFlag() { # name value: RERANK, RECURSIVE, PICTURES
    [[ "$2" =~ ^[01]$ ]] || refuse "$1 must be 0 or 1; got \"$2\""
}

checkOut() { # OUT: an output folder that can be made and written
    local out=$1
    mkdir -p -- "$out" 2>/dev/null || refuse "OUT=$out: cannot make the output folder"
    # A real write, not the permission bits: they do not stop root, a read-only or
    # immutable folder does.
    local probe="$out/.write-test.$$"
    if ! ( : > "$probe" ) 2>/dev/null; then
        refuse "OUT=$out: the output folder is not writable"
    fi
    rm -f -- "$probe"
}

checkTemplate() { # TEMPLATE: a template file, whose folder exists
    local template=$1 folder
    folder=$(dirname -- "$template")
    [ -d "$folder" ] || refuse "TEMPLATE=$template: the folder $folder does not exist"
    [ ! -d "$template" ] || refuse "TEMPLATE=$template: a folder, not a file"
}
