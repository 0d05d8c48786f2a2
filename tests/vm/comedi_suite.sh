# The VM payload of the Comedi board's suite: the built aoplay on the kernel's comedi_test driver
# (/dev/comedi0), with ao_readback reading output channel 0 back through a handle of its own.
# One line per check, "ok NAME" or "FAIL NAME: why"; the status is the number of failures.
# Every run here plays the polled way, the tool writing each value (output_suite.sh has the
# clocked way, comedi_test's default).
set -u
export AOPLAY_OUTPUT=polled
. ./checks.sh

# Rows of a trace with an index whose raw code is not the table's code at that index.
wrong_rows() { # trace
    awk -F, 'NR == FNR { code[NR - 1] = $1; next }
        /^[0-9]/ && $3 >= 0 && $4 != code[$3] { print; n++ } END { exit n > 0 }' codes.txt "$1"
}
# Codes read back that are neither the table's nor 0 V (nor the level before the run).
stray_codes() { # readback, level before
    awk -F, -v zero=$zero -v before="$2" 'NR == FNR { known[$1] = 1; next }
        !($2 in known) && $2 != zero && $2 != before { print; n++ } END { exit n > 0 }' \
        codes.txt "$1"
}
table_codes_seen() { # readback
    awk -F, 'NR == FNR { known[$1] = 1; next } $2 in known { n++ } END { exit n == 0 }' codes.txt "$1"
}
last_code() { tail -n 1 "$1" | cut -d, -f2; }
played_rows() { awk -F, '/^[0-9]/ && $3 >= 0 { n++ } END { print n + 0 }' "$1"; }
first_row_is_zero() { awk -F, -v z=$zero '/^[0-9]/ { exit !($3 == -1 && $4 == z) }' "$1"; }
last_row_is_zero() { awk -F, -v z=$zero '/^[0-9]/ { last = $0 } END { split(last, f, ","); exit !(f[3] == -1 && f[4] == z) }' "$1"; }

play() { # trace, rate: aoplay on the Comedi device in the background, its pid in $tool
    AOPLAY_BOARD=comedi AOPLAY_TRACE=$1 aoplay /SL:1 /XC:2 /TS:$2 <steps.txt >out.txt 2>err.txt &
    tool=$!
}
readback() { # file: ao_readback in the background, its pid in $reader; waits until it reads
    ao_readback -o "$1" 2>/dev/null &
    reader=$!
    while [ ! -s "$1" ]; do sleep 0.01; done
}

# --- A run ended by SIGTERM: only table values and then 0 V on the output, as its trace says.
start_level=$(output_now)
readback run.csv
play run-trace.csv 1000
sleep 3
kill -TERM $tool
wait $tool 2>/dev/null
status=$?
sleep 0.2
kill -TERM $reader && wait $reader
check "sigterm: status 143" "status $status" [ $status -eq 143 ] || show err.txt
check "sigterm: nothing on standard error" "it said something" [ ! -s err.txt ] || show err.txt
check "sigterm: the closing text" "no closing text" has out.txt "Data collection terminated."
check "sigterm: trace rows hold the table's code at their index" "wrong rows" \
    wrong_rows run-trace.csv
check "sigterm: trace starts and ends at 0 V" "not at 0 V" \
    eval 'first_row_is_zero run-trace.csv && last_row_is_zero run-trace.csv'
played=$(played_rows run-trace.csv)
check "sigterm: the run played (rows: $played)" "too few rows" [ "$played" -ge 50 ]
check "sigterm: the scan summed up" "no summary" grep -q '^# samples=[0-9]* outputs=' run-trace.csv
check "sigterm: a second handle read table values back" "none seen" table_codes_seen run.csv
check "sigterm: and nothing else but 0 V" "stray codes" stray_codes run.csv "$start_level"
check "sigterm: the output rests at 0 V after" "at $(last_code run.csv)" \
    [ "$(last_code run.csv)" = $zero ]
rows=$(grep -c '^[0-9]' run-trace.csv)
echo "   ($rows trace rows, $(wc -l <run.csv) read back, $(grep '^#' run-trace.csv))"

# --- Killed outright: the board's guard stops the scan and puts the output back to 0 V.
play kill-trace.csv 1000
sleep 2
during=$(output_now)
kill -KILL $tool
wait $tool 2>/dev/null
sleep 0.5
after=$(output_now)
check "sigkill: the table was playing" "output at $during" grep -qx "$during" codes.txt
check "sigkill: the output is back at 0 V" "at $after" [ "$after" = $zero ]
check "sigkill: the device takes a new scan" "aoplay failed" \
    eval 'AOPLAY_BOARD=comedi timeout -s TERM 1 aoplay /SL:1 /XC:2 /TS:1000 <steps.txt >/dev/null 2>err.txt; [ $? -eq 143 ]'

