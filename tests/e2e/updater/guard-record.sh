# Scenario script (scripts/e2e-run --scenario, after setup.sh): the product
# started while the record of an interrupted run is left in the installation.
# The update is killed (SIGKILL) once its second row has begun: the new
# executable is in place, the original aside, the record not committed.
# The product (the installed Morivane.exe, which it keeps open) is started
# and an updater after it (guard-record.steps). Once the product has closed,
# the next start puts the installation back as it was before the run.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/scenario.sh"

e2e_state "$dir" >"$E2E_OUT/before-run.txt"
e2e_kill_run "$E2E_OUT/killed" "$dir" CREATE Clone.tmp 2 || exit 1
cat "$E2E_OUT/killed/kill.txt"
# What the guard is about: a record, and an executable the product can run.
[ -f "$dir/Clone.rec" ] && [ -f "$dir/Morivane.exe" ] || {
  echo "guard-record: the kill left no record or no executable"
  exit 1
}
read -r asides committed <<<"$(e2e_record_summary "$dir/Clone.rec")"
echo "left: record with $asides originals aside, committed $committed"
[ "$committed" = 0 ] || {
  echo "guard-record: the run had committed"
  exit 1
}
fail=0
e2e_drive "$E2E_OUT/guard" "$here/guard-record.steps" "$here/guard-record.expected" || fail=1
e2e_drive "$E2E_OUT/restart" "$here/restart-cancel.steps" "$here/restart-cancel.expected" ||
  fail=1
e2e_state "$dir" >"$E2E_OUT/recovered.txt"
diff -u --label before --label recovered "$E2E_OUT/before-run.txt" "$E2E_OUT/recovered.txt" || {
  echo "guard-record: the installation was not put back as it was before the run"
  fail=1
}
exit $fail
