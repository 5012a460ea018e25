'use strict';

const { createTencentProvider } = require('./tencent');
const { createOfflineProvider } = require('./offline');
const { ProviderError } = require('./errors');

function failingProvider(name, message) {
  return {
    name,
    problem: message,
    async fetchQuotes() {
      throw new ProviderError(message);
    },
  };
}

// Picks the quote source named by QUOTE_PROVIDER. An unknown name or a bad
// address gives a source whose every sync fails with a clear message, so a
// typo in the settings shows up on the page instead of stopping the service.
function createProvider(config) {
  switch (config.quoteProvider) {
    case 'tencent':
      try {
        return createTencentProvider({ baseUrl: config.tencentUrl, timeoutMs: config.quoteTimeoutMs });
      } catch {
        return failingProvider('tencent', `行情地址无效：${config.tencentUrl}`);
      }
    case 'offline':
      return createOfflineProvider();
    default:
      return failingProvider(config.quoteProvider, `不支持的行情源：${config.quoteProvider}`);
  }
}

module.exports = { createProvider, ProviderError };
