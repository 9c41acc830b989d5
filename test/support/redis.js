'use strict';
// A real Redis for the queue's tests: the one ZEL_TEST_REDIS_URL names (as
// .ci/run starts), else a redis-server started here on a free loopback port
// with a data folder of its own, else none, with the reason to skip.
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { once } = require('node:events');
const { spawn, spawnSync } = require('node:child_process');

const pause = (ms) => new Promise((r) => setTimeout(r, ms));

// Whether the server at `port` answers PING.
const pong = (port) => new Promise((resolve) => {
  const socket = net.connect(port, '127.0.0.1', () => socket.write('PING\r\n'));
  socket.on('data', (d) => { socket.destroy(); resolve(String(d).startsWith('+PONG')); });
  socket.on('error', () => resolve(false));
});

// { url, stop } for a Redis to test against, or { skip: reason }.
async function testRedis() {
  if (process.env.ZEL_TEST_REDIS_URL) return { url: process.env.ZEL_TEST_REDIS_URL, stop: async () => {} };
  if (spawnSync('redis-server', ['--version']).error) {
    return { skip: 'no Redis: set ZEL_TEST_REDIS_URL or put redis-server on PATH (bash .ci/run does)' };
  }
  const probe = net.createServer().listen(0, '127.0.0.1');
  await once(probe, 'listening');
  const { port } = probe.address();
  await new Promise((resolve) => probe.close(resolve));
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'zel-redis-'));
  const server = spawn('redis-server', ['--port', String(port), '--bind', '127.0.0.1', '--dir', dir,
    '--appendonly', 'yes', '--save', '', '--maxmemory-policy', 'noeviction'], { stdio: 'ignore' });
  const stop = async () => {
    if (server.exitCode === null) await new Promise((resolve) => { server.once('exit', resolve); server.kill('SIGTERM'); });
    fs.rmSync(dir, { recursive: true, force: true });
  };
  let up = false;
  for (let i = 0; i < 100 && !up; i++) up = (await pong(port)) || (await pause(50), false);
  if (!up) {
    await stop();
    return { skip: 'redis-server did not start' };
  }
  return { url: `redis://127.0.0.1:${port}`, stop };
}

// A BullMQ queue of the test's own on `url`, to add jobs as is and watch them.
const rawQueue = (url, name) => new (require('bullmq').Queue)(name, {
  connection: { host: new URL(url).hostname, port: Number(new URL(url).port) } });

module.exports = { testRedis, rawQueue, pause };
