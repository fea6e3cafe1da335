// The server's event stream: job events (the objects `zelprog --json`
// prints) and whether this page has control of the EEPROM.
export function connectEvents(onEvent) {
  let source = null;
  const open = () => {
    source = new EventSource("/api/events");
    source.onmessage = (message) => {
      const event = JSON.parse(message.data);
      if (event.event === "free") { source.close(); open(); }
      onEvent(event);
    };
    source.onerror = () => onEvent({ event: "disconnected" });
  };
  open();
}
