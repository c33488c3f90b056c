# Shell helpers shared by the updater scenarios' setup and check scripts and
# by scripts/demo-run. Sourced, never run. Callers set WINEPREFIX (and, for
# the scenarios, E2E_OUT); Wine runs in the caller's locale (ja_JP.UTF-8 for
# a Japanese system).
#
# Paths: Windows paths are given as UTF-8 text ("C:\ソフト\Morivane.exe"); Wine
# keeps file names in UTF-8 on the Linux side and converts registry text to
# and from code page 932 for the program, so ソ (UTF-8 e3 82 bd) reaches the
# updater as the bytes 83 5c.

# The registry key of the product.
MORIVANE_KEY='HKLM\Software\KESTRON\Morivane'
# The five files the update rewrites, relative to the installation directory,
# in the order of the run: the demo's executable, then the data files as the
# one list of them (update/update_files.def) names them.
MORIVANE_FILES=(Morivane.exe)
while IFS= read -r f; do MORIVANE_FILES+=("$f"); done < <(
  sed -n 's/^MORIVANE_UPDATE_FILE([0-9]*, *"\(.*\)")$/\1/p' \
    "$(dirname "${BASH_SOURCE[0]}")/../../../update/update_files.def" | sed 's|\\\\|/|g')
[ ${#MORIVANE_FILES[@]} = 5 ] || { echo "lib.sh: the file table does not read as five files" >&2; exit 2; }
# 1998-10-15 15:00:00 UTC, the time stamp of every replaced file.
MORIVANE_STAMP=908463600

# What the installation DIR holds besides the five files and their folders,
# one path a line.
morivane_others() {
  local keep=() f
  for f in "${MORIVANE_FILES[@]}"; do
    keep+=(-e "$f")
    [ "${f%/*}" = "$f" ] || keep+=(-e "${f%/*}")
  done
  (cd "$1" && find . -mindepth 1 | sed 's|^\./||' | sort | grep -vxF "${keep[@]}" || true)
}

e2e_fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# The Linux path of a Windows path "X:\a\b": the drive's folder from the
# prefix's dosdevices, then the components.
e2e_unix_path() {
  local win=$1 letter rest root
  letter=$(printf '%s' "${win:0:1}" | tr 'A-Z' 'a-z')
  [ "${win:1:1}" = : ] || e2e_fail "not a drive path: $win"
  rest=${win:2}
  root=$(readlink -f -- "$WINEPREFIX/dosdevices/$letter:") || e2e_fail "no drive $letter: in the prefix"
  printf '%s%s' "$root" "$(printf '%s' "$rest" | tr '\\' /)"
}

# One registry value's data as UTF-8, or nothing (and status 1) when the key
# or the value is missing. reg.exe writes in the console code page, which is
# the ANSI code page of the locale Wine runs in.
e2e_reg_value() {
  local key=$1 name=$2 cp out
  cp=$(e2e_codepage)
  out=$(wine reg query "$key" /v "$name" 2>/dev/null | iconv -f "$cp" -t UTF-8 | tr -d '\r') || return 1
  printf '%s\n' "$out" | awk -v name="$name" '
    index($0, "    " name "    REG_") == 1 {
      line = substr($0, length(name) + 9); sub(/^REG_[A-Z_]+    /, "", line); print line; found = 1
    }
    END { exit found ? 0 : 1 }'
}

# Everything under HKLM\Software\KESTRON, as reg.exe lists it, or "absent".
e2e_reg_dump() {
  local cp
  cp=$(e2e_codepage)
  wine reg query 'HKLM\Software\KESTRON' /s 2>/dev/null | iconv -f "$cp" -t UTF-8 | tr -d '\r' |
    sed '/^$/d' || echo absent
}

e2e_codepage() {
  case "${LC_ALL:-${LANG:-}}" in
    ja_JP*) echo CP932 ;;
    *) echo CP1252 ;;
  esac
}

# Sets a REG_SZ value and reads it back; the text is UTF-8 here.
e2e_reg_set() {
  local key=$1 name=$2 data=$3 got
  wine reg add "$key" /v "$name" /t REG_SZ /d "$data" /f >/dev/null 2>&1 ||
    e2e_fail "cannot set $key\\$name"
  got=$(e2e_reg_value "$key" "$name") || got='(missing)'
  [ "$got" = "$data" ] || e2e_fail "$key\\$name reads back as '$got', not '$data'"
}

# What is in a folder, one line per entry: type, mode, size, modification
# time (seconds with fraction), SHA-256 of files, relative path. Sorted.
e2e_listing() {
  local dir=$1
  [ -d "$dir" ] || {
    echo "no folder"
    return 0
  }
  (
    cd "$dir"
    find . -mindepth 1 -printf '%y %m %s %T@ %p\n' | sort -k6 | while read -r type mode size mtime path; do
      sum=-
      [ "$type" = f ] && sum=$(sha256sum -- "$path" | cut -c1-64)
      [ "$type" = f ] || { size=- mtime=-; }
      printf '%s %s %s %s %s %s\n' "$type" "$mode" "$size" "$mtime" "$sum" "$path"
    done
  )
}

