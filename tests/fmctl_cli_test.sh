#!/usr/bin/env bash
# fmctl_cli_test.sh FMCTL: fmctl load, dump, query and explain on a scratch
# root: their output, the round trip of a dump through two databases, and
# their exit codes on bad input. Prints each failed check; exits 1 if any.
set -u
FMCTL=$1
ROOT=$(mktemp -d)
trap 'rm -rf "$ROOT"' EXIT
export KYRO_ROOT=$ROOT
unset KYRO_FM_DB
failures=0

# run ARGS...: runs fmctl, leaving $rc, $ROOT/out and $ROOT/err.
run() { "$FMCTL" "$@" >"$ROOT/out" 2>"$ROOT/err"; rc=$?; }
fail() { echo "FAIL: $*"; echo "  stdout: $(head -c 600 "$ROOT/out")"; echo "  stderr: $(head -c 600 "$ROOT/err")"; failures=$((failures + 1)); }
# expect RC [out|err TEXT]...: the last run exited RC and each stream holds TEXT.
expect() {
  local want=$1; shift
  [ "$rc" -eq "$want" ] || fail "exit $rc, expected $want"
  while [ $# -ge 2 ]; do
    grep -qF -- "$2" "$ROOT/$1" || fail "$1 lacks: $2"
    shift 2
  done
}

SITE="sqlite3://db=$ROOT/var/fm/fm.db"
run load --generate 40 --seed 3
expect 2 err "is written only into a table you name"
[ ! -e "$ROOT/var/fm/fm.db" ] || fail "a refused load created the site database"
run load --generate 40 --seed 3 -t tbl_cur_alm
expect 0 err "writing 40 alarms into table tbl_cur_alm of database $SITE" out "loaded 40 alarms into tbl_cur_alm (Csn 1 to 40)"
run dump -o "$ROOT/a.dump"
expect 0 err "40 alarms of tbl_cur_alm written"
[ "$(wc -l <"$ROOT/a.dump")" -eq 41 ] && head -1 "$ROOT/a.dump" | grep -q '^LogId||ListId||.*||FdnId||NeFdnId$' ||
  fail "a.dump is not a header and 40 records"

# Round trip: the dump loaded into another database dumps the same; so do the
# same generated alarms written there directly.
run load "$ROOT/a.dump" --db "$ROOT/copy.db"
expect 0 err "into table tbl_cur_alm of database sqlite3://db=$ROOT/copy.db"
run load "$ROOT/a.dump" --db "$ROOT/copy.db" --replace
expect 0 err "deleting every alarm of table tbl_cur_alm, then writing 40 alarms"
run --db "$ROOT/copy.db" dump
expect 0
cmp -s "$ROOT/out" "$ROOT/a.dump" || fail "the dump of the loaded copy differs"
run load --generate 40 --seed 3 --db "$ROOT/gen.db"
run dump --db "$ROOT/gen.db" -o "$ROOT/gen.dump"
cmp -s "$ROOT/gen.dump" "$ROOT/a.dump" || fail "the same seed gave other alarms"

# A broken dump is refused whole: nothing is written.
sed '3s/^\([0-9]*\)||/\1x||/' "$ROOT/a.dump" >"$ROOT/bad.dump"
run load "$ROOT/bad.dump" --db "$ROOT/copy.db"
expect 1 err "line 3: field LogId is not a decimal integer"
run dump --db "$ROOT/copy.db"
cmp -s "$ROOT/out" "$ROOT/a.dump" || fail "a refused load changed the table"
run load "$ROOT/missing.dump" --db "$ROOT/copy.db"
expect 1 err "cannot open"

# query: levels 1 and 2 outside the subtree of NE=1; the expected count comes
# from the dump (field 6 severity, field 31 MoDn).
want=$(awk -F'[|][|]' 'NR > 1 && ($6 == 1 || $6 == 2) && $31 !~ /^NE=1,/' "$ROOT/a.dump" | wc -l)
F=(-f 'LVL|LEVEL|1,2' -f 'X|FDN|NE=1' -c 'LVL AND NOT X')
run query "${F[@]}" -s 4:desc -s 1
expect 0 out "ORDER BY: AlmLevel desc, Csn asc" out "$want of 40 alarms selected by the SQL" \
  out "evaluate() accepts $want of 40 alarms." out "Disagreements between evaluate() and the SQL: none"
run query "${F[@]}" --json
expect 0 out '"table":"tbl_cur_alm","where":' out '"disagreements":[],"documentedDifferences":[]}'
[ "$(grep -o '"LogId":' "$ROOT/out" | wc -l)" -eq "$want" ] || fail "--json lists other than $want matches"

# explain: the postfix words and the leaf that decides alarm 1.
lvl1=$(awk -F'[|][|]' 'NR == 2 { print $6 }' "$ROOT/a.dump")
case $lvl1 in 1|2) decider=X ;; *) decider=LVL ;; esac
run explain "${F[@]}" --csn 1
expect 0 out "Postfix words: LVL X NOT AND" out "[X] FDNExp, operator 7" out "decided by $decider"
run explain "${F[@]}" --csn 999
expect 1 err "no alarm with Csn 999 in tbl_cur_alm"

# Usage errors: exit 2, the cause on stderr.
for args in "query -f LVL|NOSUCH|1" "query -f LVL|LEVEL|1 -s x" "query -f A|LEVEL|1 -c A|B" "query" \
  "query -f A|LEVEL|1 -t tbl_nope" "dump --bogus" "load" "load a b" "load --generate -1 -t tbl_cur_alm" \
  "load --seed 2 x.dump -t tbl_cur_alm" "explain -f A|LEVEL|1 --csn x" "--root"; do
  read -ra words <<<"$args"
  run "${words[@]}"
  expect 2 err "fmctl"
  [ ! -s "$ROOT/out" ] || fail "$args wrote to stdout"
done
run query -f 'LVL|NOSUCH|1'
expect 2 err "the expression factory refused the filter: "
run load --help
expect 0 out "usage: fmctl load"
run --version
expect 0 out "fmctl "

# --root puts the site database below the named root.
env -u KYRO_ROOT "$FMCTL" --root "$ROOT/other" load --generate 2 -t tbl_alm_log >"$ROOT/out" 2>"$ROOT/err"
[ -s "$ROOT/other/var/fm/fm.db" ] || fail "--root: no database below $ROOT/other"

[ "$failures" -eq 0 ] && echo "fmctl_cli_test: all checks passed"
exit $((failures > 0))
