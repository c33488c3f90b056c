# Setup of an updater scenario (run by scripts/e2e-run with WINEPREFIX,
# E2E_DRIVE_C and E2E_OUT set, and E2E_DEMO naming the demo product's folder
# with old/ and new/). Installs the demo product, registers it and notes the
# state of the installation and the registry in E2E_OUT/before.txt, which
# check.sh compares with.
#
#   setup.sh [options]
#   --at WINDIR          installation folder (default C:\Program Files\KESTRON\Morivane)
#   --tree old|new       which demo version to install (default old)
#   --exe FILE           install FILE as Morivane.exe instead of the tree's
#   --no-install         no files at all
#   --boot TEXT          the value BootDirectory (default WINDIR\Morivane.exe)
#   --no-boot            the product's key exists, without BootDirectory
#   --no-key             no product key at all
#   --version-value TEXT the value Version before the run
#   --remove REL         delete a file of the installation (REL with "/")
#   --read-only REL      give a file of the installation the read-only attribute
#   --flip REL OFFSET    invert the lowest bit of the byte at OFFSET of a file
#   --small-disk LETTER  put the installation on a small file system of its own
#                        (a tmpfs mounted for the scenario), mapped as drive
#                        LETTER:, with room for the first two new files beside
#                        the originals but not for the third one's temporary
#                        file; WINDIR must then be on LETTER:
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"

at='C:\Program Files\KESTRON\Morivane'
tree=old exe= install=1 boot= boot_mode=value version_value= small_disk=
removes=() read_only=() flips=()
while [ $# -gt 0 ]; do
  case "$1" in
    --at) at=$2; shift 2 ;;
    --tree) tree=$2; shift 2 ;;
    --exe) exe=$2; shift 2 ;;
    --no-install) install=0; shift ;;
    --boot) boot=$2; shift 2 ;;
    --no-boot) boot_mode=none; shift ;;
    --no-key) boot_mode=nokey; shift ;;
    --version-value) version_value=$2; shift 2 ;;
    --remove) removes+=("$2"); shift 2 ;;
    --read-only) read_only+=("$2"); shift 2 ;;
    --flip) flips+=("$2" "$3"); shift 3 ;;
    --small-disk) small_disk=$2; shift 2 ;;
    *) e2e_fail "setup.sh: unknown option $1" ;;
  esac
done
[ -n "$boot" ] || boot="$at\\Morivane.exe"
: "${E2E_DEMO:?E2E_DEMO must name the demo product folder}"
[ -f "$E2E_DEMO/$tree/Morivane.exe" ] || e2e_fail "no demo product in $E2E_DEMO/$tree"

if [ -n "$small_disk" ]; then
  letter=$(printf '%s' "$small_disk" | tr 'A-Z' 'a-z')
  point=$E2E_OUT/disk-$letter
  mkdir -p "$point"
  if ! mount -t tmpfs -o size=64m,mode=0755 tmpfs "$point" 2>/dev/null; then
    echo "skip: cannot mount a tmpfs here (needs root or CAP_SYS_ADMIN)"
    exit 77
  fi
  echo "$point" >>"$E2E_OUT/.mounts"
  ln -sfn "$point" "$WINEPREFIX/dosdevices/$letter:"
fi

dir=$(e2e_unix_path "$at")
if [ "$install" = 1 ]; then
  mkdir -p "$dir"
  cp -r "$E2E_DEMO/$tree/." "$dir/"
  [ -z "$exe" ] || cp "$exe" "$dir/Morivane.exe"
  for f in "${removes[@]}"; do rm -f -- "$dir/$f"; done
  for ((i = 0; i < ${#flips[@]}; i += 2)); do
    python3 -c 'import sys; p, at = sys.argv[1], int(sys.argv[2], 0); b = bytearray(open(p, "rb").read()); b[at] ^= 1; open(p, "wb").write(b)' \
      "$dir/${flips[i]}" "${flips[i+1]}"
  done
  for f in "${read_only[@]}"; do
    [ -f "$dir/$f" ] || e2e_fail "no $f to make read-only"
    # Wine keeps FILE_ATTRIBUTE_READONLY as a file without write permission.
    wine attrib +r "$(printf '%s\\%s' "$at" "$f" | tr / '\\')" >/dev/null 2>&1 ||
      e2e_fail "attrib +r $f failed"
    [ $((0$(stat -c %a -- "$dir/$f") & 0222)) = 0 ] || e2e_fail "$f did not become read-only"
  done
fi

if [ -n "$small_disk" ]; then
  # Room for exactly what rows 1 and 2 add (their new files, while the
  # originals wait aside), and 100 pages more: the third row's temporary file
  # (824,736 bytes, about 200 pages) then runs out of space part-way.
  pages() { echo $((($(stat -c %s -- "$1") + 4095) / 4096)); }
  used_kb=$(df --output=used -k "$point" | tail -n1 | tr -d ' ')
  room=$(($(pages "$E2E_DEMO/new/Morivane.exe") + $(pages "$E2E_DEMO/new/dat/Iobjectc.til") + 100))
  size_kb=$((used_kb + room * 4))
  mount -o remount,size=${size_kb}k "$point"
  avail=$(($(df --output=avail -k "$point" | tail -n1 | tr -d ' ') * 1024))
  echo "small disk: ${size_kb} KiB in all, $avail bytes free after the installation"
  [ "$avail" -ge $((room * 4096)) ] && [ "$avail" -lt $(((room + 100) * 4096)) ] ||
    e2e_fail "the small disk came out with $avail bytes free"
fi

case "$boot_mode" in
  value) e2e_reg_set "$MORIVANE_KEY" BootDirectory "$boot" ;;
  none)
    wine reg add "$MORIVANE_KEY" /f >/dev/null 2>&1 || e2e_fail "cannot make $MORIVANE_KEY"
    ! e2e_reg_value "$MORIVANE_KEY" BootDirectory >/dev/null || e2e_fail "BootDirectory exists"
    ;;
  nokey) ! wine reg query "$MORIVANE_KEY" >/dev/null 2>&1 || e2e_fail "$MORIVANE_KEY exists" ;;
esac
[ -z "$version_value" ] || e2e_reg_set "$MORIVANE_KEY" Version "$version_value"

{
  echo "at=$(printf '%q' "$at")"
  echo "dir=$(printf '%q' "$dir")"
} >"$E2E_OUT/install.env"
e2e_state "$dir" >"$E2E_OUT/before.txt"
echo "setup: installed $tree at $at ($dir); BootDirectory: $boot_mode $boot"
