'use strict';

(function () {
  const api = window.QuorvelApi;
  const $ = (id) => document.getElementById(id);
  // How often the page refreshes while it is seen. "?refreshMs=N" on the
  // page's address shortens it (100 – 15000 ms), for tests.
  const askedRefreshMs = Number(new URLSearchParams(window.location.search).get('refreshMs'));
  const REFRESH_MS = Number.isInteger(askedRefreshMs) && askedRefreshMs >= 100 && askedRefreshMs <= 15000
    ? askedRefreshMs : 15000;
  // While the service does not answer, the page tries again this often.
  const RETRY_MS = 3000;
  const PRICE_TEXT = /^\d+(\.\d+)?$/;
  const PROVIDERS = { tencent: '腾讯行情', offline: '离线演示行情' };
  const DIRECTIONS = { above: '高于', below: '低于' };
  let view = { watchlist: [], rules: [], alerts: [], status: null };
  // When the data on show was loaded, and since when loading it fails.
  const connection = { loadedAt: null, failingSince: null, error: null };

  // Builds an element; children may be strings, nodes, or null (skipped).
  function el(tag, props, ...children) {
    const node = document.createElement(tag);
    const { dataset, ...rest } = props || {};
    Object.assign(node, rest);
    if (dataset) Object.assign(node.dataset, dataset);
    for (const child of children) {
      if (child !== null && child !== undefined) node.append(child);
    }
    return node;
  }

  function price(n) {
    return typeof n === 'number' ? n.toFixed(3).replace(/0$/, '') : '—';
  }

  function signed(n, suffix) {
    if (typeof n !== 'number') return '—';
    return (n > 0 ? '+' : '') + price(n) + (suffix || '');
  }

  function trendClass(n) {
    return typeof n !== 'number' || n === 0 ? 'flat' : n > 0 ? 'up' : 'down';
  }

  // "2024-01-05T15:00:03+08:00" → "01-05 15:00:03" (the market's own time).
  function marketTime(iso) {
    return iso ? iso.slice(5, 19).replace('T', ' ') : '—';
  }

  function localTime(iso) {
    if (!iso) return '—';
    const d = new Date(iso);
    const pad = (n) => String(n).padStart(2, '0');
    return `${pad(d.getMonth() + 1)}-${pad(d.getDate())} ${pad(d.getHours())}:${pad(d.getMinutes())}:${pad(d.getSeconds())}`;
  }

  function stockLabel(symbol) {
    const item = view.watchlist.find((i) => i.symbol === symbol);
    return item && item.name ? `${item.name}（${symbol}）` : symbol;
  }

  function renderWatchlist() {
    const rows = view.watchlist.map((item) => {
      const q = item.quote;
      const trend = trendClass(q && q.change);
      const remove = el('button', { type: 'button', className: 'link danger', textContent: '删除' });
      remove.addEventListener('click', () => removeSymbol(item));
      return el('tr', { dataset: { symbol: item.symbol } },
        el('td', { className: 'code' }, item.symbol.toUpperCase(), el('span', { className: 'market', textContent: item.market })),
        el('td', { className: 'name', textContent: item.name || '（待同步）' }),
        el('td', { className: `num price ${trend}`, textContent: price(q && q.price) }),
        el('td', { className: `num ${trend}`, textContent: signed(q && q.change) }),
        el('td', { className: `num ${trend}`, textContent: signed(q && q.changePercent, '%') }),
        el('td', { className: 'time', textContent: marketTime(q && q.time), title: q ? `获取于 ${localTime(q.fetchedAt)}` : '' }),
        el('td', { className: 'actions' }, remove));
    });
    $('watch-body').replaceChildren(...rows);
    $('watch-empty').hidden = rows.length > 0;
    $('watch-count').textContent = rows.length ? String(rows.length) : '';

    const select = $('rule-symbol');
    const chosen = select.value;
    select.replaceChildren(...view.watchlist.map((item) =>
      el('option', { value: item.symbol, textContent: item.name ? `${item.name} ${item.symbol}` : item.symbol })));
    if (view.watchlist.some((i) => i.symbol === chosen)) select.value = chosen;
    select.disabled = view.watchlist.length === 0;
  }

  function renderRules() {
    const items = view.rules.map((rule) => {
      const remove = el('button', { type: 'button', className: 'link danger', textContent: '删除' });
      remove.addEventListener('click', () => removeRule(rule));
      const state = rule.armed
        ? el('span', { className: 'badge watching', textContent: '监控中' })
        : el('span', { className: 'badge fired', textContent: '已触发，待回落' });
      return el('li', { className: 'rule' },
        el('div', { className: 'main' },
          el('strong', { textContent: rule.name || rule.symbol }),
          el('span', { className: 'muted', textContent: ` ${rule.symbol}` }),
          el('div', { className: 'detail', textContent: `价格${rule.description}` })),
        state, remove);
    });
    $('rule-list').replaceChildren(...items);
    $('rule-empty').hidden = items.length > 0;
    $('rule-count').textContent = items.length ? String(items.length) : '';
  }

  function renderAlerts() {
    const items = view.alerts.map((a) => el('li', { className: `alert ${a.direction}` },
      el('div', { className: 'alert-head' },
        el('strong', { textContent: a.messageTitle }),
        el('span', { className: a.notifiedAt ? 'badge done' : 'badge pending', textContent: a.notifiedAt ? '已推送' : '待推送' })),
      el('div', { className: 'detail', textContent: a.messageBody }),
      el('div', { className: 'muted small', textContent: `触发于 ${localTime(a.raisedAt)}` })));
    $('alert-list').replaceChildren(...items);
    $('alert-empty').hidden = items.length > 0;
    $('alert-count').textContent = view.pendingCount ? `${view.pendingCount} 条待推送` : '';
  }

  function renderStatus() {
    const s = view.status;
    const provider = PROVIDERS[s.provider] || s.provider;
    let text = `行情源：${provider}`;
    if (s.sync.ok === false) text += ` · 上次同步失败：${s.sync.error}`;
    else if (s.sync.lastSuccessAt) text += ` · 上次同步 ${localTime(s.sync.lastSuccessAt)}`;
    else text += ' · 尚未同步';
    $('sync-status').textContent = text;
    $('sync-status').title = text;
    $('sync-status').classList.toggle('error', s.sync.ok === false);
    $('footer').textContent = `每 ${s.syncIntervalSeconds} 秒自动同步 · 邮件提醒：${s.email.detail}`;
  }

  // Problems the service reports, and the page's own when the service does
  // not answer; the data on show is then marked as out of date.
  function renderNotices() {
    const items = [];
    if (connection.failingSince) {
      let text = connection.error.unreachable
        ? `无法连接本地服务（自 ${localTime(connection.failingSince.toISOString())} 起）`
        : `本地服务出错：${connection.error.message}（自 ${localTime(connection.failingSince.toISOString())} 起）`;
      text += connection.loadedAt
        ? `，页面显示的是 ${localTime(connection.loadedAt.toISOString())} 的数据，可能已过期。正在自动重试…`
        : '。正在自动重试…';
      items.push(el('div', { className: 'notice error', id: 'connection-notice', textContent: text }));
    }
    const reported = view.status && Array.isArray(view.status.notices) ? view.status.notices : [];
    for (const text of reported) items.push(el('div', { className: 'notice', textContent: text }));
    $('notices').replaceChildren(...items);
    document.body.classList.toggle('stale', connection.failingSince !== null);
  }

  function render() {
    renderWatchlist();
    renderRules();
    renderAlerts();
    renderStatus();
  }

  // Refreshes may overlap (a timer, the window coming back, an action):
  // only the one asked for last may change what the page shows, so that an
  // answer arriving late cannot hide that the service has stopped since.
  let refreshesAsked = 0;

  async function refresh() {
    const asked = ++refreshesAsked;
    let data;
    try {
      data = await api.get('/api/overview');
    } catch (err) {
      if (asked !== refreshesAsked) return;
      if (!connection.failingSince) connection.failingSince = new Date();
      connection.error = err;
      renderNotices();
      throw err;
    }
    if (asked !== refreshesAsked) return;
    connection.failingSince = null;
    connection.loadedAt = new Date();
    view = { watchlist: data.watchlist, rules: data.rules, alerts: data.alerts, pendingCount: data.pendingCount, status: data.status };
    render();
    renderNotices();
  }

  // Refreshes now and then, more often while the service does not answer.
  // A refresh that ends after a newer one was asked for leaves that one's
  // timer alone. While the page is hidden (the window closed) the timer
  // ends the chain; showing the page starts it again.
  let refreshTimer = null;
  function refreshSoon(delayMs) {
    clearTimeout(refreshTimer);
    const timer = setTimeout(async () => {
      if (document.visibilityState === 'hidden') return;
      await quietly(refresh);
      if (refreshTimer === timer) refreshSoon(connection.failingSince ? RETRY_MS : REFRESH_MS);
    }, delayMs);
    refreshTimer = timer;
  }

  async function quietly(task) {
    try { await task(); } catch (err) { /* shown by the next refresh */ }
  }

  async function addSymbol(event) {
    event.preventDefault();
    const input = $('symbol-input');
    const text = input.value.trim();
    if (!text) {
      window.alert('请输入股票代码，例如 sh600519、sz000001 或 hk00700。');
      return;
    }
    try {
      await api.post('/api/watchlist', { symbol: text });
    } catch (err) {
      window.alert(`添加失败：${err.message}`);
      return;
    }
    input.value = '';
    await quietly(refresh);
    // Fetch the new code's quote right away; a failure shows in the status line.
    await quietly(() => api.post('/api/quotes/sync'));
    await quietly(refresh);
  }

  async function removeSymbol(item) {
    const ruleCount = view.rules.filter((r) => r.symbol === item.symbol).length;
    let question = `确定从自选中删除 ${stockLabel(item.symbol)} 吗？`;
    if (ruleCount) question += `\n它的 ${ruleCount} 条提醒规则也会一并删除。`;
    if (!window.confirm(question)) return;
    try {
      await api.del(`/api/watchlist/${encodeURIComponent(item.symbol)}`);
    } catch (err) {
      window.alert(`删除失败：${err.message}`);
    }
    await quietly(refresh);
  }

  async function addRule(event) {
    event.preventDefault();
    const symbol = $('rule-symbol').value;
    if (!symbol) {
      window.alert('请先添加自选股，再设置提醒规则。');
      return;
    }
    const direction = $('rule-direction').value;
    const item = view.watchlist.find((i) => i.symbol === symbol);
    const current = item && item.quote ? price(item.quote.price) : '';
    const answer = window.prompt(
      `${stockLabel(symbol)} 价格${DIRECTIONS[direction]}多少时提醒？请输入价格（${item ? item.currency : '元'}）：`, current);
    if (answer === null) return;
    // Plain decimals only, as the service takes them: no "0x10", no "1e3".
    const text = answer.trim();
    if (!PRICE_TEXT.test(text) || !(Number(text) > 0)) {
      window.alert(`“${answer}”不是有效的价格，请输入大于 0 的数字，例如 1800 或 9.5。`);
      return;
    }
    try {
      await api.post('/api/rules', { symbol, direction, price: text });
    } catch (err) {
      window.alert(`添加规则失败：${err.message}`);
      return;
    }
    await quietly(refresh);
  }

  async function removeRule(rule) {
    if (!window.confirm(`确定删除提醒规则“${stockLabel(rule.symbol)} 价格${rule.description}”吗？`)) return;
    try {
      await api.del(`/api/rules/${encodeURIComponent(rule.id)}`);
    } catch (err) {
      window.alert(`删除失败：${err.message}`);
    }
    await quietly(refresh);
  }

  async function syncNow() {
    const button = $('sync-button');
    button.disabled = true;
    button.textContent = '同步中…';
    try {
      const result = await api.post('/api/quotes/sync');
      let message = `行情已同步：更新 ${result.updated} 只股票。`;
      if (result.missing.length) {
        message += `\n未取得行情：${result.missing.map((m) => `${m.symbol}（${m.reason}）`).join('、')}。`;
      }
      if (result.alertsRaised) message += `\n触发 ${result.alertsRaised} 条价格提醒。`;
      await quietly(refresh);
      window.alert(message);
    } catch (err) {
      await quietly(refresh);
      window.alert(`同步行情失败：${err.message}`);
    } finally {
      button.disabled = false;
      button.textContent = '同步行情';
    }
  }

  $('add-symbol-form').addEventListener('submit', addSymbol);
  $('add-rule-form').addEventListener('submit', addRule);
  $('sync-button').addEventListener('click', syncNow);

  // Coming back to the window shows the latest data at once.
  window.addEventListener('focus', () => refreshSoon(0));
  document.addEventListener('visibilitychange', () => {
    if (document.visibilityState === 'visible') refreshSoon(0);
  });

  refresh()
    .catch((err) => {
      $('sync-status').textContent = `加载失败：${err.message}`;
      $('sync-status').classList.add('error');
    })
    .finally(() => {
      // Tell the service how long the page took to become usable.
      quietly(() => api.post('/api/page-loaded', { loadMs: Math.round(performance.now()) }));
      refreshSoon(connection.failingSince ? RETRY_MS : REFRESH_MS);
    });
})();
