#!/usr/bin/env bash
# The dialog of the three deliverables without a PLC job: texts and titles in both languages,
# the start-up warnings and the gate, the port list with its pictures, the system menu's about
# item, Enter and Escape, Refresh, and closing while idle.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
e2e_setup

declare -A ZH=(
  [title_1S]="[Nerio1S] CorvanePLC下载器V2.11" [title_1N]="[Nerio1N] CorvanePLC下载器V2.11"
  [title_2N]="[Nerio2N] CorvanePLC下载器V2.11"
  [port]="选择串口：" [refresh]="刷新串口" [progress]="当前进度：" [verify]="下载完毕后校验程序"
  [download]="下载" [clear]="清除" [close]="关闭" [caption]="提示"
  [noport]="当前电脑无可用串口！" [damaged]="文件损坏，请联系软件制作商！"
)
declare -A EN=(
  [title_1S]="[Nerio1S] Tavolin PLC Remote Update Tool V2.11"
  [title_1N]="[Nerio1N] Tavolin PLC Remote Update Tool V2.11"
  [title_2N]="[Nerio2N] Tavolin PLC Remote Update Tool V2.11"
  [port]="Port:" [refresh]="Refresh Port" [progress]="Progress:" [verify]="Verify after download"
  [download]="Download" [clear]="Cleanup" [close]="Close" [caption]="Warning"
  [noport]="There is no serial port available for the current computer!"
  [damaged]="The current file is damaged, please contact your software manufacturer!"
)

winpath() { local p=$1; echo "Z:${p//\//\\}"; }

# The language the driver sees must be the one the test means.
e2e_launch_lang_check() {
  E2E_APP_LANG=$1
  e2e_drive langid
}
e2e_launch_lang_check zh
e2e_expect "Chinese locale gives the Chinese (PRC) language id" "langid: 0x0804"
e2e_launch_lang_check en
e2e_expect "English locale gives another language id" "langid: 0x0409"

# Unsealed downloaders with no port registered: captions first, then the no-port warning,
# then the damaged-file message, then the end.
e2e_ports
for p in 1S 1N 2N; do
  exe=$E2E_WIN_BIN/Nerio$p.exe
  e2e_drive string "$(winpath "$exe")" 101 string "$(winpath "$exe")" 20042 \
    string "$(winpath "$exe")" 30042 string "$(winpath "$exe")" 20023 string "$(winpath "$exe")" 30027
  e2e_expect "Nerio$p string 101 is the Chinese about item" "string 101: 关于我们 (&A)..."
  e2e_expect "Nerio$p Chinese title" "string 20042: ${ZH[title_$p]}"
  e2e_expect "Nerio$p English title" "string 30042: ${EN[title_$p]}"
  e2e_expect "Nerio$p progress format" "string 20023: 当前下载进度 %u%%"
  e2e_expect "Nerio$p failure prefix keeps its space" "string 30027: Download failed: "
  for lang in en zh; do
    if [ $lang = zh ]; then declare -n T=ZH; else declare -n T=EN; fi
    e2e_launch "$exe" $lang
    e2e_drive wait-main $E2E_START_MS title state wait-box $E2E_BOX_MS
    e2e_expect "Nerio$p $lang title" "title: ${T[title_$p]}"
    e2e_expect "Nerio$p $lang port label" "ctl 1008 enabled=1 text=${T[port]}"
    e2e_expect "Nerio$p $lang refresh" "ctl 1001 enabled=1 text=${T[refresh]}"
    e2e_expect "Nerio$p $lang progress label" "ctl 1009 enabled=1 text=${T[progress]}"
    e2e_expect "Nerio$p $lang verify box" "ctl 1007 enabled=1 text=${T[verify]}"
    e2e_expect "Nerio$p $lang download" "ctl 1003 enabled=1 text=${T[download]}"
    e2e_expect "Nerio$p $lang clear" "ctl 1006 enabled=1 text=${T[clear]}"
    e2e_expect "Nerio$p $lang close" "text=${T[close]}"
    e2e_expect "Nerio$p $lang status line" "ctl 1005 enabled=1 text=- -"
    e2e_expect "Nerio$p $lang no-port warning caption" "box caption: ${T[caption]}"
    e2e_expect "Nerio$p $lang no-port warning first" "box text: ${T[noport]}"
    e2e_drive answer 1 wait-box $E2E_BOX_MS
    e2e_expect "Nerio$p $lang unsealed: damaged-file message" "box text: ${T[damaged]}"
    e2e_expect "Nerio$p $lang damaged caption" "box caption: ${T[caption]}"
    e2e_drive answer 1
    e2e_wait_exit 10000 && echo "ok   Nerio$p $lang unsealed downloader ends"
    unset -n T
  done
done

