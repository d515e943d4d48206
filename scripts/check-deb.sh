#!/usr/bin/env bash
# The Debian package as a technician's machine gets it: builds the .deb
# (cpack, preset deb), has lintian (no error) and appstreamcli check it,
# installs it with apt-get, checks that `merkat32 --version` prints the
# version without creating any file, starts the installed tool on a private X
# server against controller-sim on COM1 (it must exchange frames, keep its
# settings in the user's folder and switch every output off on SIGTERM), then
# removes and purges the package: no file of it may be left behind.
#
#   scripts/check-deb.sh [CONTROLLER_SIM]   (default: the dev build's)
#
# Installs into this machine (root or sudo): CI runs it on a fresh machine.
# Prints what failed and exits 1.
set -euo pipefail
cd "$(dirname "$0")/.."
sim=${1:-build/dev/tools/controller-sim/controller-sim}
if [[ ! -x $sim ]]; then
  cmake --preset dev >/dev/null
  cmake --build --preset dev --target controller-sim
fi
sim=$(realpath "$sim")
sudo_cmd=()
[[ $(id -u) -eq 0 ]] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive

work="$(mktemp -d "${TMPDIR:-/tmp}/m32deb.XXXXXX")"
chmod 0755 "$work"
check_name=check-deb
# shellcheck source=scripts/sim-run-lib.sh
. scripts/sim-run-lib.sh
trap 'sim_cleanup; rm -rf "$work"' EXIT

echo "== building the package"
cmake --preset deb >/dev/null
cmake --build --preset deb -j "$(nproc)" >"$work/build.out" || { tail -n 30 "$work/build.out"; fail "build failed"; }
rm -f build/deb/merkat32_*.deb
cpack --preset deb >"$work/cpack.out" || { cat "$work/cpack.out"; fail "cpack failed"; }
deb=$(find build/deb -maxdepth 1 -name 'merkat32_*.deb' | head -n 1)
[[ -f $deb ]] || fail "cpack made no .deb"
version=$(dpkg-deb -f "$deb" Version)
echo "$deb: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -f "$deb" Depends | grep -q libqt6widgets6 || fail "the dependencies lack Qt's (dpkg-shlibdeps)"

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"
dpkg-deb -x "$deb" "$work/unpacked"
appstreamcli validate --no-net "$work"/unpacked/usr/share/metainfo/*.metainfo.xml ||
  fail "appstreamcli rejects the metainfo"

echo "== installing"
if dpkg-query -W -f='${Status}' merkat32 2>/dev/null | grep -q installed; then
  "${sudo_cmd[@]}" apt-get purge -y -q merkat32 >/dev/null
fi
"${sudo_cmd[@]}" apt-get install -y -q "./$deb" >"$work/apt.out" || { cat "$work/apt.out"; fail "apt-get install failed"; }
dpkg -L merkat32 >"$work/files"
[[ $(readlink -f /usr/bin/merkat32) == /usr/lib/merkat32/merkat32 ]] || fail "/usr/bin/merkat32 is no link to the tool"

# --version: the version, status 0, and no file anywhere it could write one.
home=$work/home
mkdir -p "$home"
listing() { find /usr/lib/merkat32 "$home" | sort; }
listing >"$work/before"
out=$(cd "$home" && env -i HOME="$home" PATH=/usr/bin:/bin merkat32 --version) || fail "merkat32 --version failed"
[[ $out == "merkat32 $version" ]] || fail "merkat32 --version printed '$out', not 'merkat32 $version'"
listing >"$work/after"
diff "$work/before" "$work/after" >&2 || fail "merkat32 --version created files"

echo "== the installed tool against controller-sim"
start_sim /usr/lib/merkat32
start_desk
start_tool env -u XDG_CONFIG_HOME HOME="$home" merkat32
check_exchange_and_close
check_settings_file "$home/.config/merkat32/merkat32.CFG"
[[ ! -e /usr/lib/merkat32/merkat32.CFG ]] || fail "the settings went into /usr/lib/merkat32"
stop_sim
sim_cleanup

echo "== removing"
"${sudo_cmd[@]}" apt-get remove -y -q merkat32 >/dev/null
# Purge (the package has no configuration files, so remove may have done it all).
"${sudo_cmd[@]}" dpkg --purge merkat32 >/dev/null 2>&1
dpkg-query -W merkat32 >/dev/null 2>&1 && fail "dpkg still knows merkat32 after purge"
left=()
while IFS= read -r f; do
  [[ -e $f && ! -d $f ]] && left+=("$f")
done <"$work/files"
[[ -e /usr/lib/merkat32 ]] && left+=(/usr/lib/merkat32)
[[ -e /usr/share/doc/merkat32 ]] && left+=(/usr/share/doc/merkat32)
((${#left[@]} == 0)) || fail "left behind: ${left[*]}"
check_settings_file "$home/.config/merkat32/merkat32.CFG"  # the user's own: kept

echo "check-deb: $deb lintian-clean, installed, $(frames_in) frames exchanged, removed without a trace"
