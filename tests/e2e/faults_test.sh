#!/bin/bash
# Faults from outside: a tool that misbehaves, files that cannot be written, an odd dmidecode, odd
# file names and odd scripts. In every case the program does what its rules say, says so where
# they give a message, and leaves its input files as they were.
. "$(dirname "$0")/lib.sh"

# q KEY DEFAULT CURRENT: one numeric question of a setup script, CR LF line ends.
q() { printf 'Setup Question = %s\r\nBIOS Default =[%s]\r\nValue =%s\r\n\r\n' "$1" "$2" "$3"; }
HEAD='\r\nMiscompare Notification\r\n'
END='\r\n== Complete MISCOMPARE Function ==\r\n'
FAILED_TOOL='Error occurred during BIOS setting operation!\n'
report() { printf 'ERROR:Saved value for %s is %s\\r\\n       BIOS value for %s is %s\\r\\n' "$1" "$2" "$1" "$3"; }

# keep_sums NAME...: remembers the checksums of input files; expect_intact checks them again.
keep_sums() { (cd "$WORK" && md5sum -- "$@") >"$FAKE/sums" || fail "cannot checksum $*"; }
expect_intact() { (cd "$WORK" && md5sum --status -c "$FAKE/sums") || fail "an input file changed"; }

# The -u inputs: old.txt (values to carry over), new.txt, an empty Exclude.txt.
update_inputs() {
  { q A 00 01; q B 00 02; } >"$WORK/old.txt"
  { q A 00 05; q B 00 02; } >"$WORK/new.txt"
  : >"$WORK/Exclude.txt"
}
# The -c inputs: saved.txt, an empty Exclude.txt and a live export that differs in A.
compare_inputs() {
  { q A 00 01; q B 00 02; } >"$WORK/saved.txt"
  { q A 00 05; q B 00 02; } >"$FAKE/export"
  : >"$WORK/Exclude.txt"
}

# run_nvram_limited KIB ARGS...: run_nvram under a file-size limit of KIB kibibytes.
run_nvram_limited() {
  local kib=$1
  shift
  (cd "$WORK" && ulimit -f "$kib" && PATH="$FAKE/bin:$PATH" "$NVRAM_BIN" "$@" >"$OUT_FILE" 2>"$FAKE/stderr" </dev/null)
  STATUS=$?
}

# ---- The tool misbehaves

begin_case "-c: a live export cut off in a Value line is compared as far as it goes"
compare_inputs
{ q A 00 01; q B 00 02; q C 00 03; } >"$WORK/saved.txt"
{ q A 00 05; printf 'Setup Question = B\r\nBIOS Default =[00]\r\nValue =0'; } >"$FAKE/export"
keep_sums saved.txt Exclude.txt
run_nvram -c saved.txt
expect_status 6
expect_stdout "$HEAD$(report A 01 05)$(report B 02 0)"
expect_file biostemp.ini '{A},[00],<05>\r\n{B},[00],<0>\r\n'
expect_intact

begin_case "-c: a live export cut off in a Setup line: its empty key is not found, end message"
compare_inputs
{ q A 00 01; printf 'Setup Que'; } >"$FAKE/export"
run_nvram -c saved.txt
expect_status 0
expect_stdout "$HEAD$END"

begin_case "-s: an export cut off mid-line is stamped and copied as far as it goes"
set_export '// Script File Name : temp.txt\r\n// Setup questions\r\nSetup Question = Quiet Boot\r\nOptions =*[00]Dis'
run_nvram -s db out.txt
expect_status 0
expect_file out.txt '// Script File Name : out.txt\n// BIOS_VERSION = XB0A12\n\n// Setup questions\r\nSetup Question = Quiet Boot\r\nOptions =*[00]Dis'
expect_files db out.txt

begin_case "-c: the tool writes the export, then exits 1: nothing is converted"
compare_inputs
set_tool_exit 1
keep_sums saved.txt Exclude.txt
run_nvram -c saved.txt
expect_status 1
expect_stdout "$FAILED_TOOL"
expect_files Exclude.txt saved.txt biostemp.sh
expect_intact

begin_case "-c: the tool is killed by a signal after writing the export"
compare_inputs
printf 'kill -9 $$\n' >"$FAKE/hook"
keep_sums saved.txt Exclude.txt
run_nvram -c saved.txt
expect_status 1
expect_stdout "$FAILED_TOOL"
expect_files Exclude.txt saved.txt biostemp.sh
expect_intact

