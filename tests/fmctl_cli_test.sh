#!/usr/bin/env bash
# fmctl_cli_test.sh FMCTL: fmctl load, dump, query, explain and kb on a scratch
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
  "load --seed 2 x.dump -t tbl_cur_alm" "explain -f A|LEVEL|1 --csn x" "--root" "" "bogus" "--help x" "demo --keep x"; do
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

# kb: import, list and show, a re-import with one change, --delete-missing,
# a malformed file (nothing written) and the busy knowledge-base category.
KB=(--db "$ROOT/kb.db")
mkdir -p "$ROOT/etc" && cp "$(dirname "$0")/../etc/fm.xml" "$ROOT/etc/"  # the alarm types and levels
cat >"$ROOT/kb.txt" <<'EOF'
# group 7
alarm 7 100 | name=Link down | category=1 | level=2 | type=1
reason 0 | explain=The link is down. | advice=Check the fibre.\nThen the SFP.
reason 1 | explain=Far end off \| unreachable | define-field=3
alarm 7 101 | name = Fan fault | category=2 | level=3 | type=2 | clear-category=0
reason 0 | explain=A fan stopped.
alarm 9 1 | name=Other group | category=1 | level=1 | type=1
reason 0
EOF
run kb import "$ROOT/kb.txt" "${KB[@]}"
expect 0 err "writing table tbl_alm_exp_info of database sqlite3://db=$ROOT/kb.db: 4 reasons to add or update, 0 to" \
  out "added 4 reasons, updated 0" out "4 objects: 4 succeeded, 0 failed, result success (33000)"
run kb list "${KB[@]}"
expect 0 out "4 reasons of 3 alarms (0 marked deleted)"
grep -qE '^7 +101 +0 +2 +3 +2 +added +20[0-9-]+ [0-9:]+ +Fan fault$' "$ROOT/out" || fail "kb list: no line for 7/101"
run kb show 7 100 "${KB[@]}"
expect 0 out "alarm 7/100: Link down" out "Far end off | unreachable" out "define field 3"
grep -qx ' *Then the SFP\.' "$ROOT/out" || fail "kb show: the advice's second line"
sed 's/A fan stopped./A fan stopped again./' "$ROOT/kb.txt" >"$ROOT/kb2.txt"
run kb import "$ROOT/kb2.txt" "${KB[@]}"
expect 0 out "added 0 reasons, updated 1" out "3 reasons unchanged" out "one object, result success"
grep -v '^reason 1' "$ROOT/kb2.txt" | head -n -2 >"$ROOT/kb3.txt"  # group 9 left out: not deleted
run kb import "$ROOT/kb3.txt" "${KB[@]}" --delete-missing
expect 0 out "marked 1 reasons deleted" out "2 reasons unchanged"
run kb list "${KB[@]}"
expect 0 out "4 reasons of 3 alarms (1 marked deleted)"
run kb import "$ROOT/kb2.txt" "${KB[@]}"
expect 0 out "added 0 reasons, updated 1" out "3 reasons unchanged"  # the deleted reason is back
cp "$ROOT/kb.db" "$ROOT/kb.before"
printf '%s\n' 'alarm 7 100 | name=X | category=1 | level=99 | type=1' 'reason 0 | colour=red' \
  'reason 1 | advice=a\qb' 'alarm 8 1 | name=Y | category=1 | level=1 | type=1' 'alarm 7 100' >"$ROOT/bad.txt"
run kb import "$ROOT/bad.txt" "${KB[@]}"
expect 1 err "bad.txt:1: field level: '99' is not an alarm level" err "bad.txt:2: unknown field 'colour'" \
  err "bad.txt:3: field advice: unknown escape '\\q'" err "bad.txt:4: alarm 8/1 has no reason line" \
  err "bad.txt:5: alarm 7/100 is given again (first on line 1)" err "nothing written"
cmp -s "$ROOT/kb.db" "$ROOT/kb.before" || fail "a refused kb import changed the database"
mkdir -p "$ROOT/var/fm"
flock "$ROOT/var/fm/alarm_knowlg.lock" "$FMCTL" kb import "$ROOT/kb.txt" "${KB[@]}" >"$ROOT/out" 2>"$ROOT/err"
rc=$?
expect 1 err "the alarm knowledge base is busy" out "(33990)"
cmp -s "$ROOT/kb.db" "$ROOT/kb.before" || fail "a refused kb import changed the database"

[ "$failures" -eq 0 ] && echo "fmctl_cli_test: all checks passed"
exit $((failures > 0))
