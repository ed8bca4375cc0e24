#!/bin/sh
# The release zip is what a server owner installs from, alone: the DLL just built, the user's guide with
# every file it links to and the example scripts it names, and in none of them a path of the machine
# that built it or a command of the source tree's.
# Arguments: cmake (which reads the zip), the zip, the DLL built, the source and the build folder.
CMAKE="$1"; ZIP="$2"; DLL="$3"; SOURCE="$4"; BUILD="$5"
[ -f "$ZIP" ] || { echo "FAIL: no zip at $ZIP"; exit 1; }
unpacked=$(mktemp -d) || exit 1
trap 'rm -rf "$unpacked"' EXIT
(cd "$unpacked" && "$CMAKE" -E tar xf "$ZIP") || { echo "FAIL: cannot unpack $ZIP"; exit 1; }
failed=0
fail() { echo "FAIL: $*"; failed=1; }
# One folder, named like the zip, holds everything: the zip unpacks into a folder of its own.
top=$(basename "$ZIP" .zip)
outside=$(cd "$unpacked" && find . -mindepth 1 -maxdepth 1 ! -name "$top")
[ -z "$outside" ] || fail "outside the folder $top:" $outside
[ -d "$unpacked/$top" ] || { echo "FAIL: no folder $top in the zip"; exit 1; }
dir="$unpacked/$top"
listing=$(cd "$dir" && find . -type f | sed 's|^\./||' | sort)
echo "the zip holds, in $top/:" $listing

for file in WinampControl.dll user-guide.md LICENSE; do
  echo "$listing" | grep -qx "$file" || fail "no $file"
done
cmp -s "$dir/WinampControl.dll" "$DLL" || fail "WinampControl.dll is not the DLL just built ($DLL)"

# The guide's links within the zip (its picture, its examples) lead to files that are there, and every
# example there is one the guide names.
links=$(grep -o '](\([^)]*\))' "$dir/user-guide.md" 2>/dev/null | sed 's/^](//; s/)$//' | grep -v '^#\|://' | sort -u)
for link in $links; do
  [ -f "$dir/$link" ] || fail "the guide links to $link, which is not in the zip"
done
examples=$(echo "$listing" | grep '^examples/.*\.kdo$')
[ -n "$examples" ] || fail "no example scripts in examples/"
for example in $examples; do
  echo "$links" | grep -qx "$example" || fail "the guide does not name $example"
done

# Nothing of the build machine, in any file (the DLL too); no developer's command in the texts.
for path in /work /root build/ '$DIR' player.exe kdohost "$SOURCE" "$BUILD"; do
  found=$(cd "$dir" && grep -a -r -i -l -F -e "$path" .)
  [ -z "$found" ] || fail "$path, a path of the build machine or the source tree, in" $found
done
for command in ./run cmake ctest xvfb wine; do
  found=$(cd "$dir" && grep -r -i -l -w -F --exclude='*.dll' --exclude='*.png' -e "$command" .)
  [ -z "$found" ] || fail "the developer's command $command in" $found
done

[ "$failed" -eq 0 ] && echo "OK"
exit "$failed"
