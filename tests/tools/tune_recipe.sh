#!/bin/sh
# The tuning recipe end to end on a few small games: the same series number
# makes the same games, every game line reads back, and the fit prints both tables.
set -eu
tune="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
"$tune" play 0 3 4000 7 > "$dir/free.txt"
"$tune" play 0 3 4000 7 > "$dir/again.txt"
"$tune" play 2 3 4000 8 > "$dir/renju.txt"
cmp "$dir/free.txt" "$dir/again.txt"
# RULE RESULT MOVES: the rule asked for, a result, and more than the opening.
awk '$1 != 0 || $2 !~ /^[012]$/ || $3 !~ /^([a-o][0-9]+)+$/ || length($3) < 20 { print "bad game: " $0; bad = 1 }
     END { if (NR != 3 || bad) exit 1 }' "$dir/free.txt"
awk '$1 != 2 || $2 !~ /^[012]$/ || $3 !~ /^([a-o][0-9]+)+$/ { print "bad game: " $0; bad = 1 }
     END { if (NR != 3 || bad) exit 1 }' "$dir/renju.txt"
"$tune" fit "$dir/free.txt" "$dir/renju.txt" > "$dir/fit.txt"
cat "$dir/fit.txt"
grep -q '^inline constexpr EvalWeights TUNED_FREESTYLE_WEIGHTS = {{' "$dir/fit.txt"
grep -q '^inline constexpr EvalWeights TUNED_RENJU_WEIGHTS = {{' "$dir/fit.txt"
