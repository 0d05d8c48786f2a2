# The VM payload of the Comedi board's output suite on the kernel's comedi_test driver, whose
# analog output runs commands: the tool's clocked output (the default there), seen through a
# handle of the suite's own (ao_watch: the output command running, its queued codes the table's
# in order), and what the kernel was asked for in each way of output (libioctl_log.so).
# One line per check; the status is the number of failures. The VM's buffers are 16 MiB
# (comedi.comedi_default_buf_size_kb=16384): 8.4 s at 1 MS/s.
set -u
. ./checks.sh
preload=/usr/local/bin/libioctl_log.so
# A tool built with AddressSanitizer wants its runtime first; the log's library only wraps
# ioctl, which it hands on to whatever comes next.
preloaded="ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD=$preload"

# A clocked trace: after the resting write, one row per sample n = 0, 1, 2, ... with count
# n + 1, index n mod 10000, the table's code at that index, a period later than the row before.
clocked_rows_wrong() { # trace, period in seconds
    awk -F, -v period="$2" 'NR == FNR { code[NR - 1] = $1; next }
        !/^[0-9]/ || $3 < 0 { next }
        { n++ }
        $2 != n || $3 != (n - 1) % 10000 || $4 != code[$3] ||
            (n > 1 && ($1 - last - period > 1e-6 || last + period - $1 > 1e-6)) { print; bad++ }
        { last = $1 }
        END { exit bad > 0 || n == 0 }' codes.txt "$1"
}

# --- Clocked runs ended by SIGTERM: the output command runs throughout, playing the table.
for rate in 1000 100000 1000000; do
    ao_watch -c codes.txt -b 50000 >watch.txt 2>&1 &
    watch=$!
    trace=""
    [ $rate -eq 1000 ] && trace=clocked-trace.csv
    AOPLAY_BOARD=comedi AOPLAY_TRACE=$trace aoplay /SL:1 /XC:2 /TS:$rate <steps.txt >out.txt 2>err.txt &
    tool=$!
    sleep 4
    kill -TERM $watch
    wait $watch
    watched=$?
    kill -TERM $tool
    wait $tool
    status=$?
    check "clocked $rate/s: status 143" "status $status" [ $status -eq 143 ] || show err.txt
    check "clocked $rate/s: nothing on standard error" "it said something" [ ! -s err.txt ] ||
        show err.txt
    check "clocked $rate/s: the output command ran throughout, the table's codes in order" \
        "see ao_watch" [ $watched -eq 0 ] || show watch.txt
    check "clocked $rate/s: the output rests at 0 V after" "at $(output_now)" \
        [ "$(output_now)" = $zero ]
    echo "   ($(tail -n 1 watch.txt))"
done
check "clocked trace: a row per sample at its time, the table's code at its index" "wrong rows" \
    clocked_rows_wrong clocked-trace.csv 0.001
check "clocked trace: summed up as clocked, nothing missed" "$(grep '^#' clocked-trace.csv)" \
    grep -q '^# samples=[0-9]* outputs=[0-9]* missed=0 polls=[0-9]* output=clocked$' \
    clocked-trace.csv

# --- Stopped for longer than the output's buffer lasts (8.4 s at 1 MS/s): an underrun.
AOPLAY_BOARD=comedi aoplay /SL:1 /XC:2 /TS:1000000 <steps.txt >out.txt 2>err.txt &
tool=$!
sleep 1
kill -STOP $tool
sleep 11
kill -CONT $tool
wait $tool
status=$?
check "underrun: status 1" "status $status" [ $status -eq 1 ] || show err.txt
check "underrun: reported as such" "not reported" \
    has err.txt "comedi: cbGetStatus: error 18 (fatal): the output ran short"
check "underrun: the error stops the program" "no stop" \
    has err.txt "comedi: stopping the program after error 18"
check "underrun: the output is back at 0 V" "at $(output_now)" [ "$(output_now)" = $zero ]
show err.txt

# --- Killed outright while the output command runs: the guard ends it and writes 0 V.
AOPLAY_BOARD=comedi aoplay /SL:1 /XC:2 /TS:1000 <steps.txt >/dev/null 2>err.txt &
tool=$!
ao_watch -c codes.txt -t 1 >watch.txt 2>&1
watched=$?
kill -KILL $tool
wait $tool 2>/dev/null
sleep 0.5
check "sigkill: the table was playing" "see ao_watch" [ $watched -eq 0 ] || show watch.txt
check "sigkill: the output is back at 0 V" "at $(output_now)" [ "$(output_now)" = $zero ]
check "sigkill: the device takes a new clocked run" "aoplay failed" \
    eval 'AOPLAY_BOARD=comedi timeout -s TERM 1 aoplay /SL:1 /XC:2 /TS:1000 <steps.txt >/dev/null 2>err.txt; [ $? -eq 143 ]'

