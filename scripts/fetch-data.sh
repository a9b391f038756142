#!/usr/bin/env bash
# Fills the data cache once with the few files the face demo needs, taken from two Debian
# packages without installing them: each .deb is downloaded with apt-get download and only
# the needed files are extracted from it. Later runs find the files and do nothing.
#
#   scripts/fetch-data.sh [--development] [cacheDir]
#                                          (cacheDir: data/ at the repository root by default)
#
# Files written into cacheDir:
#   lfw_subset.npy                         200 grey 25 x 25 patches: 100 faces, 100 non-faces
#   1280px-Solvay_conference_1927.png      the group photo the demo searches
#   ground_truth_detection.txt             reference face boxes of that photo
#   Solvay_conference_1927_Version2_1024x705.jpg
#                                          another scan of the same gathering, at another size
#   astronaut.png                          a single colour portrait, 512 x 512
# and photos that hold no face (each was looked at whole to be sure), from which the template's
# re-ranking model takes its non-face examples:
#   brick.png, grass.png, gravel.png       wall and ground textures (python3-skimage); no face
#   coffee.png                             a cup of coffee on a wooden table (python3-skimage);
#                                          no face
#   chelsea.png                            a cat's head (python3-skimage); no human face
#   motorcycle_left.png                    a motorcycle in a garage with shelves and boxes
#                                          (python3-skimage); no face
#   rocket.jpg                             a rocket on its launch pad at night (python3-skimage);
#                                          no face
#   text.png, page.png                     handwriting and a printed page (python3-skimage); no
#                                          face
#   image_0000.pgm                         a castle model on a table in an office
#                                          (visp-images-data, mbt-depth/castel); no face
#   image0000.pgm                          a cube on a desk beside a pillar and cables
#                                          (visp-images-data, mbt/cube); no face
# With --development, also the development photos that make evaluate scores (the demo and the
# tests never need them), from two more packages:
#   training.xml                           face boxes drawn by hand on four PASCAL VOC photos
#                                          (libdlib19.1's examples/faces/training.xml)
#   the four photos training.xml names     2007_007763.jpg, 2008_001009.jpg, ...
#   grace_hopper.jpg                       a colour portrait, 512 x 600 (python-matplotlib-data)
# Nothing else of libdlib19.1 is extracted: its other photos are kept unseen for judging.
# Exits with status 1 and a message naming the package when the archive cannot be reached.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
development=false
while [ $# -gt 0 ]; do
    case "$1" in
        --development) development=true ;;
        *) break ;;
    esac
    shift
done
cache="${1:-$root/data}"

skimagePackage=python3-skimage
skimageFiles=(./usr/lib/python3/dist-packages/skimage/data/lfw_subset.npy
              ./usr/lib/python3/dist-packages/skimage/data/astronaut.png)
vispPackage=visp-images-data
vispFiles=(./usr/share/visp-images-data/ViSP-images/faces/1280px-Solvay_conference_1927.png
           ./usr/share/visp-images-data/ViSP-images/faces/ground_truth_detection.txt
           ./usr/share/visp-images-data/ViSP-images/Solvay/Solvay_conference_1927_Version2_1024x705.jpg)
boxesPackage=libdlib19.1
boxesFolder=./usr/share/doc/libdlib19.1/examples/faces
boxesFile=$boxesFolder/training.xml
portraitPackage=python-matplotlib-data
portraitFiles=(./usr/share/matplotlib/mpl-data/sample_data/grace_hopper.jpg)
faceFreeSkimage=(./usr/lib/python3/dist-packages/skimage/data/brick.png
                 ./usr/lib/python3/dist-packages/skimage/data/grass.png
                 ./usr/lib/python3/dist-packages/skimage/data/gravel.png
                 ./usr/lib/python3/dist-packages/skimage/data/coffee.png
                 ./usr/lib/python3/dist-packages/skimage/data/chelsea.png
                 ./usr/lib/python3/dist-packages/skimage/data/motorcycle_left.png
                 ./usr/lib/python3/dist-packages/skimage/data/rocket.jpg
                 ./usr/lib/python3/dist-packages/skimage/data/text.png
                 ./usr/lib/python3/dist-packages/skimage/data/page.png)
