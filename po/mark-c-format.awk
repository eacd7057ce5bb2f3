# Marks every catalog entry whose English text holds a '%' as a C format, so that
# "msgfmt --check-format" compares its directives with the translation's: a translation
# that drops or changes a %d would otherwise pass and break the printf that uses it.
# Entries already flagged c-format or no-c-format are left as they are.
BEGIN { RS = ""; ORS = "\n\n" }
{
  cut = index($0, "\nmsgstr")
  head = cut > 0 ? substr($0, 1, cut) : $0
  if (index(head, "%") > 0 && $0 !~ /c-format/)
    print "#, c-format\n" $0
  else
    print $0
}
