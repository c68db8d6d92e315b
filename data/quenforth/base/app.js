// The base skin's live layer. Without it every control is a plain link or form that reloads the page;
// with it the same links and forms are sent to status.json, whose answer (the player's state after the
// command) updates the page in place, and status.json is polled about once a second.
(function () {
  'use strict';

  var POLL_MS = 1000;
  var HIDDEN_POLL_MS = 5000;
  var root = document.documentElement;
  root.classList.add('js');

  var lastSignature = null;
  var lastArt = null;
  var timer = null;
  var busy = false;

  function $(selector, scope) { return (scope || document).querySelector(selector); }
  function $all(selector, scope) { return Array.prototype.slice.call((scope || document).querySelectorAll(selector)); }

  // The page's own character set decodes what the server sends: texts are bytes of its code page.
  function decode(response) {
    return response.arrayBuffer().then(function (buffer) {
      return new TextDecoder(document.characterSet || 'windows-1252').decode(buffer);
    });
  }

  // The refusal texts are markup made by the server (lines ending in </br>); they are shown as text only.
  function plainText(markup) {
    var parsed = new DOMParser().parseFromString('<p>' + markup.replace(/<\/?br\s*\/?>/gi, '\n') + '</p>', 'text/html');
    return parsed.body.textContent.replace(/\n+$/, '');
  }

  function showError(markup) {
    var box = $('#error');
    if (box) box.textContent = markup ? plainText(markup) : '';
  }

  var noticeTimer = null;
  function notice(text) {
    var box = $('#notice');
    if (!box) return;
    box.textContent = text;
    clearTimeout(noticeTimer);
    noticeTimer = setTimeout(function () { box.textContent = ''; }, 4000);
  }

  // ---- The state.

  function apply(state) {
    document.body.setAttribute('data-state', state.status);
    $all('[data-live]').forEach(function (element) {
      var key = element.getAttribute('data-live');
      if (!(key in state)) return;
      var text = String(state[key]).trim();
      if (element.textContent !== text) element.textContent = text;
    });
    $all('input[data-live-value]').forEach(function (input) {
      var key = input.getAttribute('data-live-value');
      if (!(key in state) || input.dataset.sending || Date.now() - (Number(input.dataset.touched) || 0) < 1500) return;
      if (String(input.value) !== String(state[key])) input.value = state[key];
    });
    $all('[data-live-on]').forEach(function (element) {
      element.setAttribute('data-on', state[element.getAttribute('data-live-on')] ? 'true' : 'false');
    });
    var seek = $('#seek');
    if (seek) seek.setAttribute('aria-valuetext', state.elapsed + ' of ' + state.length);
    var cover = $('#cover');
    if (cover && state.art !== lastArt) {
      lastArt = state.art;
      cover.src = state.art;
    }
    if (document.body.classList.contains('page-now') && state.title) document.title = state.title + ' - Quenforth';
    var signature = [state.index, state.tracks, state.total, state.window].join('|');
    if (signature !== lastSignature) refreshList();
    lastSignature = signature;
    markCurrent(parseInt(state.index, 10));
  }

  function markCurrent(index) {
    $all('#pl-list li.track').forEach(function (item) {
      var current = parseInt(item.getAttribute('data-index'), 10) === index;
      item.classList.toggle('current', current);
      if (current) item.setAttribute('aria-current', 'true');
      else item.removeAttribute('aria-current');
    });
  }

  function fetchStatus(query) {
    return fetch('status.json' + (query || ''), { cache: 'no-store', credentials: 'same-origin' }).then(function (response) {
      if (!response.ok) throw new Error('status ' + response.status);
      return response.json();
    });
  }

  function poll() {
    clearTimeout(timer);
    if (busy) return schedule();
    busy = true;
    fetchStatus('').then(function (state) {
      root.classList.remove('offline');
      apply(state);
    }, function () {
      root.classList.add('offline');
    }).then(function () {
      busy = false;
      schedule();
    });
  }

  function schedule() {
    clearTimeout(timer);
    timer = setTimeout(poll, document.hidden ? HIDDEN_POLL_MS : POLL_MS);
  }

  // Sends a command (a query text beginning with "?") and shows the state it leaves.
  function command(query, refresh, done) {
    return fetchStatus(query).then(function (state) {
      apply(state);
      showError(state.error);
      if (!state.error && done) notice(done);
      if (refresh) refreshList();
    }, function () {
      root.classList.add('offline');
    });
  }

  // ---- The playlist on the page.

  var listRequest = 0;
  function refreshList() {
    var list = $('#pl-list');
    if (!list || !list.getAttribute('data-fragment')) return;
    var filter = list.getAttribute('data-filter');
    var url = list.getAttribute('data-fragment') + (filter ? '?search_playlist_string=' + filter : '');
    var request = ++listRequest;
    fetch(url, { cache: 'no-store', credentials: 'same-origin' }).then(decode).then(function (html) {
      if (request !== listRequest) return;
      var focused = document.activeElement && list.contains(document.activeElement) ? document.activeElement.getAttribute('href') : null;
      list.innerHTML = html;
      if (focused) {
        var again = list.querySelector('a[href="' + focused.replace(/"/g, '\\"') + '"]');
        if (again) again.focus();
      }
      pagePlaylist();
    }, function () {});
  }

  // The whole playlist in pages: the page holding the current track first.
  var playlistPage = null;
  function pagePlaylist() {
    var list = $('#pl-list');
    var pager = $('#pl-pager');
    if (!list || !pager) return;
    var size = parseInt(list.getAttribute('data-page-size'), 10) || 25;
    var items = $all('li.track', list);
    var pages = Math.max(1, Math.ceil(items.length / size));
    if (playlistPage === null) {
      var current = items.findIndex(function (item) { return item.classList.contains('current'); });
      playlistPage = current < 0 ? 0 : Math.floor(current / size);
    }
    playlistPage = Math.min(Math.max(playlistPage, 0), pages - 1);
    items.forEach(function (item, i) { item.hidden = Math.floor(i / size) !== playlistPage; });
    pager.hidden = pages < 2;
    pager.innerHTML = '';
    function button(label, page, disabled) {
      var b = document.createElement('button');
      b.type = 'button';
      b.textContent = label;
      b.disabled = disabled;
      b.addEventListener('click', function () { playlistPage = page; pagePlaylist(); });
      pager.appendChild(b);
    }
    button('Previous page', playlistPage - 1, playlistPage === 0);
    var where = document.createElement('span');
    where.textContent = 'Page ' + (playlistPage + 1) + ' of ' + pages;
    pager.appendChild(where);
    button('Next page', playlistPage + 1, playlistPage >= pages - 1);
  }

  // ---- The media library's pages and query builder.

  function pageLibrary() {
    var pager = $('#ml-pager');
    if (!pager) return;
    var results = parseInt(($('[data-ml-results]') || {}).textContent, 10) || 0;
    var size = 20;
    var pages = Math.max(1, Math.ceil(results / size));
    var page = Math.min(parseInt(pager.getAttribute('data-page'), 10) || 0, pages - 1);
    // The search texts come URL-encoded by the server, in the page's own character set.
    var base = 'library.html?search_ml=' + (pager.getAttribute('data-search') || '') +
      '&query=' + (pager.getAttribute('data-query') || '') + '&ml_page=';
    pager.innerHTML = '';
    function link(label, target, disabled) {
      var a = document.createElement(disabled ? 'span' : 'a');
      a.className = 'button';
      a.textContent = label;
      if (!disabled) a.href = base + target;
      pager.appendChild(a);
    }
    link('Previous page', page - 1, page <= 0);
    var where = document.createElement('span');
    where.textContent = 'Page ' + (page + 1) + ' of ' + pages;
    pager.appendChild(where);
    link('Next page', page + 1, page >= pages - 1);
    pager.hidden = results === 0;
    $all('.nojs-pager').forEach(function (element) { element.hidden = true; });
  }

  function buildQueries() {
    var form = $('#ml-query-form');
    if (!form) return;
    var builder = $('.builder', form);
    builder.hidden = false;
    form.addEventListener('submit', function () {
      var value = $('#q-value').value.replace(/"/g, '').trim();
      if (value) $('#ml-query').value = $('#q-field').value + ' HAS "' + value + '"';
    });
  }

  // ---- Links and forms.

  document.addEventListener('click', function (event) {
    var link = event.target.closest && event.target.closest('a[data-cmd]');
    if (!link || event.defaultPrevented || event.button !== 0 || event.ctrlKey || event.metaKey || event.shiftKey) return;
    event.preventDefault();
    command(link.search, link.getAttribute('data-cmd') === 'list', link.getAttribute('data-done'));
  });

  function formQuery(form, only) {
    var parts = [];
    $all('input[name], select[name]', form).forEach(function (input) {
      if (only && input !== only) return;
      if ((input.type === 'checkbox' || input.type === 'radio') && !input.checked) return;
      parts.push(encodeURIComponent(input.name) + '=' + encodeURIComponent(input.value));
    });
    return '?' + parts.join('&');
  }

  $all('form[data-cmd]').forEach(function (form) {
    form.addEventListener('submit', function (event) {
      event.preventDefault();
      command(formQuery(form), false);
    });
    $all('input[type=range]', form).forEach(function (input) {
      // A slider in the hand is not moved by the polled state, nor while its value is on the way.
      function touched() { input.dataset.touched = String(Date.now()); }
      input.addEventListener('input', touched);
      input.addEventListener('pointerdown', touched);
      input.addEventListener('change', function () {
        touched();
        input.dataset.sending = '1';
        command(formQuery(form, input), false).then(function () {
          delete input.dataset.sending;
          touched();
        });
      });
    });
  });

  document.addEventListener('visibilitychange', function () { if (!document.hidden) poll(); });

  pagePlaylist();
  pageLibrary();
  buildQueries();
  poll();
})();
