// The one rule of every number field that takes an offset or a byte:
// hexadecimal digits, "0x" in front optional. A value the rule refuses
// marks its field as invalid, with the reason as the field's message.
export function parseHex(text, limit) {
  const digits = text.trim().replace(/^0x/i, "");
  if (!/^[0-9a-f]{1,8}$/i.test(digits)) return { error: `"${text.trim()}" is not hexadecimal (0-9, a-f; 0x optional)` };
  const value = parseInt(digits, 16);
  if (value > limit) return { error: `0x${value.toString(16)} is beyond the last, 0x${limit.toString(16)}` };
  return { value };
}

// The field's value by the rule, or null after marking the field.
export function readHexField(field, limit, what) {
  const parsed = parseHex(field.value, limit);
  field.setCustomValidity(parsed.error ? `${what}: ${parsed.error}` : "");
  field.setAttribute("aria-invalid", parsed.error ? "true" : "false");
  if (parsed.error) {
    field.reportValidity();
    return null;
  }
  return parsed.value;
}

// A field marked invalid is cleared of its mark as soon as it is edited.
export function clearMarkOnInput(field) {
  field.addEventListener("input", () => {
    field.setCustomValidity("");
    field.setAttribute("aria-invalid", "false");
  });
}