begin_case "-u: the import is killed by a signal: the working files stay"
update_inputs
printf 'kill -SEGV $$\n' >"$FAKE/hook"
keep_sums old.txt new.txt Exclude.txt
run_nvram -u old.txt new.txt
expect_status 1
expect_stdout "$FAILED_TOOL"
expect_file Difftemp.ini '{A},[00],<01>\r\n'
expect_files Exclude.txt old.txt new.txt Difftemp.ini merged.txt
expect_intact

begin_case "-c: a tool that is a directory cannot be run: status 1, nothing converted"
compare_inputs
rm "$WORK/SCELNX_64" && mkdir "$WORK/SCELNX_64"
run_nvram -c saved.txt
expect_status 1
expect_stdout "$FAILED_TOOL"
expect_files Exclude.txt saved.txt

begin_case "-u: a tool that is a directory: every file is written, then status 1"
update_inputs
rm "$WORK/SCELNX_64" && mkdir "$WORK/SCELNX_64"
keep_sums old.txt new.txt Exclude.txt
run_nvram -u old.txt new.txt
expect_status 1
expect_stdout "$FAILED_TOOL"
expect_files Exclude.txt old.txt new.txt Difftemp.ini merged.txt
expect_intact

# ---- Files that cannot be written

begin_case "-c in a read-only working directory: the saved record file cannot be created"
compare_inputs
if read_only_work; then
  keep_sums saved.txt Exclude.txt
  run_nvram -c saved.txt
  expect_status 3
  expect_stdout 'Error, cannot open file saved.ini\r\n'
  expect_files Exclude.txt saved.txt
  expect_intact
else
  echo "skipped: -c in a read-only working directory (no read-only mount possible here)"
fi

begin_case "-u in a read-only working directory: the new script is tried twice, nothing else"
update_inputs
if read_only_work; then
  keep_sums old.txt new.txt Exclude.txt
  run_nvram -u old.txt new.txt
  expect_status 3
  expect_stdout 'Error, cannot open file new.ini\r\nError, cannot open file new.ini\r\n'
  expect_files Exclude.txt old.txt new.txt
  expect_tool_words
  expect_intact
else
  echo "skipped: -u in a read-only working directory (no read-only mount possible here)"
fi

begin_case "links planted at working-file names are replaced, never written through"
compare_inputs
update_inputs
# Each its own victim (two working files linked to one file would be a clash); the last two hard.
victims=(merged.txt Difftemp.ini new.ini biostemp.ini saved.ini pwd.lst old.ini hdd.lst)
for f in "${victims[@]}"; do printf 'victim\n' >"$FAKE/$f" && ln -s "$FAKE/$f" "$WORK/$f"; done
for f in old.ini hdd.lst; do ln -f "$FAKE/$f" "$WORK/$f"; done
for args in "-u old.txt new.txt" "-p out.bin" "-g out.bin"; do run_nvram $args && expect_status 0; done
expect_file Difftemp.ini '{A},[00],<01>\r\n'
run_nvram -c saved.txt
expect_status 6
expect_file saved.ini '{A},[00],<01>\r\n{B},[00],<02>\r\n'
[ ! -L "$WORK/merged.txt" ] && [ ! -L "$WORK/biostemp.ini" ] || fail "a link stayed"
[ "$(cd "$FAKE" && cat "${victims[@]}" | sort -u)" = victim ] || fail "a linked file was written"

begin_case "-u: a file-size limit cuts the new script's record file: tried twice, nothing imported"
awk 'BEGIN { for (i = 1; i <= 200; i++) printf "Setup Question = Q%d\r\nValue =%x\r\n\r\n", i, i }' >"$WORK/new.txt"
q Q1 00 7 >"$WORK/old.txt"
: >"$WORK/Exclude.txt"
keep_sums old.txt new.txt Exclude.txt
run_nvram_limited 1 -u old.txt new.txt
expect_status 3
expect_stdout 'Error, cannot write file new.ini\r\nError, cannot write file new.ini\r\n'
expect_tool_words
expect_no_file Difftemp.ini merged.txt
expect_intact

begin_case "-u: a file-size limit cuts the dumped script's record file"
awk 'BEGIN { for (i = 1; i <= 200; i++) printf "Setup Question = Q%d\r\nValue =%x\r\n\r\n", i, i }' >"$WORK/old.txt"
q Q1 00 7 >"$WORK/new.txt"
: >"$WORK/Exclude.txt"
run_nvram_limited 1 -u old.txt new.txt
expect_status 3
expect_stdout 'Error, cannot write file old.ini\r\n'
expect_tool_words
expect_no_file Difftemp.ini merged.txt

