// The page's stylesheet and script, served as /tarvel.css and /tarvel.js. Both are files of their
// own because the Content-Security-Policy allows no inline style or script.
#include "web/page.h"

namespace web::page {

const std::string& stylesheet() {
    static const std::string css = R"CSS(/* tarvel.css: one column on a phone, wider on the room's PC; big targets,
   visible focus. */
:root { --ink: #1b1f24; --paper: #fff; --line: #c9cfd6; --an: #1d6b32; --aus: #a4161a; --akzent: #0b4f9c; }
* { box-sizing: border-box; }
html { -webkit-text-size-adjust: 100%; }
body { margin: 0; font: 1.0625rem/1.45 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif;
       color: var(--ink); background: #f3f5f7; }
.kopf { display: flex; flex-wrap: wrap; align-items: center; gap: .5rem 1rem; padding: .5rem 1rem;
        background: var(--akzent); color: #fff; }
.kopf a, .kopf strong { color: #fff; }
.kopf p { margin: 0; }
.marke { font-weight: 700; font-size: 1.2rem; margin-right: auto !important; }
main { max-width: 60rem; margin: 0 auto; padding: 1rem; }
h1 { font-size: 1.5rem; margin: .5rem 0 1rem; }
h2 { font-size: 1.2rem; margin: 1rem 0 .5rem; }
h3 { font-size: 1.1rem; margin: 0; }
a { color: var(--akzent); }
.kopf a:focus-visible, a:focus-visible, button:focus-visible, input:focus-visible, summary:focus-visible,
.status:focus-visible { outline: 3px solid #f0a202; outline-offset: 2px; }
button, input, summary { font: inherit; min-height: 2.75rem; }
button { padding: .5rem 1rem; border: 2px solid var(--akzent); border-radius: .4rem; background: var(--paper);
         color: var(--akzent); cursor: pointer; }
button:hover { background: #e6eef8; }
button:disabled { border-color: var(--line); color: #6b737b; background: #eef0f2; cursor: not-allowed; }
.kopf button { border-color: #fff; background: transparent; color: #fff; }
input { padding: .4rem .6rem; border: 2px solid #7a838c; border-radius: .4rem; background: var(--paper); }
input[type=number] { width: 6rem; }
label { display: block; font-weight: 600; margin: .5rem 0 .2rem; }
.anmelden { display: grid; gap: .25rem; max-width: 22rem; }
.anmelden button { margin-top: 1rem; }
.fehler, .meldung { border-left: .4rem solid var(--aus); background: #fdecec; padding: .5rem 1rem; }
.ok { border-left: .4rem solid var(--an); background: #e9f5ec; padding: .5rem 1rem; }
.meldung h2 { margin-top: 0; }
.status { min-height: 1.5rem; margin: 1rem 0; font-weight: 600; }
.klassen { list-style: none; padding: 0; display: grid; gap: .5rem;
           grid-template-columns: repeat(auto-fill, minmax(9rem, 1fr)); }
.klassen a { display: block; padding: .8rem 1rem; background: var(--paper); border: 1px solid var(--line);
             border-radius: .4rem; text-decoration: none; font-weight: 600; }
.klasse, .schueler { background: var(--paper); border: 1px solid var(--line); border-radius: .4rem;
                     padding: .75rem 1rem; }
.aktionen { display: flex; flex-wrap: wrap; gap: .5rem 1rem; margin: .5rem 0; }
.aktion { display: flex; flex-wrap: wrap; align-items: center; gap: .4rem; margin: 0; }
.aktion label { display: inline; margin: 0; font-weight: 400; }
.hinweis { font-size: .95rem; color: #4a525a; }
.liste { list-style: none; padding: 0; display: grid; gap: .75rem; }
.zustand { margin: .2rem 0; font-weight: 700; }
.schueler.aus { border-left: .4rem solid var(--aus); }
.schueler.an { border-left: .4rem solid var(--an); }
.aus .zustand { color: var(--aus); }
.an .zustand { color: var(--an); }
.sperren { margin: .2rem 0; padding-left: 1.2rem; }
p.sperren { padding-left: 0; }
summary { cursor: pointer; padding: .5rem 0; display: list-item; }
progress { width: 100%; height: 1.5rem; }
@media (max-width: 40rem) {
  main { padding: .75rem; }
  .aktionen, .aktion { flex-direction: column; align-items: stretch; }
  .aktion button { width: 100%; }
  input[type=number] { width: 100%; }
}
)CSS";
    return css;
}

const std::string& script() {
    static const std::string js = R"JS(// tarvel.js: sends the page's change forms in the background (the same form
// routes, the token also in X-Tarvel-Token), polls the job, shows its progress in the status
// region and reloads the pupils at the end. Without it the forms post and the job page
// refreshes itself.
(function () {
  'use strict';
  if (!window.fetch || !window.URLSearchParams || !window.DOMParser) return;

  function statusRegion() { return document.getElementById('status'); }

  function say(lines) {
    var region = statusRegion();
    if (!region) return;
    region.textContent = '';
    lines.forEach(function (line, i) {
      if (i) region.appendChild(document.createElement('br'));
      region.appendChild(document.createTextNode(line));
    });
  }

  function setBusy(on) {
    var main = document.getElementById('inhalt');
    if (main) main.setAttribute('aria-busy', on ? 'true' : 'false');
    document.querySelectorAll('form.aktion button').forEach(function (button) {
      if (on) {
        button.setAttribute('data-war', button.disabled ? 'aus' : 'an');
        button.disabled = true;
      } else if (button.hasAttribute('data-war')) {
        button.disabled = button.getAttribute('data-war') === 'aus';
        button.removeAttribute('data-war');
      }
    });
  }

  function parse(html) { return new DOMParser().parseFromString(html, 'text/html'); }

  // The pupils afresh from the class page; the status region stays as it is.
  function reloadPupils() {
    return fetch(window.location.href, { credentials: 'same-origin', cache: 'no-store' })
      .then(function (answer) { return answer.text(); })
      .then(function (html) {
        var fresh = parse(html).getElementById('schueler');
        var old = document.getElementById('schueler');
        if (fresh && old) old.replaceWith(document.importNode(fresh, true));
      });
  }

  function finish() {
    setBusy(false);
    var region = statusRegion();
    if (region && (!document.activeElement || document.activeElement === document.body)) region.focus();
  }

  function poll(id, token) {
    fetch('/api/jobs/' + id, { credentials: 'same-origin', cache: 'no-store',
                               headers: { 'X-Tarvel-Token': token, 'Accept': 'application/json' } })
      .then(function (answer) {
        if (!answer.ok) throw new Error(String(answer.status));
        return answer.json();
      })
      .then(function (job) {
        if (job.state === 'running') {
          say(['Auftrag ' + id + ': ' + job.done + ' von ' + job.total]);
          window.setTimeout(function () { poll(id, token); }, 700);
          return;
        }
        var lines = [job.caption || ('Auftrag ' + id)].concat(job.lines || []);
        (job.boxes || []).forEach(function (box) {
          lines.push(box.caption);
          String(box.text).split(/\r?\n/).forEach(function (line) { if (line) lines.push(line); });
        });
        say(lines);
        reloadPupils().catch(function () { window.location.reload(); }).then(finish);
      })
      .catch(function () { window.location.assign('/auftrag/' + id); });
  }

  // An answer that is no job: the login page (the session ended) or an error page, whose
  // heading and lines go into the status region.
  function showAnswer(answer) {
    return answer.text().then(function (html) {
      var doc = parse(html);
      if (doc.querySelector('form[action="/anmelden"]')) { window.location.assign('/'); return; }
      var lines = [];
      doc.querySelectorAll('main h1, main p').forEach(function (node) {
        var text = node.textContent.trim();
        if (text && text !== 'Zurück') lines.push(text);
      });
      say(lines.length ? lines : ['Der Dienst hat mit ' + answer.status + ' geantwortet.']);
      finish();
    });
  }

  document.addEventListener('submit', function (event) {
    var form = event.target;
    if (!form.classList || !form.classList.contains('aktion')) return;
    event.preventDefault();
    var data = new URLSearchParams(new FormData(form));
    var token = data.get('token') || '';
    setBusy(true);
    say(['Wird gesendet …']);
    // getAttribute: form.action would be the hidden field named "action".
    fetch(form.getAttribute('action'), { method: 'POST', body: data, credentials: 'same-origin',
                                         headers: { 'X-Tarvel-Token': token } })
      .then(function (answer) {
        var match = /\/auftrag\/(\d+)/.exec(answer.url || '');
        if (answer.ok && match) {
          say(['Auftrag ' + match[1] + ' läuft …']);
          poll(match[1], token);
          return;
        }
        return showAnswer(answer);
      })
      .catch(function () {
        say(['Der Dienst antwortet nicht. Bitte noch einmal versuchen.']);
        finish();
      });
  });

  // The minutes button says how many minutes it stops for.
  document.addEventListener('input', function (event) {
    var field = event.target;
    if (field.name !== 'minutes' || !field.form) return;
    var count = field.form.querySelector('.n');
    if (count) count.textContent = field.value || '…';
  });
})();
)JS";
    return js;
}

}  // namespace web::page
