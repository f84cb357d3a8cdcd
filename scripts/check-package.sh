#!/usr/bin/env bash
# Checks the Debian package as a technician's machine sees it: builds it (scripts/package.sh), runs lintian on it
# (no error allowed), installs it with apt-get, runs the installed programs (their versions, the headless
# verification against the simulated meter, a shipped meter by name, the windows under Xvfb with screenshots),
# then removes and purges it and checks that nothing of it is left in /usr.
# Run as root on a machine where the package may be installed and removed; it leaves the package not installed.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/package.sh >/dev/null
./scripts/setup.sh lintian xvfb xauth appstream desktop-file-utils

debs=(build/package/rivanta_*.deb)
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
work=$(mktemp -d)
installed=0
finish() {
  if ((installed)); then apt-get purge -y -qq rivanta >/dev/null 2>&1 || true; fi
  rm -rf "$work"
}
trap finish EXIT
fail() {
  echo "check-package: $*" >&2
  exit 1
}
# The programs run as a user would, with folders of their own for whatever they keep.
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
mkdir -p "$HOME"

echo "== $deb"
[[ $(dpkg-parsechangelog -l packaging/changelog -SVersion) == "$version" ]] ||
  fail "packaging/changelog has no entry for $version"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6gui6 libqt6widgets6 libqt6printsupport6; do
  [[ $depends == *"$lib "* ]] || fail "the package does not depend on $lib: $depends"
done

echo "== lintian"
status=0
lintian --fail-on error --display-info "$deb" >"$work/lintian.txt" 2>&1 || status=$?
grep -v "running with root privileges" "$work/lintian.txt" || true
((status == 0)) || fail "lintian reports errors"

echo "== install"
# Reinstalled when that version is there already, so the package just built is the one checked.
apt-get install -y -qq --reinstall "./$deb" >"$work/apt.log" 2>&1 || {
  cat "$work/apt.log" >&2
  fail "apt-get install failed"
}
installed=1
files=$(dpkg -L rivanta)
programs=$(grep '^/usr/bin/' <<<"$files")
for program in $programs; do
  name=$(basename "$program")
  grep -qx "/usr/share/man/man1/$name.1.gz" <<<"$files" || fail "$name has no manual page"
  # A program whose command line has no --version yet does not list it in its help.
  help=$("$program" --help 2>&1 || true)
  if [[ $help == *--version* ]]; then
    [[ $("$program" --version | head -n 1) == "$name $version" ]] || fail "$name --version does not say $version"
  else
    echo "note: $name has no --version yet"
  fi
done
desktop-file-validate /usr/share/applications/rivanta.desktop
# The component id is not a reverse domain name (the project has no domain): a warning, not an error.
appstreamcli validate --no-net /usr/share/metainfo/rivanta.metainfo.xml | grep '^E:' && fail "invalid metainfo"

echo "== the installed rivanta-verify --simulate"
status=0
/usr/bin/rivanta-verify --simulate >"$work/protocol.txt" 2>"$work/run.log" || status=$?
if ((status != 0)); then
  tail -n 20 "$work/run.log" >&2
  fail "rivanta-verify --simulate ended with status $status"
fi
points=$(grep -c "Номинальное значение расхода" "$work/protocol.txt" || true)
((points > 0)) || fail "the protocol has no points"
echo "protocol complete: $points points"

echo "== the installed rivanta-meter-sim with a shipped meter by name"
coproc SIM { exec /usr/bin/rivanta-meter-sim --meter three-path 2>&1; }
read -r -t 10 slave <&"${SIM[0]}" || true
kill -INT "$SIM_PID" 2>/dev/null || true
wait "$SIM_PID" || true
[[ $slave == /dev/pts/* ]] || fail "rivanta-meter-sim --meter three-path: ${slave:-no answer}"
echo "three-path served on $slave"

echo "== the installed rivanta --simulate --screenshots under Xvfb"
shots=$work/screenshots
mkdir -p "$shots"
LANG=C.UTF-8 timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" /usr/bin/rivanta --simulate --screenshots "$shots" \
  >"$work/gui.log" 2>&1 || { cat "$work/gui.log" >&2; fail "rivanta --screenshots failed"; }
for picture in main-window sensor-dialog about-box save-dialog verification-verdict journal-page; do
  [[ -s $shots/$picture.png ]] || fail "no picture $picture.png"
done
ls "$shots"

echo "== remove and purge"
apt-get remove -y -qq rivanta >"$work/apt.log" 2>&1 || {
  cat "$work/apt.log" >&2
  fail "apt-get remove failed"
}
installed=0
# Whatever the removal keeps (configuration files) goes too; dpkg, since apt no longer knows a removed local package.
dpkg --purge rivanta >/dev/null 2>&1
! dpkg -s rivanta >/dev/null 2>&1 || fail "rivanta is still known to dpkg"
while read -r path; do
  [[ -d $path ]] && continue  # folders shared with other packages stay
  [[ ! -e $path ]] || fail "$path is left after the removal"
done <<<"$files"
left=$(find /usr -name '*rivanta*' 2>/dev/null)
[[ -z $left ]] || fail "left in /usr: $left"
echo "== the package installs, runs and leaves nothing behind"
