#!/usr/bin/env bash
# Installs the build into a temporary prefix, checks that the tree holds what the program looks
# for, and runs the installed program on a display of its own (Xvfb) with a saved session of
# duplicate pictures, taking a screenshot that must not be blank.
# check-install.sh BUILD_DIR SCREEN_TOOL [SCREENSHOT]
set -euo pipefail
build=$1 tool=$2 shot=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/usr
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAILED: $*" >&2; exit 1; }
for file in bin/twinsifter bin/twinsifter-cli bin/twinsifter-decode share/twinsifter/Twinsifter.tip \
            share/applications/twinsifter.desktop share/icons/hicolor/scalable/apps/twinsifter.svg; do
  [[ -s $prefix/$file ]] || fail "$file is not installed"
done
[[ -x $prefix/bin/twinsifter ]] || fail "the program is not executable"
ls "$prefix"/share/twinsifter/skins/*.qss >/dev/null 2>&1 || fail "no skins installed"
[[ -d $prefix/share/twinsifter/help ]] || fail "no help folder installed"
grep -qx 'Exec=twinsifter %f' "$prefix/share/applications/twinsifter.desktop" || fail "desktop entry"
grep -qx 'Icon=twinsifter' "$prefix/share/applications/twinsifter.desktop" || fail "desktop entry icon"

# A private home: nothing of the real one is read or written.
home=$work/home
mkdir -p "$home/pictures/a" "$home/pictures/b"
export HOME=$home XDG_CONFIG_HOME=$home/.config XDG_CACHE_HOME=$home/.cache XDG_DATA_HOME=$home/.local/share
unset TWINSIFTER_HOME
QT_QPA_PLATFORM=offscreen "$tool" pictures "$home/pictures"
"$prefix/bin/twinsifter-cli" --quiet --save-session "$home/found.tsn" "$home/pictures" >/dev/null
[[ -s $home/found.tsn ]] || fail "no session saved"
# The installed program keeps its settings in the user's folders, never beside itself.
mkdir -p "$XDG_CONFIG_HOME/twinsifter"
printf '[TIPS]\nShowStart=0\n' > "$XDG_CONFIG_HOME/twinsifter/twinsifter.ini"

out=${shot:-$work/screen.png}
xvfb-run -a -s '-screen 0 1024x768x24' bash -c '
  "$1/bin/twinsifter" "$2" & program=$!
  sleep 5
  kill -0 $program || exit 3
  "$3" grab "$4"; status=$?
  kill $program; wait $program 2>/dev/null || true
  exit $status' _ "$prefix" "$home/found.tsn" "$tool" "$out" > "$work/grab.log" 2>&1 || { cat "$work/grab.log" >&2; fail "the installed program did not run or could not be photographed"; }
colours=$(grep -o '^[0-9]* colours' "$work/grab.log" | cut -d' ' -f1)
(( colours > 40 )) || fail "the screenshot is blank ($colours colours)"
[[ -f $XDG_CONFIG_HOME/twinsifter/twinsifter.ini && ! -e $prefix/bin/twinsifter.ini ]] || fail "settings beside the program"
echo "installed tree complete; the program ran and showed $colours colours"
