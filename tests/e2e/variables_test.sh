#!/bin/bash
# -p -r -g -j: the variable list files, the tool's command lines and the clean-up.
. "$(dirname "$0")/lib.sh"

PWD_LST='[VARIABLE]\r\nVARIABLE_NAME = AMITSESetup\r\nVARIABLE_GUID = c811fa38-42c8-4579-a9bb-60e94eddfb34\r\n'
HDD_LST='[VARIABLE]\r\nVARIABLE_NAME = FBOSetDevOrder\r\nVARIABLE_GUID = 0c923ca9-df73-4ac8-b6d2-98ddc30d99fc\r\n\r\n'
HDD_LST+='[VARIABLE]\r\nVARIABLE_NAME = QZBBootSataNumDataGuid\r\nVARIABLE_GUID = f67bdcdb-b493-49b7-9e01-bfa1294028ac\r\n\r\n'
# The hook keeps a copy of the list file as the tool saw it.
keep_list() { printf 'cp "$3" "$FAKE_DIR/list-seen"\n' >"$FAKE/hook"; }
expect_list_seen() {
  printf "$1" >"$FAKE/expected"
  cmp -s "$FAKE/expected" "$FAKE/list-seen" || fail "list file as the tool saw it differs"
}

for opt in p r g j; do
  begin_case "-$opt without a file name"
  run_nvram -$opt
  expect_status 2
  expect_stdout "NVRAM -$opt [fn]\n"
  expect_files
  expect_tool_words
done

begin_case "-g out.bin gets the HDD priority and cleans up"
keep_list
run_nvram -g out.bin
expect_status 0
expect_stdout ''
expect_tool_words '/o|/l|hdd.lst|/n|out.bin|/h|t02.db'
expect_list_seen "$HDD_LST"
expect_files out.bin

begin_case "-P x behaves as -p x"
keep_list
run_nvram -P x
expect_status 0
expect_tool_words '/o|/l|pwd.lst|/n|x|/h|t01.db'
expect_list_seen "$PWD_LST"
expect_files x

begin_case "-r and -j set from the user's file"
keep_list
run_nvram -r pw.bin
expect_status 0
expect_tool_words '/i|/l|pwd.lst|/f|/n|pw.bin'
expect_list_seen "$PWD_LST"
run_nvram -j hdd.bin
expect_status 0
expect_list_seen "$HDD_LST"
expect_tool_words "$(printf '/i|/l|pwd.lst|/f|/n|pw.bin\n/i|/l|hdd.lst|/f|/n|hdd.bin')"
expect_files

begin_case "-r without the tool leaves pwd.lst"
no_tool
run_nvram -r x
expect_status 3
expect_stdout 'No SCELNX_64 found!\n'
expect_file pwd.lst "$PWD_LST"
expect_files pwd.lst

begin_case "the tool fails: list file and database stay"
set_tool_exit 1
run_nvram -g out.bin
expect_status 1
expect_stdout 'Error occurred during BIOS setting operation!\n'
expect_file hdd.lst "$HDD_LST"
expect_files hdd.lst out.bin t02.db

begin_case "tool exit code 2 counts as success"
set_tool_exit 2
run_nvram -p out.bin
expect_status 0
expect_stdout ''
expect_files out.bin

begin_case "a tool that cannot be executed fails with status 1"
chmod -x "$WORK/SCELNX_64"
run_nvram -j x
expect_status 1
expect_stdout 'Error occurred during BIOS setting operation!\n'
expect_file hdd.lst "$HDD_LST"

begin_case "a tool that is a directory fails with status 1"
rm "$WORK/SCELNX_64" && mkdir "$WORK/SCELNX_64"
run_nvram -g x
expect_status 1
expect_stdout 'Error occurred during BIOS setting operation!\n'

begin_case "a tool killed by a signal fails with status 1"
printf 'kill -9 $$\n' >"$FAKE/hook"
run_nvram -p x
expect_status 1
expect_stdout 'Error occurred during BIOS setting operation!\n'
expect_file pwd.lst "$PWD_LST"

begin_case "file names reach the tool as one word and run nothing"
for name in 'a b.bin' "q'uo\"te" 'x;touch pwned' '$(touch pwned)' '`touch pwned`' 'a|touch pwned' '*' $'new\nline'; do
  : >"$FAKE/tool.log"
  run_nvram -g "$name"
  expect_status 0
  [ "$(tool_runs)" = "/o|/l|hdd.lst|/n|$name|/h|t02.db" ] || fail "tool words for [$name]: $(tool_runs)"
done
expect_no_file pwned

begin_case "a file name of 4000 characters"
long=$(printf 'n%.0s' $(seq 1 4000))
run_nvram -p "$long"
expect_status 0
expect_tool_words "/o|/l|pwd.lst|/n|$long|/h|t01.db"

for args in "p pwd.lst" "p t01.db" "p ./t01.db" "r pwd.lst" "g hdd.lst" "g t02.db" "j hdd.lst" "j ./hdd.lst" "g SCELNX_64"; do
  begin_case "file name conflict: -$args"
  run_nvram -${args% *} "${args#* }"
  expect_status 3
  expect_stdout "Error, file name conflict: ${args#* }\r\n"
  expect_tool_words
  expect_files
done

begin_case "file name conflict: a list file linked to the database the tool writes"
ln -s t02.db "$WORK/hdd.lst"
run_nvram -g out.bin
expect_status 3
expect_stdout 'Error, file name conflict: hdd.lst\r\n'
expect_tool_words
expect_files hdd.lst

begin_case "-r t01.db is no conflict: the set command makes no database"
run_nvram -r t01.db
expect_status 0

begin_case "a list file that cannot be created"
mkdir "$WORK/pwd.lst"
run_nvram -p out.bin
expect_status 3
expect_stdout 'Error, cannot open file pwd.lst\r\n'
expect_tool_words

finish
