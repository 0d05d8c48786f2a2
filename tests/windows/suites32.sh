#!/bin/sh
# The 32-bit Windows build's suites under 32-bit wine, run in the guest by tests/windows/vm32
# (scripts/test-windows): beside this script are aoplay.exe and cbw32.dll of build-win32,
# console_win32_tests.exe, the native process_tests with the host's `script`, and the build's
# zip. Each part reports its time on the guest's clock; the status is 1 if any part failed.
failed=""
part_start=0
now() { cut -d. -f1 /proc/uptime; }
begin() {
    printf '\n=== %s\n' "$1"
    part_start=$(now)
}
end() { # name, status
    if [ "$2" -eq 0 ]; then
        echo "suites32: passed: $1 ($(($(now) - part_start)) s)"
    else
        echo "suites32: FAILED: $1 (status $2, $(($(now) - part_start)) s)"
        failed="$failed; $1"
    fi
}

# The first wine program after the server starts takes several seconds more than the next:
# taken here, so that it does not count against a test's patience.
begin "first wine run"
wine ./aoplay.exe /HE >/dev/null 2>&1
end "first wine run" 0

# Every suite below reads the board's trace, which cbw32.dll writes out as the process ends: a
# DLL whose exit work hangs would have each run wait out its timeout. Found here at once.
begin "a traced run of aoplay.exe ends"
printf '1\n2\n' >table.txt
BOARDSIM_CLOCK=step BOARDSIM_STOP_AFTER=2 BOARDSIM_TRACE=trace.csv \
    timeout 60 wine ./aoplay.exe <table.txt >/dev/null 2>&1
status=$?
[ $status -eq 0 ] || echo "aoplay.exe did not end a traced run well within 60 s (status $status)"
end "a traced run ends" $status

# No terminal on any standard stream: wine gives the tool no console at all.
begin "process suite (options, reader, playback, exact output)"
AOPLAY_COMMAND="wine ./aoplay.exe" AOPLAY_CRLF=1 AOPLAY_NO_SIGNALS=1 AOPLAY_WINE=1 \
    ./process_tests --gtest_color=no --gtest_brief=1
end "process suite" $?

# A console needs a terminal: a pseudo-terminal from script. Its standard input is held open
# (script would type Ctrl-D at its end, which is a key) and the test writes its report to a
# file, the console being the test's subject.
begin "console layer tests (pseudo-terminal)"
mkfifo keys
exec 3<>keys
./script -qec "wine ./console_win32_tests.exe --gtest_color=no >console.log 2>&1" /dev/null \
    <&3 >/dev/null 2>&1
status=$?
exec 3>&-
cat console.log
end "console layer tests" $status

# The unpacked tool runs from the zip's folder alone: three samples on the step clock.
begin "zip: contents, unpacked tool plays"
status=0
zip=$(ls aoplay-*-win32.zip)
mkdir unpacked && (cd unpacked && unzip -q "../$zip") || status=1
tool=$(ls -d unpacked/aoplay-*-win32)
for file in aoplay.exe cbw32.dll README.md aoplay.1 examples/sine-step.txt; do
    [ -f "$tool/$file" ] || { echo "$zip: no $file" && status=1; }
done
played=$(BOARDSIM_CLOCK=step BOARDSIM_STOP_AFTER=3 BOARDSIM_TRACE=zip-trace.csv \
    wine "$tool/aoplay.exe" /SL:1 /XC:2 <"$tool/examples/sine-step.txt" | tr -d '\r')
if ! echo "$played" | grep -q "Data collection terminated." ||
    [ "$(grep -c '^[0-9]' zip-trace.csv)" -ne 5 ]; then
    echo "the unpacked tool did not play:"
    echo "$played"
    status=1
fi
end "$zip" $status

[ -z "$failed" ] || { echo "suites32: failed:${failed#;}" && exit 1; }
