// vyn view in Debian's chromium, driven by playwright-core: the tree, the
// picture pixel for pixel at 1x and 4x, the palette, downloads, refusals, a
// damaged member's error, and the time to the first thumbnails of an archive
// of 10,240 members (printed as a figure, not asserted).
//
// Usage: node view_test.mjs BIN_DIR WORK_DIR
import { spawn, execFileSync } from 'node:child_process';
import { createRequire } from 'node:module';
import fs from 'node:fs';
import path from 'node:path';
import assert from 'node:assert/strict';

const [bin, work] = process.argv.slice(2);
const require = createRequire(path.join(work, 'package.json'));
const { chromium } = require('playwright-core');

const fixtures = path.join(work, 'fixtures');
const artifacts = path.join(work, 'artifacts');
fs.rmSync(fixtures, { recursive: true, force: true });
fs.mkdirSync(fixtures, { recursive: true });
fs.mkdirSync(artifacts, { recursive: true });
const vyn = (...args) => execFileSync(path.join(bin, 'vyn'), args, { cwd: fixtures, stdio: 'pipe' });
const file = (name) => path.join(fixtures, name);

// A picture with a palette and indexes known here: odd width, every row and
// column different, so that a picture upside down, mirrored or shifted by a
// row's fill shows.
const W = 37, H = 23;
const palette = Array.from({ length: 256 }, (_, i) => [(i * 5) & 255, 255 - i, (i * 37 + 11) & 255]);
const indexAt = (x, y) => (x * 7 + y * 29 + ((x * y) >> 2)) & 255;

function paletteBmp() {
  const stride = (W + 3) & ~3;
  const size = 14 + 40 + 1024 + stride * H;
  const b = Buffer.alloc(size);
  b.write('BM', 0, 'latin1');
  b.writeUInt32LE(size, 2);
  b.writeUInt32LE(14 + 40 + 1024, 10);
  b.writeUInt32LE(40, 14);
  b.writeInt32LE(W, 18);
  b.writeInt32LE(H, 22);
  b.writeUInt16LE(1, 26);
  b.writeUInt16LE(8, 28);
  b.writeUInt32LE(stride * H, 34);
  b.writeUInt32LE(256, 46);
  palette.forEach(([r, g, bl], i) => { b[54 + 4 * i] = bl; b[55 + 4 * i] = g; b[56 + 4 * i] = r; });
  for (let y = 0; y < H; ++y) {
    const row = 14 + 40 + 1024 + (H - 1 - y) * stride;  // bottom row first
    for (let x = 0; x < W; ++x) b[row + x] = indexAt(x, y);
  }
  return b;
}

fs.writeFileSync(file('known.bmp'), paletteBmp());
execFileSync(path.join(bin, 'vyn-sample'), [fixtures], { stdio: 'pipe' });
vyn('encode', 'known.bmp', '-o', 'KNOWN.GP8');
vyn('encode', 'sample.png', '-o', 'SAMPLE.GP8');
fs.writeFileSync(file('BROKEN.GP8'), fs.readFileSync(file('SAMPLE.GP8')).subarray(0, 300));
// Japanese text as its makers store it, in Shift-JIS: 日本語のテキスト
fs.writeFileSync(file('sjis.txt'), Buffer.from('93fa967b8cea82cc8365834c8358836700', 'hex').subarray(0, 16));
// Archives inside archives: DEEP.ARC inside NEST.ARC inside test.ARC.
vyn('pack', '-o', 'DEEP.ARC', 'KNOWN.GP8', 'sjis.txt');
vyn('pack', '-o', 'NEST.ARC', '--scramble', 'DEEP.ARC', 'SAMPLE.GP8');
vyn('pack', '-o', 'test.ARC', '--scramble', 'KNOWN.GP8', 'SAMPLE.GP8', 'notes.txt', 'BROKEN.GP8', 'sjis.txt', 'NEST.ARC');
// Loose pictures in a directory of their own.
fs.mkdirSync(file('loose'));
fs.copyFileSync(file('KNOWN.GP8'), file('loose/ONE.GP8'));
fs.copyFileSync(file('SAMPLE.GP8'), file('loose/TWO.GP8'));
// Its header and palette whole, its pixel stream cut short.
fs.writeFileSync(file('loose/CUT.GP8'), fs.readFileSync(file('KNOWN.GP8')).subarray(0, 1040));
vyn('convert', 'KNOWN.GP8', '-o', 'known-back.png');
// 10,240 members: the sample picture under 10,240 names.
const many = path.join(fixtures, 'many');
fs.mkdirSync(many);
const manyNames = [];
for (let i = 0; i < 10240; ++i) {
  const name = 'P' + String(i).padStart(5, '0') + '.GP8';
  fs.copyFileSync(file('SAMPLE.GP8'), path.join(many, name));
  manyNames.push(path.join('many', name));
}
vyn('pack', '-o', 'BIG.ARC', ...manyNames);
fs.rmSync(many, { recursive: true });