begin_case "-u: a file-size limit cuts merged.txt: the cut-off script is never imported"
update_inputs
{ awk 'BEGIN { for (i = 1; i <= 40; i++) printf "// comment line %d of the header, long enough to fill the file\r\n", i }'
  q A 00 05; } >"$WORK/new.txt"
keep_sums old.txt new.txt Exclude.txt
run_nvram_limited 1 -u old.txt new.txt
expect_status 3
expect_stdout 'Error, cannot write file merged.txt\r\n'
expect_tool_words
expect_file Difftemp.ini '{A},[00],<01>\r\n'
expect_intact

# ---- dmidecode misbehaves

begin_case "a dmidecode that hangs for a moment and prints 200 characters: -s stamps the first 15"
printf '1' >"$FAKE/dmidecode-sleep"
printf 'XB%0198d' 3 >"$FAKE/version"
set_export '// Script File Name : temp.txt\n'
run_nvram -s db out.txt
expect_status 0
expect_file out.txt '// Script File Name : out.txt\n// BIOS_VERSION = XB0000000000000\n'

begin_case "a dmidecode that prints garbage after XB: the bytes up to a NUL are stamped as they are"
set_version 'XB\001\376\t\r\000tail\n'
set_export '// Script File Name : temp.txt\n'
run_nvram -s db out.txt
expect_status 0
expect_file out.txt '// Script File Name : out.txt\n// BIOS_VERSION = XB\001\376\t\r\n'

begin_case "a dmidecode that prints garbage: wrong platform, nothing run or written"
compare_inputs
set_version '\377\376XB\n'
run_nvram -c saved.txt
expect_status 5
expect_stdout 'This utility has to run in Vornel!\n'
expect_tool_words
expect_files Exclude.txt saved.txt

begin_case "a dmidecode that prints a megabyte is read to its end"
update_inputs
{ printf 'XB0A12\n'; head -c 1048576 /dev/zero | tr '\0' 'x'; } >"$FAKE/version"
run_nvram -u old.txt new.txt
expect_status 0
expect_tool_words '/i|/q|/s|merged.txt'

# ---- File names

