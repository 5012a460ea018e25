'use strict';

const { ApiError } = require('./http');

const MAX_DEVICE_LENGTH = 100;

// What the desktop shell talks to: it announces itself, fetches the alerts
// not yet shown on the desktop and acknowledges each one it has shown.
function createDesktopService({ store, now = () => new Date() }) {
  function initialize(device) {
    const value = typeof device === 'string' && device !== '' ? device.slice(0, MAX_DEVICE_LENGTH) : null;
    store.update((d) => {
      d.desktop.initializedAt = now().toISOString();
      d.desktop.device = value;
      d.desktop.initializeCount += 1;
    });
  }

  // Pending alerts, oldest first: the order in which they were raised.
  function pending() {
    return store.read().alerts
      .filter((a) => !a.notifiedAt)
      .map((a) => ({
        id: a.id,
        messageTitle: a.messageTitle,
        messageBody: a.messageBody,
        sourceType: a.sourceType,
        sourceId: a.sourceId,
      }));
  }

  function markNotified(id) {
    const alert = store.read().alerts.find((a) => a.id === id);
    if (!alert) throw new ApiError(404, '没有该提醒');
    if (alert.notifiedAt) return; // already acknowledged: nothing to change
    store.update((d) => {
      d.alerts.find((a) => a.id === id).notifiedAt = now().toISOString();
    });
  }

  function info() {
    return { ...store.read().desktop };
  }

  return { initialize, pending, markNotified, info };
}

module.exports = { createDesktopService };