# Checks that the installation at DIR holds exactly the five files of the
# tree NEW (and its dat folder), each byte-identical, writable and stamped
# with the update's time; and that nothing else is left there (no Clone.tmp,
# no original moved aside).
e2e_expect_updated_tree() {
  local dir=$1 new=$2 f bad=0 extra
  for f in "${MORIVANE_FILES[@]}"; do
    if ! cmp -s -- "$new/$f" "$dir/$f"; then
      echo "FAIL: $f differs from $new/$f" >&2
      bad=1
      continue
    fi
    [ "$(stat -c %Y -- "$dir/$f")" = "$MORIVANE_STAMP" ] || {
      echo "FAIL: $f has the modification time $(stat -c %Y -- "$dir/$f"), not $MORIVANE_STAMP" >&2
      bad=1
    }
    # Wine shows a file without any write permission bit as read-only.
    [ $((0$(stat -c %a -- "$dir/$f") & 0222)) != 0 ] || {
      echo "FAIL: $f is read-only" >&2
      bad=1
    }
  done
  extra=$(morivane_others "$dir")
  [ -z "$extra" ] || {
    echo "FAIL: left in the installation besides the five files: $extra" >&2
    bad=1
  }
  return $bad
}

# The id of the Linux process that runs the Windows program NAME (for example
# MorivaneUpdate.exe) in this prefix (WINEPREFIX), found by the process name
# Wine gives it (its first 15 bytes) and the prefix in its environment. Status
# 1 when there is none.
e2e_wine_pid() {
  local name=${1:0:15} p
  for p in $(pgrep -x -- "$name"); do
    if tr '\0' '\n' <"/proc/$p/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then
      echo "$p"
      return 0
    fi
  done
  return 1
}

# e2e_interrupt_at OUTDIR [--stop STOPPED GO] DIR EVENT FILE N
# Starts interrupt-at.sh in the background (its messages go to
# OUTDIR/interrupt-at.err) and waits until its watches are in place. Sets
# E2E_INTERRUPTER to its process id; wait for it to learn whether it
# interrupted the run. Status 1 when the watch did not start.
e2e_interrupt_at() {
  local outdir=$1
  shift
  mkdir -p "$outdir"
  rm -f "$outdir/ready"
  bash "$(dirname "${BASH_SOURCE[0]}")/interrupt-at.sh" "$@" "$outdir" 2>>"$outdir/interrupt-at.err" &
  E2E_INTERRUPTER=$!
  local _
  for _ in $(seq 200); do
    [ -e "$outdir/ready" ] && return 0
    kill -0 "$E2E_INTERRUPTER" 2>/dev/null || break
    sleep 0.05
  done
  echo "the watch did not start: $(cat "$outdir/interrupt-at.err")" >&2
  return 1
}

# The state check.sh compares: the installation's listing (e2e_listing) and
# everything under HKLM\Software\KESTRON.
e2e_state() {
  echo "== files"
  e2e_listing "$1"
  echo "== registry"
  e2e_reg_dump
}

# e2e_kill_run OUTDIR DIR EVENT FILE N
# Starts the update (kill-run.steps) and kills it at the N-th EVENT on FILE of
# its run (interrupt-at.sh); the driver's results go to OUTDIR/kill. Needs
# e2e_drive (tests/e2e/harness.sh). Status 1, with the reason on stdout,
# when the run was not killed there.
e2e_kill_run() {
  local outdir=$1 dir=$2 drove=0 rc=0
  shift 2
  e2e_interrupt_at "$outdir" "$dir" "$@" || return 1
  local watcher=$E2E_INTERRUPTER here
  here=$(dirname "${BASH_SOURCE[0]}")
  e2e_drive "$outdir/kill" "$here/kill-run.steps" "$here/kill-run.expected" || drove=1
  # The program has ended; a watcher still waiting saw the event never come.
  kill -0 "$watcher" 2>/dev/null && kill "$watcher" 2>/dev/null
  wait "$watcher" || rc=$?
  if [ "$rc" != 0 ] || [ "$drove" != 0 ]; then
    echo "$*: not killed at the instant: $(cat "$outdir/interrupt-at.err" 2>/dev/null)"
    return 1
  fi
}

# Counts the entries of an update record ("Clone.rec"): prints the number of
# originals moved aside ('A' entries) and 1 when it holds the commit ('C'),
# else 0. Entries are kind (1 byte), row (1), two text lengths (2 + 2,
# little-endian), the texts and a CRC-32 (4); a kill cannot cut one short
# (each is written with one call).
e2e_record_summary() {
  local -a b
  read -r -a b <<<"$(od -An -v -tu1 "$1" | tr '\n' ' ')"
  local i=0 n=${#b[@]} asides=0 committed=0 len
  while [ $((i + 10)) -le "$n" ]; do
    len=$((6 + b[i + 2] + 256 * b[i + 3] + b[i + 4] + 256 * b[i + 5] + 4))
    [ $((i + len)) -le "$n" ] || break
    case ${b[i]} in
      65) asides=$((asides + 1)) ;;
      67) committed=1 ;;
    esac
    i=$((i + len))
  done
  echo "$asides $committed"
}

# e2e_expect_updated DIR NEW: the updated tree (e2e_expect_updated_tree) and
# the registry value Version "1, 0, 0, 2". Status 1, with the reasons on
# stderr, otherwise.
e2e_expect_updated() {
  local version bad=0
  e2e_expect_updated_tree "$1" "$2" || bad=1
  version=$(e2e_reg_value "$MORIVANE_KEY" Version) || version='(none)'
  [ "$version" = "1, 0, 0, 2" ] || {
    echo "FAIL: Version is '$version'" >&2
    bad=1
  }
  return $bad
}
