// Starts the real quenforth on a prefix made for one test file, serving on a free port of 127.0.0.1 only,
// and always stops it.

import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
export const checkout = path.resolve(here, '../../..');
export const quenforthBinary = process.env.QF_QUENFORTH || path.join(checkout, 'build/linux/host/quenforth');

export const MUSIC = 'C:\\Users\\Quenforth\\Music';

function run(args) {
  return execFileSync(quenforthBinary, args, { encoding: 'latin1', timeout: 60_000 });
}

export class Quenforth {
  // settings: [name, value] pairs for `quenforth config set`; users: [login, password, ...options] for
  // `quenforth user add`; prepare(prefix, dataFolder) may change the prefix's files before the start.
  constructor({ settings = [], users = [], prepare } = {}) {
    this.prefix = fs.mkdtempSync(path.join(os.tmpdir(), 'quenforth-e2e-'));
    run(['install', '--prefix', this.prefix]);
    for (const [name, value] of [['bindLocal', '1'], ['RootDirectory', MUSIC], ...settings])
      run(['config', '--prefix', this.prefix, 'set', name, value]);
    for (const user of users) run(['user', '--prefix', this.prefix, 'add', ...user]);
    if (prepare) prepare(this.prefix, this.dataFolder);
  }

  get dataFolder() { return path.join(this.prefix, 'drive_c/Program Files/Winamp/Plugins/quenforth'); }
  get musicFolder() { return path.join(this.prefix, 'drive_c/Users/Quenforth/Music'); }

  // Starts the player and waits until it serves; the URL of its root.
  async start(timeoutMs = 30_000) {
    this.output = '';
    this.process = spawn(quenforthBinary, ['run', '--prefix', this.prefix, '--port', '0'], { stdio: ['ignore', 'pipe', 'pipe'] });
    this.exited = new Promise((resolve) => this.process.on('exit', (code, signal) => resolve({ code, signal })));
    const port = await new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error('quenforth did not serve in time:\n' + this.output)), timeoutMs);
      const take = (chunk) => {
        this.output += chunk.toString('latin1');
        const serving = /Quenforth: serving http:\/\/[^:/]+:(\d+)\//.exec(this.output);
        if (serving) {
          clearTimeout(timer);
          resolve(Number(serving[1]));
        }
      };
      this.process.stdout.on('data', take);
      this.process.stderr.on('data', take);
      this.exited.then(() => { clearTimeout(timer); reject(new Error('quenforth ended:\n' + this.output)); });
    });
    this.url = `http://127.0.0.1:${port}/`;
    return this.url;
  }

  // A request of this test itself, outside the browser (another client of the same player).
  async get(pathAndQuery, { user, password } = {}) {
    const headers = {};
    if (user) headers.authorization = 'Basic ' + Buffer.from(`${user}:${password}`, 'latin1').toString('base64');
    const response = await fetch(new URL(pathAndQuery, this.url), { headers, signal: AbortSignal.timeout(15_000) });
    return { status: response.status, text: Buffer.from(await response.arrayBuffer()).toString('latin1') };
  }

  async status(options) {
    const answer = await this.get('/status.json', options);
    return JSON.parse(answer.text);
  }

  // SIGTERM closes the player as the real one closes; SIGKILL after a deadline, and the prefix goes.
  async stop(timeoutMs = 30_000) {
    if (this.process && this.process.exitCode === null && this.process.signalCode === null) {
      this.process.kill('SIGTERM');
      const ended = await Promise.race([this.exited, new Promise((resolve) => setTimeout(resolve, timeoutMs, null))]);
      if (!ended) {
        this.process.kill('SIGKILL');
        await this.exited;
      }
    }
    fs.rmSync(this.prefix, { recursive: true, force: true });
  }
}
