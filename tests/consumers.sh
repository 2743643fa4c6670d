#!/bin/sh
# The README's C++ example (EXAMPLE) built as an outside project against an
# installed tree: BUILD installed into a scratch prefix, or the prefix PREFIX
# as it stands (the package's /usr); built with find_package(tarvel), then
# with pkg-config, each run in the current directory.
#   tests/consumers.sh EXAMPLE BUILD  |  tests/consumers.sh EXAMPLE --prefix PREFIX
set -e
example=$1 tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
if [ "$2" = --prefix ]; then prefix=$3; else prefix=$tmp/prefix; cmake --install "$2" --prefix "$prefix" >/dev/null; fi
cp "$example" "$tmp/main.cpp"
printf '%s\n' 'cmake_minimum_required(VERSION 3.20)' 'project(app CXX)' 'find_package(tarvel CONFIG REQUIRED)' \
  'add_executable(app main.cpp)' 'target_link_libraries(app tarvel::tarvel)' > "$tmp/CMakeLists.txt"
cmake -S "$tmp" -B "$tmp/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$tmp/build" >/dev/null
echo find_package: && "$tmp/build/app"
PKG_CONFIG_PATH=$prefix/lib/pkgconfig
export PKG_CONFIG_PATH
g++ "$tmp/main.cpp" -o "$tmp/app" $(pkg-config --cflags --libs tarvel)
echo pkg-config: && "$tmp/app"
