#!/usr/bin/env bash
# Makes the .deb from the build folder it is given and checks it as a user's machine would take it: its
# fields, that Depends names the package of every library the program links and no -dev package, its files,
# the desktop entry, and that the program it carries runs. The package is unpacked into a scratch folder,
# never installed, and the folder is removed at the end.
#   PackageTest.sh BUILD_DIR CPACK VERSION SANITIZE
set -uo pipefail
build_dir=$1 cpack=$2 version=$3 sanitize=$4

if [ -n "$sanitize" ]; then
    # A package of a sanitizer build would depend on the sanitizers' libraries: not what ships.
    echo "skipped: the package is made from a build without sanitizers, and this one has '$sanitize'"
    exit 77
fi

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

scratch=$(mktemp -d "$build_dir/package-test.XXXXXX")
trap 'rm -rf "$scratch"' EXIT

if ! (cd "$build_dir" && "$cpack" -G DEB -B "$scratch/out") >"$scratch/cpack.log" 2>&1; then
    cat "$scratch/cpack.log"
    echo "FAIL: cpack -G DEB failed"
    exit 1
fi
deb=$scratch/out/harvolin_${version}_$(dpkg --print-architecture).deb
if [ ! -f "$deb" ]; then
    echo "FAIL: cpack made no $(basename "$deb"); it made: $(ls "$scratch/out")"
    exit 1
fi

dpkg-deb -I "$deb" >"$scratch/info" || fail "dpkg-deb -I cannot read the package"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = harvolin ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$version" ] || fail "Version is '$(field Version)', not '$version'"
[ "$(field Section)" = sound ] || fail "Section is '$(field Section)'"
[[ "$(field Maintainer)" =~ ^[^\<]+\ \<[^@\>]+@[^\>]+\>$ ]] || fail "Maintainer '$(field Maintainer)' is not 'name <address>'"
description=$(field Description)
[ "$(wc -l <<<"$description")" -ge 2 ] || fail "the description has no long part: $description"

# Depends as bare package names, one a line (alternatives and versions dropped).
depends=$(field Depends | tr ',|' '\n\n' | sed 's/(.*)//; s/:.*//; s/ //g' | grep -v '^$' | sort -u)
for package in libqt6widgets6 libasound2 libsoxr0; do
    grep -qx "$package" <<<"$depends" || fail "Depends does not name $package: $(field Depends)"
done
if grep -- '-dev$' <<<"$depends"; then
    fail "Depends names a development package: $(field Depends)"
fi

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort)
expected=(./usr/bin/harvolin ./usr/bin/harvolin-headless ./usr/share/applications/harvolin.desktop
          ./usr/share/icons/hicolor/scalable/apps/harvolin.svg)
sizes=(16 24 32 48 64 128 256)
for size in "${sizes[@]}"; do
    expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/harvolin.png")
done
[ "$files" = "$(printf '%s\n' "${expected[@]}" | sort)" ] ||
    fail "the package's files differ from the programs, the desktop entry and the icons:
$(diff <(printf '%s\n' "${expected[@]}" | sort) <(echo "$files"))"

root=$scratch/root
dpkg -x "$deb" "$root" || fail "dpkg -x cannot unpack the package"
binary=$root/usr/bin/harvolin
headless=$root/usr/bin/harvolin-headless

# Every library the program links must come with a package that Depends names: that is what
# dpkg-shlibdeps is for, and it holds for the toolkit's libraries once the program links them.
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
for library in $(objdump -p "$binary" "$headless" | awk '$1 == "NEEDED" { print $2 }' | sort -u); do
    owner=$(dpkg -S "*/$multiarch/$library" 2>/dev/null | head -n 1 | sed 's/[:,].*//')
    if [ -z "$owner" ]; then
        fail "no installed package holds $library, which the program links"
    elif ! grep -qx "$owner" <<<"$depends"; then
        fail "the program links $library from $owner, which Depends does not name: $(field Depends)"
    fi
done
for program in "$binary" "$headless"; do
    file "$program" | grep -q ', stripped' || fail "the packaged program carries its symbols: $(file "$program")"
done
# The program without a window links no toolkit, so that it runs where none is installed.
if objdump -p "$headless" | awk '$1 == "NEEDED" { print $2 }' | grep -q Qt; then
    fail "harvolin-headless links the toolkit: $(objdump -p "$headless" | grep NEEDED)"
fi

printed=$("$binary" --version 2>&1)
[ "$printed" = "harvolin $version" ] || fail "the packaged program's --version printed '$printed'"
# Asked for the mode without a window, the window's program hands over to the one installed beside it.
printed=$("$binary" --headless --version 2>&1)
[ "$printed" = "harvolin-headless $version" ] || fail "the packaged 'harvolin --headless --version' printed '$printed'"

desktop=$root/usr/share/applications/harvolin.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate refuses the desktop entry"
entry() { sed -n "s/^$1=//p" "$desktop"; }
[ -x "$root/usr/bin/$(entry Exec)" ] || fail "the desktop entry starts '$(entry Exec)', which the package has not in usr/bin"
[ -f "$root/usr/share/icons/hicolor/scalable/apps/$(entry Icon).svg" ] ||
    fail "the desktop entry's icon '$(entry Icon)' is not the package's icon"
for size in "${sizes[@]}"; do
    png=$root/usr/share/icons/hicolor/${size}x${size}/apps/harvolin.png
    file "$png" | grep -q "PNG image data, $size x $size," || fail "the ${size}x$size icon is $(file -b "$png")"
done

if [ "$failures" -gt 0 ]; then
    echo "$failures check(s) of the package failed"
    exit 1
fi
echo "$(basename "$deb"): every check passed"
