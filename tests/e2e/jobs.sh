#!/usr/bin/env bash
# Nerio2N against fxsim beyond the plain download: a Chinese result, clear (success, write
# protection, the buttons while it runs), closing during a download (No lets it finish, Yes
# ends the program at once), a second click and a refresh during a job, a silent PLC.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_setup
exe=$(e2e_pack Nerio2N)
e2e_ports COM5="$E2E_WORK/plc"
write_frames='^rx E11 8[0-9A-F]{2}C '
count_in() { grep -cE "$1" <<<"$2" || true; }

# A failed download in Chinese: prefix and code text side by side.
e2e_start_sim fx2n --model 26100
e2e_launch "$exe" zh
e2e_drive wait-main $E2E_START_MS click 1003 wait-box $E2E_BOX_MS answer 1 close wait-gone 5000
e2e_expect "Chinese failure text" "box text: 下载失败：当前PLC型号不一致！"
e2e_wait_exit 5000
e2e_stop_sim

# A sealed image whose trailer lies: pmwsize patched, the checksum made right again.
reseal() {  # reseal IN OUT PMWSIZE
  perl -e '
    my ($in, $out, $size) = @ARGV;
    open(my $f, "<:raw", $in) or die; local $/; my $d = <$f>; close $f;
    my $n = length $d;
    substr($d, $n - 11, 4) = pack("N", $size);
    my @t; for my $i (0..255) { my $c = $i; for (1..8) { $c = $c & 1 ? ($c >> 1) ^ 0xA001 : $c >> 1 } $t[$i] = $c }
    my $crc = 0xFFFF; $crc = ($crc >> 8) ^ $t[($crc ^ $_) & 0xFF] for unpack("C*", substr($d, 0, $n - 2));
    substr($d, $n - 2, 2) = pack("n", $crc);
    open(my $o, ">:raw", $out) or die; print $o $d; close $o;' "$1" "$2" "$3"
}
e2e_start_sim fx2n
for case in "damaged 2147483647" "empty 0"; do
  set -- $case
  mkdir -p "$E2E_WORK/app/$1"
  reseal "$exe" "$E2E_WORK/app/$1/Nerio2N.exe" "$2"
  e2e_launch "$E2E_WORK/app/$1/Nerio2N.exe" en
  if [ "$1" = damaged ]; then
    e2e_drive wait-main $E2E_START_MS no-box 500 click 1003 wait-box $E2E_BOX_MS answer 1 state
    e2e_expect "a package beyond its file: the damaged-file message on Download" \
      "box text: The current file is damaged, please contact your software manufacturer!"
  else
    e2e_drive wait-main $E2E_START_MS no-box 500 click 1003 no-box 1500 state
    echo "ok   no package: Download shows nothing"
  fi
  e2e_expect "$1 package: the dialog stays idle" "ctl 1003 enabled=1 text=Download"
  e2e_expect "$1 package: Close stays disabled" "ctl 1004 enabled=0 text=Close"
  e2e_drive close wait-gone 5000
  e2e_wait_exit 5000
done
# Only the close's monitor-header reset reaches the PLC, nothing of a download.
e2e_check "no download reached the PLC" \
  test "$(grep '^rx ' <<<"$(e2e_sim transcript)" | grep -cv '^rx E10 1400 02 0000 ')" -eq 0
e2e_stop_sim

e2e_start_sim fx2n --running
e2e_launch "$exe" en

# Clear: every request in order, the PLC not stopped, the code's text as the result.
e2e_drive wait-main $E2E_START_MS click 1006 wait-box $E2E_BOX_MS answer 1 state
e2e_expect "clear: success" "box text: This command completed execution!"
e2e_expect "clear: the Clear button reads Cleanup again" "ctl 1006 enabled=1 text=Cleanup"
e2e_expect "clear: Close disabled again" "ctl 1004 enabled=0 text=Close"
t=$(e2e_sim transcript)
codes=$(grep -oE '^rx CODE 6[0-4]' <<<"$t" | awk '{print $3}' | tr '\n' ' ')
e2e_check "clear: requests 61 60 63 64 62 in this order ($codes)" test "$codes" = "61 60 63 64 62 "
OUT=$(e2e_sim state)
e2e_expect "clear: a running PLC is not stopped" "RUN "

