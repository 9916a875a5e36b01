// The studio's HTTP API (docs/studio-api.md), the page's only way to the demo.
// Every call carries the token from the page's address; the event stream
// carries it in its query, since EventSource cannot set headers.

export class ApiError extends Error {
  // retryAfter: the answer's Retry-After header as it came (a refusal worth
  // asking again, and when), or null.
  constructor(status, data, message, retryAfter = null) {
    super(message);
    this.status = status;
    this.data = data;
    this.retryAfter = retryAfter;
  }
}

export function tokenFromHash(hash) {
  const params = new URLSearchParams(hash.replace(/^#/, ""));
  return params.get("token") || "";
}

export class Api {
  constructor(token) {
    this.token = token;
  }

  async request(method, path, body) {
    const init = { method, headers: { Authorization: `Bearer ${this.token}` }, cache: "no-store" };
    if (body !== undefined) {
      init.headers["Content-Type"] = "application/json";
      init.body = JSON.stringify(body);
    }
    let response;
    try {
      response = await fetch(path, init);
    } catch (e) {
      throw new ApiError(0, null, "the demo does not answer (has it ended?)");
    }
    let data = null;
    const text = await response.text();
    try {
      data = text ? JSON.parse(text) : null;
    } catch (e) {
      data = null;
    }
    if (!response.ok) {
      const reason = (data && (data.error || data.message)) || text || response.statusText;
      throw new ApiError(response.status, data, `${response.status}: ${reason}`, response.headers.get("Retry-After"));
    }
    return data;
  }

  get(path, params) {
    const query = params ? `?${new URLSearchParams(params)}` : "";
    return this.request("GET", path + query);
  }

  post(path, body) {
    return this.request("POST", path, body ?? {});
  }

  show() { return this.get("/api/show"); }
  state() { return this.get("/api/state"); }
  curve(track, from, to, step) { return this.get("/api/curve", { track, from, to, step }); }
  waveform(from, to, columns) { return this.get("/api/waveform", { from, to, columns }); }
  beats() { return this.get("/api/beats"); }
  transport(command) { return this.post("/api/transport", command); }
  edit(version, ops) { return this.post("/api/edit", { version, ops }); }
  undo() { return this.post("/api/undo"); }
  redo() { return this.post("/api/redo"); }

  // handlers: {show, state, errors, open, lost}, each given the parsed data.
  events(handlers) {
    const source = new EventSource(`/api/events?token=${encodeURIComponent(this.token)}`);
    for (const name of ["show", "state", "errors"]) {
      source.addEventListener(name, (e) => {
        let data;
        try {
          data = JSON.parse(e.data);
        } catch (err) {
          return;
        }
        handlers[name]?.(data);
      });
    }
    source.onopen = () => handlers.open?.();
    source.onerror = () => handlers.lost?.(source.readyState === EventSource.CLOSED);
    return source;
  }
}
