#!/bin/sh
# Installs the Debian packages that are missing. Each argument is
# PACKAGE=WHAT, WHAT being a command the package brings or an absolute path
# to a file it installs:
#
#   tools/deps.sh cmake=cmake libgtest-dev=/usr/include/gtest/gtest.h
#
# As root it runs apt-get; otherwise through sudo when there is one;
# otherwise it stops with one message naming the packages and the command.
missing=""
for arg in "$@"; do
  package=${arg%%=*} what=${arg#*=}
  case $what in
    /*) [ -e "$what" ] ;;
    *) command -v "$what" >/dev/null 2>&1 ;;
  esac || missing="$missing $package"
done
[ -z "$missing" ] && exit 0

if ! command -v apt-get >/dev/null 2>&1; then
  echo "Missing packages (Debian names):$missing. Install them with the system's package manager." >&2
  exit 1
elif [ "$(id -u)" = 0 ]; then
  as_root=""
elif command -v sudo >/dev/null 2>&1; then
  as_root="sudo"
else
  echo "Missing packages:$missing. Install them as root: apt-get install$missing" >&2
  exit 1
fi
echo "Installing:$missing"
$as_root apt-get update -qq &&
  $as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq $missing