# deep_name LENGTH LEAF: a relative path of about LENGTH characters under $WORK, directories made.
deep_name() {
  local path="" part
  part=$(printf 'd%.0s' $(seq 1 200))
  while [ $((${#path} + 201 + ${#2})) -le "$1" ]; do path+="$part/"; done
  mkdir -p "$WORK/$path"
  printf '%s%s' "$path" "$2"
}

begin_case "-c: a saved script under a path of 4,000 characters"
compare_inputs
saved=$(deep_name 4000 saved.txt)
mv "$WORK/saved.txt" "$WORK/$saved"
keep_sums "$saved" Exclude.txt
run_nvram -c "$saved"
expect_status 6
expect_stdout "$HEAD$(report A 01 05)"
expect_file "${saved%.txt}.ini" '{A},[00],<01>\r\n{B},[00],<02>\r\n'
expect_intact

begin_case "-c: a saved-script name longer than the system allows: a clear message"
compare_inputs
long=$(printf 'n%.0s' $(seq 1 5000))
run_nvram -c "$long"
expect_status 3
expect_stdout "Error, cannot open file $long"'\r\n'

begin_case "-u: names of 4,000 characters reach the tool whole"
update_inputs
old=$(deep_name 4000 old.txt)
mv "$WORK/old.txt" "$WORK/$old"
res=$(printf 'r%.0s' $(seq 1 4000))
keep_sums "$old" new.txt Exclude.txt
run_nvram -u "$old" new.txt "$res" "$res.def"
expect_status 0
expect_tool_words "/i|/q|/s|merged.txt|/rh|$res|/rd|$res.def"
expect_file Difftemp.ini '{A},[00],<01>\r\n'
expect_no_file "${old%.txt}.ini" new.ini
expect_intact

begin_case "-u: names with a newline, '*', '\$(...)' and backquotes run nothing"
update_inputs
mv "$WORK/old.txt" "$WORK/\$(touch pwned).txt"
mv "$WORK/new.txt" "$WORK/"$'new\n*.txt'
keep_sums "\$(touch pwned).txt" $'new\n*.txt' Exclude.txt
run_nvram -u "\$(touch pwned).txt" $'new\n*.txt' '*' '`touch pwned`'
expect_status 0
expect_tool_words '/i|/q|/s|merged.txt|/rh|*|/rd|`touch pwned`'
expect_file Difftemp.ini '{A},[00],<01>\r\n'
expect_files Exclude.txt "\$(touch pwned).txt" $'new\n*.txt' Difftemp.ini merged.txt
expect_intact

begin_case "-c: a saved-script name with a newline, '*' and '\$(...)'"
compare_inputs
name=$'$(touch pwned)\n*.txt'
mv "$WORK/saved.txt" "$WORK/$name"
run_nvram -c "$name"
expect_status 6
expect_stdout "$HEAD$(report A 01 05)"
expect_files Exclude.txt "$name" $'$(touch pwned)\n*.ini' biostemp.sh biostemp.ini

# ---- Inputs that open but cannot be read (a directory in a file's place)

begin_case "-c: a saved script that is a directory is no empty script"
compare_inputs
rm "$WORK/saved.txt" && mkdir "$WORK/saved.txt"
run_nvram -c saved.txt
expect_status 3
expect_stdout 'Error, cannot read file saved.txt\r\n'

begin_case "-c: a read error on a script is no end of the file"
if command -v strace >/dev/null && strace -o /dev/null true 2>/dev/null; then
  compare_inputs
  for f in saved.txt biostemp.sh; do
    [ -e "$WORK/$f" ] || : >"$WORK/$f"  # the name must exist for strace to follow it; no leak check runs under it
    (cd "$WORK" && PATH="$FAKE/bin:$PATH" ASAN_OPTIONS=detect_leaks=0 strace -f -o /dev/null -P "$f" -e inject=read:error=EIO:when=1 \
      "$NVRAM_BIN" -c saved.txt >"$OUT_FILE" 2>/dev/null </dev/null)
    STATUS=$?
    expect_status 3
    expect_stdout "Error, cannot read file $f\r\n"
  done
else
  echo "SKIP: strace is missing or cannot trace here; the injected read error is not tried"
fi

begin_case "-c: a tool that leaves a directory as its export"
compare_inputs
rm "$FAKE/export"
printf 'mkdir "$3"\n' >"$FAKE/hook"
run_nvram -c saved.txt
expect_status 3
expect_stdout 'Error, cannot read file biostemp.sh\r\n'

begin_case "-u: a dumped script that is a directory: nothing merged or imported"
update_inputs
rm "$WORK/old.txt" && mkdir "$WORK/old.txt"
keep_sums new.txt Exclude.txt
run_nvram -u old.txt new.txt
expect_status 3
expect_stdout 'Error, cannot read file old.txt\r\n'
expect_tool_words
expect_no_file Difftemp.ini merged.txt
expect_intact

begin_case "-u: a new script that is a directory is tried twice, nothing imported"
update_inputs
rm "$WORK/new.txt" && mkdir "$WORK/new.txt"
run_nvram -u old.txt new.txt
expect_status 3
expect_stdout 'Error, cannot read file new.txt\r\nError, cannot read file new.txt\r\n'
expect_tool_words

begin_case "-u: an Exclude.txt that is a directory excludes nothing silently"
update_inputs
rm "$WORK/Exclude.txt" && mkdir "$WORK/Exclude.txt"
run_nvram -u old.txt new.txt
expect_status 3
expect_stdout 'Error, cannot read file Exclude.txt\r\n'
expect_tool_words
expect_no_file merged.txt

begin_case "-c and -u: a symbolic link from a working file to an input is a conflict"
compare_inputs
update_inputs
ln -s saved.txt "$WORK/biostemp.ini"
ln -s new.txt "$WORK/merged.txt"
keep_sums saved.txt old.txt new.txt
run_nvram -c saved.txt
expect_status 3
expect_stdout 'Error, file name conflict: saved.txt\r\n'
run_nvram -u old.txt new.txt
expect_status 3
expect_stdout 'Error, file name conflict: new.txt\r\n'
expect_tool_words
expect_intact

begin_case "-c and -u: an Exclude.txt linked to a working file is a conflict, and survives"
compare_inputs
update_inputs
printf 'Quiet Boot\n' >"$WORK/Exclude.txt"
ln -s Exclude.txt "$WORK/biostemp.sh"
keep_sums Exclude.txt
run_nvram -c saved.txt
expect_status 3
expect_stdout 'Error, file name conflict: Exclude.txt\r\n'
rm "$WORK/biostemp.sh"
for working in Difftemp.ini merged.txt new.ini; do
  ln "$WORK/Exclude.txt" "$WORK/$working"
  run_nvram -u old.txt new.txt
  expect_status 3
  expect_stdout 'Error, file name conflict: Exclude.txt\r\n'
  rm "$WORK/$working"
done
expect_tool_words
expect_intact

# ---- Odd scripts

begin_case "-c: a NUL byte ends a line's text"
compare_inputs
printf 'Setup Question = A\0B\r\nBIOS Default =[00]\r\nValue =01\r\n\r\n' >"$WORK/saved.txt"
keep_sums saved.txt
run_nvram -c saved.txt
expect_status 6
expect_stdout "$HEAD$(report A 01 05)$END"  # B is not in the saved script
expect_intact

begin_case "-u: a line is read up to a NUL byte but written to merged.txt whole"
update_inputs
{ q A 00 01; q B 00 07; } >"$WORK/old.txt"
printf 'Setup Question = A\r\nValue =00 \0junk\r\n\r\nSetup Question = B\0junk\r\nValue =07\r\n\r\n' >"$WORK/new.txt"
keep_sums old.txt new.txt
run_nvram -u old.txt new.txt
expect_status 0
expect_file Difftemp.ini '{A},[?],<01>\r\n'
expect_file merged.txt 'Setup Question = A\r\nValue =01\n\r\nSetup Question = B\0junk\r\nValue =07\r\n\r\n'
expect_intact

begin_case "-c: lines of 10,000 bytes: a key keeps its first 63 characters"
compare_inputs
text=$(printf 'K%.0s' $(seq 1 10000))
help=$(printf 'h%.0s' $(seq 1 10000))
printf 'Setup Question = %s\r\nHelp String = %s\r\nValue =01\r\n\r\n' "$text" "$help" >"$WORK/saved.txt"
printf 'Setup Question = %s\r\nValue =02\r\n\r\n' "$text" >"$FAKE/export"
keep_sums saved.txt
run_nvram -c saved.txt
expect_status 6
expect_stdout "$HEAD$(report "${text:0:63}" 01 02)"
expect_intact

begin_case "-u: a line of 10,000 bytes in an option block is handled piece by piece"
update_inputs
tail=$(printf 'x%.0s' $(seq 1 10000))
printf 'Setup Question = A\r\nOptions =*[00]Off   // %s\r\n         [01]On\r\n\r\n' "$tail" >"$WORK/new.txt"
q A 00 01 >"$WORK/old.txt"
keep_sums old.txt new.txt
run_nvram -u old.txt new.txt
expect_status 0
expect_file merged.txt "Setup Question = A\r\nOptions = [00]Off   // $tail\r\n        *[01]On\r\n\r\n"
expect_intact

begin_case "-c: CR-only line ends make the saved script one line: no values"
compare_inputs
printf 'Setup Question = A\rBIOS Default =[00]\rValue =01\r\r' >"$WORK/saved.txt"
run_nvram -c saved.txt
expect_status 6
expect_stdout "$HEAD$(report A '?' 05)$END"
expect_file saved.ini '{A},[?],<?>\r\n'

begin_case "-u: a new script with CR-only line ends is imported unchanged"
update_inputs
printf 'Setup Question = A\rValue =05\r\rSetup Question = B\rValue =02\r\r' >"$WORK/new.txt"
keep_sums old.txt new.txt
run_nvram -u old.txt new.txt
expect_status 0
expect_file Difftemp.ini '{A},[?],<01>\r\n'
expect_same_file merged.txt "$WORK/new.txt"
expect_intact

begin_case "-u: no line end at the end of the new script: the rewritten lines as the rules say"
update_inputs
printf 'Setup Question = A\r\nValue =05\r\n\r\nSetup Question = B\r\nOptions =*[00]Off\r\n         [01]On' >"$WORK/new.txt"
{ q A 00 0A; printf 'Setup Question = B\r\nOptions =[00]Off\r\n         *[01]On'; } >"$WORK/old.txt"
keep_sums old.txt new.txt
run_nvram -u old.txt new.txt
expect_status 0
expect_file Difftemp.ini '{A},[?],<0A>\r\n{B},[?],<01>\r\n'
expect_file merged.txt 'Setup Question = A\r\nValue =0A\n\r\nSetup Question = B\r\nOptions = [00]Off\r\n        *[01]On'
expect_intact

finish
