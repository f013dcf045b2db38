// AI-writing lint: counts nameable tells of generated prose.
var KestrelSlop = (function () {
  'use strict';

  var OPENERS = ['I hope this email finds you well', 'I hope this message finds you well'];

  function lint(text) {
    text = String(text || '');
    var findings = [];
    var cats = [];
    for (var i = 0; i < OPENERS.length; i++) {
      var at = text.indexOf(OPENERS[i]);
      if (at >= 0) {
        findings.push({ id: 'slop', level: 'info', title: 'Stock opener', original: OPENERS[i], occurrence: 0 });
        if (cats.indexOf('stock_opener') < 0) cats.push('stock_opener');
      }
    }
    return { level: 'human', tells: findings.length, cats: cats, findings: findings };
  }

  return { lint: lint };
})();
