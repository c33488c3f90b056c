# Scenario script (scripts/e2e-run --scenario, after setup.sh): a second
# updater started while the first is in its run. The first updater's run is
# stopped (SIGSTOP) once it has made its record "Clone.rec", which it keeps
# open, and before it has moved any original (interrupt-at.sh --stop: the
# stop lands a little after the event, still inside the run); the second one
# is started and answered (guard-run.steps); then the first goes on and
# finishes its run. Being stopped changes nothing in what the first run does,
# so the installation must end updated.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/lib.sh"
. "$here/../harness.sh"
. "$E2E_OUT/install.env"
: "${E2E_DEMO:?E2E_DEMO must name the demo product folder}"

signs=$E2E_DRIVE_C/e2e
rm -f "$signs/stopped" "$signs/go"
e2e_interrupt_at "$E2E_OUT/stop" --stop "$signs/stopped" "$signs/go" \
  "$dir" CREATE Clone.rec 1 || exit 1
fail=0
e2e_drive "$E2E_OUT/run" "$here/guard-run.steps" "$here/guard-run.expected" || fail=1
# The first run must have been stopped and let go on.
touch "$signs/go"
wait "$E2E_INTERRUPTER" || {
  echo "guard-run: the first run was not stopped in its run: $(cat "$E2E_OUT/stop/interrupt-at.err")"
  fail=1
}
[ ! -e "$E2E_OUT/stop/kill.txt" ] || cat "$E2E_OUT/stop/kill.txt"
e2e_expect_updated "$dir" "$E2E_DEMO/new" || fail=1
exit $fail
