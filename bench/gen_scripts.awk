# Writes the benchmark's setup scripts for n questions into the directory dir. The input shape is
# chosen by shape (default "same", which also writes the reversed order):
#   new.txt        the new update script, which is also what the fake tool exports as the live settings
#   dumped.txt     the dumped script: the questions of new.txt with about a tenth of the current
#                  values changed, shaped as below
#   Exclude.txt    a comment, questions to pass over (written with their blanks) and two names that
#                  no question has
#   expected       two numbers: the difference lines that -u must write into Difftemp.ini and the
#                  reports that -c must print ("-" where the generator cannot tell)
# Shapes:
#   same      dumped.txt holds the questions of new.txt in the same order; dumpedrev.txt holds them
#             in reversed order (the "reversed" shape). Exclude.txt names three changed questions.
#   repeated  the questions share a few texts, each on 50 to 100 questions or so, every question
#             with its own Token and Offset. Exclude.txt names one text, so all of its copies.
#             Where a copy of a text takes a value, -u writes a line for every copy of that text.
#   renamed   half the questions carry a live reading in their text ("Memory Timing 17: tCL 40"),
#             whose digits differ between the two scripts ("... tCL 38"); Token and Offset stay.
#   unpaired  dumped.txt is in reversed order. Of the questions, two fifths pair by Token and
#             Offset; a fifth keep their text but change their Token ("moved"), an eighth are only in
#             dumped.txt, an eighth only in new.txt; a tenth have no Token and Offset lines and pair
#             by key, and a twentieth lack them too and share eight texts, with equal values in
#             both scripts (their pairing by key and position searches but changes no count).
# The scripts look like the setup-control tool's exports: CR LF line ends, a TAB before each '=',
# help, token, offset and width lines, option questions with two to eight options and numeric
# questions in both of the tool's forms. A fixed-seed generator makes every run write the same bytes.
#
# Usage: awk -v n=1000 -v dir=/tmp/x [-v shape=SHAPE] -f gen_scripts.awk

function rnd() {  # Park-Miller minimal standard generator; products stay exact in doubles
  seed = (seed * 16807) % 2147483647
  return seed / 2147483647
}
function pick(k) { return int(rnd() * k) }

function words(low, high,   j, s) {  # low to high random words, each followed by a blank
  s = ""
  for (j = low + pick(high - low + 1); j > 0; j--) s = s word[1 + pick(nw)] " "
  return s
}

function option_line(first, idx, selected) {
  if (first) return sprintf("Options\t=%s[%02X]%s\t// Move \"*\" to the desired Option", selected ? "*" : "", idx, optname[idx + 1])
  return sprintf("         %s[%02X]%s", selected ? "*" : "", idx, optname[idx + 1])
}

# The Setup and Help lines of a question, and its Token and Offset lines unless token is "".
function head(name, token, offset,   h) {
  h = sprintf("Setup Question\t= %s\r\nHelp String\t= Set %s for this platform; see the board manual for details.\r\n", name, name)
  if (token != "") h = h sprintf("Token\t=%X\t// Do NOT change this line\r\nOffset\t=%X\r\n", token, offset)
  return h
}

# Draws a question's offset, kind, default and values: sets offset, kind, count, cur (its current
# value), other (a different one) and tail (its Width and BIOS Default lines).
function draw(   r, d) {
  offset = pick(4096)
  r = rnd()
  if (r < 0.58) {
    kind = "option"; count = 2 + pick(7); cur = pick(count)
    tail = sprintf("Width\t=01\r\nBIOS Default\t=[%02X]%s \r\n", d = pick(count), optname[d + 1])
    other = (cur + 1 + pick(count - 1)) % count
  } else if (r < 0.80) {
    kind = "flag"; count = 0; cur = pick(2); other = 1 - cur
    tail = sprintf("Width\t=01\r\nBIOS Default\t=%d \r\n", pick(2))
  } else {
    kind = "number"; count = 0; cur = pick(200); other = (cur + 1 + pick(50)) % 256
    tail = sprintf("Width\t=02\r\nBIOS Default\t=<%d> \r\n", pick(200))
  }
}

# One question as text: its lines up to the value, then its current value chosen by value (an
# option index or a number).
function question(lines, kind, count, value,   q, j) {
  q = lines
  if (kind == "option") {
    for (j = 0; j < count; j++) q = q option_line(j == 0, j, j == value) "\r\n"
  } else if (kind == "flag") {
    q = q sprintf("Value\t=%d\t// Enabled = 1, Disabled = 0\r\n", value)
  } else {
    q = q sprintf("Value\t=<%d>\r\n", value)
  }
  return q "\r\n"
}

# A live reading of the form f (0 to 3), different from the reading not.
function reading(f, not,   s) {
  do {
    if (f == 0) s = sprintf("%d.%03dV", 1, pick(1000))
    else if (f == 1) s = sprintf("tCL %d", 14 + pick(40))
    else if (f == 2) s = sprintf("%d MHz", 800 + pick(4000))
    else s = sprintf("%d C", 20 + pick(80))
  } while (s == not)
  return s
}

function exclude(name) { excluded[++nexcluded] = name }

function finish(count_u, count_c,   j, ex) {
  ex = dir "/Exclude.txt"
  printf "// Questions that may differ between machines\r\n" > ex
  for (j = 1; j <= nexcluded; j++) printf "%s\r\n", excluded[j] > ex
  printf "No Such Question\r\nAnother Absent One\r\n" > ex
  printf "%s %s\n", count_u, count_c > (dir "/expected")
  close(new); close(dumped); close(ex); close(dir "/expected")
}

