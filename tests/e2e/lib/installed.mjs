// Exits 0 when every package of package.json is installed in node_modules at the pinned version.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const wanted = JSON.parse(fs.readFileSync(path.join(root, 'package.json'), 'utf8')).devDependencies;
for (const [name, version] of Object.entries(wanted)) {
  const file = path.join(root, 'node_modules', name, 'package.json');
  if (!fs.existsSync(file) || JSON.parse(fs.readFileSync(file, 'utf8')).version !== version) process.exit(1);
}