faceFreeVisp=(./usr/share/visp-images-data/ViSP-images/mbt-depth/castel/castel/image_0000.pgm
              ./usr/share/visp-images-data/ViSP-images/mbt/cube/image0000.pgm)

# True when every file of the list is already in the cache.
all_cached() {
    local file
    for file in "$@"; do
        [ -s "$cache/$(basename "$file")" ] || return 1
    done
}

# The photos that the cached box list names, as paths inside their package; only plain file
# names are taken.
named_photos() {
    grep -o "file='[A-Za-z0-9_.-]*'" "$cache/$(basename "$boxesFile")" |
        sed -e "s/^file='//" -e "s/'\$//" -e "s|^|$boxesFolder/|"
}

# True when the development photos, their box list and the portrait are all in the cache.
development_cached() {
    all_cached "$boxesFile" "${portraitFiles[@]}" || return 1
    local photos
    mapfile -t photos < <(named_photos)
    [ ${#photos[@]} -gt 0 ] && all_cached "${photos[@]}"
}

# Downloads one package's .deb into the working folder, once, running apt-get update once
# when the package is unknown to the local package lists.
download() {
    local package="$1"
    if ls "$work/${package}"_*.deb >/dev/null 2>&1; then
        return 0
    fi
    if (cd "$work" && apt-get download -q "$package" >/dev/null 2>"$work/download.log"); then
        return 0
    fi
    if grep -qi -E 'unable to locate|no packages found|has no installation candidate' "$work/download.log"; then
        echo "fetch-data: $package is unknown to the package lists; running apt-get update" >&2
        local asRoot=()
        if [ "$(id -u)" -ne 0 ] && command -v sudo >/dev/null 2>&1; then
            asRoot=(sudo)
        fi
        if "${asRoot[@]}" apt-get update -qq >/dev/null 2>&1 &&
           (cd "$work" && apt-get download -q "$package" >/dev/null 2>"$work/download.log"); then
            return 0
        fi
    fi
    echo "fetch-data: could not download the Debian package $package (is the archive reachable?)" >&2
    sed 's/^/fetch-data:   /' "$work/download.log" >&2
    exit 1
}

# Extracts the listed files of one package into the cache, flat.
fetch() {
    local package="$1"
    shift
    all_cached "$@" && return 0
    download "$package"
    local deb
    deb="$(ls "$work"/"${package}"_*.deb)"
    dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$work" "$@"
    local file
    for file in "$@"; do
        mv "$work/$file" "$cache/$(basename "$file")"
    done
    echo "fetch-data: cached $# file(s) of $package in $cache"
}

# Extracts the box list, then the photos it names, and nothing else of its package.
fetch_boxed_photos() {
    fetch "$boxesPackage" "$boxesFile"
    local photos
    mapfile -t photos < <(named_photos)
    if [ ${#photos[@]} -eq 0 ]; then
        echo "fetch-data: $(basename "$boxesFile") of $boxesPackage names no photo" >&2
        exit 1
    fi
    fetch "$boxesPackage" "${photos[@]}"
}

if all_cached "${skimageFiles[@]}" && all_cached "${vispFiles[@]}" &&
   all_cached "${faceFreeSkimage[@]}" && all_cached "${faceFreeVisp[@]}" &&
   { ! $development || development_cached; }; then
    exit 0
fi
mkdir -p "$cache"
# The working folder lies inside the cache, so that moving a file into place is an atomic
# rename: a run in parallel never sees half a file. Its name is absolute, since downloads
# run inside it.
work="$(mktemp -d "$(cd "$cache" && pwd)/.fetch.XXXXXX")"
trap 'rm -rf "$work"' EXIT
fetch "$skimagePackage" "${skimageFiles[@]}" "${faceFreeSkimage[@]}"
fetch "$vispPackage" "${vispFiles[@]}" "${faceFreeVisp[@]}"
if $development; then
    fetch_boxed_photos
    fetch "$portraitPackage" "${portraitFiles[@]}"
fi