# The same questions in both scripts, in the same and in reversed order.
function same(   i, name, h, q, changed, kept, rev) {
  rev = dir "/dumpedrev.txt"
  changed = 0
  for (i = 1; i <= n; i++) {
    name = words(2, 4) i
    draw()
    h = head(name, 16 + i, offset) tail
    q = question(h, kind, count, cur)
    printf "%s", q > new
    if (rnd() < 0.10) {
      q = question(h, kind, count, other)
      changed++
      if (changed <= 3) exclude(name)
    }
    printf "%s", q > dumped
    kept[i] = q
  }
  printf "%s", header > rev
  for (i = n; i >= 1; i--) printf "%s", kept[i] > rev
  close(rev)
  finish(changed - nexcluded, changed - nexcluded)
}

function repeated(   i, t, texts, text, copies, touched, h, q, changed, lines) {
  texts = int(n / 75); if (texts < 1) texts = 1
  for (t = 1; t <= texts; t++) text[t] = words(2, 4) "#" t
  changed = 0
  for (i = 1; i <= n; i++) {
    t = 1 + pick(texts)
    copies[t]++
    draw()
    h = head(text[t], 16 + i, offset) tail
    q = question(h, kind, count, cur)
    printf "%s", q > new
    if (rnd() < 0.10) {
      q = question(h, kind, count, other)
      if (!nexcluded) exclude(text[t])
      if (text[t] != excluded[1]) { changed++; touched[t] = 1 }
    }
    printf "%s", q > dumped
  }
  lines = 0
  for (t = 1; t <= texts; t++) if (t in touched) lines += copies[t]
  finish(lines, changed)
}

function renamed(   i, name, f, was, now, changed) {
  changed = 0
  for (i = 1; i <= n; i++) {
    if (rnd() < 0.5) {
      name = words(1, 2) i ": "
      f = pick(4); was = reading(f, ""); now = reading(f, was)
    } else {
      name = words(2, 4) i
      was = now = ""
    }
    draw()
    printf "%s", question(head(name now, 16 + i, offset) tail, kind, count, cur) > new
    if (rnd() < 0.10) {
      changed++
      if (now == "" && nexcluded < 3) { exclude(name); changed-- }
      printf "%s", question(head(name was, 16 + i, offset) tail, kind, count, other) > dumped
    } else {
      printf "%s", question(head(name was, 16 + i, offset) tail, kind, count, cur) > dumped
    }
  }
  finish(changed, changed)
}

function unpaired(   i, t, r, name, shared, common, h, nd, kept, changed, value) {
  for (t = 1; t <= 8; t++) {
    shared[t] = words(2, 3) "Slot " t
    draw()
    common[t] = question(head(shared[t], "", 0) tail, kind, count, cur)
  }
  changed = nd = 0
  for (i = 1; i <= n; i++) {
    r = rnd()
    if (r >= 0.95) {  # no Token and Offset, one of the shared texts: the same in both scripts
      kept[++nd] = common[1 + pick(8)]
      printf "%s", kept[nd] > new
      continue
    }
    name = words(2, 4) i
    draw()
    value = rnd() < 0.10 ? other : cur
    if (r < 0.40 || r >= 0.85) {  # paired: by Token and Offset, or (from 0.85) by key alone
      h = head(name, r < 0.40 ? 16 + i : "", offset) tail
      printf "%s", question(h, kind, count, cur) > new
      if (value != cur) {
        if (nexcluded < 3) exclude(name)
        else changed++
      }
      kept[++nd] = question(h, kind, count, value)
    } else if (r < 0.60) {  # moved: the same text under another Token
      printf "%s", question(head(name, 16 + n + i, offset) tail, kind, count, cur) > new
      kept[++nd] = question(head(name, 16 + i, offset) tail, kind, count, value)
    } else if (r < 0.725) {  # only in the dumped script
      kept[++nd] = question(head(name, 16 + i, offset) tail, kind, count, value)
    } else {  # only in the new script
      printf "%s", question(head(name, 16 + i, offset) tail, kind, count, cur) > new
    }
  }
  for (i = nd; i >= 1; i--) printf "%s", kept[i] > dumped
  finish(changed, changed)
}

BEGIN {
  if (n < 1 || dir == "") { print "usage: awk -v n=COUNT -v dir=DIR [-v shape=SHAPE] -f gen_scripts.awk" > "/dev/stderr"; exit 2 }
  if (shape == "" || shape == "reversed") shape = "same"
  if (shape !~ /^(same|repeated|renamed|unpaired)$/) { print "gen_scripts.awk: unknown shape " shape > "/dev/stderr"; exit 2 }
  seed = 20240601
  nw = split("Boot Quiet Fast Wake On LAN Serial Port Console Redirection Snoop Latency Value " \
             "Multiplier Native Power Management Thermal Fan Control Mode Memory Frequency Voltage " \
             "Turbo Ratio Limit Core Package State Support Legacy Device Network Stack Secure Option " \
             "Storage Controller Link Speed Width Lane Retimer Timeout Watchdog Security Level Audio " \
             "Graphics Primary Display Aperture Size Virtualization Technology Above Decode", word, " ")
  split("Disabled,Enabled,Auto,Manual,Power Saving,Performance,Legacy Only,Maximum", optname, ",")
  new = dir "/new.txt"; dumped = dir "/dumped.txt"
  header = "// Script File Name : temp.txt\r\n// Created on 06/01/24 at 10:00:00\r\n" \
           "// exported settings\r\n\r\nHIICrc32= DDF09971\r\n\r\n"
  printf "%s", header > new
  printf "%s", header > dumped
  nexcluded = 0
  if (shape == "same") same()
  else if (shape == "repeated") repeated()
  else if (shape == "renamed") renamed()
  else unpaired()
}
