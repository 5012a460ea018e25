'use strict';

// A quote source could not be reached or gave an answer that cannot be used.
class ProviderError extends Error {
  constructor(message, options) {
    super(message, options);
    this.name = 'ProviderError';
  }
}

module.exports = { ProviderError };
