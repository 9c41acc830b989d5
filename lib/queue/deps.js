'use strict';
// The queue's two dependencies, BullMQ and its Redis client, loaded only when
// a queue or a worker is made, so that a project that never uses the queue
// neither installs nor loads them.

// The module `name`, or an error saying which package to install.
function need(name) {
  try {
    return require(name);
  } catch (error) {
    if (error.code !== 'MODULE_NOT_FOUND' || !String(error.message).includes(`'${name}'`)) throw error;
    throw new Error(`zel queue: the "${name}" package is needed for createQueue and createWorker; ` +
      'install it with "npm install bullmq ioredis"', { cause: error });
  }
}

// BullMQ's exports, once its Redis client is known to be there.
function bullmq() {
  need('ioredis');
  return need('bullmq');
}

// BullMQ connection options from a redis:// or rediss:// URL, or the options
// object the caller gave as is. Throws a TypeError on anything else.
function connectionOptions(connection) {
  if (connection !== null && typeof connection === 'object') return connection;
  if (typeof connection !== 'string') {
    throw new TypeError('connection must be a redis:// URL or an object of connection options');
  }
  let url;
  try {
    url = new URL(connection);
  } catch {
    throw new TypeError(`connection is not a URL: ${connection}`);
  }
  if (url.protocol !== 'redis:' && url.protocol !== 'rediss:') {
    throw new TypeError(`connection must be a redis:// or rediss:// URL, not ${url.protocol}`);
  }
  const options = { host: url.hostname || '127.0.0.1', port: Number(url.port || 6379) };
  if (url.username) options.username = decodeURIComponent(url.username);
  if (url.password) options.password = decodeURIComponent(url.password);
  const db = url.pathname.replace(/^\//, '');
  if (db !== '') options.db = Number(db);
  if (url.protocol === 'rediss:') options.tls = {};
  return options;
}

function checkQueueName(queue) {
  if (typeof queue !== 'string' || !/^[\w.-]+$/.test(queue)) {
    throw new TypeError('queue must be a name of letters, digits, "_", "." or "-"');
  }
}

module.exports = { bullmq, connectionOptions, checkQueueName };
