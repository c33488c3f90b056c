# Scenario script (scripts/e2e-run --scenario, after setup.sh): one driver
# run during which the update run is held (SIGSTOP) at a file event until the
# driver lets it go on. The steps wait for the sign C:\e2e\stopped, look at
# the program while its run is held (what it shows then is certain to be
# seen), and make the sign C:\e2e\go; the run then goes on as if nothing had
# happened.
#
#   stopped-run.sh STEPS EXPECTED EVENT FILE N     (see interrupt-at.sh)
#
# Results as for one driver run: transcript, screenshots in E2E_OUT; the
# interruption's notes in E2E_OUT/stop.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/scenario.sh"
[ $# = 5 ] || e2e_fail "usage: stopped-run.sh STEPS EXPECTED EVENT FILE N"

signs=$E2E_DRIVE_C/e2e
rm -f "$signs/stopped" "$signs/go"
e2e_interrupt_at "$E2E_OUT/stop" --stop "$signs/stopped" "$signs/go" "$dir" "$3" "$4" "$5" ||
  exit 1
fail=0
e2e_drive "$E2E_OUT" "$1" "$2" || fail=1
# Whatever the driver did, the program is let go on.
touch "$signs/go"
if wait "$E2E_INTERRUPTER"; then
  cat "$E2E_OUT/stop/kill.txt"
else
  echo "stopped-run: the run was not held at $3 $4 ($5): $(cat "$E2E_OUT/stop/interrupt-at.err")"
  fail=1
fi
exit $fail
