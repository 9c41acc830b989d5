'use strict';
// A real Redis for the queue's tests: the one ZEL_TEST_REDIS_URL names (as
// .ci/run starts), else a redis-server started here on a free loopback port
// with a data folder of its own, else none, with the reason to skip.
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { spawn, spawnSync } = require('node:child_process');

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer().listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    }).on('error', reject);
  });
}

// Resolves once the server at `port` answers PING, trying for a few seconds.
async function answers(port) {
  for (let i = 0; i < 100; i++) {
    const pong = await new Promise((resolve) => {
      const socket = net.connect(port, '127.0.0.1', () => socket.write('PING\r\n'));
      socket.on('data', (d) => { socket.destroy(); resolve(String(d).startsWith('+PONG')); });
      socket.on('error', () => resolve(false));
    });
    if (pong) return true;
    await new Promise((r) => setTimeout(r, 50));
  }
  return false;
}

// { url, stop } for a Redis to test against, or { skip: reason }.
async function testRedis() {
  if (process.env.ZEL_TEST_REDIS_URL) return { url: process.env.ZEL_TEST_REDIS_URL, stop: async () => {} };
  if (spawnSync('redis-server', ['--version']).error) {
    return { skip: 'no Redis: set ZEL_TEST_REDIS_URL or put redis-server on PATH (bash .ci/run does)' };
  }
  const port = await freePort();
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-redis-'));
  const server = spawn('redis-server', ['--port', String(port), '--bind', '127.0.0.1', '--dir', dir,
    '--appendonly', 'yes', '--save', '', '--maxmemory-policy', 'noeviction'], { stdio: 'ignore' });
  const stop = async () => {
    if (server.exitCode === null) {
      await new Promise((resolve) => { server.once('exit', resolve); server.kill('SIGTERM'); });
    }
    fs.rmSync(dir, { recursive: true, force: true });
  };
  if (!(await answers(port))) {
    await stop();
    return { skip: 'redis-server did not start' };
  }
  return { url: `redis://127.0.0.1:${port}`, stop };
}

module.exports = { testRedis };
