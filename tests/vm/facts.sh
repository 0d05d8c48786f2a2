# The VM payload of tests/vm/facts: what the kernel's comedi_test driver does, asked through
# comedilib by comedi_probe, ao_readback and bench_comedi_status. Evidence, not a verdict: it
# prints what it finds and ends with status 0 unless a program is missing.
set -u
section() { printf '\n=== %s\n' "$*"; }
for program in comedi_probe ao_readback; do
    command -v $program >/dev/null || { echo "missing $program" && exit 1; }
done

section "device node"
ls -l /dev/comedi0*
section "subdevices"
comedi_probe info
section "command test"
comedi_probe cmdtest 0.5 3 1000 3000 7000 10000 100000 1000000 1500000 2000000000

section "arrival at 1 kHz, 10 kHz; a count of 3000 at 100 kHz"
comedi_probe stream 1000 1
comedi_probe stream 10000 1
comedi_probe stream 100000 0.5 3000

section "overrun at 1 MS/s, the first call after it each of: contents, read, cancel"
for first in contents read cancel; do
    echo "--- first: $first"
    comedi_probe overrun 1000000 "$first"
done
section "overrun: emptying the buffer by marking it read, by read()"
comedi_probe drain 1000000 mark
comedi_probe drain 1000000 read
section "a command's own end (count 3000 at 100 kHz): the same"
comedi_probe drain 100000 mark 3000
comedi_probe drain 100000 read 3000
dmesg | grep -i 'comedi' | tail -n 3

section "cancel"
comedi_probe cancel

section "AO, and the process that ran a command ending without cancel"
ao_readback -o ao.csv &
readback=$!
echo "--- ended by SIGKILL"
comedi_probe hold 10000 40000 >hold.out 2>&1 &
holder=$!
sleep 0.3
cat hold.out
echo "--- a second process meanwhile"
comedi_probe state
kill -KILL $holder
wait $holder
echo "holder status $?"
sleep 0.1
comedi_probe state
echo "--- ended by exit(0), no cancel, no close"
comedi_probe hold 10000 12345 exit >/dev/null
comedi_probe state
echo "--- ended by SIGTERM (default action)"
comedi_probe hold 10000 777 >/dev/null 2>&1 &
holder=$!
sleep 0.3
kill -TERM $holder
wait $holder
echo "holder status $?"
comedi_probe state
kill -TERM $readback
wait $readback
echo "ao_readback status $?; codes seen in order, with how many samples:"
cut -d, -f2 ao.csv | uniq -c
awk -F, 'NR > 1 { d = $1 - prev; if (d > max) max = d; sum += d; n++ } { prev = $1 }
    END { printf "ao_readback interval: mean %.6f s, max %.6f s over %d samples\n", sum / n, max, n + 1 }' ao.csv

section "opening"
for path in /dev/comedi0 /dev/comedi5 /dev/null ./facts.sh /tmp /dev/comedi0_subd0; do
    echo "--- $path"
    comedi_probe open "$path"
done
echo "--- /dev/comedi0 as a user outside the device's group"
su user -c 'id; comedi_probe open /dev/comedi0'
echo "--- as a member of iocard, with the node as Debian's udev rule makes it (root:iocard 0660)"
chgrp iocard /dev/comedi0 && chmod 660 /dev/comedi0
su lab -c 'id; comedi_probe open /dev/comedi0'
chgrp root /dev/comedi0 && chmod 600 /dev/comedi0
echo "--- with COMEDILIB_LOGLEVEL=2 comedilib prints of its own"
COMEDILIB_LOGLEVEL=2 comedi_probe open /dev/comedi5
echo "--- the driver unloaded"
rmmod comedi_test
ls /dev/comedi* 2>&1
comedi_probe open /dev/comedi0
insmod /lib/modules/comedi_test.ko

section "running as another user: what busybox offers"
for applet in su setuidgid chpst setpriv runuser; do
    if busybox --list | grep -qx "$applet"; then echo "$applet: present"; else echo "$applet: absent"; fi
done

if command -v bench_comedi_status >/dev/null; then
    section "the cost of asking the buffer"
    # Repetitions in random order: the machine's load drifts during a run, and a ratio of two
    # benchmarks run one after the other would show the drift.
    bench_comedi_status --benchmark_color=false --benchmark_min_time=0.2 --benchmark_repetitions=6 \
        --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true
fi
exit 0
