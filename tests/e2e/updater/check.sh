# Check of an updater scenario, run by scripts/e2e-run after the driver, while
# the prefix still exists. Compares what the updater left with what setup.sh
# noted before the run (E2E_OUT/before.txt).
#
#   check.sh unchanged   the installation (every file's bytes, size, time and
#                        mode, and the folder's entries) and everything under
#                        HKLM\Software\KESTRON are exactly as before
#   check.sh updated     the five files are byte-identical to E2E_DEMO/new,
#                        stamped 908463600, not read-only, nothing else is left
#                        in the installation, Version is "1, 0, 0, 2" and
#                        BootDirectory is as before
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
. "$E2E_OUT/install.env"

mode=${1:?usage: check.sh unchanged|updated}
e2e_state "$dir" >"$E2E_OUT/after.txt"

case "$mode" in
  unchanged)
    if ! diff -u --label before --label after "$E2E_OUT/before.txt" "$E2E_OUT/after.txt"; then
      e2e_fail "the installation or the registry changed"
    fi
    echo "check: installation and registry unchanged"
    ;;
  updated)
    e2e_expect_updated "$dir" "$E2E_DEMO/new" || e2e_fail "the installation is not the updated one"
    before_boot=$(grep -a '    BootDirectory    REG_' "$E2E_OUT/before.txt" || true)
    after_boot=$(grep -a '    BootDirectory    REG_' "$E2E_OUT/after.txt" || true)
    [ -n "$before_boot" ] && [ "$before_boot" = "$after_boot" ] || e2e_fail "BootDirectory changed"
    echo "check: five files updated and stamped, Version \"1, 0, 0, 2\", nothing left over"
    ;;
  *) e2e_fail "check.sh: unknown mode $mode" ;;
esac
