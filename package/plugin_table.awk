# Reads the plug-in table of build_plugins.m and prints one line per plug-in, its fields
# separated by '|':
#   name|folder under plugins/|source|further shared sources|preprocessor definitions|further flags
# (the last three space-separated, possibly empty). A row may name a cell of strings assigned
# on one line before the table (as windowMeans is) instead of writing the cell out.
# Anything else in the table is refused, so that a changed table is never packaged wrongly.

function fail(message) {
  printf "build_plugins.m, line %d: %s\n", NR, message > "/dev/stderr"
  failed = 1
  exit 1
}

function trim(text) {
  gsub(/^[ \t]+|[ \t]+$/, "", text)
  return text
}

# 'text' -> text
function string_value(text) {
  if (text !~ /^'[^']*'$/)
    fail("expected a quoted string, got " text)
  return substr(text, 2, length(text) - 2)
}

# {'a', 'b'} or the name of such a cell -> "a b"
function cell_value(text,    rest, words) {
  if (text ~ /^[A-Za-z_][A-Za-z0-9_]*$/) {
    if (!(text in cells))
      fail("unknown cell " text)
    return cells[text]
  }
  if (text !~ /^\{[^{}]*\}$/)
    fail("expected a cell of strings, got " text)
  rest = substr(text, 2, length(text) - 2)
  words = ""
  while (match(rest, /'[^']*'/)) {
    words = words (words == "" ? "" : " ") substr(rest, RSTART + 1, RLENGTH - 2)
    rest = substr(rest, RSTART + RLENGTH)
  }
  if (trim(rest) ~ /[^ ,]/)
    fail("expected a cell of strings, got " text)
  return words
}

/^[ \t]*plugins[ \t]*=[ \t]*\{[ \t]*$/ { inTable = 1; next }

inTable && /^[ \t]*\}[ \t]*;/ { inTable = 0; next }

inTable && /^[ \t]*(%.*)?$/ { next }

# A row: six fields separated by the commas that are outside braces.
inTable {
  row = trim($0)
  sub(/;$/, "", row)
  fieldCount = 0
  depth = 0
  field = ""
  for (i = 1; i <= length(row); i++) {
    c = substr(row, i, 1)
    if (c == "{") depth++
    if (c == "}") depth--
    if (c == "," && depth == 0) {
      fields[++fieldCount] = trim(field)
      field = ""
    } else {
      field = field c
    }
  }
  fields[++fieldCount] = trim(field)
  if (fieldCount != 6)
    fail("expected 6 fields in a plug-in row, got " fieldCount)
  printf "%s|%s|%s|%s|%s|%s\n", string_value(fields[1]), string_value(fields[2]),
         string_value(fields[3]), cell_value(fields[4]), cell_value(fields[5]), cell_value(fields[6])
  rowCount++
  next
}

# A cell of strings assigned on one line, which rows may name.
/^[ \t]*[A-Za-z_][A-Za-z0-9_]*[ \t]*=[ \t]*\{.*\}[ \t]*;/ {
  name = $0
  sub(/^[ \t]*/, "", name)
  sub(/[ \t]*=.*/, "", name)
  value = $0
  sub(/^[^=]*=[ \t]*/, "", value)
  sub(/[ \t]*;.*$/, "", value)
  cells[name] = cell_value(value)
}

END {
  if (failed)
    exit 1
  if (rowCount == 0) {
    print "build_plugins.m: no plug-in table found" > "/dev/stderr"
    exit 1
  }
}
