// Reads tables with mdb-reader, an independent JavaScript reader of Access files, so that tests can
// hold our files up to a second reader.
//
// usage: node mdb-reader-export.mjs MODULES_DIR [--full] FILE TABLE [FILE TABLE ...]
//   MODULES_DIR holds node_modules/mdb-reader (see install-mdb-reader.sh).
// For each FILE TABLE pair it prints a JSON line {"file", "table", "columns", "rows"}, then one line
// per row in storage order: by default a 16-digit hex fingerprint of the row's values, with --full
// the values themselves as a JSON array of [tag, payload] pairs.
//
// A row is a sequence of tagged values; the fingerprint is FNV-1a (two 32-bit lanes with different
// offsets) over 16-bit units:
//   null 'n' | true 't' | false 'f'
//   number 'd' + the four 16-bit words of its IEEE double, least significant first
//   Date 'D' + the same four words of its time in milliseconds
//   string 's' + its length as two words (low first) + its UTF-16 code units
//   bytes 'b' + their count as two words + one unit per byte
//   bigint 'i' + the code units of its decimal form
import { createRequire } from "node:module";
import { readFileSync } from "node:fs";
import { resolve } from "node:path";
import { pathToFileURL } from "node:url";

const [modulesDir, ...rest] = process.argv.slice(2);
const full = rest[0] === "--full";
const pairs = full ? rest.slice(1) : rest;
if (!modulesDir || pairs.length === 0 || pairs.length % 2 !== 0) {
  process.stderr.write("usage: node mdb-reader-export.mjs MODULES_DIR [--full] FILE TABLE [FILE TABLE ...]\n");
  process.exit(2);
}
const require = createRequire(resolve(modulesDir, "package.json"));
const { default: MDBReader } = await import(pathToFileURL(require.resolve("mdb-reader")).href);

const doubleBytes = Buffer.alloc(8);
function doubleWords(x) {
  doubleBytes.writeDoubleLE(x);
  return [0, 2, 4, 6].map((i) => doubleBytes.readUInt16LE(i));
}

// Calls unit(u) for every 16-bit unit of a value's encoding; returns the [tag, payload] form.
function encode(value, unit) {
  if (value === null || value === undefined) { unit(0x6e); return ["n", ""]; }
  if (value === true) { unit(0x74); return ["t", ""]; }
  if (value === false) { unit(0x66); return ["f", ""]; }
  if (typeof value === "number") {
    unit(0x64);
    doubleWords(value).forEach(unit);
    return ["d", String(value)];
  }
  if (value instanceof Date) {
    unit(0x44);
    doubleWords(value.getTime()).forEach(unit);
    return ["D", String(value.getTime())];
  }
  if (typeof value === "string") {
    unit(0x73);
    unit(value.length & 0xffff);
    unit(value.length >>> 16);
    for (let i = 0; i < value.length; ++i) unit(value.charCodeAt(i));
    return ["s", value];
  }
  if (Buffer.isBuffer(value) || value instanceof Uint8Array) {
    unit(0x62);
    unit(value.length & 0xffff);
    unit(value.length >>> 16);
    for (const byte of value) unit(byte);
    return ["b", Buffer.from(value).toString("hex")];
  }
  if (typeof value === "bigint") {
    const text = value.toString();
    unit(0x69);
    for (let i = 0; i < text.length; ++i) unit(text.charCodeAt(i));
    return ["i", text];
  }
  throw new Error(`unexpected value of type ${typeof value}`);
}

function fingerprint(values) {
  let a = 0x811c9dc5;
  let b = 0x01000193 ^ 0x9e3779b9;
  const unit = (u) => {
    a = Math.imul(a ^ u, 0x01000193) >>> 0;
    b = Math.imul(b ^ u, 0x01000193) >>> 0;
  };
  values.forEach((v) => encode(v, unit));
  return a.toString(16).padStart(8, "0") + b.toString(16).padStart(8, "0");
}

for (let i = 0; i < pairs.length; i += 2) {
  const [file, tableName] = [pairs[i], pairs[i + 1]];
  const table = new MDBReader(readFileSync(file)).getTable(tableName);
  const columns = table.getColumnNames();
  const rows = table.getData();
  process.stdout.write(JSON.stringify({ file, table: tableName, columns, rows: rows.length }) + "\n");
  const lines = rows.map((row) => {
    const values = columns.map((name) => row[name]);
    return full ? JSON.stringify(values.map((v) => encode(v, () => {}))) : fingerprint(values);
  });
  process.stdout.write(lines.join("\n") + (lines.length ? "\n" : ""));
}
