# What the VM suites share, sourced from the payload's folder: one line per check, "ok NAME" or
# "FAIL NAME: why", the count of failures in $failures, and the tables the tool plays.
failures=0
pass() { echo "ok $1"; }
fail() {
    echo "FAIL $1: $2"
    failures=$((failures + 1))
}
check() { # name, what went wrong, test...
    name=$1 why=$2
    shift 2
    if "$@"; then pass "$name"; else fail "$name" "$why"; fi
}
show() { # a file, for a failure's evidence
    echo "--- $1:"
    head -c 2000 "$1"
    echo
}
has() { grep -qF -- "$2" "$1"; }

zero=32768 # the code for 0 V on the -10 to +10 V range, 16 bits
# The played table: values k / 8 - 9.125 V, exact in single precision, never 0 V, and a
# different value at each next index, so a wrong index or a stray 0 V shows.
awk 'BEGIN { print "index volts"; for (i = 0; i < 10000; i++) printf "%d %.3f\n", i, (i * 37 % 73) / 4 - 9.125 }' >steps.txt
# Its codes by index, worked out as the board does: (v + 10) / 20 * 65535, halves up.
awk 'NR > 1 { printf "%d\n", int(($2 - (-10)) / (10 - (-10)) * 65535 + 0.5) }' steps.txt >codes.txt

# The output's code now, read through a handle of our own (refused while an output command runs).
output_now() { ao_readback -t 0.005 2>/dev/null | tail -n 1 | cut -d, -f2; }

# Runs that are refused leave the output where it was: at a level no run leaves.
before=40000
set_level_before() {
    ao_readback -w $before -t 0.001 >/dev/null 2>&1 ||
        fail "cannot set the output to $before first" "ao_readback failed"
}
refused() { # name, expected text, command...
    case_name=$1 said=$2
    shift 2
    "$@" >out.txt 2>err.txt
    status=$?
    check "$case_name: status 1" "status $status" [ $status -eq 1 ] || show err.txt
    check "$case_name: says why" "not said" has err.txt "$said" || show err.txt
    check "$case_name: nothing driven" "output moved" [ "$(output_now)" = "$before" ]
}
