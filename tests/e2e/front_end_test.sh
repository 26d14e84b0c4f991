#!/bin/bash
# The entry: banner and usage, the platform check, the argument walk, the version line.
. "$(dirname "$0")/lib.sh"

BANNER='\n\nVornel XB series platform\nLinux 64bit NVRAM System Configuration utility, V1.01\nCopyright (C) 2026 The NVRAM developers. All rights reserved.\n\n'
BANNER+='Usage: NVRAM [-?,-s [fn1,fn2] -u [fn1,fn2,fn3,fn4] -c [fn] -p [fn] -r [fn]]\n'
BANNER+='\t-?       : Display this usage screen.\n'
BANNER+='\t-s  [fn1]: database file name [fn2]: script file name\n'
BANNER+='\t-u  [fn1,fn2]: script file to update NVRAM [fn3,fn4] Resource\n'
BANNER+='\t    [fn1]: The dumped script file [fn2]: New update script file\n'
BANNER+='\t    [fn3]: ResourceFile [fn4]: Defaults.bin\n'
BANNER+='\t-c  [fn]   Compare with script file and system settings\n'
BANNER+='\t    [fn] : Script file\n'
BANNER+='\t-p  [fn] : Get system password\n\t    [fn] : Password file name\n'
BANNER+='\t-r  [fn] : Set password to NVRAM\n\t    [fn] : Password file name\n'
BANNER+='\t-g  [fn] : Get HDD priority\n\t    [fn] : HDD priority file name\n'
BANNER+='\t-j  [fn] : Set HDD priority to NVRAM\n\t    [fn] : HDD priority file name\n'
BANNER+='\tfn = filename.\n\n'
WRONG='This utility has to run in Vornel!\n'

begin_case "no arguments print the banner on any machine"
set_version 'XC0A12\n'
run_nvram
expect_status 0
expect_stdout "$BANNER"

begin_case "-? prints the banner on the platform"
run_nvram -?
expect_status 0
expect_stdout "$BANNER"

begin_case "-? is refused on another machine"
set_version 'XC0A12\n'
run_nvram -?
expect_status 5
expect_stdout "$WRONG"

for v in 'xb0A12\n' 'XC0A12\n' 'BX\n' 'X\n' '\n' '\0XB\n'; do
  begin_case "version '$v' fails the platform check"
  set_version "$v"
  run_nvram -v
  expect_status 5
  expect_stdout "$WRONG"
done

begin_case "no output from dmidecode fails the platform check"
set_version
run_nvram -t
expect_status 5
expect_stdout "$WRONG"

begin_case "-V prints the version line, -v -v twice"
run_nvram -V
expect_status 0
expect_stdout '\nBIOS_VERSION = XB0A12\n\n'
run_nvram -v -v
expect_stdout '\nBIOS_VERSION = XB0A12\n\n\nBIOS_VERSION = XB0A12\n\n'

begin_case "a non-option argument is skipped"
run_nvram file -v
expect_status 0
expect_stdout '\nBIOS_VERSION = XB0A12\n\n'

begin_case "a long version line gives its first 15 characters and no line feed"
set_version 'XB345678901234567890\nsecond\n'
run_nvram -v
expect_status 0
expect_stdout '\nBIOS_VERSION = XB3456789012345\n'

begin_case "a version of 14 characters keeps its line feed"
set_version 'XB345678901234\n'
run_nvram -v
expect_stdout '\nBIOS_VERSION = XB345678901234\n\n'

begin_case "a slow dmidecode is waited for"
printf '1' >"$FAKE/dmidecode-sleep"
run_nvram -v
expect_status 0
expect_stdout '\nBIOS_VERSION = XB0A12\n\n'

for opt in -x - -1 --helpx --versions; do
  begin_case "unknown option '$opt' gives status 2 and no output"
  run_nvram "$opt" -v
  expect_status 2
  expect_stdout ''
done

begin_case "--help, -h, -H and -help first show the usage on any machine; -? needs the platform"
for opt in --help -h -H -help; do
  for version in 'XB0A12\n' 'XC0A12\n'; do
    set_version "$version"
    run_nvram "$opt" -s a b
    expect_status 0
    expect_stdout "$BANNER"
  done
done
run_nvram -?
expect_status 5
expect_stdout "$WRONG"
expect_tool_words

begin_case "-h after the first argument is an unknown option"
run_nvram -v -h
expect_status 2
expect_stdout '\nBIOS_VERSION = XB0A12\n\n'

begin_case "--version prints the program's version on any machine"
for v in 'XB0A12\n' 'XC0A12\n' ''; do
  set_version "$v"
  run_nvram --version -s a b
  expect_status 0
  expect_stdout 'NVRAM 1.01\n'
done
expect_tool_words

begin_case "-t alone does nothing"
run_nvram -t
expect_status 0
expect_stdout ''
expect_tool_words

begin_case "file names come from fixed positions: -v -s a b exports with fn1=-s fn2=a"
set_export '// Script File Name : temp.txt\n'
run_nvram -v -s a b
expect_status 0
expect_stdout '\nBIOS_VERSION = XB0A12\n\n'
expect_tool_words '/o|/s|temp.txt|/h|-s'
expect_file a '// Script File Name : a\n// BIOS_VERSION = XB0A12\n'

begin_case "an argument after a command option is not examined"
run_nvram -p out.bin -x
expect_status 0
expect_tool_words '/o|/l|pwd.lst|/n|out.bin|/h|t01.db'

finish
