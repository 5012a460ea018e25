'use strict';

const fs = require('fs');
const path = require('path');

const LOG_NAME = 'alert-emails.log';

// Delivers an e-mail copy of each raised alert. The local service sends no
// mail itself: in "log" mode each message becomes one JSON line in a log
// file in the data folder; "off" (or "none") delivers nothing; any other
// mode (the mail services named in the settings) is reported as not
// configured here.
function createMailer(config) {
  const mode = config.emailMode;
  const file = path.join(config.dataDir, LOG_NAME);

  function status() {
    if (mode === 'log') return { mode, ready: true, detail: `写入 ${LOG_NAME}` };
    if (mode === 'off' || mode === 'none' || mode === '') return { mode, ready: false, detail: '已关闭' };
    return { mode, ready: false, detail: '本地服务未配置该发送方式' };
  }

  // Returns a short delivery status for the alert record.
  function deliver(alert) {
    if (mode !== 'log') return 'skipped';
    const line = JSON.stringify({
      time: alert.raisedAt,
      alertId: alert.id,
      to: config.emailTo || null,
      from: config.emailFrom || null,
      subject: alert.messageTitle,
      body: alert.messageBody,
    });
    try {
      fs.appendFileSync(file, `${line}\n`, { mode: 0o600 });
      return 'logged';
    } catch (err) {
      process.stderr.write(`mail log: ${err.message}\n`);
      return 'failed';
    }
  }

  return { status, deliver, file };
}

module.exports = { createMailer, LOG_NAME };
