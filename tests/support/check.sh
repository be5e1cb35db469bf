# The shell tests' check, sourced: `check WHAT EXPECTED ACTUAL` counts a pass, or a
# failure with what was expected and what came; `passed` and `failed` hold the counts.
passed=0
failed=0
check() {
  if [ "$2" = "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAILED: %s\n   expected: %s\n   actual:   %s\n' "$1" "$2" "$3"
  fi
}
