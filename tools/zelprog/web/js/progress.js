// The progress bar: state, percent, bytes per second and time left.
const rate = (bps) => bps >= 1024 ? `${(bps / 1024).toFixed(1)} KiB/s` : `${Math.round(bps)} B/s`;
const clock = (s) => `${Math.floor(s / 60)}:${String(Math.round(s % 60)).padStart(2, "0")}`;

export class Progress {
  constructor() {
    this.state = document.getElementById("progress-state");
    this.rate = document.getElementById("progress-rate");
    this.bar = document.getElementById("progress-bar");
    this.percent = document.getElementById("progress-percent");
  }

  begin(state) {
    this.bar.className = "";
    this.show(state, 0, "");
  }

  update(event) {
    const extra = event.percent > 0 && event.bytesPerSecond > 0
      ? `${rate(event.bytesPerSecond)}, ${clock(event.secondsLeft)} left` : "";
    this.show(event.state, event.percent, extra);
  }

  end(ok, text) {
    this.bar.className = ok ? "ok" : "failed";
    this.state.textContent = text;
    this.rate.textContent = "";
  }

  show(state, percent, extra) {
    this.state.textContent = state;
    this.bar.style.width = `${percent}%`;
    this.percent.textContent = `${percent}%`;
    this.rate.textContent = extra;
  }
}
