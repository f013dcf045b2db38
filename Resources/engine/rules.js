// Local rules over a draft: leaked credentials, sensitive numbers and reminders.
var KestrelRules = (function () {
  'use strict';

  function countBefore(text, needle, end) {
    var n = 0, from = 0, at;
    while ((at = text.indexOf(needle, from)) >= 0 && at < end) { n++; from = at + needle.length; }
    return n;
  }

  function secret(body, out) {
    var re = /\bsk-[A-Za-z0-9]{32,200}\b/g, m;
    while ((m = re.exec(body))) {
      out.push({ id: 'secret', level: 'risk', title: 'API key in message', original: m[0],
        occurrence: countBefore(body, m[0], m.index), suggestion: m[0].slice(0, 4) + '\u2026' });
    }
  }

  function attach(body, out) {
    var re = /\b(attached|attachment|enclosed)\b/i, m = re.exec(body);
    if (m) out.push({ id: 'attach', level: 'warn', title: 'Mentions an attachment', original: m[0],
      occurrence: countBefore(body, m[0], m.index) });
  }

  function runRules(msg) {
    var body = String((msg && msg.body) || '');
    var out = [];
    secret(body, out);
    attach(body, out);
    return out;
  }

  return { runRules: runRules };
})();