// The server, on a free port.
const started = Date.now();
const server = spawn(path.join(bin, 'vyn'), ['view', '--no-open', '--port', '0', 'test.ARC', 'BIG.ARC', 'KNOWN.GP8', 'loose'],
                     { cwd: fixtures, stdio: ['ignore', 'pipe', 'inherit'] });
const address = await new Promise((resolve, reject) => {
  let out = '';
  server.stdout.on('data', (chunk) => {
    out += chunk;
    const found = out.match(/http:\/\/127\.0\.0\.1:\d+\/\?t=[0-9a-f]+/);
    if (found) resolve(found[0]);
  });
  server.on('exit', (code) => reject(new Error('vyn view ended with status ' + code + ': ' + out)));
});
const startup = Date.now() - started;
const origin = new URL(address).origin;
const token = new URL(address).searchParams.get('t');

let browser;
let failed = false;
const step = async (name, body) => {
  try {
    await body();
    console.log('ok   ' + name);
  } catch (error) {
    failed = true;
    console.log('FAIL ' + name + '\n     ' + String(error.stack || error).split('\n').slice(0, 6).join('\n     '));
  }
};

try {
  await step('a request without the token gets 403', async () => {
    for (const where of ['/api/inputs', '/download/0/0/original', '/api/thumb/0/0']) {
      assert.equal((await fetch(origin + where)).status, 403, where);
    }
    assert.equal((await fetch(origin + '/api/inputs?t=' + token.replace(/.$/, 'x'))).status, 403);
  });
  await step('a path outside the inputs gets 404', async () => {
    for (const where of ['/etc/passwd', '/../../etc/passwd', '/download/9/0/original',
                         '/download/0/99/original', '/api/picture/0/9', '/fixtures/KNOWN.GP8']) {
      assert.equal((await fetch(origin + where + '?t=' + token)).status, 404, where);
    }
  });

  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const context = await browser.newContext({ acceptDownloads: true, viewport: { width: 1280, height: 800 } });
  const page = await context.newPage();
  const pageErrors = [];
  page.on('pageerror', (error) => pageErrors.push(String(error)));
  const opened = Date.now();
  await page.goto(address);

  await step('the tree shows the archive\'s members by name', async () => {
    await page.waitForSelector('#tree .leaf');
    console.log(`figure: from opening the page to the tree of 10,245 members: ${Date.now() - opened} ms`);
    assert.ok(!page.url().includes(token), 'the token is taken out of the address bar: ' + page.url());
    const names = await page.$$eval('#tree .row[data-key^="0/"] .name', (es) => es.map((e) => e.textContent));
    assert.deepEqual(names, ['KNOWN.GP8', 'SAMPLE.GP8', 'notes.txt', 'BROKEN.GP8', 'sjis.txt', 'NEST.ARC']);
    const kinds = await page.$$eval('#tree .row[data-key^="0/"] .kind', (es) => es.map((e) => e.textContent));
    assert.deepEqual(kinds, ['picture', 'picture', 'data', 'picture', 'data', 'archive']);
  });

  const readCanvas = () => page.evaluate(() => {
    const canvas = document.getElementById('picture');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    return { width: canvas.width, height: canvas.height, data: Array.from(data) };
  });
  const expectPixels = (shown, zoom) => {
    assert.equal(shown.width, W * zoom);
    assert.equal(shown.height, H * zoom);
    for (let y = 0; y < shown.height; ++y) {
      for (let x = 0; x < shown.width; ++x) {
        const want = palette[indexAt(Math.floor(x / zoom), Math.floor(y / zoom))];
        const at = (y * shown.width + x) * 4;
        const got = shown.data.slice(at, at + 4);
        if (got[0] !== want[0] || got[1] !== want[1] || got[2] !== want[2] || got[3] !== 255)
          throw new Error(`pixel ${x},${y} at ${zoom}x is ${got}, not ${want}`);
      }
    }
  };

  const download = async (selector) => {
    const [saved] = await Promise.all([page.waitForEvent('download'), page.click(selector)]);
    return fs.readFileSync(await saved.path());
  };
  await step('a picture member is shown pixel for pixel at 1x', async () => {
    await page.click('#tree .leaf:has-text("KNOWN.GP8")');
    await until(async () => (await page.textContent('#item-facts')).includes('37 × 23'));
    assert.match(await page.textContent('#item-facts'), /37 × 23, 8 bits a pixel/);
    expectPixels(await readCanvas(), 1);
  });
  await step('and at 4x', async () => {
    for (let i = 0; i < 3; ++i) await page.keyboard.press('+');
    assert.equal(await page.textContent('#zoom-level'), '4x');
    expectPixels(await readCanvas(), 4);
    const box = await page.locator('#picture').boundingBox();
    await page.mouse.move(box.x + 5 * 4 + 2, box.y + 7 * 4 + 2);
    const rgb = palette[indexAt(5, 7)];
    assert.match(await page.textContent('#pointer'), new RegExp(`x 5, y 7: index ${indexAt(5, 7)}: .*\\(${rgb.join(', ')}\\)`));
    await page.screenshot({ path: path.join(artifacts, 'picture-4x.png') });
  });
  await step('a palette swatch of a known index has its colour', async () => {
    const swatch = page.locator('#palette .swatch[data-index="77"]');
    await swatch.hover();
    const [r, g, b] = palette[77];
    assert.equal(await swatch.evaluate((e) => getComputedStyle(e).backgroundColor), `rgb(${r}, ${g}, ${b})`);
    assert.match(await page.textContent('#swatch-info'), new RegExp(`index 77: #[0-9a-f]{6} \\(${r}, ${g}, ${b}\\)`));
  });
  await step('a swatch clicked shows its pixels alone; the palette exports as .act and .pal', async () => {
    const chosen = indexAt(5, 7);
    let uses = 0;
    for (let y = 0; y < H; ++y) for (let x = 0; x < W; ++x) uses += indexAt(x, y) === chosen;
    await page.click(`#palette .swatch[data-index="${chosen}"]`);
    assert.match(await page.textContent('#swatch-info'), new RegExp(`index ${chosen}: .* · ${uses} pixels? \\(shown`));
    const shown = await readCanvas();
    for (let y = 0; y < H; ++y) {
      for (let x = 0; x < W; ++x) {
        const at = (y * 4 * shown.width + x * 4) * 4;
        const same = palette[indexAt(x, y)].every((v, c) => v === shown.data[at + c]);
        assert.equal(same, indexAt(x, y) === chosen, `pixel ${x},${y} shown as it is: ${same}`);
      }
    }
    await page.click(`#palette .swatch[data-index="${chosen}"]`);
    expectPixels(await readCanvas(), 4);
    const act = await download('#palette-act');
    assert.equal(act.length, 772);
    assert.deepEqual([...act.subarray(0, 768)], palette.flat());
    assert.deepEqual([...act.subarray(768)], [1, 0, 0xFF, 0xFF]);
    const pal = (await download('#palette-pal')).toString('latin1').split('\r\n');
    assert.deepEqual(pal.slice(0, 3), ['JASC-PAL', '0100', '256']);
    assert.equal(pal[3 + 77], palette[77].join(' '));
  });
  // Polls from here: the page's policy allows no script made from text, which
// is what page.waitForFunction uses to poll a function.
async function until(condition, every = 50, limit = 30000) {
  const end = Date.now() + limit;
  while (!(await condition())) {
    if (Date.now() > end) throw new Error('timed out waiting for ' + condition);
    await new Promise((resolve) => setTimeout(resolve, every));
  }
}
  await step('downloads: the member\'s bytes, and the picture as PNG', async () => {
    assert.ok((await download('#download-original')).equals(fs.readFileSync(file('KNOWN.GP8'))));
    assert.ok((await download('#download-png')).equals(fs.readFileSync(file('known-back.png'))));
    const bmp = await download('#download-bmp');
    assert.equal(bmp.subarray(0, 2).toString('latin1'), 'BM');
  });
  await step('a damaged picture member shows its error text', async () => {
    await page.click('#tree .leaf:has-text("BROKEN.GP8")');
    await page.waitForSelector('#item-error:not([hidden])');
    assert.match(await page.textContent('#item-error'), /BROKEN\.GP8: the image plug-in could not decode it: it holds 300 bytes, fewer than the 1032 of a GP8 header/);
  });
  await step('a damaged picture still shows its size and palette', async () => {
    await page.click('#tree .row[data-key="d:loose/"] .name');
    await page.click('#grid .cell[title^="CUT.GP8"]');
    await page.waitForSelector('#item-error:not([hidden])');
    await until(async () => (await page.textContent('#item-facts')).includes('37 × 23'));
    assert.ok(await page.isVisible('#palette'));
    const [r, g, b] = palette[77];
    assert.equal(await page.locator('#palette .swatch[data-index="77"]').evaluate((e) => getComputedStyle(e).backgroundColor),
                 `rgb(${r}, ${g}, ${b})`);
    assert.ok(await page.isHidden('#stage'));
    await page.screenshot({ path: path.join(artifacts, 'damaged-picture.png') });
    await page.click('#tree .leaf:has-text("BROKEN.GP8")');
    await page.waitForSelector('#item-error:not([hidden])');
  });
  await step('keys move between members', async () => {
    await page.keyboard.press('k');
    await until(async () => (await page.textContent('#item-title')) === 'notes.txt');
    await page.waitForSelector('#text-view:not([hidden])');
    await page.keyboard.press('ArrowUp');
    await until(async () => (await page.textContent('#item-title')) === 'SAMPLE.GP8');
    await until(async () => (await page.textContent('#item-facts')).includes('320 × 200'));
    await page.keyboard.press('f');
    // Fitted: the largest whole zoom at which the picture fits the stage.
    const fit = await page.evaluate(() => {
      const stage = document.getElementById('stage');
      return Math.floor(Math.min(stage.clientWidth / 320, stage.clientHeight / 200));
    });
    assert.equal(await page.textContent('#zoom-level'), fit + 'x');
    await page.screenshot({ path: path.join(artifacts, 'picture-fitted.png') });
  });
  await step('a picture chosen and left at once never shows in the next member\'s pane', async () => {
    // The picture's answer held back, as a large picture's decoding holds
    // it, so that it comes while the next member is in view.
    await page.route('**/api/picture/**', async (route) => {
      await new Promise((resolve) => setTimeout(resolve, 400));
      await route.continue();
    });
    await page.click('#tree .leaf:has-text("SAMPLE.GP8")');
    await until(async () => (await page.textContent('#item-facts')).includes('decoding'));
    await page.click('#tree .leaf:has-text("notes.txt")');
    await page.waitForSelector('#text-view:not([hidden])');
    await page.waitForTimeout(800);  // the picture's answer has come by now
    await page.unroute('**/api/picture/**');
    assert.equal(await page.textContent('#item-title'), 'notes.txt');
    assert.ok(await page.isHidden('#stage'));
    assert.ok(await page.isHidden('#picture-footer'));
    assert.ok(await page.isHidden('#zoom-tools'));
    assert.doesNotMatch(await page.textContent('#item-facts'), /320 × 200/);
  });
  await step('a Shift-JIS member reads as Japanese text, and as hex', async () => {
    await page.click('#tree .leaf:has-text("sjis.txt")');
    await until(async () => (await page.textContent('#text-body')) === '日本語のテキスト');
    await page.screenshot({ path: path.join(artifacts, 'text-preview.png') });
    await page.selectOption('#text-mode', 'hex');
    assert.match(await page.textContent('#text-body'), /^00000000  93 fa 96 7b 8c ea 82 cc/);
    await page.selectOption('#text-mode', 'text');
  });
  await step('the archive view shows thumbnails, and why one cannot be made', async () => {
    const rows = await page.locator('#tree .row').count();
    await page.click('#tree .row[data-key="0"] .name');
    await until(async () => (await page.locator('#grid img[data-loaded]').count()) === 2);
    assert.equal(await page.locator('#tree .row').count(), rows, 'a click on the name leaves the rows as they were');
    await page.waitForSelector('#grid .cell[data-failed]');
    assert.match(await page.textContent('#grid .cell[data-failed]'), /could not decode/);
    await page.screenshot({ path: path.join(artifacts, 'archive-view.png') });
  });
  await step('10,240 members: first thumbnails (a figure, not a limit)', async () => {
    const t0 = Date.now();
    await page.click('#tree .row[data-key="1"] .name');
    await until(async () => (await page.locator('#grid img[data-loaded]').count()) >= 12, 5);
    const first = Date.now() - t0;
    // Browse: scroll far down a few times, and to the end.
    const t1 = Date.now();
    for (let i = 0; i < 5; ++i) {
      await page.evaluate(() => { const p = document.getElementById('grid-panel'); p.scrollTop += 20000; });
      await page.waitForTimeout(200);
    }
    await page.evaluate(() => { const p = document.getElementById('grid-panel'); p.scrollTop = p.scrollHeight; });
    await page.waitForSelector('#grid .cell[title^="P10239.GP8"]');
    const toEnd = Date.now() - t1 - 5 * 200;
    const cells = await page.$$eval('#grid .cell', (es) => es.length);
    const elements = await page.evaluate(() => document.getElementsByTagName('*').length);
    assert.ok(cells < 400, cells + ' cells in the page: only the rows in sight belong there');
    assert.ok(elements < 3000, elements + ' elements in the page');
    console.log(`figure: to the end of the 10,240-member grid: ${toEnd} ms beyond the pauses; ${cells} cells, ${elements} elements in the page`);
    const status = fs.readFileSync(`/proc/${server.pid}/status`, 'utf8');
    const rss = (key) => (status.match(new RegExp(key + ':\\s+(\\d+) kB')) || [])[1];
    console.log(`figure: vyn view start-up with 10,245 members listed and classified: ${startup} ms`);
    console.log(`figure: first 12 thumbnails of the 10,240-member archive: ${first} ms`);
    console.log(`figure: server memory while browsing it: ${Math.round(rss('VmRSS') / 1024)} MiB resident, ` +
                `${Math.round(rss('VmHWM') / 1024)} MiB at most (${cells} cells made so far)`);
    await page.screenshot({ path: path.join(artifacts, 'big-archive.png') });
  });
  await step('back from a member to the grid where it was left, and through history', async () => {
    await page.evaluate(() => { document.getElementById('grid-panel').scrollTop = 20000; });
    await page.waitForTimeout(100);
    const top = await page.evaluate(() => document.getElementById('grid-panel').scrollTop);
    const cell = page.locator('#grid .cell').nth(40);
    const name = await cell.getAttribute('title');
    await cell.click();
    await until(async () => name.startsWith(await page.textContent('#item-title')));
    await page.keyboard.press('Escape');
    await page.waitForSelector('#grid-panel:not([hidden])');
    assert.equal(await page.evaluate(() => document.getElementById('grid-panel').scrollTop), top);
    await page.goForward();
    await until(async () => name.startsWith(await page.textContent('#item-title')));
    await page.reload();
    await until(async () => name.startsWith(await page.textContent('#item-title')));
    await page.goBack();
    await page.waitForSelector('#grid-panel:not([hidden])');
    assert.equal(await page.textContent('#grid-title'), 'BIG.ARC');
  });
  await step('in an archive\'s grid, j/k and Home/End stay within it', async () => {
    // BIG.ARC is the second archive: j from its grid opens its own first
    // member, never the first archive's.
    await page.click('#tree .row[data-key="1"] .name');
    await page.waitForSelector('#grid-panel:not([hidden])');
    const title = () => page.textContent('#item-title');
    for (const [key, want] of [['j', 'P00000.GP8'], ['j', 'P00001.GP8'], ['j', 'P00002.GP8'], ['k', 'P00001.GP8'],
                               ['End', 'P10239.GP8'], ['k', 'P10238.GP8'], ['Home', 'P00000.GP8']]) {
      await page.keyboard.press(key);
      await until(async () => (await title()) === want).catch(async () => {
        throw new Error(`after ${key}: ${await title()}, not ${want}`);
      });
    }
    // Its 10,240 rows, open in the tree, are not all in the page.
    const rows = await page.locator('#tree .row').count();
    assert.ok(rows < 200, rows + ' tree rows in the page');
    await page.keyboard.press('Escape');
    await page.waitForSelector('#grid-panel:not([hidden])');
  });
  await step('archives inside archives open as folders, two levels deep', async () => {
    await page.click('#tree .row[data-key="0/5"] .name');
    await until(async () => (await page.textContent('#grid-title')) === 'NEST.ARC');
    await page.click('#grid .cell[title^="DEEP.ARC"]');
    await until(async () => (await page.textContent('#grid-title')) === 'DEEP.ARC');
    await until(async () => (await page.locator('#grid img[data-loaded]').count()) === 1);
    await page.screenshot({ path: path.join(artifacts, 'nested-archive.png') });
    await page.click('#grid .cell[title^="KNOWN.GP8"]');
    await until(async () => (await page.textContent('#item-facts')).includes('37 × 23'));
    assert.match(await page.textContent('#item-facts'), /in DEEP\.ARC/);
    expectPixels(await readCanvas(), 1);
    assert.ok(await page.isVisible('#tree .row.selected[data-key="0/5/0/0"]'), 'the tree shows where it lies');
    await page.keyboard.press('Escape');
    await until(async () => (await page.textContent('#grid-title')) === 'DEEP.ARC');
    await page.keyboard.press('Escape');
    await until(async () => (await page.textContent('#grid-title')) === 'NEST.ARC');
    await page.goBack();
    await until(async () => (await page.textContent('#grid-title')) === 'DEEP.ARC');
    await page.reload();
    await until(async () => (await page.textContent('#grid-title')) === 'DEEP.ARC');
  });
  await step('a directory opens as a folder with its loose pictures in a grid', async () => {
    await page.click('#tree .row[data-key="d:loose/"] .name');
    await until(async () => (await page.locator('#grid img[data-loaded]').count()) === 2);
    assert.equal(await page.textContent('#grid-title'), 'loose');
  });
  await step('a picture changed on disk is read again, and the page says so', async () => {
    fs.copyFileSync(file('SAMPLE.GP8'), file('loose/ONE.GP8'));
    await page.waitForSelector('#notice:not([hidden])', { timeout: 10000 });
    assert.match(await page.textContent('#notice'), /loose\/ONE\.GP8 changed on disk and was read again/);
    await page.click('#grid .cell[title^="ONE.GP8"]');
    await until(async () => (await page.textContent('#item-facts')).includes('320 × 200'));
    await page.click('#notice');
  });
  await step('a filter narrows the grid to the names that hold it', async () => {
    await page.click('#tree .row[data-key="1"] .name');
    await page.waitForSelector('#grid-panel:not([hidden])');
    await page.fill('#grid-filter', 'P0001');
    await until(async () => (await page.locator('#grid .cell').count()) === 10);
    assert.match(await page.textContent('#grid-count'), /10,?240 members; 10 shown/);
    await page.screenshot({ path: path.join(artifacts, 'filtered.png') });
  });
  await step('no script errors in the page', async () => assert.deepEqual(pageErrors, []));
} finally {
  if (browser) await browser.close();
  server.kill('SIGINT');
}
console.log(failed ? 'browser test FAILED' : 'browser test passed; screenshots in ' + artifacts);
process.exit(failed ? 1 : 0);
