'use strict';

const crypto = require('crypto');
const fs = require('fs');
const path = require('path');

// Temporary files of atomic writes are named "." + target + ".tmp-" + a
// random tag.

// Writes text to file so that a reader (or the next start after a crash or
// a kill) sees either the old content or the new one, never a mix: the text
// goes to a temporary file in the same folder, is flushed to disk, and then
// replaces the target by rename; the folder is flushed so the rename lasts.
// The temporary file gets an unguessable name and is created exclusively,
// so nothing planted at its name (a symlink, say) is followed or replaced.
function writeFileAtomic(file, text) {
  const dir = path.dirname(file);
  const temp = path.join(dir, `.${path.basename(file)}.tmp-${crypto.randomBytes(8).toString('hex')}`);
  const fd = fs.openSync(temp, 'wx', 0o600);
  try {
    fs.writeSync(fd, text);
    fs.fsyncSync(fd);
  } catch (err) {
    fs.closeSync(fd);
    fs.rmSync(temp, { force: true });
    throw err;
  }
  fs.closeSync(fd);
  try {
    fs.renameSync(temp, file);
  } catch (err) {
    fs.rmSync(temp, { force: true });
    throw err;
  }
  try {
    const dirFd = fs.openSync(dir, 'r');
    try { fs.fsyncSync(dirFd); } finally { fs.closeSync(dirFd); }
  } catch {
    // Some file systems refuse to sync a directory; the rename still stands.
  }
}

// Removes the temporary files that a killed writer left next to file (and
// next to the side files named after it).
function removeLeftoverTempFiles(file) {
  const prefix = `.${path.basename(file)}`;
  const dir = path.dirname(file);
  for (const name of fs.readdirSync(dir)) {
    if (name.startsWith(prefix) && name.includes('.tmp-')) fs.rmSync(path.join(dir, name), { force: true });
  }
}

// A name next to file that is not taken yet: file + "." + tag + "-" + time.
function sideFileName(file, tag, now = new Date()) {
  const stamp = now.toISOString().replace(/[-:]/g, '').replace(/\.\d+Z$/, 'Z');
  for (let n = 0; ; n++) {
    const name = `${file}.${tag}-${stamp}${n ? `-${n}` : ''}`;
    if (!fs.existsSync(name)) return name;
  }
}

module.exports = { writeFileAtomic, removeLeftoverTempFiles, sideFileName };
