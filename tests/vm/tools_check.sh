# A VM payload that tries the test programs themselves on comedi_test, not part of the suite:
# ao_watch on a known writer (ao_play) that plays the table in order, plays a wrong code, stops
# or stops feeding, and libioctl_log.so under comedi_probe and ao_play. Run by hand:
#
#   tests/vm/run --timeout 400 tests/vm/tools_check.sh build/tests/vm/ao_watch \
#       build/tests/vm/ao_play build/tests/vm/comedi_probe build/tests/vm/libioctl_log.so
#
# (add --append 'comedi.comedi_default_buf_size_kb=64' for a small ring that goes round often).
# One line per check, "ok NAME" or "FAIL NAME: why"; the status is the number of failures.
set -u
failures=0
pass() { echo "ok $1"; }
fail() {
    echo "FAIL $1: $2"
    failures=$((failures + 1))
}

# The suite's table of codes: a different code at each next index, and never 0 V.
awk 'BEGIN { for (i = 0; i < 10000; i++) printf "%d\n", int(((i * 37 % 73) / 4 - 9.125 + 10) / 20 * 65535 + 0.5) }' >codes.txt
bytes=$(comedi_probe info | awk '/^subdevice 1:/ { ao = 1 } ao && /buffer size/ { print $3; exit }')
slots=$((bytes / 2))
echo "AO ring: $bytes bytes, $slots slots"

# name, expected ao_watch status, rate, ao_watch options, ao_play options
watch_case() {
    name=$1 expected=$2 rate=$3 watch_options=$4 play_options=$5
    # shellcheck disable=SC2086
    ao_play -c codes.txt -r "$rate" $play_options 2>play.err &
    player=$!
    # shellcheck disable=SC2086
    ao_watch -c codes.txt $watch_options >watch.out 2>watch.err
    status=$?
    kill -TERM $player 2>/dev/null
    wait $player
    echo "   $(cat watch.out)"
    sed 's/^/   /' play.err watch.err
    if [ $status -eq "$expected" ]; then pass "$name"; else fail "$name" "status $status"; fi
}

watch_case "1 kHz in order" 0 1000 "-t 5" ""
watch_case "100 kHz in order" 0 100000 "-t 5" ""
watch_case "100 kHz in order past a lap" 0 100000 "-t 12" ""
watch_case "1 kHz, a wrong code in the second lap" 1 1000 "-t 5" "-x $((slots + 2000))"
# Sample n is written about (n - S) / rate s after the start and replaced n / rate s after it:
# this one is there at the snapshot a second in, whatever the ring's size.
late=$((slots + 50000 > 100000 + slots / 2 ? slots + 50000 : 100000 + slots / 2))
watch_case "100 kHz, a wrong code in a later lap" 1 100000 "-t 5" "-x $late"
watch_case "1 kHz, a wrong code in the first lap before it plays" 1 1000 "-t 5" "-x 3000"
watch_case "the writer stops playing" 1 1000 "-t 4" "-t 2"
watch_case "-u: 1 kHz underrun" 0 1000 "-u -t 10" "-q 2000 -f 2"
watch_case "-u: 100 kHz underrun" 0 100000 "-u -t 10" "-q 50000 -f 2"
watch_case "-u: no underrun" 1 1000 "-u -t 3" ""

# --- libioctl_log.so: the requests of comedi_probe's cancel and of ao_play.
preload=/usr/local/bin/libioctl_log.so
LD_PRELOAD=$preload IOCTL_LOG=/tmp/probe.log comedi_probe stream 10000 0.3 >probe.out 2>&1
LD_PRELOAD=$preload IOCTL_LOG=/tmp/probe.log comedi_probe cancel >>probe.out 2>&1
LD_PRELOAD=$preload IOCTL_LOG=/tmp/play.log ao_play -c codes.txt -r 1000 -t 1 2>/dev/null
sed 's/^/   /' /tmp/probe.log /tmp/play.log
grep '^comedi_poll' probe.out | sed 's/^/   comedi_probe under it: /'
has() { grep -q -- "$2" "$1"; }
check() { # name, file, pattern
    if has "$2" "$3"; then pass "$1"; else fail "$1" "no \"$3\""; fi
}
check "log: the AI command" /tmp/probe.log "COMEDI_CMD subdev 0 flags 0x[0-9a-f]* start NOW/0 .* -> 0"
check "log: the refused command" /tmp/probe.log "COMEDI_CMD subdev 0 .* -> -1 EBUSY"
check "log: poll while the command runs" /tmp/probe.log "COMEDI_POLL subdev 0 -> -1 EINVAL"
check "log: poll with nothing running" /tmp/probe.log "COMEDI_POLL subdev 0 -> 0"
check "log: cancel" /tmp/probe.log "COMEDI_CANCEL subdev 0 -> 0"
check "log: buffer calls counted" /tmp/probe.log "COMEDI_BUFINFO subdev 0: [0-9]* calls"
check "log: the AO command" /tmp/play.log \
    "COMEDI_CMD subdev 1 flags 0x40 start INT/0 scan_begin TIMER/1000000 convert NOW/0 scan_end COUNT/1 stop NONE/0 chanlist 0 -> 0"
check "log: the internal trigger" /tmp/play.log "INSN_INTTRIG subdev 1 trig_num 0 -> 1"
check "log: AO buffer calls counted" /tmp/play.log "COMEDI_BUFINFO subdev 1: [0-9]* calls, 0 failed"
check "log: errno is kept" probe.out "^comedi_poll: result -1 errno 22 (EINVAL"

echo "$failures failed"
exit $failures