# --- A user in the group Debian's udev rule gives the device: the output's buffer is theirs to
# map and feed as well.
chgrp iocard /dev/comedi0 && chmod 660 /dev/comedi0
su lab -c 'AOPLAY_BOARD=comedi AOPLAY_TRACE=/tmp/lab-trace.csv timeout -s TERM 1 aoplay /SL:1 /XC:2 /TS:1000 </payload/steps.txt' \
    >out.txt 2>err.txt
status=$?
chgrp root /dev/comedi0 && chmod 600 /dev/comedi0
check "group iocard: plays clocked" "status $status" \
    eval '[ $status -eq 143 ] && grep -q "output=clocked$" /tmp/lab-trace.csv' || show err.txt

# --- Ways of output refused before anything is driven.
set_level_before
refused "clocked on an output without commands" \
    "AOPLAY_OUTPUT=clocked, but analog output subdevice 1 of /dev/comedi0 cannot run commands" \
    env $preloaded IOCTL_HIDE_OUTPUT_COMMANDS=1 AOPLAY_BOARD=comedi AOPLAY_OUTPUT=clocked \
    aoplay /SL:1 /XC:2 /TS:1000 <steps.txt
refused "a bad AOPLAY_OUTPUT" 'board: AOPLAY_OUTPUT="sideways" names no way of output' \
    env AOPLAY_BOARD=comedi AOPLAY_OUTPUT=sideways aoplay /SL:1 /XC:2 /TS:1000 <steps.txt

# --- What the kernel is asked for. Unset, the way of output follows the device: polled where
# the output takes single writes only.
asked() { # log, output, rate, more environment...
    log=$1 output=$2 rate=$3
    shift 3
    rm -f "$log"
    env $preloaded IOCTL_LOG=$log AOPLAY_BOARD=comedi AOPLAY_OUTPUT=$output \
        AOPLAY_TRACE=asked-trace.csv "$@" timeout -s TERM 2 aoplay /SL:1 /XC:2 /TS:$rate \
        <steps.txt >/dev/null 2>err.txt
}
commands_on() { grep -c "COMEDI_CMD subdev $2 .*-> 0" "$1"; }
input_flags() { sed -n 's/.*COMEDI_CMD subdev 0 flags \(0x[0-9a-f]*\) .*-> 0$/\1/p' "$1"; }
polls() { grep -c "COMEDI_POLL subdev 0" "$1"; }

asked polled-1k.log polled 1000
check "polled 1000/s: the input wakes at each sample (CMDF_WAKE_EOS)" "flags $(input_flags polled-1k.log)" \
    [ $(($(input_flags polled-1k.log) & 0x20)) -ne 0 ]
check "polled 1000/s: one request for samples, answered EINVAL, not asked again" \
    "$(grep COMEDI_POLL polled-1k.log | head -n 3)" \
    eval '[ $(polls polled-1k.log) -eq 1 ] && grep -q "COMEDI_POLL subdev 0 -> -1 EINVAL" polled-1k.log'
check "polled 1000/s: no output command" "there was one" [ "$(commands_on polled-1k.log 1)" -eq 0 ]
check "polled 1000/s: trace not clocked" "$(grep '^#' asked-trace.csv)" \
    eval '! grep -q "output=clocked" asked-trace.csv'

asked polled-100k.log polled 100000
check "polled 100000/s: the input hands over blocks (no CMDF_WAKE_EOS)" \
    "flags $(input_flags polled-100k.log)" [ $(($(input_flags polled-100k.log) & 0x20)) -eq 0 ]
check "polled 100000/s: one request for samples" "$(polls polled-100k.log)" \
    [ "$(polls polled-100k.log)" -eq 1 ]

asked hidden.log auto 1000 IOCTL_HIDE_OUTPUT_COMMANDS=1
check "auto, output without commands: polled" "$(grep COMEDI_CMD hidden.log)" \
    eval '[ "$(commands_on hidden.log 1)" -eq 0 ] && ! grep -q "output=clocked" asked-trace.csv'

asked clocked.log auto 1000
check "auto: an output command, started by the trigger after the input's" "$(cat clocked.log)" \
    awk '/COMEDI_CMD subdev 1 .*start INT\/0 scan_begin TIMER\/1000000 .*stop NONE.*-> 0/ { out = NR }
         /COMEDI_CMD subdev 0 .* -> 0/ { input = NR }
         /INSN_INTTRIG subdev 1 trig_num 0 -> 1/ { trig = NR }
         /COMEDI_CANCEL subdev 1 -> 0/ { cancel = NR }
         END { exit !(out && input > out && trig > input && cancel > trig) }' clocked.log
check "auto: the input at the output's period" "$(grep 'COMEDI_CMD subdev 0' clocked.log)" \
    grep -q 'COMEDI_CMD subdev 0 .*convert TIMER/1000000 .*-> 0' clocked.log
check "auto: the trace is clocked" "$(grep '^#' asked-trace.csv)" \
    grep -q 'output=clocked$' asked-trace.csv

echo "$failures failed"
exit $failures
