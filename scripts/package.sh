#!/usr/bin/env bash
# Assembles the Octave package of the plug-ins and the toolbox and writes it as
# <name>-<version>.tar.gz into the build folder (BUILD_DIR, by default build/ here).
#
# Layout: DESCRIPTION, COPYING and INDEX; inst/ with every toolbox function (its private
# helpers in inst/private), the overview page, the demo's data fetcher and every plug-in's
# help file; src/ with the sources and a Makefile that builds the MEX files with
# mkoctfile when pkg install runs. The plug-ins, their sources, definitions and compile
# flags are read from build_plugins.m, so the package builds exactly what it builds.
set -euo pipefail
shopt -s nullglob

root=$(cd "$(dirname "$0")/.." && pwd)
build_dir=$(realpath -m "${BUILD_DIR:-$root/build}")
templates=$root/package
cd "$root"

# Name and version are kept in one place: the DESCRIPTION template.
name=$(sed -n 's/^Name: *//p' "$templates/DESCRIPTION.in")
version=$(sed -n 's/^Version: *//p' "$templates/DESCRIPTION.in")
title=$(sed -n 's/^Title: *//p' "$templates/DESCRIPTION.in")
package=$name-$version
stage=$build_dir/package-stage
package_dir=$stage/$package
archive=$build_dir/$package.tar.gz

table=$(awk -f "$templates/plugin_table.awk" build_plugins.m)
flags=$(sed -n "s/^ *flags = '\(.*\)';\$/\1/p" build_plugins.m)
if [ -z "$flags" ]; then
  echo "package.sh: no line \"flags = '...';\" in build_plugins.m" >&2
  exit 1
fi

rm -rf "$stage"
mkdir -p "$package_dir/inst" "$package_dir/src"

# Every source and header of common/, then per plug-in its source, its shared sources and
# the headers beside them; plugins.mk tells src/Makefile what to build from them.
sources=(common/*.cpp common/*.h)
makefile_vars=$package_dir/src/plugins.mk
{
  echo "# Written by scripts/package.sh from build_plugins.m."
  echo "PLUGIN_CXXFLAGS = $flags"
} > "$makefile_vars"
plugins=()
while IFS='|' read -r plugin folder source shared definitions extra_flags; do
  plugin_dir=plugins/$folder
  help_file=$plugin_dir/$plugin.m
  if [ ! -f "$help_file" ]; then
    echo "package.sh: plug-in $plugin has no help file $help_file" >&2
    exit 1
  fi
  cp "$help_file" "$package_dir/inst/"
  sources+=("$plugin_dir/$source" "$plugin_dir"/*.h)
  for file in $shared; do
    sources+=("$file" "$(dirname "$file")"/*.h)
  done
  plugins+=("$plugin")
  {
    echo "SOURCE_$plugin = $plugin_dir/$source"
    echo "SHARED_$plugin = $shared"
    echo "DEFINES_$plugin = $definitions"
    echo "FLAGS_$plugin = $extra_flags"
  } >> "$makefile_vars"
done <<< "$table"
echo "PLUGINS = ${plugins[*]}" >> "$makefile_vars"
# Plug-ins share sources: copy each file once.
mapfile -t sources < <(printf '%s\n' "${sources[@]}" | sort -u)
cp --parents "${sources[@]}" "$package_dir/src/"
cp "$templates/Makefile" "$package_dir/src/Makefile"

# The toolbox, its private helpers (seen only by its own functions), and the data fetcher the
# demo needs.
toolbox_files=(toolbox/*.m)
cp "${toolbox_files[@]}" "$package_dir/inst/"
mkdir -p "$package_dir/inst/private"
cp toolbox/private/*.m "$package_dir/inst/private/"
cp scripts/fetch-data.sh "$package_dir/inst/"

sed "s/@DATE@/$(date +%F)/" "$templates/DESCRIPTION.in" > "$package_dir/DESCRIPTION"
cp "$templates/COPYING" "$package_dir/COPYING"

# The function index shown by pkg describe: the plug-ins, then the toolbox functions.
{
  echo "$name >> $title"
  echo "Plug-ins"
  echo " ${plugins[*]}"
  echo "Toolbox"
  for file in "${toolbox_files[@]}"; do
    # The overview page is no function.
    if [ "$(basename "$file" .m)" != "$name" ]; then
      echo " $(basename "$file" .m)"
    fi
  done
} > "$package_dir/INDEX"

tar -czf "$archive" -C "$stage" "$package"
echo "package.sh: wrote $archive"
