// tavio32 serve: the page's language. English is in the page; others come
// as catalogs (de.json, from po/page/de.po). The choice: the page's (kept),
// else the browser's first that the page has, else English. While a catalog
// comes the body is hidden: no English shown, then replaced.
'use strict';

(function () {
  const KEY = 'tavio32.language';
  const LANGUAGES = ['en', 'de'];
  const root = document.documentElement;
  const catalogs = { en: {} };
  const english = new WeakMap(); // text node or element -> its English text
  const listeners = [];
  let lang = 'en', patterns = [], numbers = {};

  function chosen() {
    let kept = null;
    try { kept = localStorage.getItem(KEY); } catch (e) { kept = null; }
    if (LANGUAGES.includes(kept)) return kept;
    for (const l of navigator.languages || [navigator.language || 'en']) {
      const primary = String(l).toLowerCase().split('-')[0];
      if (LANGUAGES.includes(primary)) return primary;
    }
    return 'en';
  }

  function load(l) {
    if (catalogs[l]) return Promise.resolve(catalogs[l]);
    return fetch(l + '.json', { credentials: 'same-origin' })
      .then((r) => (r.ok ? r.json() : Promise.reject(new Error(r.status))))
      .then((c) => (catalogs[l] = c));
  }

  // "{name}" in a text: filled in from args.
  function fill(text, args) {
    return args ? text.replace(/\{(\w+)\}/g, (m, k) => (args[k] !== undefined ? String(args[k]) : m)) : text;
  }
  // The page's own texts: _('Recording {pct} %', { pct: 40 }).
  function _(msgid, args) {
    const c = catalogs[lang] || {};
    return fill(c[msgid] || msgid, args);
  }
  // The gettext marker of a text translated later (by localize).
  function N_(msgid) { return msgid; }

  function escape(s) { return s.replace(/[.*+?^$()|[\]\\]/g, '\\$&'); }
  // Texts with placeholders as patterns that match what they become, so that
  // a text made in English (the server's errors) is found in the catalog.
  function makePatterns() {
    const c = catalogs[lang] || {};
    patterns = Object.keys(c).filter((id) => /\{\w+\}/.test(id) && /[^{}\s\w]|\w\w/.test(id.replace(/\{\w+\}/g, '')))
      .map((id) => {
        const names = [];
        const re = escape(id).replace(/\\?\{(\w+)\\?\}/g, (m, k) => { names.push(k); return '(.+?)'; });
        return { re: new RegExp('^' + re + '$'), names, msgstr: c[id] };
      })
      .sort((a, b) => b.re.source.length - a.re.source.length); // the most specific first
  }
  // An English text, the page's or the server's, in the page's language:
  // as a whole, else by a pattern (whose parts are translated too), else as it is.
  function localize(text) {
    if (!text || lang === 'en') return text || '';
    const c = catalogs[lang] || {};
    if (c[text]) return c[text];
    for (const p of patterns) {
      const m = p.re.exec(text);
      if (!m) continue;
      const args = {};
      p.names.forEach((k, i) => { args[k] = localize(m[i + 1]); });
      return fill(p.msgstr, args);
    }
    return text;
  }

  // Numbers in the page's language (a decimal comma in German), without
  // thousands separators: measurements, not sums of money.
  function number(v, digits) {
    const k = lang + '/' + digits;
    if (!numbers[k]) {
      numbers[k] = new Intl.NumberFormat(lang, digits === undefined ? { maximumFractionDigits: 4, useGrouping: false }
        : { minimumFractionDigits: digits, maximumFractionDigits: digits, useGrouping: false });
    }
    return numbers[k].format(v);
  }

  // The page's fixed texts: elements marked data-i18n, their own text and
  // their aria-label, title and placeholder.
  function translatePage() {
    document.querySelectorAll('[data-i18n]').forEach((el) => {
      el.childNodes.forEach((n) => {
        if (n.nodeType !== Node.TEXT_NODE || !n.nodeValue.trim()) return;
        if (!english.has(n)) english.set(n, n.nodeValue);
        const en = english.get(n), core = en.trim();
        n.nodeValue = en.replace(core, _(core));
      });
      ['aria-label', 'title', 'placeholder'].forEach((a) => {
        if (!el.hasAttribute(a)) return;
        const k = a + '@';
        let saved = english.get(el);
        if (!saved) english.set(el, saved = {});
        if (!(k in saved)) saved[k] = el.getAttribute(a);
        el.setAttribute(a, _(saved[k]));
      });
    });
    const pick = document.getElementById('lang');
    if (pick) pick.value = lang;
  }

  function apply(l) {
    lang = l;
    root.lang = l;
    makePatterns();
    if (document.body) translatePage();
    listeners.forEach((f) => f(l));
  }
  // The page's choice: kept, and applied at once (no reload).
  function use(l) {
    if (!LANGUAGES.includes(l)) return Promise.resolve();
    try { localStorage.setItem(KEY, l); } catch (e) { /* private mode: this page only */ }
    return load(l).then(() => apply(l), () => apply('en'));
  }

  const first = chosen();
  if (first !== 'en') root.classList.add('translating');
  const ready = load(first).then(() => first, () => 'en').then((l) => new Promise((done) => {
    const go = () => { apply(l); root.classList.remove('translating'); done(l); };
    if (document.readyState === 'loading') document.addEventListener('DOMContentLoaded', go);
    else go();
  }));
  // A catalog that does not come leaves English.
  setTimeout(() => root.classList.remove('translating'), 3000);

  window.tavio32i18n = {
    _, N_, fill, localize, number, use, ready,
    get lang() { return lang; },
    onChange(f) { listeners.push(f); },
  };
})();
