# Writes the benchmark's setup scripts for n questions into the directory dir:
#   new.txt        the new update script, which is also what the fake tool exports as the live settings
#   dumped.txt     the same questions with about a tenth of the current values changed
#   dumpedrev.txt  dumped.txt with its questions in reversed order
#   Exclude.txt    a comment, three of the changed questions (written with their blanks) and two
#                  names that no question has
#   expected       the number of changed questions that are not excluded: the difference lines
#                  that -u and the reports that -c must produce
# The scripts look like the setup-control tool's exports: CR LF line ends, a TAB before each '=',
# help, token, offset and width lines, option questions with two to eight options and numeric
# questions in both of the tool's forms. A fixed-seed generator makes every run write the same bytes.
#
# Usage: awk -v n=1000 -v dir=/tmp/x -f gen_scripts.awk

function rnd() {  # Park-Miller minimal standard generator; products stay exact in doubles
  seed = (seed * 16807) % 2147483647
  return seed / 2147483647
}
function pick(k) { return int(rnd() * k) }

function option_line(first, idx, selected) {
  if (first) return sprintf("Options\t=%s[%02X]%s\t// Move \"*\" to the desired Option", selected ? "*" : "", idx, optname[idx + 1])
  return sprintf("         %s[%02X]%s", selected ? "*" : "", idx, optname[idx + 1])
}

# One question as text, its current value chosen by cur (an option index or a number).
function question(head, kind, count, cur,   q, j) {
  q = head
  if (kind == "option") {
    for (j = 0; j < count; j++) q = q option_line(j == 0, j, j == cur) "\r\n"
  } else if (kind == "flag") {
    q = q sprintf("Value\t=%d\t// Enabled = 1, Disabled = 0\r\n", cur)
  } else {
    q = q sprintf("Value\t=<%d>\r\n", cur)
  }
  return q "\r\n"
}

BEGIN {
  if (n < 1 || dir == "") { print "usage: awk -v n=COUNT -v dir=DIR -f gen_scripts.awk" > "/dev/stderr"; exit 2 }
  seed = 20240601
  nw = split("Boot Quiet Fast Wake On LAN Serial Port Console Redirection Snoop Latency Value " \
             "Multiplier Native Power Management Thermal Fan Control Mode Memory Frequency Voltage " \
             "Turbo Ratio Limit Core Package State Support Legacy Device Network Stack Secure Option " \
             "Storage Controller Link Speed Width Lane Retimer Timeout Watchdog Security Level Audio " \
             "Graphics Primary Display Aperture Size Virtualization Technology Above Decode", word, " ")
  split("Disabled,Enabled,Auto,Manual,Power Saving,Performance,Legacy Only,Maximum", optname, ",")
  new = dir "/new.txt"; dumped = dir "/dumped.txt"; rev = dir "/dumpedrev.txt"
  header = "// Script File Name : temp.txt\r\n// Created on 06/01/24 at 10:00:00\r\n" \
           "// exported settings\r\n\r\nHIICrc32= DDF09971\r\n\r\n"
  printf "%s", header > new
  printf "%s", header > dumped
  changed = 0
  for (i = 1; i <= n; i++) {
    name = ""
    for (j = 1 + pick(3); j >= 0; j--) name = name word[1 + pick(nw)] " "
    name = name i
    head = sprintf("Setup Question\t= %s\r\nHelp String\t= Set %s for this platform; see the board manual for details.\r\n" \
                   "Token\t=%X\t// Do NOT change this line\r\nOffset\t=%X\r\n", name, name, 16 + i, pick(4096))
    r = rnd()
    if (r < 0.58) {
      kind = "option"; count = 2 + pick(7); cur = pick(count)
      head = head sprintf("Width\t=01\r\nBIOS Default\t=[%02X]%s \r\n", d = pick(count), optname[d + 1])
      other = (cur + 1 + pick(count - 1)) % count
    } else if (r < 0.80) {
      kind = "flag"; count = 0; cur = pick(2); other = 1 - cur
      head = head sprintf("Width\t=01\r\nBIOS Default\t=%d \r\n", pick(2))
    } else {
      kind = "number"; count = 0; cur = pick(200); other = (cur + 1 + pick(50)) % 256
      head = head sprintf("Width\t=02\r\nBIOS Default\t=<%d> \r\n", pick(200))
    }
    q = question(head, kind, count, cur)
    printf "%s", q > new
    if (rnd() < 0.10) {
      q = question(head, kind, count, other)
      changed++
      if (changed <= 3) excluded[changed] = name
    }
    printf "%s", q > dumped
    kept[i] = q
  }
  printf "%s", header > rev
  for (i = n; i >= 1; i--) printf "%s", kept[i] > rev
  ex = dir "/Exclude.txt"
  printf "// Questions that may differ between machines\r\n" > ex
  for (j = 1; j <= 3 && j <= changed; j++) printf "%s\r\n", excluded[j] > ex
  printf "No Such Question\r\nAnother Absent One\r\n" > ex
  printf "%d\n", changed - (changed < 3 ? changed : 3) > (dir "/expected")
  close(new); close(dumped); close(rev); close(ex); close(dir "/expected")
}
