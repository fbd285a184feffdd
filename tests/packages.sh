#!/usr/bin/env bash
# Builds the Debian package (from build/) and the Windows zip (from the
# mingw-w64 cross-build in build-win/), looks inside both, installs the
# package into a scratch root and unzips the zip, and starts each installed
# program once on a copy of the sample register it ships: the register must
# load. Installs dpkg-dev (for the package's computed dependencies),
# mingw-w64 and wine with apt-get when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v dpkg-shlibdeps > /dev/null || need+=(dpkg-dev)
command -v x86_64-w64-mingw32-g++ > /dev/null || need+=(g++-mingw-w64-x86-64)
command -v wine > /dev/null || need+=(wine)
if ((${#need[@]})); then
  echo "installing ${need[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" > /dev/null
fi

scratch=$(mktemp -d)
finish() {
  rm -rf "$scratch"
  if [[ -v WINEPREFIX ]]; then wineserver -k 2> /dev/null || true; fi
}
trap finish EXIT
fail() { echo "packages: $*" >&2; exit 1; }
loaded=$(printf '刷新完成' | iconv -f UTF-8 -t GBK)
# What the program prints for 1 (load), 6 (list), 8 (leave) in a folder
# holding only the given register.
session() { (cd "$1" && printf '1\n6\n8\n' | "${@:2}"); }

# Debian.
cmake -S . -B build > /dev/null
cmake --build build -j2 --target student
rm -f build/student_*.deb
(cd build && cpack -G DEB > "$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(echo build/student_*_amd64.deb)
[[ -f $deb ]] || fail "no Debian package in build/"
dpkg-deb --info "$deb"
dpkg-deb --contents "$deb"
version=$(dpkg-deb --field "$deb" Version)
[[ $(dpkg-deb --field "$deb" Package) == student ]] || fail "$deb: not named student"
for field in Maintainer Description; do
  [[ -n $(dpkg-deb --field "$deb" $field) ]] || fail "$deb: no $field"
done
# The C++ runtime is linked in, so the C library is all it links; the line
# editor is loaded when a terminal is there.
depends=$(dpkg-deb --field "$deb" Depends)
[[ $depends == *"libc6 (>= "* && $depends == *libedit2* ]] || fail "$deb: depends on $depends"
[[ $(tr -cd , <<< "$depends") == , ]] || fail "$deb: depends on more than libc6 and libedit2: $depends"
contents=$(dpkg-deb --contents "$deb" | awk '{print $NF}')
for f in ./usr/bin/student ./usr/share/doc/student/README.md ./usr/share/doc/student/student.txt; do
  grep -qxF "$f" <<< "$contents" || fail "$deb: no $f"
done
dpkg -x "$deb" "$scratch/root"
[[ $("$scratch/root/usr/bin/student" --version) == "student $version" ]] || fail "--version"
mkdir "$scratch/deb" && cp "$scratch/root/usr/share/doc/student/student.txt" "$scratch/deb"
session "$scratch/deb" "$scratch/root/usr/bin/student" | grep -qF "$loaded" ||
  fail "the installed program did not load its sample register"
echo "$deb: installed, and loads the sample register"

# Windows.
scripts/xlsxwriter-mingw.sh build-win/deps
cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DSTUDENT_TESTS=OFF > /dev/null
cmake --build build-win -j2 --target student
rm -f build-win/student-*-win64.zip
(cd build-win && cpack -G ZIP > "$scratch/cpack.log" 2>&1) || { cat "$scratch/cpack.log"; fail "cpack"; }
zip="$PWD/build-win/student-$version-win64.zip"
[[ -f $zip ]] || fail "no $zip"
(cd "$scratch" && cmake -E tar tf "$zip" | sort > list && cmake -E tar xf "$zip")
top=student-$version-win64
printf '%s\n' "$top/README.txt" "$top/student.exe" "$top/student.txt" | diff - "$scratch/list" ||
  fail "$zip: not the expected contents"
echo "$zip:" && sed 's/^/  /' "$scratch/list"
# The prefix tests/windows.sh set up, when it has run.
export WINEPREFIX="$PWD/build-win/wineprefix" WINEDEBUG=-all
session "$scratch/$top" wine student.exe 2> /dev/null | grep -qF "$loaded" ||
  fail "the zipped program did not load the register beside it"
echo "$zip: unzipped, and loads the register beside it"
