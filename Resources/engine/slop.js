// AI-writing lint: counts nameable tells of generated prose in a draft and
// gives a verdict ("slop", "traces" or "human") normalised by length, so that
// one listed word in a short human message never reads as AI-written.
//
// Phrases are matched by tokenising once and looking phrases up by their first
// word (a flat alternation of hundreds of phrases is slow in JavaScriptCore);
// the few structural patterns are bounded regexes gated by a cheap indexOf.
var KestrelSlop = (function () {
  'use strict';

  // --------------------------------------------------------------------------
  // Phrase lists. w = weight; fix = suggestion replacing the matched span
  // ("" removes it); start = must begin a sentence; after = the character
  // class that must follow the phrase (kept in the span).

  var CATS = {
    chatbot_residue: { cap: 99, title: 'Assistant wrapper text' },
    knowledge_cutoff: { cap: 99, title: 'AI self-reference' },
    citation_artifact: { cap: 99, title: 'Chat citation marker' },
    placeholder: { cap: 6, title: 'Template placeholder' },
    sycophancy: { cap: 4, title: 'Flattering filler' },
    helpful_closer: { cap: 4, title: 'Assistant-style closer' },
    stock_opener: { cap: 2, title: 'Stock opener' },
    ai_vocabulary: { cap: 2, title: 'AI-typical word' },
    puffery: { cap: 4, title: 'Promotional filler' },
    signposting: { cap: 2, title: 'Signposting phrase' },
    negative_parallelism: { cap: 2, title: '"Not just X, it\'s Y" pattern' },
    triad: { cap: 2, title: 'List of three abstractions' },
    em_dash: { cap: 2, title: 'Many em dashes' },
    markdown: { cap: 2, title: 'Markdown formatting' },
    emoji_bullets: { cap: 2, title: 'Emoji bullets' },
    participle_tail: { cap: 4, title: 'Significance tail' },
    stacked_hedge: { cap: 3, title: 'Stacked hedge' },
    vague_attribution: { cap: 2, title: 'Vague attribution' },
    generic_conclusion: { cap: 2, title: 'Generic conclusion' }
  };

  var PHRASES = [
    // helpful closers: assistant-only ones belong to the prompt rule
    ['i hope this helps', 'helpful_closer', 2, { prompt: true, fix: '', sentence: true, ends: true }],
    ['i hope this clarifies things', 'helpful_closer', 2, { prompt: true, fix: '', sentence: true, ends: true }],
    ['i hope this information is helpful', 'helpful_closer', 2, { prompt: true, fix: '', sentence: true, ends: true }],
    ["i'm here to help", 'helpful_closer', 2, { prompt: true, fix: '', sentence: true, ends: true }],
    ['is there anything else i can help you with', 'helpful_closer', 2, { prompt: true, fix: '', sentence: true, ends: true }],
    ["let me know if you'd like a deeper dive", 'helpful_closer', 2, { prompt: true, fix: '', sentence: true, ends: true }],
    ['hope this helps', 'helpful_closer', 1],
    ['let me know if you have any questions', 'helpful_closer', 1],
    ['let me know if you have any other questions', 'helpful_closer', 1],
    ['let me know if you have any further questions', 'helpful_closer', 1],
    ['feel free to reach out', 'helpful_closer', 1],
    ["please don't hesitate to reach out", 'helpful_closer', 1],
    ["please don't hesitate to contact me", 'helpful_closer', 1],
    ["don't hesitate to reach out", 'helpful_closer', 1],
    ['let me know if you need anything else', 'helpful_closer', 1],
    ["i'd be more than happy to help", 'helpful_closer', 1],
    ['if you have any further questions', 'helpful_closer', 1],
    // chatbot offers: talk to the person who asked for the text
    ['would you like me to', 'chatbot_residue', 2, { prompt: true }],
    ["let me know if you'd like me to", 'chatbot_residue', 2, { prompt: true }],
    ['let me know if you want me to adjust', 'chatbot_residue', 2, { prompt: true }],
    ['feel free to adjust', 'chatbot_residue', 2, { prompt: true }],
    ['feel free to tweak', 'chatbot_residue', 2, { prompt: true }],
    ['feel free to modify', 'chatbot_residue', 2, { prompt: true }],
    // knowledge cutoff: hard
    ['as an ai language model', 'knowledge_cutoff', 9, { prompt: true, hard: true, fix: '', sentence: true }],
    ['as an ai model', 'knowledge_cutoff', 9, { prompt: true, hard: true, fix: '', sentence: true }],
    ['as an ai assistant', 'knowledge_cutoff', 9, { prompt: true, hard: true, fix: '', sentence: true }],
    ['as a large language model', 'knowledge_cutoff', 9, { prompt: true, hard: true, fix: '', sentence: true }],
    ['as an ai', 'knowledge_cutoff', 9, { prompt: true, hard: true, after: ',' }],
    ['as of my last knowledge update', 'knowledge_cutoff', 9, { prompt: true, hard: true }],
    ['as of my last training update', 'knowledge_cutoff', 9, { prompt: true, hard: true }],
    ['as of my last training data', 'knowledge_cutoff', 9, { prompt: true, hard: true }],
    ['as of my knowledge cutoff', 'knowledge_cutoff', 9, { prompt: true, hard: true }],
    ['my knowledge cutoff', 'knowledge_cutoff', 9, { prompt: true, hard: true }],
    ["i don't have real-time access", 'knowledge_cutoff', 9, { prompt: true, hard: true }],
    ['i cannot browse the internet', 'knowledge_cutoff', 9, { prompt: true, hard: true }],
    ["i don't have personal opinions", 'knowledge_cutoff', 9, { prompt: true, hard: true }],
    // sycophancy
    ['great question', 'sycophancy', 2, { start: true, after: '!', fix: '' }],
    ['what a great question', 'sycophancy', 2, { start: true, after: '!', fix: '' }],
    ["that's a great point", 'sycophancy', 2, { start: true, after: '!', fix: '' }],
    ['what a fantastic idea', 'sycophancy', 2, { start: true, after: '!', fix: '' }],
    ["you're absolutely right", 'sycophancy', 2, { after: '!' }],
    ['i completely understand your frustration', 'sycophancy', 2],
    ['i truly appreciate your patience and understanding', 'sycophancy', 2],
    ['thank you for bringing this to my attention', 'sycophancy', 2, { fix: 'Thanks for flagging this' }],
    ['your feedback is invaluable', 'sycophancy', 2],
    ['i appreciate you taking the time to', 'sycophancy', 2],
    ['love this idea', 'sycophancy', 2, { after: '!' }],
    ['certainly', 'sycophancy', 1, { start: true, after: '!' }],
    ['absolutely', 'sycophancy', 1, { start: true, after: '!' }],
    ['of course', 'sycophancy', 1, { start: true, after: '!' }],
    // stock openers
    ['i hope this email finds you well', 'stock_opener', 1, { fix: '', sentence: true }],
    ['i hope this message finds you well', 'stock_opener', 1, { fix: '', sentence: true }],
    ['i trust this email finds you well', 'stock_opener', 1, { fix: '', sentence: true }],
    ['i trust this message finds you well', 'stock_opener', 1, { fix: '', sentence: true }],
    ['i hope this finds you well', 'stock_opener', 1, { fix: '', sentence: true }],
    ['i hope this note finds you well', 'stock_opener', 1, { fix: '', sentence: true }],
    ['i wanted to reach out', 'stock_opener', 1],
    ["i'm reaching out", 'stock_opener', 1],
    ['i am reaching out', 'stock_opener', 1],
    ['i wanted to take a moment to', 'stock_opener', 1],
    ['thank you for reaching out', 'stock_opener', 1],
    ["i hope you're having a wonderful week", 'stock_opener', 1, { fix: '', sentence: true }],
    ['i hope you are having a wonderful week', 'stock_opener', 1, { fix: '', sentence: true }],
    ['i am writing to express my enthusiastic interest', 'stock_opener', 1],
    // puffery
    ['plays a pivotal role', 'puffery', 2], ['plays a crucial role', 'puffery', 2],
    ['plays a vital role', 'puffery', 2], ['plays a key role', 'puffery', 2],
    ['play a pivotal role', 'puffery', 2], ['play a crucial role', 'puffery', 2],
    ['play a vital role', 'puffery', 2],
    ['is a testament to', 'puffery', 2], ['stands as a testament', 'puffery', 2],
    ['a testament to', 'puffery', 2],
    ['serves as a reminder', 'puffery', 2], ['marks a significant milestone', 'puffery', 2],
    ['paves the way for', 'puffery', 2], ['pave the way for', 'puffery', 2],
    ['at the forefront of', 'puffery', 2], ['nothing short of', 'puffery', 2],
    ["in today's fast-paced world", 'puffery', 2, { fix: '', lead: true }],
    ["in today's competitive landscape", 'puffery', 2, { fix: '', lead: true }],
    ["in today's digital landscape", 'puffery', 2, { fix: '', lead: true }],
    ["in today's rapidly evolving", 'puffery', 2],
    ['the ever-evolving landscape', 'puffery', 2], ['ever-evolving landscape', 'puffery', 2],
    ['unlock the full potential', 'puffery', 2], ['unlock your full potential', 'puffery', 2],
    ['a game-changer', 'puffery', 2], ['game-changer', 'puffery', 2], ['game changer', 'puffery', 2],
    ['cutting-edge', 'puffery', 2], ['state-of-the-art', 'puffery', 2], ['groundbreaking', 'puffery', 2],
    ['world-class', 'puffery', 2], ['nestled in the heart of', 'puffery', 2],
    ['commitment to excellence', 'puffery', 2], ['shape the future of', 'puffery', 2],
    ['meticulous attention to detail', 'puffery', 2], ['foster a culture of', 'puffery', 2],
    ['embark on this journey', 'puffery', 2], ['committed to delivering', 'puffery', 2],
    ['a unique blend of', 'puffery', 2], ['lasting impact', 'puffery', 2],
    ['rich tapestry', 'puffery', 2], ['vibrant tapestry', 'puffery', 2],
    // signposting
    ["it's important to note that", 'signposting', 1, { fix: '', lead: true }],
    ['it is important to note that', 'signposting', 1, { fix: '', lead: true }],
    ["it's worth noting that", 'signposting', 1, { fix: '', lead: true }],
    ['it is worth noting that', 'signposting', 1, { fix: '', lead: true }],
    ["it's worth mentioning that", 'signposting', 1, { fix: '', lead: true }],
    ['it is worth mentioning that', 'signposting', 1, { fix: '', lead: true }],
    ['notably', 'signposting', 1, { start: true, after: ',' }],
    ['additionally', 'signposting', 1, { start: true, after: ',', fix: 'Also,' }],
    ['furthermore', 'signposting', 1, { start: true, after: ',', fix: 'Also,' }],
    ['moreover', 'signposting', 1, { start: true, after: ',', fix: 'Also,' }],
    ['in essence', 'signposting', 1, { start: true, after: ',' }],
    ['at its core', 'signposting', 1, { start: true, after: ',' }],
    ["let's dive in", 'signposting', 1], ["let's dive into", 'signposting', 1],
    ["let's break it down", 'signposting', 1], ["here's the thing", 'signposting', 1, { after: ':' }],
    ['key takeaways', 'signposting', 1, { after: ':' }],
    // stacked hedges
    ['may potentially', 'stacked_hedge', 1, { fix: 'may' }], ['could potentially', 'stacked_hedge', 1, { fix: 'could' }],
    ['might potentially', 'stacked_hedge', 1, { fix: 'might' }], ['could possibly', 'stacked_hedge', 1, { fix: 'could' }],
    ['might perhaps', 'stacked_hedge', 1, { fix: 'might' }], ['it might be worth considering', 'stacked_hedge', 1],
    ['it may be beneficial to', 'stacked_hedge', 1], ['generally speaking', 'stacked_hedge', 1],
    ['while there are many factors to consider', 'stacked_hedge', 1], ['it depends on various factors', 'stacked_hedge', 1],
    // vague attribution
    ['studies show', 'vague_attribution', 1], ['research suggests', 'vague_attribution', 1],
    ['research shows', 'vague_attribution', 1], ['experts agree', 'vague_attribution', 1],
    ['many believe', 'vague_attribution', 1], ['it is widely recognized', 'vague_attribution', 1],
    ['it is widely recognised', 'vague_attribution', 1], ['industry reports indicate', 'vague_attribution', 1],
    ['observers have noted', 'vague_attribution', 1],
    // generic conclusions
    ['in conclusion', 'generic_conclusion', 1, { start: true, after: ',' }],
    ['in summary', 'generic_conclusion', 1, { start: true, after: ',' }],
    ['to summarize', 'generic_conclusion', 1, { start: true, after: ',' }],
    ['together, we can achieve great things', 'generic_conclusion', 1],
    ['together we can achieve great things', 'generic_conclusion', 1],
    ["let's make it happen", 'generic_conclusion', 1, { after: '!' }],
    ["let's keep the momentum going", 'generic_conclusion', 1],
    ["here's to new beginnings", 'generic_conclusion', 1],
    ['stay tuned for more exciting updates', 'generic_conclusion', 1],
    ['we truly value your business', 'generic_conclusion', 1],
    ['exciting times ahead', 'generic_conclusion', 1],
    ['well-positioned for continued growth', 'generic_conclusion', 1]
  ];

  // Words generators over-use, with safe same-inflection swaps where one exists.
  // `not` lists neighbouring words that mark a technical or literal sense.
  var VOCAB = {
    delve: { fix: 'dig' }, delves: { fix: 'digs' }, delving: { fix: 'digging' }, delved: { fix: 'dug' },
    tapestry: {}, testament: {}, pivotal: { fix: 'key' }, intricate: {}, multifaceted: {},
    underscore: { not: ['character', 'characters', 'key', 'prefix', 'suffix', 'sign', 'symbol', 'an', 'the', 'single', 'double', 'with', 'or'] },
    underscores: { not: ['character', 'characters', 'with', 'and', 'or', 'instead', 'in'] },
    showcase: { fix: 'show' }, showcases: { fix: 'shows' }, showcasing: { fix: 'showing' }, showcased: { fix: 'showed' },
    foster: { not: ['care', 'parent', 'parents', 'home', 'homes', 'child', 'children', 'family', 'families', 'kid', 'kids', 'dog', 'cat', 'mom', 'dad', 'kittens', 'puppies'] },
    fostering: { not: ['care', 'kittens', 'puppies', 'a', 'dogs', 'cats'] },
    leverage: { not: ['ratio', 'ratios', 'plot', 'point', 'points', 'effect', 'buyout', 'buyouts', 'high', 'financial', 'operating', 'more', 'less', 'of', 'have', 'has', 'had', 'some', 'any', 'no', 'our', 'negotiating', 'bargaining'] },
    leveraging: { fix: 'using', not: ['ratio'] }, leveraged: { not: ['buyout', 'buyouts', 'loan', 'loans', 'etf', 'etfs', 'position', 'positions', 'finance', 'funds', 'fund'] },
    realm: { not: ['kerberos', 'krb5', 'ad', 'default_realm', 'the', 'your', 'our', 'this', 'that', 'realm'] },
    landscape: { not: ['mode', 'orientation', 'view', 'format', 'photo', 'photos', 'architect', 'architects', 'architecture', 'design', 'designer', 'painting', 'paintings', 'garden', 'lighting', 'and', 'page', 'pages', 'print', 'layout'] },
    seamless: { fix: 'smooth' }, seamlessly: { fix: 'smoothly' },
    robust: { not: ['regression', 'estimator', 'estimators', 'standard', 'statistics', 'optimization', 'control', 'errors', 'error'] },
    elevate: { fix: 'improve' }, elevates: { fix: 'improves' }, elevating: { fix: 'improving' },
    embark: { fix: 'start', before: 'on' }, embarked: { fix: 'started', before: 'on' }, embarking: { fix: 'starting', before: 'on' },
    meticulous: { fix: 'careful' }, meticulously: { fix: 'carefully' }, commendable: {}, bolster: { fix: 'strengthen' },
    garner: { fix: 'gain' }, garnered: { fix: 'gained' }, vibrant: {}, paramount: {}, holistic: {},
    synergy: {}, synergies: {}, unwavering: {}, invaluable: { fix: 'very useful' }, nuanced: {},
    streamline: { fix: 'simplify' }, streamlines: { fix: 'simplifies' }, streamlined: { fix: 'simplified' }, streamlining: { fix: 'simplifying' },
    empower: {}, empowers: {}, empowering: {}, resonate: {}, resonates: {},
    crucial: {}, utilize: { fix: 'use' }, utilizes: { fix: 'uses' }, utilized: { fix: 'used' }, utilizing: { fix: 'using' },
    utilise: { fix: 'use' }, utilises: { fix: 'uses' }, utilised: { fix: 'used' }, utilising: { fix: 'using' },
    navigate: { not: ['to', 'back', 'away', 'from', 'the'] }, navigating: { not: ['to', 'back', 'away', 'from'] },
    insights: {}, enhance: { fix: 'improve' }, enhances: { fix: 'improves' }
  };

  var RESIDUE_WRAPPER = /(?:^|\n)[ \t]*(?:(?:sure|certainly|absolutely|of course|great)[!,.][ \t]*)?(?:here(?:'s| is| are)|below is|i've (?:rewritten|revised|polished|edited|updated)|i have (?:rewritten|revised|polished|edited|updated))[ \t]+(?:a |an |the |your )?(?:(?:more|slightly|much|bit more|an updated|a revised)[ \t]+)?(?:polished|revised|refined|rewritten|corrected|improved|updated|professional|concise|formal|friendlier|shorter|edited|reworded|cleaner|draft|version|message|email)(?:[ \t]+[a-z']{1,15}){0,6}[ \t]*:?[ \t]*(?=\n|$)/g;
  var RESIDUE_SURE = /(?:^|[\n.!?][ \t]*)((?:certainly|sure|absolutely|of course)[!,.][ \t]+here(?:'s| is| are)\b)/g;
  var CITATION = /(?::contentreference\[oaicite:\d{1,3}\]\{index=\d{1,3}\}|\[oaicite:\d{1,3}\]|oaicite|\u3010\d{1,3}(?::\d{1,3})?\u2020[^\u3011\n]{0,40}\u3011|\bturn\d{1,2}(?:search|news|view)\d{1,3}|\[cite_start\]|\[cite: ?\d{1,3}(?:, ?\d{1,3}){0,5}\])/g;
  // Literals searched from their rarest character where the rules are loaded.
  function literal(text) {
    if (typeof KestrelRules === 'object' && KestrelRules && KestrelRules.literal) return KestrelRules.literal(text);
    return { indexIn: function (hay, from) { return hay.indexOf(text, from); } };
  }
  var HERE = literal('here'), OAICITE = literal('oaicite'), TURN = literal('turn'), UTM_SOURCE = literal('utm_source=');
  // Whether a citation marker may be there: each holds "oaicite", "[cite", "\u3010" or "turn"
  // and a digit.
  function mayCite(lower) {
    return OAICITE.indexIn(lower) >= 0 || lower.indexOf('[cite') >= 0 || lower.indexOf('\u3010') >= 0 ||
      (TURN.indexIn(lower) >= 0 && /turn\d/.test(lower));
  }
  var UTM_AI = /[?&]utm_source=(?:chatgpt\.com|openai|chatgpt|perplexity|copilot)/g;
  var PLACEHOLDER = /\[(?:your|recipient|recipient's|client|client's|company|company's|project|insert|name|first name|last name|full name|date|title|manager|manager's|contact|phone|position|address|organization|organisation|team|role|job title|email|number|amount|product|department|city|location|time|day|topic|event)(?:[ \t][^\]\n]{0,30})?\]/g;

  // --------------------------------------------------------------------------
  // Tokens.


  function lowerSame(text) {
    if (typeof KestrelRules === 'object' && KestrelRules && KestrelRules.lowerSame) return KestrelRules.lowerSame(text);
    var l = text.toLowerCase();
    return (l.length === text.length ? l : text).replace(/[\u2018\u2019\u02bc]/g, "'");
  }

  // Words with offsets; an apostrophe or hyphen between letters stays inside
  // the word ("it's", "fast-paced"). Letters beyond ASCII are listed by script
  // so that dashes, curly quotes and emoji never count as word characters.
  // A plain loop: in JavaScriptCore it is several times faster than a regex.
  var ASCII_WORD = (function () {
    var t = new Uint8Array(0xc0);
    for (var c = 0; c < 0xc0; c++) t[c] = (c >= 97 && c <= 122) || (c >= 48 && c <= 57) || (c >= 65 && c <= 90) ? 1 : 0;
    return t;
  })();
  function isWordCode(c) {
    if (c < 0xc0) return ASCII_WORD[c] === 1;
    return c <= 0x24f || (c >= 0x300 && c <= 0x6ff) || (c >= 0x900 && c <= 0xe7f) || (c >= 0x1e00 && c <= 0x1fff) ||
      (c >= 0x3040 && c <= 0x30ff) || (c >= 0x3400 && c <= 0x9fff) || (c >= 0xac00 && c <= 0xd7af);
  }

  // Words with their offsets and their entries among the listed words (null
  // for the others); `count` of them. The buffers are reused from draft to
  // draft (a check is never re-entered), which halves the cost of reading
  // the words. `lower` is kept to read a word when one is needed.
  var WORDS = { starts: new Int32Array(256), ends: new Int32Array(256), entries: [] };
  function tokenize(lower, limit) {
    var starts = WORDS.starts, ends = WORDS.ends, entries = WORDS.entries, k = 0, i = 0, n = limit;
    while (i < n) {
      var c = lower.charCodeAt(i);
      if (!isWordCode(c)) { i++; continue; }
      var s = i, h = c;
      i++;
      while (i < n) {
        c = lower.charCodeAt(i);
        if (isWordCode(c)) { h = hashStep(h, c); i++; continue; }
        if ((c === 39 || c === 45) && i + 1 < n && isWordCode(lower.charCodeAt(i + 1))) {
          h = hashStep(hashStep(h, c), lower.charCodeAt(i + 1));
          i += 2;
          continue;
        }
        break;
      }
      if (k === starts.length) {
        WORDS.starts = starts = grown(starts);
        WORDS.ends = ends = grown(ends);
      }
      starts[k] = s; ends[k] = i; entries[k] = listedAt(lower, s, i, h); k++;
    }
    return { text: lower, starts: starts, ends: ends, entries: entries, count: k };
  }
  function grown(buffer) {
    var bigger = new Int32Array(buffer.length * 2);
    bigger.set(buffer);
    return bigger;
  }
  function wordAt(tk, i) { return tk.text.slice(tk.starts[i], tk.ends[i]); }
  function wordsOf(text) {
    var tk = tokenize(text, text.length), out = [];
    for (var i = 0; i < tk.count; i++) out.push(wordAt(tk, i));
    return out;
  }

  // Listed words (the words of phrases, the listed vocabulary and the function
  // words the language check counts) by a hash of their characters, which the
  // tokenizer keeps as it reads: looking every word of a draft up by its text
  // costs more than all the rest of the lint.
  var HASH_MASK = 4095, LISTED = new Array(HASH_MASK + 1);
  function hashStep(h, c) { return (Math.imul(h, 31) + c) | 0; }
  function listedAt(lower, s, e, h) {
    var bucket = LISTED[h & HASH_MASK];
    if (!bucket) return null;
    for (var i = 0; i < bucket.length; i++) {
      if (sameWord(bucket[i].word, lower, s, e)) return bucket[i];
    }
    return null;
  }
  function sameWord(w, lower, s, e) {
    if (w.length !== e - s) return false;
    for (var i = 0; i < w.length; i++) if (w.charCodeAt(i) !== lower.charCodeAt(s + i)) return false;
    return true;
  }
  // A listed word's entry: the phrases it opens, longest first, its entry in
  // VOCAB, and `lang` 1 for an English function word, 2 for a foreign one.
  function wordEntry(w) {
    var h = w.charCodeAt(0);
    for (var i = 1; i < w.length; i++) h = hashStep(h, w.charCodeAt(i));
    var found = listedAt(w, 0, w.length, h);
    if (found) return found;
    var e = { word: w, cands: null, vocab: null, lang: 0 };
    (LISTED[h & HASH_MASK] = LISTED[h & HASH_MASK] || []).push(e);
    return e;
  }
  (function build() {
    for (var i = 0; i < PHRASES.length; i++) {
      var p = PHRASES[i], o = p[3] || {};
      var toks = wordsOf(p[0]);
      var e = { toks: toks.map(wordEntry), cat: p[1], w: p[2], fix: o.fix, start: !!o.start, after: o.after || null,
        hard: !!o.hard, prompt: !!o.prompt, sentence: !!o.sentence, lead: !!o.lead, ends: !!o.ends, text: p[0],
        comma: p[0].indexOf(',') >= 0 };
      var entry = e.toks[0];
      (entry.cands = entry.cands || []).push(e);
    }
    LISTED.forEach(function (bucket) {
      bucket.forEach(function (entry) {
        if (entry.cands) entry.cands.sort(function (a, b) { return b.toks.length - a.toks.length; });
      });
    });
    for (var w in VOCAB) wordEntry(w).vocab = VOCAB[w];
  })();

  function atSentenceStart(text, at) {
    var j = at - 1;
    while (j >= 0 && /[ \t"'\u201c(*_]/.test(text.charAt(j))) j--;
    return j < 0 || /[.!?\n:\u2026]/.test(text.charAt(j));
  }

  function capitalize(s) { return s.charAt(0).toUpperCase() + s.slice(1); }

  function matchCase(orig, repl) {
    if (!repl) return repl;
    if (orig.charAt(0) !== orig.charAt(0).toLowerCase()) return capitalize(repl);
    return repl;
  }

  // Whether an odd number of double quotes stands between the line start and
  // `at`. Parities are kept per text so that many questions cost one pass.
  var quoteMemo = { text: null, odd: null };
  function insideQuotes(text, at) {
    if (quoteMemo.text !== text) {
      // Running parity of quotes, restarting at each line.
      var odd = new Uint8Array(text.length + 1), q = 0;
      for (var i = 0; i < text.length; i++) {
        var c = text.charCodeAt(i);
        if (c === 10) q = 0;
        else if (c === 34 || c === 0x201c || c === 0x201d) q ^= 1;
        odd[i + 1] = q;
      }
      quoteMemo.text = text; quoteMemo.odd = odd;
    }
    return quoteMemo.odd[at] === 1;
  }

  // --------------------------------------------------------------------------
  // Analysis.

  // What of the draft is someone else's on a channel (the rules' model).
  var NO_QUOTES = { from: Infinity, spans: [] };
  function quotesOf(text, lower, channel) {
    if (typeof KestrelRules === 'object' && KestrelRules && KestrelRules.quotes) return KestrelRules.quotes(text, lower, channel);
    return NO_QUOTES;
  }

  var NON_ASCII_LETTER = /[\u00c0-\u024f\u0300-\u06ff\u0900-\u0e7f\u1e00-\u1fff\u3040-\u30ff\u3400-\u9fff\uac00-\ud7af]/;

  function notEnglish(text, tk) {
    // Most drafts hold no letter beyond ASCII: one native search settles it.
    if (NON_ASCII_LETTER.test(text)) {
      var ascii = 0, other = 0;
      for (var i = 0; i < text.length && i < 20000; i++) {
        var c = text.charCodeAt(i);
        if ((c >= 65 && c <= 90) || (c >= 97 && c <= 122)) ascii++;
        else if (c >= 0xc0 && isWordCode(c)) other++;
      }
      if (other > 0.25 * (ascii + other)) return true;
    }
    var en = 0, fo = 0;
    for (var j = 0; j < tk.count && j < 4000; j++) {
      var lang = tk.entries[j] ? tk.entries[j].lang : 0;
      if (lang === 1) en++; else if (lang === 2) fo++;
      if (en >= 20 && en > 4 * fo) break; // plainly English
    }
    return fo > en && fo >= 3;
  }
  'the and to of is you i we a in for this that it on with be are have will please can our your my'.split(' ').forEach(function (w) { wordEntry(w).lang = 1; });
  'der die das und ist nicht ich wir sie mit f\u00fcr le la les et est pas je nous vous avec pour el los las y es que por para con una il di che per sono het een niet ik wij voor met zijn os um uma n\u00e3o com'.split(' ').forEach(function (w) { wordEntry(w).lang = 2; });

  // Hits that do not overlap: the first, longest match wins. Covered
  // characters are marked, so a check costs the length of the hit. A mark is
  // the number of the draft it was made for, so the table of a draft up to
  // 64 KB is kept for the next one instead of being made anew: zeroing a
  // fresh one costs a typical draft as much as the phrase search.
  var MARKS_KEPT = 1 << 16, keptMarks = new Uint32Array(0), keptStamp = 0;
  function Hits(text) {
    this.text = text; this.list = []; this.size = text.length + 1;
    if (this.size > MARKS_KEPT) { this.taken = new Uint8Array(this.size); this.stamp = 1; return; }
    if (keptMarks.length < this.size) { keptMarks = new Uint32Array(Math.min(MARKS_KEPT, 2 * this.size)); keptStamp = 0; }
    this.taken = keptMarks; this.stamp = ++keptStamp;
  }
  Hits.prototype.add = function (h) {
    var end = Math.min(h.at + Math.max(h.len, 1), this.size), taken = this.taken, stamp = this.stamp, i;
    for (i = h.at; i < end; i++) if (taken[i] === stamp) return false;
    for (i = h.at; i < end; i++) taken[i] = stamp;
    this.list.push(h);
    return true;
  };

  // Extends a hit over the rest of its sentence and the spaces after it, so
  // deleting it leaves a clean draft; null when the phrase does not open it.
  function sentenceSpan(text, at, end) {
    if (!atSentenceStart(text, at)) return null;
    var j = end, lim = Math.min(text.length, end + 200);
    while (j < lim && !/[.!?\n]/.test(text.charAt(j))) j++;
    if (j >= lim && j < text.length) return null;
    while (j < text.length && /[.!?]/.test(text.charAt(j))) j++;
    while (j < text.length && (text.charAt(j) === ' ' || text.charAt(j) === '\t')) j++;
    return [at, j];
  }

  // Only one to three spaces stand between the words of a phrase (", " where
  // the phrase has a comma).
  function phraseGap(lower, from, to, comma) {
    var n = to - from;
    if (comma && n === 2 && lower.charCodeAt(from) === 44 && lower.charCodeAt(from + 1) === 32) return true;
    if (n < 1 || n > 3) return false;
    for (var i = from; i < to; i++) {
      var c = lower.charCodeAt(i);
      if (c !== 32 && c !== 9 && c !== 13 && c !== 10 && c !== 0xa0) return false;
    }
    return true;
  }

  function phraseHits(text, lower, tk, hits) {
    var N = tk.entries, S = tk.starts, E = tk.ends, count = tk.count;
    for (var i = 0; i < count; i++) {
      var entry = N[i];
      if (!entry) continue;
      var vocab = entry.vocab, cands = entry.cands;
      var matched = false;
      if (cands) {
        for (var c = 0; c < cands.length && !matched; c++) {
          var p = cands[c], k = p.toks.length;
          if (i + k > count) continue;
          var ok = true;
          for (var t = 1; t < k; t++) {
            if (N[i + t] !== p.toks[t] || !phraseGap(lower, E[i + t - 1], S[i + t], p.comma)) { ok = false; break; }
          }
          if (!ok) continue;
          var at = S[i], end = E[i + k - 1];
          if (p.start && !atSentenceStart(text, at)) continue;
          if (p.after) {
            if (text.charAt(end) !== p.after) continue;
            end++;
          }
          // Closers count only where they end the sentence ("I hope this helps!").
          if (p.ends && !/^[ \t]*(?:[.!?\n]|$)/.test(text.slice(end, end + 4))) continue;
          var h = { at: at, len: end - at, cat: p.cat, w: p.w, hard: p.hard, prompt: p.prompt, phrase: p.text };
          if (p.fix !== undefined) {
            if (p.sentence) {
              var sp = sentenceSpan(text, at, end);
              if (sp) { h.len = sp[1] - sp[0]; h.fix = ''; }
            } else if (p.lead && atSentenceStart(text, at)) {
              // Drop a leading frame and capitalise the word after it.
              var j = end;
              while (j < text.length && /[ ,\t]/.test(text.charAt(j))) j++;
              var wEnd = j;
              while (wEnd < text.length && isWordCode(text.charCodeAt(wEnd))) wEnd++;
              if (wEnd > j) { h.len = wEnd - at; h.fix = capitalize(text.slice(j, wEnd)); }
            } else if (!p.lead) {
              h.fix = p.fix === '' ? '' : matchCase(text.slice(at, end), p.fix);
              if (h.fix === '') {
                var e2 = end;
                while (e2 < text.length && text.charAt(e2) === ' ') e2++;
                h.len = e2 - at;
              }
            }
          }
          if (p.hard && insideQuotes(text, at)) { h.hard = false; h.w = 2; h.quoted = true; }
          if (hits.add(h)) { i += k - 1; matched = true; }
        }
      }
      if (matched || !vocab) continue;
      var prev = i > 0 ? wordAt(tk, i - 1) : '', next = i + 1 < count ? wordAt(tk, i + 1) : '', word = wordAt(tk, i);
      if (vocab.not && (vocab.not.indexOf(next) >= 0 || vocab.not.indexOf(prev) >= 0)) continue;
      var vh = { at: S[i], len: E[i] - S[i], cat: 'ai_vocabulary', w: 1, word: word, phrase: word };
      if (vocab.fix && (!vocab.before || next === vocab.before)) vh.fix = matchCase(text.slice(S[i], E[i]), vocab.fix);
      hits.add(vh);
    }
  }

  function regexHits(re, lower, limit, fn) {
    re.lastIndex = 0;
    var m;
    while ((m = re.exec(lower))) {
      if (m.index >= limit) break;
      fn(m);
      if (m[0].length === 0) re.lastIndex++;
    }
  }

  // Patterns that hold ", ", sticky: each is tried only where a ", " puts a
  // match within reach, as a global search would find them (left to right,
  // without overlap), since a search over the whole draft costs more than
  // the rest of the lint. `startFor` answers where a match holding the ", "
  // at `c` as its first one would start, or -1.
  var PARTICIPLE_TAIL = /, (highlighting|underscoring|emphasizing|emphasising|showcasing|fostering|reflecting|solidifying|cementing|reinforcing|symbolizing|symbolising|paving the way for|ensuring)\b/y;
  var TRIAD = /([a-z]{4,20}), ([a-z]{4,20}),? and ([a-z]{4,20})\b/y;
  function commaHits(re, lower, limit, startFor, fn) {
    var from = 0, end = 0, c, m;
    while ((c = lower.indexOf(', ', from)) >= 0) {
      from = c + 1;
      var at = startFor(c, lower);
      if (at < end) continue;
      re.lastIndex = at;
      if (!(m = re.exec(lower))) continue;
      if (m.index >= limit) break;
      fn(m);
      end = m.index + m[0].length;
    }
  }
  // A participle follows the ", " straight away.
  var PARTICIPLE_INITIALS = 'huesfrcp';
  function participleStart(c, lower) {
    return PARTICIPLE_INITIALS.indexOf(lower.charAt(c + 2)) >= 0 ? c : -1;
  }
  // A triad's first word is the whole run of letters before its first ", ",
  // at a word boundary, and " and " comes after one more word.
  function triadStart(c, lower) {
    var s = c;
    while (s > 0 && s > c - 21 && isLowerAscii(lower.charCodeAt(s - 1))) s--;
    if (c - s < 4 || (s > 0 && isWordCharCode(lower.charCodeAt(s - 1)))) return -1;
    for (var a = c + 6; a <= c + 23; a++) if (lower.charCodeAt(a) === 32 && lower.startsWith(' and ', a)) return s;
    return -1;
  }
  function lineStart(text, at) { return text.lastIndexOf('\n', at - 1) + 1; }
  function isLowerAscii(c) { return c >= 97 && c <= 122; }
  function isWordCharCode(c) { return (c >= 97 && c <= 122) || (c >= 65 && c <= 90) || (c >= 48 && c <= 57) || c === 95; }

  function structuralHits(text, lower, limit, tk, hits) {
    if (lower.indexOf('[') >= 0) {
      regexHits(PLACEHOLDER, lower, limit, function (m) {
        if (/^\[(?:insert )?(?:link|url)\b/.test(m[0])) return; // the link rule owns these
        hits.add({ at: m.index, len: m[0].length, cat: 'placeholder', w: 3, prompt: true, placeholder: true, phrase: m[0] });
      });
    }
    // A search for the words every wrapper line holds costs more than the
    // search for the line itself; a "Sure! Here is" holds "here".
    regexHits(RESIDUE_WRAPPER, lower, limit, function (m) {
      var at = m.index + (m[0].charAt(0) === '\n' ? 1 : 0);
      var end = m.index + m[0].length;
      if (end < text.length && text.charAt(end) === '\n') end++;
      if (!/polished|revised|refined|rewritten|corrected|improved|updated|professional|concise|formal|friendlier|shorter|edited|reworded|cleaner/.test(lower.slice(at, end))) return;
      hits.add({ at: at, len: end - at, cat: 'chatbot_residue', w: 9, hard: !insideQuotes(text, at), prompt: true, fix: '', phrase: 'wrapper' });
    });
    if (HERE.indexIn(lower) >= 0) {
      regexHits(RESIDUE_SURE, lower, limit, function (m) {
        var at = m.index + m[0].length - m[1].length;
        hits.add({ at: at, len: m[1].length, cat: 'chatbot_residue', w: 2, prompt: true, phrase: 'sure-here' });
      });
    }
    if (mayCite(lower)) {
      regexHits(CITATION, lower, limit, function (m) {
        hits.add({ at: m.index, len: m[0].length, cat: 'citation_artifact', w: 9, hard: true, prompt: true, fix: '', phrase: 'citation' });
      });
    }
    if (UTM_SOURCE.indexIn(lower) >= 0) {
      regexHits(UTM_AI, lower, limit, function (m) {
        hits.add({ at: m.index + 1, len: m[0].length - 1, cat: 'citation_artifact', w: 2, phrase: 'utm' });
      });
    }
    if (/n(?:ot|'t) /.test(lower)) {
      var NP = /\b(?:it's|it is|this is|that's|this isn't|it isn't|that isn't|isn't|aren't|wasn't)(?: not)? (?:just|only|merely|simply|about)\b[^.!?\n,;\u2014\u2013]{1,60}(?:[,;\u2014\u2013]| -)\s{0,2}(?:it's|it is|but|they're|this is|that's|we're|it was)\b/g;
      regexHits(NP, lower, limit, function (m) {
        if (/^(?:it's|it is) not just (?:you|me)\b/.test(m[0])) return;
        hits.add({ at: m.index, len: m[0].length, cat: 'negative_parallelism', w: 2, phrase: 'np' });
      });
      regexHits(/\bnot only\b[^.!?\n]{1,80}\bbut (?:also )?\b/g, lower, limit, function (m) {
        hits.add({ at: m.index, len: m[0].length, cat: 'negative_parallelism', w: 2, phrase: 'np' });
      });
    }
    commaHits(PARTICIPLE_TAIL, lower, limit, participleStart, function (m) {
      var w = m[1] === 'ensuring' ? 1 : 2;
      hits.add({ at: m.index + 2, len: m[1].length, cat: 'participle_tail', w: w, phrase: m[1] });
    });
    commaHits(TRIAD, lower, limit, triadStart, function (m) {
      var abstract = 0;
      for (var i = 1; i <= 3; i++) if (/(?:tion|ity|ness|ment|ence|ance|ship|ive|ful)$/.test(m[i]) || BUZZ[m[i]]) abstract++;
      if (abstract >= 2) hits.add({ at: m.index, len: m[0].length, cat: 'triad', w: 1, phrase: 'triad' });
    });
    // Em dashes and spaced en dashes. A typed " -- " is how people write a
    // dash in plain text, not a tell.
    var dashes = 0, d0 = null, dre = /\u2014| \u2013 /g, dm;
    var dashed = text.indexOf('\u2014') >= 0 || text.indexOf(' \u2013 ') >= 0;
    while (dashed && (dm = dre.exec(text)) && dm.index < limit) { if (!d0) d0 = dm; dashes++; }
    if (dashes >= 2) {
      var words = Math.max(1, tk.count);
      var w = dashes >= 3 || dashes * 40 > words ? 2 : 1;
      var dAt = d0.index, dLen = d0[0].length, spaced = false;
      if (text.charAt(dAt - 1) === ' ' && d0[0] === '\u2014' && text.charAt(dAt + 1) === ' ') { dAt--; dLen += 2; spaced = true; }
      else if (d0[0] !== '\u2014') spaced = true;
      hits.add({ at: dAt, len: dLen, cat: 'em_dash', w: w, fix: spaced ? ', ' : undefined, phrase: 'dash', count: dashes });
    }
    // Markdown headings and bold labels pasted raw; two of them at least,
    // since one "**Note:**" or "# comment" is something people type too.
    if (lower.indexOf('#') >= 0 || lower.indexOf('**') >= 0) {
      var marks = [];
      regexHits(/(?:^|\n)(#{1,6} ([A-Za-z0-9][^\n#]{0,59}))(?=\n|$)/g, text, limit, function (m) {
        var at = m.index + m[0].length - m[1].length;
        // A heading is a title: not a sentence, and not one of a run of "#" lines (comments, quotes).
        if (/[.,;:!?)\-]\s*$|[=<>{}$`]/.test(m[2]) || text.charAt(at + m[1].length + 1) === '#' || (at > 1 && text.charAt(lineStart(text, at - 1)) === '#')) return;
        marks.push({ at: at, len: m[1].length, cat: 'markdown', w: 2, fix: m[2], phrase: 'md' });
      });
      regexHits(/\*\*([^*\n]{1,40}?:?)\*\*(:?)/g, text, limit, function (m) {
        if (!/:$/.test(m[1]) && m[2] !== ':') return;
        marks.push({ at: m.index, len: m[0].length, cat: 'markdown', w: 2, fix: m[1] + m[2], phrase: 'md' });
      });
      if (marks.length >= 2) marks.forEach(function (h) { hits.add(h); });
    }
    // Lines that start with an emoji.
    var lines = 0, first = null, from = 0;
    while (from < limit) {
      var ls = from;
      while (ls < limit && (text.charAt(ls) === ' ' || text.charAt(ls) === '\t')) ls++;
      var len = emojiAt(text, ls);
      if (len) {
        lines++;
        if (!first) { var e = ls + len; while (e < text.length && text.charAt(e) === ' ') e++; first = [ls, e - ls]; }
      }
      var nl = text.indexOf('\n', from);
      if (nl < 0) break;
      from = nl + 1;
    }
    if (lines >= 2 && first) hits.add({ at: first[0], len: first[1], cat: 'emoji_bullets', w: 2, fix: '- ', phrase: 'emoji' });
  }

  var BUZZ = {};
  'innovation collaboration agility clarity excellence integrity efficiency resilience transparency growth impact accountability empathy creativity scalable efficient robust reliable secure compelling authentic impactful concise clear engaging seamless dynamic strategic'.split(' ').forEach(function (w) { BUZZ[w] = 1; });

  function emojiAt(text, i) {
    var c = text.charCodeAt(i);
    var len = 0;
    if (c >= 0xd83c && c <= 0xd83e) len = 2;
    else if ((c >= 0x2600 && c <= 0x27bf) || c === 0x2b50 || c === 0x2705 || c === 0x2b06 || c === 0x27a1) len = 1;
    if (!len) return 0;
    if (text.charCodeAt(i + len) === 0xfe0f) len++;
    return len;
  }

  // The verdict reads e-mail quoting (a quoted line is someone else's
  // writing); the prompt rule asks again for its channel, which on chat
  // quotes nothing. Both answers are the same unless the draft quotes.
  var cache = { text: null, quoted: null, result: null };

  function analyse(text, channel) {
    text = String(text == null ? '' : text);
    var lower = lowerSame(text);
    var quotes = quotesOf(text, lower, channel);
    var quoted = quotes.from < text.length || quotes.spans.length > 0;
    if (cache.text === text && cache.quoted === quoted) return cache.result;
    var limit = Math.min(quotes.from, text.length);
    // Quoted lines are blanked for matching.
    var masked = lower;
    if (quotes.spans.length && quotes.spans[0][0] < limit) {
      var parts = [], from = 0;
      for (var i = 0; i < quotes.spans.length && quotes.spans[i][0] < limit; i++) {
        var sp = quotes.spans[i];
        parts.push(lower.slice(from, sp[0]), ' '.repeat(sp[1] - sp[0]));
        from = sp[1];
      }
      parts.push(lower.slice(from));
      masked = parts.join('');
    }
    var tk = tokenize(masked, limit);
    var hits = new Hits(text);
    structuralHits(text, masked, limit, tk, hits);
    var foreign = notEnglish(text.slice(0, limit), tk);
    if (!foreign) phraseHits(text, masked, tk, hits);
    var result = verdict(text, tk, hits.list, foreign);
    cache.text = text; cache.quoted = quoted; cache.result = result;
    return result;
  }

  function verdict(text, tk, list, foreign) {
    var points = {}, order = [], hard = false, strong = 0;
    var vocabSeen = {};
    var counted = [];
    for (var i = 0; i < list.length; i++) {
      var h = list[i];
      if (foreign && !h.prompt) continue;
      if (h.cat === 'ai_vocabulary') {
        if (vocabSeen[h.word]) { counted.push(h); continue; }
        vocabSeen[h.word] = 1;
      }
      if (h.hard) hard = true;
      if (isStrong(h)) strong++;
      if (points[h.cat] === undefined) { points[h.cat] = 0; order.push(h.cat); }
      points[h.cat] = Math.min(CATS[h.cat].cap, points[h.cat] + (h.hard ? 0 : h.w));
      counted.push(h);
    }
    var score = 0, distinct = 0;
    for (var c in points) { score += points[c]; if (points[c] > 0 || hard) distinct++; }
    var words = tk.count;
    var density = 100 * score / Math.max(words, 40);
    var level = 'human';
    if (hard || (score >= 6 && distinct >= 3 && density >= 4) || (score >= 5 && distinct >= 2 && density >= 10)) level = 'slop';
    else if ((score >= 3 && density >= 1.5) || isTraces(strong, counted.length, words)) level = 'traces';
    return { level: level, hits: counted, cats: order, score: score, words: words };
  }

  // Tells that people write too: openers, closers, dashes, linking words and
  // the commoner listed words. On their own they never make a draft read as
  // generated.
  var ORDINARY = { stock_opener: 1, helpful_closer: 1, em_dash: 1 };
  var LINKING = { additionally: 1, furthermore: 1, moreover: 1, notably: 1, 'in essence': 1, 'at its core': 1 };
  var COMMON_WORDS = {};
  ('crucial robust enhance enhances navigate navigating insights streamline streamlines streamlined streamlining ' +
    'leverage leveraging leveraged seamless seamlessly elevate elevates elevating empower empowers empowering ' +
    'resonate resonates foster fostering vibrant paramount nuanced invaluable utilize utilizes utilized utilizing ' +
    'utilise utilises utilised utilising landscape realm').split(' ').forEach(function (w) { COMMON_WORDS[w] = 1; });

  function isStrong(h) {
    if (ORDINARY[h.cat]) return false;
    if (h.cat === 'ai_vocabulary') return !COMMON_WORDS[h.word];
    return !(h.cat === 'signposting' && LINKING[h.phrase]);
  }

  // A few tells people rarely write: two of them, or one beside another tell,
  // at no less than one per hundred words.
  function isTraces(strong, tells, words) {
    if (100 * strong / Math.max(words, 40) < 1) return false;
    return strong >= 2 || (strong >= 1 && tells >= 2);
  }

  function detailFor(level, tells) {
    var head = level === 'slop' ? 'Reads as AI-written (' + tells + ' tells).' : 'A few AI traces.';
    return head + ' Reword it in your own voice, or fix this one in a click.';
  }

  function hitTitle(h, text) {
    var span = text.substr(h.at, h.len).replace(/\s+$/, '');
    if (span.length > 48) span = span.slice(0, 45) + '\u2026';
    return CATS[h.cat].title + ': \u201c' + span + '\u201d';
  }

  function occurrenceOf(text, original, at) {
    if (typeof KestrelRules === 'object' && KestrelRules && KestrelRules.occurrenceAt) return KestrelRules.occurrenceAt(text, original, at);
    var n = 0, from = 0, i;
    while ((i = text.indexOf(original, from)) >= 0) { if (i === at) return n; if (i > at) return -1; n++; from = i + original.length; }
    return -1;
  }

  function lint(text) {
    text = String(text == null ? '' : text);
    var r = analyse(text, 'email');
    var own = [];
    for (var i = 0; i < r.hits.length; i++) if (!r.hits[i].prompt) own.push(r.hits[i]);
    var findings = [];
    if (r.level !== 'human') {
      var level = r.level === 'slop' ? 'warn' : 'info';
      // One-click fixes first: the panel shows one row per rule.
      own.sort(function (a, b) {
        var fa = a.fix !== undefined ? 0 : 1, fb = b.fix !== undefined ? 0 : 1;
        return fa - fb || a.at - b.at;
      });
      for (var j = 0; j < own.length && findings.length < 30; j++) {
        var h = own[j];
        var original = text.substr(h.at, h.len);
        var f = { id: 'slop', level: level, title: hitTitle(h, text), detail: detailFor(r.level, r.hits.length), original: original };
        var k = occurrenceOf(text, original, h.at);
        f.occurrence = k < 0 ? 0 : k;
        if (h.fix !== undefined && k >= 0) f.suggestion = h.fix;
        findings.push(f);
      }
    }
    return { level: r.level, tells: r.hits.length, cats: r.cats, findings: findings };
  }

  var RESIDUE_TEXT = {
    placeholder: ['Template placeholder left in', 'Fill this in or remove it before sending.'],
    chatbot_residue: ['Text from an AI assistant left in', 'This line talks to whoever asked for the draft, not to your reader.'],
    knowledge_cutoff: ['AI self-reference left in', 'The draft still says it was written by an AI model.'],
    citation_artifact: ['Chat citation marker left in', 'Pasted from a chat assistant; the marker means nothing to your reader.'],
    helpful_closer: ['Assistant-style closer', 'A chat assistant\'s sign-off; a person rarely ends a message this way.']
  };

  // Spans of pasted assistant output, for the prompt rule, handed to `take` in
  // order. `wants(at, placeholder)` is asked first: a draft of thousands of
  // them makes no span that the rule has no room left to report.
  function residue(text, channel, wants, take) {
    text = String(text == null ? '' : text);
    var r = analyse(text, channel);
    for (var i = 0; i < r.hits.length; i++) {
      var h = r.hits[i];
      if (!h.prompt || h.quoted || !wants(h.at, !!h.placeholder)) continue;
      var t = RESIDUE_TEXT[h.cat] || RESIDUE_TEXT.chatbot_residue;
      take({ at: h.at, original: text.substr(h.at, h.len), title: t[0], detail: t[1],
        suggestion: h.fix, placeholder: !!h.placeholder });
    }
  }

  return { lint: lint, residue: residue };
})();