# A sealed downloader with two ports in registry order: COM6 leads nowhere, COM5 to fxsim.
e2e_start_sim fx2n
e2e_ports COM6="$E2E_WORK/nowhere" COM5="$E2E_WORK/plc"
exe=$(e2e_pack Nerio2N)
e2e_launch "$exe" en
e2e_drive wait-main $E2E_START_MS no-box 500 ports state
e2e_expect "both ports listed in registry order, the first selected" "ports: count=2 sel=0"
e2e_expect "COM6 first" "port 0 COM6 "
e2e_expect "COM5 second" "port 1 COM5 "
e2e_expect "idle: Download enabled" "ctl 1003 enabled=1 text=Download"
e2e_expect "idle: Clear enabled" "ctl 1006 enabled=1 text=Cleanup"
e2e_expect "idle: Close disabled" "ctl 1004 enabled=0 text=Close"
data0=$(sed -n 's/^port 0 COM6 data=\([0-9a-f]*\).*/\1/p' <<<"$OUT")
data1=$(sed -n 's/^port 1 COM5 data=\([0-9a-f]*\).*/\1/p' <<<"$OUT")
e2e_check "each item carries its own bitmap" test -n "$data0" -a "$data0" != 0 -a "$data0" != "$data1"
# Items are the bitmap's 16 pixels and 6 more high (Wine reports the selection field with its
# own two-pixel border added, so only the items are compared).
[ "$(grep -c '^port [01] COM[56] data=[0-9a-f]* height=22$' <<<"$OUT")" = 2 ] &&
  echo "ok   items are 22 pixels high" || e2e_fail "item heights"

# The picture in the selection field: a red cross for COM6 only.
red_in_field() {
  e2e_drive select "$1" sleep 300 rect 1000
  read -r l t r b <<<"$(sed -n 's/^rect 1000: //p' <<<"$OUT")"
  import -window root -crop "28x$((b - t))+${l}+${t}" +repage "$E2E_WORK/field.png" 2>/dev/null
  convert "$E2E_WORK/field.png" txt:- | grep -ci '#FF0000' || true
}
n=$(red_in_field 0)
e2e_check "COM6 shows the red-crossed connector ($n red pixels)" test "${n:-0}" -gt 10
n=$(red_in_field 1)
e2e_check "COM5 shows the plain connector ($n red pixels)" test "${n:-0}" -eq 0

# Enter and Escape do nothing; Refresh lists the same ports again.
e2e_drive key 1003 13 key 1000 27 key 1007 13 sleep 500 no-box 300 title click 1001 sleep 800 ports
e2e_expect "Enter and Escape leave the dialog open" "title: ${EN[title_2N]}"
e2e_expect "Refresh lists the ports again" "ports: count=2 sel=0"
e2e_expect "Refresh keeps the registry order" "port 1 COM5 "

# The progress and result messages of the pool, sent as the worker sends them.
e2e_drive send 0x178B 8000 16000 text 1005 send 0x178B 1 3 text 1005 send 0x178E 1 3 text 1005
e2e_expect "download progress 8000 of 16000" "text 1005: Current download progress 50%"
e2e_expect "download progress 1 of 3 truncates" "text 1005: Current download progress 33%"
e2e_expect "verify progress" "text 1005: Current verify progress 33%"
e2e_drive send 0x178B 5 0 text 1005 send 0x1789 0 0 text 1005 send 0x1788 0 1 no-box 500 state
e2e_expect "a total of 0 shows 0%" "text 1005: Current download progress 0%"
e2e_expect "the parameter step" "text 1005: Downloading params..."
e2e_expect "a result without a command is rejected" "send 6024: 0"
e2e_expect "and changes nothing" "ctl 1004 enabled=0 text=Close"

# The system menu's last item, reached from the keyboard, opens the about box.
e2e_drive menu-last sleep 200 menu-enter wait-box $E2E_BOX_MS
e2e_expect "the system menu's last item is the about box" "box caption: 关于我们"
e2e_drive answer 1 no-box 300 close wait-gone 5000
e2e_expect "closing while idle asks nothing" "gone"
e2e_wait_exit 5000 && echo "ok   the program ends after close"

# Every port busy: the warning, no selection; Download then asks for a port.
e2e_ports COM6="$E2E_WORK/nowhere"
e2e_launch "$exe" zh
e2e_drive wait-main $E2E_START_MS wait-box $E2E_BOX_MS answer 1 ports click 1003 wait-box $E2E_BOX_MS
e2e_expect "no openable port: nothing selected" "ports: count=1 sel=-1"
e2e_expect "Download without a selection asks for a port" "box text: 请选择串口号！"
e2e_drive answer 1 state close wait-gone 5000
e2e_expect "the dialog stays idle" "ctl 1003 enabled=1 text=下载"
e2e_wait_exit 5000

e2e_finish
