#!/usr/bin/env bash
# Times a scripted session of the built program on a 1000-record register
# (load, list, query by name, add a count of 0 so the table is sorted, save,
# leave) beside `cat student.txt`, the floor any process reading the file
# pays, and `student --version` beside `/bin/true`, the floor of any start;
# compares the session's peak memory with a C++ program that does nothing.
# Installs what it needs (hyperfine, GNU time, python3) from Debian.
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v hyperfine > /dev/null || need+=(hyperfine)
[ -x /usr/bin/time ] || need+=(time)
command -v python3 > /dev/null || need+=(python3)
if ((${#need[@]})); then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${need[@]}" > /dev/null
fi

cmake -S . -B build > /dev/null
cmake --build build -j2 --target student > /dev/null
exe=$PWD/build/student

work=$(mktemp -d /dev/shm/student-session-XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

# 1000 students; names and addresses in GBK, as the program keeps them.
for ((k = 0; k < 1000; k++)); do
  printf '%d \xd1\xa7\xc9\xfa%d %d \xc4\xd0 2004.%d \xc4\xcf\xbe\xa9\xca\xd0\xb9\xc4\xc2\xa5\xc7\xf8%d\xba\xc5 138%08d s%d@school.edu.cn\n' \
    $((2023000000 + k)) $k $((18 + k % 10)) $((k % 12 + 1)) $k $k $k
done > student.txt
printf '1\n6\n2\n2\n\xd1\xa7\xc9\xfa500\n3\n4\n0\n7\n8\n' > session.in

"$exe" < session.in > session.out
cmp -s student.txt <(cat student.txt) # the saved register is the same file
grep -q "$(printf '\xcb\xa2\xd0\xc2\xcd\xea\xb3\xc9')" session.out || { echo "the session did not load" >&2; exit 1; }

hyperfine --warmup 20 --min-runs 300 --style basic --export-json timing.json \
  -n session "$exe < session.in > /dev/null" \
  -n cat "cat student.txt > /dev/null" > /dev/null 2> hyperfine.log
# Started without a shell: the shell's own start would be most of these.
hyperfine -N --warmup 50 --min-runs 500 --style basic --export-json start.json \
  -n version "$exe --version" -n true /bin/true > /dev/null 2>> hyperfine.log

# Linked with the C++ runtime it names, as a C++ program is: left to drop
# what it does not use, the linker would make it a C program.
printf 'int main() {}\n' > nothing.cpp
g++ -O2 -Wl,--no-as-needed nothing.cpp -o nothing
peak() { # median of 9 peak resident sizes, KiB
  for _ in 1 2 3 4 5 6 7 8 9; do /usr/bin/time -f %M "$@" 2>&1 > /dev/null < session.in; done | sort -n | sed -n 5p
}
session_kib=$(peak "$exe")
nothing_kib=$(peak ./nothing)

python3 - "$session_kib" "$nothing_kib" << 'PY'
import json, sys
runs = {r["command"]: r["median"] * 1e3
        for f in ("timing.json", "start.json") for r in json.load(open(f))["results"]}
s, c, v, t = runs["session"], runs["cat"], runs["version"], runs["true"]
sk, nk = int(sys.argv[1]), int(sys.argv[2])
print(f"session median  {s:.3f} ms, cat {c:.3f} ms: {s / c:.2f} times (target at most 1.3)")
print(f"--version       {v:.3f} ms, /bin/true {t:.3f} ms: {v / t:.2f} times (target at most 1.5)")
print(f"peak memory     {sk} KiB, do-nothing C++ {nk} KiB, "
      f"difference {sk - nk:+d} KiB (target below 0)")
PY
