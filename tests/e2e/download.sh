#!/usr/bin/env bash
# Downloads of one deliverable to fxsim: with and without verify (memory equal to the package,
# a running PLC runs again, a stopped one stays stopped), a compare failure (dump files in the
# FX1N and FX2N profiles), a PLC of another model, and the buttons while the job runs.
# Usage: download.sh Nerio1S|Nerio1N|Nerio2N
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
d=$1
case $d in
  Nerio1S) profile=fx1s other_model=26100 dumps=no busy_text="Downloading..." ;;
  Nerio1N) profile=fx1n other_model=24100 dumps=yes busy_text="Connecting..." ;;
  Nerio2N) profile=fx2n other_model=26100 dumps=yes busy_text="Connecting..." ;;
  *) echo "unknown deliverable $d"; exit 2 ;;
esac
e2e_setup
exe=$(e2e_pack "$d")
e2e_ports COM5="$E2E_WORK/plc"
# Program frames go to 0x805C + 64 i (addresses ending in C); the parameter block to 0x8000.
write_frames=' rx (1|E11) 8[0-9A-F]{2}C '
read_frames=' rx (0|E01) 8[0-9A-F]{2}C '
transcript_count() { grep -cE "$1" "$E2E_WORK/sim.transcript" || true; }

# 1. A running PLC, verify ticked.
e2e_start_sim $profile --running
e2e_launch "$exe" en
e2e_drive wait-main $E2E_START_MS check 1007 1 click 1003 wait-box $E2E_BOX_MS
e2e_expect "$d verify: success" "box text: Download completed!"
e2e_expect "$d the result box carries the program's title" "box caption: $d"
e2e_drive answer 1 state
e2e_expect "$d after the result: Download enabled again" "ctl 1003 enabled=1 text=Download"
e2e_expect "$d after the result: Clear enabled" "ctl 1006 enabled=1 text=Cleanup"
e2e_expect "$d after the result: Close disabled" "ctl 1004 enabled=0 text=Close"
e2e_expect "$d the status line shows the verify at its end" "text=Current verify progress 100%"
OUT=$(e2e_sim state)
e2e_expect "$d the PLC that ran runs again" "RUN "
e2e_stop_sim
e2e_check "$d PLC memory from 0x8000 equals the package" \
  cmp -s -n 2092 "$E2E_SAMPLE" "$E2E_WORK/sim.dump"
e2e_check "$d 32 program frames written" test "$(transcript_count "$write_frames")" -eq 32
e2e_check "$d 32 program frames read back" test "$(transcript_count "$read_frames")" -eq 32

# 2. A stopped PLC, verify not ticked.
e2e_start_sim $profile
e2e_drive check 1007 0 click 1003 wait-box $E2E_BOX_MS answer 1
e2e_expect "$d no verify: success" "box text: Download completed!"
OUT=$(e2e_sim state)
e2e_expect "$d the stopped PLC stays stopped" "STOP "
e2e_stop_sim
e2e_check "$d no verify: memory equals the package" cmp -s -n 2092 "$E2E_SAMPLE" "$E2E_WORK/sim.dump"
e2e_check "$d no verify: nothing read back" test "$(transcript_count "$read_frames")" -eq 0

# 3. A PLC of another family: stopped, refused, left stopped, nothing written.
e2e_start_sim $profile --running --model $other_model
e2e_drive click 1003 wait-box $E2E_BOX_MS answer 1
e2e_expect "$d wrong model" \
  "box text: Download failed: The current PLC model is inconsistent with the software!"
OUT=$(e2e_sim state)
e2e_expect "$d the refused PLC stays stopped" "STOP "
e2e_stop_sim
e2e_check "$d wrong model: no program frame" test "$(transcript_count "$write_frames")" -eq 0

# 4. A compare failure: at real line speed, one byte of the last frame changes in the PLC
#    once the read-back has begun. The buttons are looked at while the job runs.
rm -f "$(dirname "$exe")/RamPlc.xbin" "$(dirname "$exe")/RamPrj.xbin"
e2e_start_sim $profile --pace
# The status line still holds the last job's text: the parameter step is the first sign.
e2e_drive check 1007 1 click 1003 wait-text 1005 "params" 20000 state
e2e_expect "$d downloading: Download disabled, $busy_text" "ctl 1003 enabled=0 text=$busy_text"
e2e_expect "$d downloading: Clear disabled" "ctl 1006 enabled=0 text=Cleanup"
e2e_expect "$d downloading: Close enabled" "ctl 1004 enabled=1 text=Close"
e2e_expect "$d downloading: the parameter step" "ctl 1005 enabled=1 text=Downloading params..."
e2e_drive wait-text 1005 "Current download progress " 20000 wait-text 1005 "verify progress" 30000
OUT=$(e2e_sim poke 8820 00)
e2e_expect "$d the PLC takes the changed byte" "ok"
e2e_drive wait-box 30000 answer 1
e2e_expect "$d compare failure" "box text: Download failed: Compare file failed!"
OUT=$(e2e_sim state)
e2e_expect "$d after a compare failure the PLC stays stopped" "STOP "
e2e_stop_sim
if [ $dumps = yes ]; then
  e2e_check "$d dump of the PLC's program" test -s "$(dirname "$exe")/RamPlc.xbin"
  e2e_check "$d dump of the project's program" test -s "$(dirname "$exe")/RamPrj.xbin"
  e2e_check "$d the dumps differ" bash -c "! cmp -s '$(dirname "$exe")/RamPlc.xbin' '$(dirname "$exe")/RamPrj.xbin'"
else
  e2e_check "$d writes no dump files" test ! -e "$(dirname "$exe")/RamPlc.xbin"
fi

e2e_drive close wait-gone 5000
e2e_wait_exit 5000
e2e_finish
