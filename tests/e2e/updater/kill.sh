# Scenario script (scripts/e2e-run --scenario, after setup.sh): the real
# updater killed with SIGKILL during its run, at chosen file events, then
# started again and driven to the end.
#
#   kill.sh INSTANT...     INSTANT is EVENT:FILE:N, the N-th event EVENT on
#                          FILE of the run (see interrupt-at.sh), e.g.
#                          MOVED_TO:Clone3.bak:1
#
# For each instant, on a fresh copy of the old installation (all instants
# share the scenario's prefix and display; results in E2E_OUT/kNN):
#   1. the update is started, confirmed and run, and killed at the instant;
#   2. what the kill left is read: the record "Clone.rec" (how many originals
#      it has moved aside, and whether it has committed), or no record with
#      the old executable (nothing changed yet), or no record with the new
#      one (the run had finished). The events before the kill bound it: a
#      kill after the record was made cannot leave nothing changed, one after
#      the first original was deleted cannot leave an uncommitted run;
#   3. before the commit: the next start puts the installation back, so its
#      confirmation box comes and the installation is exactly as before the
#      run (every file's bytes, size, time and mode; nothing else in the
#      folder; the registry), except that a kill before the record was made
#      may leave "Clone.tmp", which the next run overwrites; Cancel, then the
#      whole update once more;
#      after the commit: the next start finishes the run and refuses with
#      message 8;
#   4. either way the installation ends as the new tree, stamped, with no
#      Clone* file left, and Version "1, 0, 0, 2".
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/scenario.sh"
[ $# -gt 0 ] || e2e_fail "kill.sh: no instants given"
command -v inotifywait >/dev/null || e2e_fail "inotifywait is missing: run scripts/install-deps wine"

reset_installation() {
  rm -rf -- "$dir"
  mkdir -p -- "$dir"
  cp -r "$E2E_DEMO/old/." "$dir/"
  if e2e_reg_value "$MORIVANE_KEY" Version >/dev/null; then
    wine reg delete "$MORIVANE_KEY" /v Version /f >/dev/null 2>&1 || e2e_fail "cannot delete Version"
  fi
}

# One instant; prints its summary line; status 1 on any failure.
run_instant() {
  local instant=$1 out=$2 event file count summary asides committed state
  IFS=: read -r event file count <<<"$instant"
  [ -n "$event" ] && [ -n "$file" ] && [ -n "$count" ] || e2e_fail "bad instant $instant"
  e2e_state "$dir" >"$out/before.txt"

  e2e_kill_run "$out" "$dir" "$event" "$file" "$count" || return 1
  summary=$(cat "$out/kill.txt")

  if [ -f "$dir/Clone.rec" ]; then
    read -r asides committed <<<"$(e2e_record_summary "$dir/Clone.rec")"
    state="record: $asides aside, committed $committed"
  elif cmp -s -- "$dir/Morivane.exe" "$E2E_DEMO/new/Morivane.exe"; then
    state=finished committed=1
  elif cmp -s -- "$dir/Morivane.exe" "$E2E_DEMO/old/Morivane.exe"; then
    state=untouched committed=0
  else
    echo "$instant: $summary; no record and an executable that is neither the old nor the new one"
    return 1
  fi
  echo "$state" >"$out/state.txt"
  if [ "$state" = untouched ] && grep -q ' CREATE Clone.rec$' "$out/events.txt"; then
    echo "$instant: $summary; the record was made, yet none is left and nothing is changed"
    return 1
  fi
  if [ "$committed" = 0 ] && [[ "$summary" == *"after the commit: yes"* ]]; then
    echo "$instant: $summary; an original was deleted, yet the run had not committed ($state)"
    return 1
  fi

  if [ "$committed" = 1 ]; then
    e2e_drive "$out/restart" "$here/refusal.steps" "$here/refuse-already-updated.expected" ||
      return 1
  else
    if [ "$state" = untouched ]; then
      # Nothing changed yet but perhaps "Clone.tmp", which the next run
      # overwrites: the five files and the registry are as before.
      local f
      for f in "${MORIVANE_UPDATE_FILES[@]}"; do
        cmp -s -- "$dir/$f" "$E2E_DEMO/old/$f" || {
          echo "$instant: $summary; $f changed although no record was made"
          return 1
        }
      done
    fi
    e2e_drive "$out/restart" "$here/restart-cancel.steps" "$here/restart-cancel.expected" ||
      return 1
    e2e_state "$dir" >"$out/recovered.txt"
    if [ "$state" = untouched ]; then
      # Without a record there is nothing to put back; a "Clone.tmp" of the
      # killed run stays until the next run overwrites it.
      sed -i '/ \.\/Clone\.tmp$/d' "$out/recovered.txt"
    fi
    if ! diff -u --label before --label recovered "$out/before.txt" "$out/recovered.txt"; then
      echo "$instant: $summary; $state; the next start did not put the installation back as it was"
      return 1
    fi
    e2e_drive "$out/update" "$here/restart-update.steps" "$here/restart-update.expected" ||
      return 1
  fi

  e2e_expect_updated "$dir" "$E2E_DEMO/new" || {
    echo "$instant: $summary; $state; the installation is not the updated one"
    return 1
  }
  echo "$instant: $summary; left: $state; then: updated"
}

# One server for all the runs of the scenario, kept until e2e-run ends it
# (once the setup's own server has gone).
wineserver -w
wineserver -p

fail=0 n=0
for instant in "$@"; do
  n=$((n + 1))
  out=$E2E_OUT/$(printf 'k%02d' "$n")
  mkdir -p "$out"
  [ "$n" = 1 ] || reset_installation
  run_instant "$instant" "$out" | tee "$out/result.txt" || fail=1
done
exit $fail