# --- Stopped while a fast scan runs on: the buffer overruns, and the run ends on it.
play overrun-trace.csv 1000000
sleep 1
kill -STOP $tool
sleep 3
kill -CONT $tool
wait $tool 2>/dev/null
status=$?
check "overrun: status 1" "status $status" [ $status -eq 1 ] || show err.txt
check "overrun: reported as such" "not reported" \
    has err.txt "comedi: cbGetStatus: error 15 (fatal): the scan's buffer overran"
check "overrun: the error stops the program" "no stop" \
    has err.txt "comedi: stopping the program after error 15"
check "overrun: the output is back at 0 V" "at $(output_now)" [ "$(output_now)" = $zero ]
check "overrun: the trace sums the scan up and ends at 0 V" "trace cut short" \
    eval 'grep -q "^# samples=" overrun-trace.csv && last_row_is_zero overrun-trace.csv'
check "overrun: trace rows hold the table's code at their index" "wrong rows" \
    wrong_rows overrun-trace.csv
show err.txt

# --- The reader of standard output goes: the run ends as on SIGTERM, with status 141 (128 +
# SIGPIPE), the scan stopped and the output at 0 V, though its output waits in the tool's buffer.
readback pipe.csv
mkfifo out.pipe
AOPLAY_BOARD=comedi AOPLAY_TRACE=pipe-trace.csv aoplay /SL:1 /XC:2 /TS:1000 <steps.txt \
    >out.pipe 2>err.txt &
tool=$!
sleep 2 <out.pipe # the reader: takes nothing and goes after 2 s
(sleep 30 && kill -TERM $tool) 2>/dev/null & # ends a run that would go on: status 143
watchdog=$!
wait $tool 2>/dev/null
status=$?
kill $watchdog 2>/dev/null
sleep 0.2
kill -TERM $reader && wait $reader
check "reader gone: status 141" "status $status" [ $status -eq 141 ] || show err.txt
check "reader gone: nothing on standard error" "it said something" [ ! -s err.txt ] || show err.txt
check "reader gone: trace rows hold the table's code at their index" "wrong rows" \
    wrong_rows pipe-trace.csv
check "reader gone: the scan summed up, the trace ends at 0 V" "trace cut short" \
    eval 'grep -q "^# samples=" pipe-trace.csv && last_row_is_zero pipe-trace.csv'
check "reader gone: a second handle read table values back" "none seen" table_codes_seen pipe.csv
check "reader gone: the output rests at 0 V after" "at $(last_code pipe.csv)" \
    [ "$(last_code pipe.csv)" = $zero ]
echo "   ($(grep '^#' pipe-trace.csv))"

# --- Devices that cannot be used: status 1, the reason, nothing driven.
set_level_before
refused "absent device" "cannot open /dev/comedi5: No such file or directory: check that the board's Comedi driver module is loaded" \
    env AOPLAY_BOARD=comedi:/dev/comedi5 aoplay /SL:1 /XC:2 /TS:1000 <steps.txt
# Each board call tries the device again: its fault is told once, then the stop.
check "absent device: one error line, then the stop line" "$(wc -l <err.txt) lines" \
    eval '[ $(wc -l <err.txt) -eq 2 ] && [ $(grep -c "error 13 (fatal)" err.txt) -eq 1 ] &&
          [ "$(tail -n 1 err.txt)" = "comedi: stopping the program after error 13" ]' ||
    show err.txt
refused "no permission" "cannot open /dev/comedi0: Permission denied" \
    su user -c 'AOPLAY_BOARD=comedi aoplay /SL:1 /XC:2 /TS:1000 </payload/steps.txt'
refused "bad AOPLAY_BOARD" 'board: AOPLAY_BOARD="comedi1" names no board' \
    env AOPLAY_BOARD=comedi1 aoplay /SL:1 /XC:2 /TS:1000 <steps.txt

# --- A user in the group Debian's udev rule gives the device plays on it.
chgrp iocard /dev/comedi0 && chmod 660 /dev/comedi0
su lab -c 'AOPLAY_BOARD=comedi timeout -s TERM 1 aoplay /SL:1 /XC:2 /TS:1000 </payload/steps.txt' \
    >out.txt 2>err.txt
status=$?
chgrp root /dev/comedi0 && chmod 600 /dev/comedi0
check "group iocard: plays" "status $status" [ $status -eq 143 ] || show err.txt
check "group iocard: the banner" "none" has out.txt "Outputting data..."

echo "$failures failed"
exit $failures
