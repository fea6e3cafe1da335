// Requests to the zelprog server. The page in control sends its page id with
// every request that changes the link or the EEPROM.
let pageId = "";

export function setPageId(id) { pageId = id; }

async function send(method, path, body, type) {
  const headers = { "X-Zel-Page": pageId };
  if (type) headers["Content-Type"] = type;
  const response = await fetch(path, { method, headers, body, credentials: "same-origin" });
  const contentType = response.headers.get("Content-Type") || "";
  if (!response.ok) {
    const text = contentType.startsWith("application/json") ? (await response.json()).error : await response.text();
    throw new Error(text || `${response.status} ${response.statusText}`);
  }
  if (contentType.startsWith("application/json")) return response.json();
  return new Uint8Array(await response.arrayBuffer());
}

export const getState = () => send("GET", "/api/state");
export const getChip = () => send("GET", "/api/chip");
export const openLink = (options) => send("POST", "/api/open", JSON.stringify(options), "application/json");
export const closeLink = () => send("POST", "/api/close");
export const read = () => send("POST", "/api/read");
export const write = (bytes) => send("POST", "/api/write", bytes, "application/octet-stream");
export const verify = (bytes) => send("POST", "/api/verify", bytes, "application/octet-stream");
export const erase = (fill) => send("POST", `/api/erase?fill=${fill}`);
export const checkSize = () => send("POST", "/api/check-size");
export const writeHeader = () => send("POST", "/api/write-header");
export const detect = () => send("POST", "/api/detect");
export const stop = () => send("POST", "/api/stop");
export const startProduction = (bytes) =>
  send("POST", "/api/production/start", bytes ?? undefined, bytes ? "application/octet-stream" : undefined);
export const stopProduction = () => send("POST", "/api/production/stop");
export const getRecords = (filter) => send("GET", `/api/records?${new URLSearchParams(filter)}`);
export const decode = (data, format, size) =>
  send("POST", `/api/decode?format=${format}&size=${size}`, data, "application/octet-stream");
export const encode = (bytes, format) => send("POST", `/api/encode?format=${format}`, bytes, "application/octet-stream");
