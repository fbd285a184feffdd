#!/usr/bin/env bash
# Installs the Debian packages that building the program needs when they
# are missing, and with the argument "tests" those of the test suite too.
# Uses sudo when not run as root.
set -euo pipefail

installed() { [[ $(dpkg-query -W -f='${Status}' "$1" 2> /dev/null) == *' ok installed' ]]; }

need=()
command -v g++ > /dev/null || need+=(g++)
command -v cmake > /dev/null || need+=(cmake)
command -v make > /dev/null || need+=(make)
# Line editing at a terminal: the header for the build, the library itself
# is loaded only when a terminal is there.
installed libedit-dev || need+=(libedit-dev)
# Workbooks (.xlsx) are written with libxlsxwriter.
installed libxlsxwriter-dev || need+=(libxlsxwriter-dev)
if [[ ${1-} == tests ]]; then
  installed libgtest-dev || need+=(googletest libgtest-dev)
  # The workbook tests have LibreOffice Calc read what the program wrote.
  command -v soffice > /dev/null || need+=(libreoffice-calc-nogui)
  # and unzip shows the parts of a workbook Calc's values leave out.
  command -v unzip > /dev/null || need+=(unzip)
fi
((${#need[@]})) || exit 0

echo "installing ${need[*]}"
if ! command -v apt-get > /dev/null; then
  echo "no apt-get here: install ${need[*]} with the system's package manager" >&2
  exit 1
fi
sudo=()
((EUID == 0)) || sudo=(sudo)
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" > /dev/null