# Clear on a write-protected PLC: refused before any clear request.
e2e_sim set d8003 10 >/dev/null
e2e_sim transcript clear >/dev/null
e2e_drive click 1006 wait-box $E2E_BOX_MS answer 1
e2e_expect "clear: write protection" "box text: Current PLC has write protection, operation failed!"
e2e_check "clear: no clear request to a protected PLC" test "$(count_in ' CODE ' "$(e2e_sim transcript)")" -eq 0
e2e_sim set d8003 0 >/dev/null

# The buttons while a clear runs (a slow PLC keeps it going for a few seconds).
e2e_sim set turnaround 300 >/dev/null
e2e_drive click 1006 wait-text 1006 Clearing 10000 state wait-box $E2E_BOX_MS answer 1 state
e2e_expect "clearing: Download disabled" "ctl 1003 enabled=0 text=Download"
e2e_expect "clearing: Clear disabled, reads Clearing" "ctl 1006 enabled=0 text=Clearing"
e2e_expect "clearing: Close enabled" "ctl 1004 enabled=1 text=Close"
e2e_expect "cleared: the Clear button is back" "ctl 1006 enabled=1 text=Cleanup"
e2e_sim set turnaround 0 >/dev/null
e2e_stop_sim

# Close during a download, answered No: the download goes on and finishes. A second click on
# Download and a Refresh in the middle change nothing.
e2e_start_sim fx2n --pace --running
e2e_drive click 1003 click 1003 wait-text 1005 "Current download progress" 20000 click 1001 \
  sleep 300 close wait-box $E2E_BOX_MS
e2e_expect "close while downloading asks" \
  "box text: Currently downloading program, do you want to force termination?"
e2e_expect "the question's caption" "box caption: Warning"
e2e_drive answer 7 wait-box 60000 answer 1 no-box 1500 ports
e2e_expect "No lets the download finish" "box text: Download completed!"
e2e_expect "the port stays listed during the job" "port 0 COM5 "
t=$(e2e_sim transcript)
e2e_check "one click, one job: 32 program frames" test "$(count_in "$write_frames" "$t")" -eq 32
OUT=$(e2e_sim state)
e2e_expect "the finished download restarted the PLC" "RUN "

# A PLC that goes silent after the model check: the time-out text. (Stopped, so the requests
# before the parameter block are the run state, ENQ, the run state and the model word.)
e2e_sim set running 0 >/dev/null
e2e_sim fault silent-after 4 >/dev/null
e2e_drive click 1003 wait-box 60000 answer 1
e2e_expect "silent PLC: time-out" "box text: Download failed: Communication command execution timeout!"
e2e_sim fault clear >/dev/null
e2e_sim set running 1 >/dev/null

# Close during a download, answered Yes: the program ends at once; the PLC received no 'B'
# frame after the cut, and the monitor-header write came last.
e2e_sim transcript clear >/dev/null
e2e_drive click 1003 wait-text 1005 "Current download progress" 20000 close wait-box $E2E_BOX_MS \
  answer 6
start=$(date +%s%N)
e2e_wait_exit 5000 && echo "ok   Yes ends the program ($((($(date +%s%N) - start) / 1000000)) ms)"
sleep 0.3
t=$(e2e_sim transcript)
e2e_check "the cut download sent some program frames" test "$(count_in "$write_frames" "$t")" -gt 0
e2e_check "the cut download sent fewer than all" test "$(count_in "$write_frames" "$t")" -lt 32
e2e_check "no 'B' frame after the cut" test "$(count_in '^rx B ' "$t")" -eq 0
last_rx=$(grep '^rx ' <<<"$t" | tail -1)
e2e_check "the monitor-header write is the last frame ($last_rx)" \
  grep -q '^rx E10 1400 02 0000 ' <<<"$last_rx"
OUT=$(e2e_sim state)
e2e_expect "the cut PLC stays stopped" "STOP "
e2e_expect "the program bit stays forced" "0E76"

# Close during a clear: no question, the program ends.
e2e_sim set turnaround 300 >/dev/null
e2e_launch "$exe" en
e2e_drive wait-main $E2E_START_MS click 1006 wait-text 1006 Clearing 10000 close no-box 300 \
  wait-gone 10000
e2e_expect "closing during a clear asks nothing" "gone"
e2e_wait_exit 5000 && echo "ok   the program ends after the clear was cut"

e2e_finish
