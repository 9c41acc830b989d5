'use strict';
// ZelError: a C++ exception thrown by a module (or the engine) during a
// promise API or pool call. A file of its own, so that the package's entry
// can export the class without loading the promise API.
class ZelError extends Error {
  constructor(message, { code, modulePath = null, line = null } = {}) {
    super(message);
    this.name = 'ZelError';
    this.code = code;
    this.modulePath = modulePath;
    this.line = line;
  }
}

module.exports = { ZelError };
