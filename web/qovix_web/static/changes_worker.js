// One stream of the repository's changes for every page of the web view
// open in this browser: a browser keeps few connections to one server
// (six over HTTP/1.1), and a stream each would take them all from a few
// tabs. Each page says from which commit it drew what it shows; it gets
// every later commit, the latest 256 kept here for pages that come late.
"use strict";

const pages = new Set();
const latest = [];
let source = null;

function send(port, event) {
  port.postMessage(event);
}

function follow(since) {
  source = new EventSource(`/api/changes/stream?since=${since}`);
  source.addEventListener("message", (message) => {
    const event = JSON.parse(message.data);
    latest.push(event);
    if (latest.length > 256) latest.shift();
    for (const page of pages) send(page, event);
  });
}

self.addEventListener("connect", (connected) => {
  const port = connected.ports[0];
  port.addEventListener("message", (message) => {
    if (message.data.leave) {
      pages.delete(port);
      if (pages.size === 0 && source) {
        source.close();
        source = null;
        latest.length = 0;
      }
      return;
    }
    const since = message.data.since;
    for (const event of latest) if (event.seq > since) send(port, event);
    pages.add(port);
    if (!source) follow(since);
  });
  port.start();
});
