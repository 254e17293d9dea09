// The pages' sources are made for the pane on Windows, the IE 11 engine:
// every script they carry parses as ES5 (acorn, ecmaVersion 5) and uses
// nothing IE 11 lacks, the style sheet uses only what IE 11 supports, and
// every page asks for the engine's newest mode before anything else.
// node page_sources_test.js PAGES_DIR   (NODE_PATH=/usr/share/nodejs on Debian)
"use strict";
const fs = require("fs");
const path = require("path");
const acorn = require("acorn");
const walk = require("acorn-walk");

const dir = process.argv[2];
const failures = [];
const fail = (where, what) => failures.push(`${where}: ${what}`);

// Globals IE 11 does not have.
const missingGlobals = new Set([
  "fetch", "Promise", "Symbol", "Proxy", "Reflect", "URL", "URLSearchParams", "AbortController",
  "TextEncoder", "TextDecoder", "globalThis", "queueMicrotask", "requestIdleCallback",
  "IntersectionObserver", "ResizeObserver", "customElements", "BigInt",
]);
// Members IE 11 lacks, or lacks where the pages would use them (classList
// on SVG elements, forEach on node lists).
const missingMembers = new Set([
  "classList", "includes", "startsWith", "endsWith", "padStart", "padEnd", "repeat", "find",
  "findIndex", "fill", "from", "of", "assign", "entries", "values", "closest", "matches", "append",
  "prepend", "remove", "replaceWith", "before", "after", "forEach", "dataset", "isInteger",
]);

function checkScript(where, code) {
  let tree;
  try {
    tree = acorn.parse(code, { ecmaVersion: 5, sourceType: "script", locations: true });
  } catch (e) {
    fail(where, `not ES5: ${e.message}`);
    return;
  }
  const at = (node) => `${where}:${node.loc.start.line}`;
  walk.full(tree, (node) => {
    if (node.type === "Identifier" && missingGlobals.has(node.name)) fail(at(node), `${node.name} is missing in IE 11`);
    if (node.type === "MemberExpression" && !node.computed && missingMembers.has(node.property.name))
      fail(at(node), `.${node.property.name} is missing in IE 11`);
  });
}

// CSS 2.1 and the parts of CSS 3 that IE 11 has; a property outside this
// list needs checking against IE 11 before it is added here.
const supportedProperties = new Set([
  "margin", "margin-top", "margin-right", "margin-bottom", "margin-left",
  "padding", "padding-top", "padding-right", "padding-bottom", "padding-left",
  "border", "border-top", "border-right", "border-bottom", "border-left", "border-color",
  "border-style", "border-width", "border-radius", "border-collapse", "border-spacing",
  "font", "font-family", "font-size", "font-weight", "font-style", "line-height",
  "color", "background", "background-color", "text-align", "vertical-align", "text-decoration",
  "text-indent", "text-transform", "text-overflow", "letter-spacing", "white-space", "word-wrap",
  "width", "height", "max-width", "min-width", "max-height", "min-height", "box-sizing",
  "display", "position", "top", "right", "bottom", "left", "float", "clear", "z-index",
  "overflow", "overflow-x", "overflow-y", "visibility", "opacity", "cursor", "table-layout",
  "list-style", "list-style-type", "box-shadow", "content",
]);
const unsupportedValues = [
  [/\bvar\(/, "custom properties"], [/\benv\(/, "env()"], [/\b(inline-)?grid\b/, "grid"],
  [/\b(inline-)?flex\b/, "flexbox (IE 11's has many faults)"],
  [/\bsticky\b/, "position: sticky"], [/\bcontents\b/, "display: contents"],
  [/\bflow-root\b/, "display: flow-root"], [/\b(min|max|clamp)\(/, "min(), max() and clamp()"],
];

function checkDeclarations(where, text) {
  for (const declaration of text.split(";")) {
    if (!declaration.trim()) continue;
    const colon = declaration.indexOf(":");
    const property = declaration.slice(0, colon).trim().toLowerCase();
    const value = declaration.slice(colon + 1);
    if (colon < 0 || !supportedProperties.has(property)) fail(where, `property "${property}" is not known to work in IE 11`);
    for (const [pattern, name] of unsupportedValues)
      if (pattern.test(value)) fail(where, `${name} in "${declaration.trim()}"`);
  }
}

function checkStyleSheet(where, css) {
  css = css.replace(/\/\*[\s\S]*?\*\//g, "");
  if (/@(supports|layer|container|property)\b/.test(css)) fail(where, "an at-rule IE 11 lacks");
  for (const rule of css.split("}")) {
    const open = rule.indexOf("{");
    if (open >= 0) checkDeclarations(`${where} ${rule.slice(0, open).trim()}`, rule.slice(open + 1));
    else if (rule.trim()) fail(where, `not a rule: ${rule.trim()}`);
  }
}

function checkPage(where, html) {
  // In <head>, only <meta> and <title> may come before the mode is asked for.
  const head = (html.match(/<head>([\s\S]*?)<\/head>/i) || [, ""])[1];
  const before = head.split(/<meta http-equiv="X-UA-Compatible" content="IE=edge">/i);
  if (before.length !== 2) fail(where, 'no <meta http-equiv="X-UA-Compatible" content="IE=edge"> in <head>');
  else if (/<(?!meta\b|title\b|\/title\b)\w/i.test(before[0])) fail(where, "X-UA-Compatible comes after other elements");
  const scripts = /<script\b([^>]*)>([\s\S]*?)<\/script>/gi;
  for (let m; (m = scripts.exec(html));) {
    const source = m[1].match(/\bsrc="([^"]+)"/);
    if (source) {
      if (!fs.existsSync(path.join(dir, source[1]))) fail(where, `script ${source[1]} is not among the pages`);
    } else {
      checkScript(`${where} (inline script)`, m[2]);
    }
  }
  for (const [, style] of html.matchAll(/\bstyle="([^"]*)"/gi)) checkDeclarations(`${where} style=""`, style);
  for (const [, sheet] of html.matchAll(/<style\b[^>]*>([\s\S]*?)<\/style>/gi)) checkStyleSheet(`${where} <style>`, sheet);
}

const files = fs.readdirSync(dir).sort();
for (const name of files) {
  const text = fs.readFileSync(path.join(dir, name), "utf8");
  if (name.endsWith(".js")) checkScript(name, text);
  else if (name.endsWith(".css")) checkStyleSheet(name, text);
  else if (name.endsWith(".html")) checkPage(name, text);
}
if (!files.some((n) => n.endsWith(".js")) || !files.some((n) => n.endsWith(".html"))) fail(dir, "no pages found");

// The checker itself: what it must refuse.
const refusals = [
  ["let x = 1;", "let"], ["var f = () => 1;", "arrow functions"], ["var s = `a`;", "template strings"],
  ["fetch('x');", "fetch"], ["new Promise(function () {});", "Promise"],
  ["document.body.classList.add('a');", "classList"], ["class A {}", "classes"],
];
for (const [code, what] of refusals) {
  const before = failures.length;
  checkScript("self-test", code);
  if (failures.length === before) fail("self-test", `${what} passed as ES5 for IE 11`);
  else failures.length = before;
}

if (failures.length) {
  console.error(failures.join("\n"));
  process.exit(1);
}
console.log(`page sources ES5 and IE 11 clean: ${files.join(", ")}`);
