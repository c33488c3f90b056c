# The driver run shared by scripts/e2e-run and the scenario scripts it runs
# (see "--scenario" there). Sourced, never run. Expects WINEPREFIX, DISPLAY,
# E2E_DRIVE_C (the prefix's C: folder), E2E_EXE_NAME (the program's file name
# in C:\update), E2E_TIMEOUT (seconds for one driver run) and E2E_LOG (the
# scenario's log file).

# The Windows path (drive Z:) of a Linux path.
e2e_win_path() {
  printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"
}

# e2e_drive DIR STEPS EXPECTED [--expect-failure]
#
# Runs the driver once on STEPS (UTF-8; "@PROGRAM@" names the program under
# test) and compares its transcript with EXPECTED (UTF-8; lines starting with
# '#' are notes). Results in DIR: steps.txt, expected.txt and transcript.txt
# (code page 932), transcript.utf8.txt, and shots/ with the screenshots
# (requested from the harness as shots/NN-NAME.req, see scripts/e2e-run;
# pictures the driver took itself arrive as BMP and are turned into PNG here).
# Status 0 when the transcript is the expected one and the driver ended as
# expected (with a failed step under --expect-failure); 1 otherwise, with the
# reason and the difference on stderr; 2 when the steps or the expected text
# cannot be put into code page 932.
e2e_drive() {
  local dir=$1 steps=$2 expected=$3 expect_failure=0 rc fail=0 bmp
  [ "${4:-}" = --expect-failure ] && expect_failure=1
  mkdir -p "$dir/shots"
  if ! sed "s|@PROGRAM@|C:\\\\update\\\\$E2E_EXE_NAME|g" "$steps" | iconv -f UTF-8 -t CP932 >"$dir/steps.txt"; then
    echo "e2e-run: $steps is not UTF-8 text that code page 932 can hold" >&2
    return 2
  fi
  if ! { grep -v '^#' "$expected" || true; } | iconv -f UTF-8 -t CP932 >"$dir/expected.txt"; then
    echo "e2e-run: $expected is not UTF-8 text that code page 932 can hold" >&2
    return 2
  fi
  : >"$dir/transcript.txt"
  local t0=$SECONDS
  set +e
  timeout -k 10 "$E2E_TIMEOUT" wine 'C:\e2e\driver.exe' "$(e2e_win_path "$dir/steps.txt")" \
    "$(e2e_win_path "$dir/transcript.txt")" "$(e2e_win_path "$dir/shots")" >>"$E2E_LOG" 2>&1
  rc=$?
  set -e
  echo "e2e-run: driver run in ${dir##*/}: $((SECONDS - t0)) s, exit $rc" >>"$E2E_LOG"

  iconv -f CP932 -t UTF-8 "$dir/transcript.txt" >"$dir/transcript.utf8.txt" 2>/dev/null ||
    iconv -c -f CP932 -t UTF-8 "$dir/transcript.txt" >"$dir/transcript.utf8.txt" || true
  rm -f "$dir"/shots/*.done
  for bmp in "$dir"/shots/*.bmp; do
    [ -e "$bmp" ] || continue
    convert "$bmp" "${bmp%.bmp}.png" >>"$E2E_LOG" 2>&1 && rm -f "$bmp" ||
      echo "converting ${bmp##*/} failed" >>"$E2E_LOG"
  done

  if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
    echo "e2e-run: FAIL: the driver did not finish within $E2E_TIMEOUT s" >&2
    fail=1
  elif [ "$expect_failure" = 1 ] && [ "$rc" != 1 ]; then
    echo "e2e-run: FAIL: a failed step was expected, the driver exited $rc" >&2
    fail=1
  elif [ "$expect_failure" = 0 ] && [ "$rc" != 0 ]; then
    echo "e2e-run: FAIL: the driver exited $rc" >&2
    fail=1
  fi
  if ! cmp -s "$dir/expected.txt" "$dir/transcript.txt"; then
    echo "e2e-run: FAIL: the transcript differs from $expected" >&2
    { grep -v '^#' "$expected" || true; } |
      diff -u --label expected --label transcript - "$dir/transcript.utf8.txt" >&2 || true
    fail=1
  fi
  return $fail
}
