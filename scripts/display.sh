# A private X display for Wine and the test driver's screenshot requests.
# Sourced by scripts/e2e-run and scripts/demo-run.

# start_private_xvfb FDFILE LOG LIMIT
# Starts Xvfb on a display number it picks itself and reports through
# -displayfd (into FDFILE), so two runs at once never share one; `timeout`
# ends a server left behind by a killed run after LIMIT seconds. Sets
# xvfb_pid and exports DISPLAY; returns 1 when the server did not start.
start_private_xvfb() {
  local fdfile=$1 log=$2 limit=$3 number
  : >"$fdfile"
  timeout -s KILL "$limit" Xvfb -displayfd 9 -screen 0 800x600x24 -nolisten tcp \
    9>"$fdfile" >>"$log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [ -s "$fdfile" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || return 1
    sleep 0.1
  done
  number=$(head -n1 "$fdfile" | tr -dc 0-9)
  [ -n "$number" ] || return 1
  export DISPLAY=:$number
}

# stop_wine_and_xvfb: ends the wineserver of $WINEPREFIX (only that prefix's,
# and only when the prefix is there) and the Xvfb that start_private_xvfb
# started, if any.
stop_wine_and_xvfb() {
  if [ -f "$WINEPREFIX/system.reg" ]; then
    wineserver -k 2>/dev/null
    timeout 20 wineserver -w 2>/dev/null
  fi
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  fi
  return 0
}

# serve_shot_requests LOG WINDOW PATTERN...
# Runs until killed. The driver asks for a screenshot with NN-NAME.req
# ("x y w h" in desktop pixels) in a folder that matches one of the glob
# PATTERNs, and waits for NN-NAME.done: that part of WINDOW ("root" for the
# whole screen, or an X window id) is saved as NN-NAME.png first.
serve_shot_requests() {
  local log=$1 window=$2 IFS= pattern req x y w h
  shift 2
  while :; do
    for pattern in "$@"; do
      # Unquoted on purpose: the pattern is globbed afresh at every turn
      # (IFS is empty, so nothing is split).
      for req in $pattern; do
        [ -e "$req" ] || continue
        IFS=" " read -r x y w h <"$req" || true
        import -display "$DISPLAY" -window "$window" -crop "${w}x${h}+${x}+${y}" +repage \
          "${req%.req}.png" >>"$log" 2>&1 || echo "screenshot ${req##*/} failed" >>"$log"
        mv "$req" "${req%.req}.done"
      done
    done
    sleep 0.05
  done
}
