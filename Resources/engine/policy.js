// Channel policy: which findings count on a channel, when a draft is too short
// to judge, and how the channel is gated and AI-checked.
var KestrelPolicy = (function () {
  'use strict';

  var CHANNELS = {
    email: { ai: 'live', gate: true, label: 'Email', drop: {} },
    // Chat apps send files as separate messages and links usually follow in the
    // next message; a chat line has no sign-off. Those reminders would only nag.
    chat: { ai: 'send', gate: true, label: 'Chat', drop: { attach: true, link: true, signoff: true } }
  };

  function entry(channel) {
    return Object.prototype.hasOwnProperty.call(CHANNELS, channel) ? CHANNELS[channel] : null;
  }

  function apply(channel, findings) {
    var c = entry(channel);
    var out = [];
    for (var i = 0; i < (findings || []).length; i++) {
      var f = findings[i];
      if (!f || typeof f.id !== 'string') continue;
      if (c && c.drop[f.id]) continue;
      out.push(f);
    }
    return out;
  }

  // Below this many words a draft is still being started: nothing found yet
  // means "too short to judge", not "nothing to flag". A risk always counts.
  var MIN_WORDS = { email: 5, chat: 2 };

  function tooShort(channel, text, scoped) {
    for (var i = 0; i < (scoped || []).length; i++) if (scoped[i] && scoped[i].level === 'risk') return false;
    var min = Object.prototype.hasOwnProperty.call(MIN_WORDS, channel) ? MIN_WORDS[channel] : 3;
    return wordsUpTo(String(text || ''), min) < min;
  }

  // Runs of non-space characters, counted up to `max`: a long draft is
  // settled by its first words.
  function wordsUpTo(text, max) {
    var re = /\S+/g, words = 0;
    while (words < max && re.exec(text)) words++;
    return words;
  }

  function aiMode(channel) { var c = entry(channel); return c ? c.ai : 'off'; }
  function gates(channel) { var c = entry(channel); return c ? c.gate : false; }
  function label(channel) { var c = entry(channel); return c ? c.label : String(channel); }

  return { apply: apply, tooShort: tooShort, aiMode: aiMode, gates: gates, label: label };
})();
