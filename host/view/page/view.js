// The page of vyn view: a tree of the inputs, a grid of thumbnails for an
// archive, and a picture shown pixel for pixel from its palette and indexes.
'use strict';

// The access token comes in the address the viewer printed; the page keeps
// it for this tab (a reload finds it again), takes it out of the address
// bar and history, and sends it with each request. Never a cookie, which
// the browser would hand to a page on any other port of this machine.
const token = (() => {
  const params = new URLSearchParams(location.search);
  const given = params.get('t');
  if (!given) return sessionStorage.getItem('vyn-token') || '';
  sessionStorage.setItem('vyn-token', given);
  params.delete('t');
  const rest = params.toString();
  history.replaceState(history.state, '', location.pathname + (rest ? '?' + rest : '') + location.hash);
  return given;
})();
const $ = (id) => document.getElementById(id);

const view = {
  inputs: [],
  items: [],        // every member and picture file, in tree order
  current: null,    // the item shown
  picture: null,    // {width, height, depth, colours, palette, indexes, base}
  zoom: 1,
  fit: false,
  request: 0,       // number of the latest picture request, to drop late answers
};

const kMaxZoom = 16;
const kCanvasPixels = 1 << 24;  // beyond this the canvas is scaled by CSS alone
const kGridChunk = 120;

function hex(r, g, b) {
  return '#' + [r, g, b].map((v) => v.toString(16).padStart(2, '0')).join('');
}

function sizeText(bytes) {
  if (bytes < 1024) return bytes + ' B';
  if (bytes < 1024 * 1024) return (bytes / 1024).toFixed(1) + ' KiB';
  return (bytes / 1024 / 1024).toFixed(1) + ' MiB';
}

// Fetches from the server; a refusal becomes an Error with the server's words.
async function get(url) {
  let response;
  try {
    response = await fetch(url, { headers: { 'X-Vyn-Token': token } });
  } catch (error) {
    throw new Error('The viewer cannot reach vyn (has it been stopped?)');
  }
  if (!response.ok) {
    let reason = response.status + ' ' + response.statusText;
    try {
      const body = await response.json();
      if (body && body.error) reason = body.error;
    } catch (ignored) { /* not JSON: keep the status */ }
    const error = new Error(reason);
    error.status = response.status;
    throw error;
  }
  return response;
}

function address(kind, item) {
  return '/' + kind + '/' + item.input.id + (item.member ? '/' + item.member.id : '');
}

// For what the browser fetches by itself (pictures in <img>, downloads),
// which cannot carry a header.
function withToken(url) {
  return url + '?t=' + encodeURIComponent(token);
}

function element(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

// ---- Tree ------------------------------------------------------------

function leafFor(item) {
  if (item.leaf) return item.leaf;
  const leaf = element('div', 'leaf' + (item.member ? '' : ' top'));
  leaf.appendChild(element('span', 'name', item.name));
  leaf.appendChild(element('span', 'kind', item.picture ? 'picture' : 'data'));
  leaf.appendChild(element('span', 'size', sizeText(item.size)));
  leaf.title = item.name + ' (' + item.size + ' bytes, ' +
      (item.picture ? 'a picture' : 'not a picture') + ')';
  leaf.addEventListener('click', () => select(item));
  item.leaf = leaf;
  return leaf;
}

// Members go into the tree a chunk at a time, so that opening an archive of
// thousands of members never holds up the page; `upTo` asks for at least so
// many at once (to show a chosen member).
function fillArchive(input, upTo = 0) {
  input.filled = input.filled || 0;
  const addUntil = (end) => {
    const fragment = document.createDocumentFragment();
    for (; input.filled < end; ++input.filled) fragment.appendChild(leafFor(input.items[input.filled]));
    input.details.appendChild(fragment);
  };
  if (upTo > input.filled) addUntil(Math.min(input.items.length, upTo));
  if (input.filling || input.filled >= input.items.length) return;
  input.filling = true;
  const more = () => {
    addUntil(Math.min(input.items.length, input.filled + 400));
    if (input.filled < input.items.length) setTimeout(more, 0);
    else input.filling = false;
  };
  more();
}

function buildTree() {
  const tree = $('tree');
  tree.textContent = '';
  view.items = [];
  for (const input of view.inputs) {
    if (input.kind === 'archive') {
      const details = element('details');
      const summary = element('summary');
      summary.appendChild(element('span', 'name', input.name));
      summary.appendChild(element('span', 'kind', ' ' + input.members.length + ' members'));
      details.appendChild(summary);
      input.details = details;
      input.summary = summary;
      input.items = input.members.map((member) => ({
        input, member, name: member.name, size: member.size, picture: member.picture,
      }));
      view.items.push(...input.items);
      details.addEventListener('toggle', () => { if (details.open) fillArchive(input); });
      summary.addEventListener('click', () => showArchive(input));
      if (input.members.length <= 2000) details.open = true;
      tree.appendChild(details);
    } else {
      const item = { input, member: null, name: input.name, size: input.size, picture: true };
      view.items.push(item);
      tree.appendChild(leafFor(item));
    }
  }
  if (view.inputs.length === 0) tree.appendChild(element('p', 'note', 'No inputs.'));
}

function mark(item) {
  document.querySelectorAll('#tree .selected').forEach((e) => e.classList.remove('selected'));
  if (!item) return;
  if (item.member) {
    item.input.details.open = true;
    fillArchive(item.input, item.input.items.indexOf(item) + 1);
  }
  const leaf = leafFor(item);
  leaf.classList.add('selected');
  leaf.scrollIntoView({ block: 'nearest' });
}

function showPanel(id) {
  for (const panel of ['welcome', 'grid-panel', 'item-panel']) $(panel).hidden = panel !== id;
}

// ---- Grid ------------------------------------------------------------

let gridObserver = null;
let thumbObserver = null;

function showArchive(input) {
  view.current = null;
  mark(null);
  input.summary.classList.add('selected');
  showPanel('grid-panel');
  $('grid-title').textContent = input.name;
  const pictures = input.items.filter((item) => item.picture);
  $('grid-count').textContent = pictures.length + ' pictures among ' + input.items.length +
      ' members' + (pictures.length ? '' : '; choose a member on the left to download it');
  const grid = $('grid');
  grid.textContent = '';
  $('grid-panel').scrollTop = 0;
  if (gridObserver) gridObserver.disconnect();
  if (thumbObserver) thumbObserver.disconnect();

  // A thumbnail is asked for once its cell comes near the visible part.
  thumbObserver = new IntersectionObserver((entries) => {
    for (const entry of entries) {
      if (!entry.isIntersecting) continue;
      thumbObserver.unobserve(entry.target);
      loadThumb(entry.target);
    }
  }, { root: $('grid-panel'), rootMargin: '200px' });

  // Cells are added a chunk at a time as the end of the grid comes near, so
  // that an archive of thousands of members costs no more than what is seen.
  let next = 0;
  const addChunk = () => {
    const fragment = document.createDocumentFragment();
    const end = Math.min(pictures.length, next + kGridChunk);
    for (; next < end; ++next) {
      const cell = makeCell(pictures[next]);
      fragment.appendChild(cell);
      thumbObserver.observe(cell);
    }
    grid.appendChild(fragment);
  };
  gridObserver = new IntersectionObserver((entries) => {
    if (entries.some((entry) => entry.isIntersecting) && next < pictures.length) {
      addChunk();
      // Still in view after a chunk (a tall window): observe again for more.
      gridObserver.unobserve($('grid-end'));
      gridObserver.observe($('grid-end'));
    }
  }, { root: $('grid-panel'), rootMargin: '600px' });
  addChunk();
  gridObserver.observe($('grid-end'));
}

function makeCell(item) {
  const cell = element('div', 'cell');
  cell.item = item;
  cell.appendChild(element('div', 'thumb'));
  cell.appendChild(element('div', 'name', item.name));
  cell.title = item.name;
  cell.addEventListener('click', () => select(item));
  return cell;
}

function loadThumb(cell) {
  const img = new Image();
  img.alt = cell.item.name;
  img.addEventListener('load', () => { img.dataset.loaded = '1'; });
  img.addEventListener('error', async () => {
    // The image says nothing of why; the server's answer does.
    let reason = 'cannot be shown';
    try { await get(img.src); } catch (error) { reason = error.message; }
    const failed = element('div', 'failed', reason);
    cell.firstChild.replaceChildren(failed);
    cell.dataset.failed = '1';
  });
  img.src = withToken(address('api/thumb', cell.item));
  cell.firstChild.appendChild(img);
}

// ---- One member or picture ---------------------------------------------

function select(item) {
  view.current = item;
  mark(item);
  showPanel('item-panel');
  $('item-title').textContent = item.name;
  $('item-facts').textContent = sizeText(item.size) + (item.member ? ' in ' + item.input.name : '');
  $('download-original').href = withToken(address('download', item) + '/original');
  $('download-png').href = withToken(address('download', item) + '/png');
  $('download-bmp').href = withToken(address('download', item) + '/bmp');
  $('download-png').hidden = $('download-bmp').hidden = !item.picture;
  showError(null);
  $('stage').hidden = $('picture-footer').hidden = true;
  view.picture = null;
  if (!item.picture) {
    showError(item.name + ' is not a picture that the image plug-in recognises. ' +
        'Its bytes can be downloaded as they are (Original).', 'note');
    return;
  }
  loadPicture(item);
}

function showError(text, kind) {
  const box = $('item-error');
  box.hidden = !text;
  box.className = kind || 'error';
  box.textContent = text || '';
}

async function loadPicture(item) {
  const number = ++view.request;
  $('item-facts').textContent += ' · decoding…';
  let buffer;
  try {
    buffer = await (await get(address('api/picture', item))).arrayBuffer();
  } catch (error) {
    if (number !== view.request) return;
    $('item-facts').textContent = sizeText(item.size);
    showError(error.message);
    return;
  }
  if (number !== view.request) return;
  const data = new DataView(buffer);
  const width = data.getUint32(0, true);
  const height = data.getUint32(4, true);
  const depth = data.getUint32(8, true);
  const colours = data.getUint32(12, true);
  const palette = new Uint8Array(buffer, 16, 768);
  const indexes = new Uint8Array(buffer, 16 + 768, width * height);
  const base = document.createElement('canvas');
  base.width = width;
  base.height = height;
  if (width > 0 && height > 0) {
    const context = base.getContext('2d');
    const image = context.createImageData(width, height);
    const rgba = image.data;
    for (let i = 0; i < indexes.length; ++i) {
      const p = indexes[i] * 3;
      rgba[i * 4] = palette[p];
      rgba[i * 4 + 1] = palette[p + 1];
      rgba[i * 4 + 2] = palette[p + 2];
      rgba[i * 4 + 3] = 255;
    }
    context.putImageData(image, 0, 0);
  }
  view.picture = { width, height, depth, colours, palette, indexes, base };
  $('item-facts').textContent = width + ' × ' + height + ', ' + depth + ' bits a pixel, ' +
      colours + ' colours · ' + sizeText(item.size) + (item.member ? ' in ' + item.input.name : '');
  $('stage').hidden = $('picture-footer').hidden = false;
  $('pointer').textContent = 'Point at the picture to see a pixel\'s index and colour.';
  buildPalette();
  render();
}

// Draws the picture at the zoom: an integer number of screen pixels for
// each picture pixel, copied without smoothing.
function render() {
  const picture = view.picture;
  if (!picture) return;
  const canvas = $('picture');
  const { width, height } = picture;
  let scale = view.zoom;
  if (view.fit) {
    const stage = $('stage');
    const fits = Math.min(stage.clientWidth / width, stage.clientHeight / height);
    scale = fits >= 1 ? Math.max(1, Math.min(kMaxZoom, Math.floor(fits))) : fits;
    view.zoom = Math.max(1, Math.floor(scale));
  }
  const whole = Number.isInteger(scale);
  const backing = whole && width * height * scale * scale <= kCanvasPixels ? scale : 1;
  canvas.width = width * backing;
  canvas.height = height * backing;
  const context = canvas.getContext('2d');
  context.imageSmoothingEnabled = false;
  context.drawImage(picture.base, 0, 0, canvas.width, canvas.height);
  canvas.style.width = width * scale + 'px';
  canvas.style.height = height * scale + 'px';
  $('zoom-level').textContent = whole ? scale + 'x' : Math.round(scale * 100) + '%';
  $('zoom-level').title = view.fit ? 'fitted to the window' : '';
}

function zoomBy(step) {
  if (!view.picture) return;
  view.fit = false;
  view.zoom = Math.max(1, Math.min(kMaxZoom, view.zoom + step));
  render();
}

function describeColour(index) {
  const p = view.picture;
  if (index >= p.colours) return 'index ' + index + ': not in the palette';
  const r = p.palette[index * 3], g = p.palette[index * 3 + 1], b = p.palette[index * 3 + 2];
  return 'index ' + index + ': ' + hex(r, g, b) + ' (' + r + ', ' + g + ', ' + b + ')';
}

function buildPalette() {
  const box = $('palette');
  box.textContent = '';
  const p = view.picture;
  for (let i = 0; i < 256; ++i) {
    const swatch = element('div', 'swatch');
    swatch.dataset.index = i;
    if (i < p.colours) {
      swatch.style.backgroundColor = hex(p.palette[i * 3], p.palette[i * 3 + 1], p.palette[i * 3 + 2]);
    } else {
      swatch.classList.add('unused');
    }
    swatch.title = describeColour(i);
    swatch.addEventListener('mouseenter', () => { $('swatch-info').textContent = describeColour(i); });
    box.appendChild(swatch);
  }
  $('swatch-info').textContent = 'Point at a swatch to see its index and colour.';
}

function pointAt(event) {
  const p = view.picture;
  if (!p) return;
  const rect = $('picture').getBoundingClientRect();
  const x = Math.floor((event.clientX - rect.left) / rect.width * p.width);
  const y = Math.floor((event.clientY - rect.top) / rect.height * p.height);
  if (x < 0 || y < 0 || x >= p.width || y >= p.height) return;
  $('pointer').textContent = 'x ' + x + ', y ' + y + ': ' + describeColour(p.indexes[y * p.width + x]);
}

// ---- Keys and start ------------------------------------------------------

function move(step) {
  if (view.items.length === 0) return;
  const at = view.current ? view.items.indexOf(view.current) : -1;
  const next = at < 0 ? (step > 0 ? 0 : view.items.length - 1)
                      : Math.max(0, Math.min(view.items.length - 1, at + step));
  if (view.items[next] !== view.current) select(view.items[next]);
}

document.addEventListener('keydown', (event) => {
  if (event.ctrlKey || event.metaKey || event.altKey) return;
  const keys = {
    ArrowDown: () => move(1), ArrowRight: () => move(1), j: () => move(1),
    ArrowUp: () => move(-1), ArrowLeft: () => move(-1), k: () => move(-1),
    '+': () => zoomBy(1), '=': () => zoomBy(1), '-': () => zoomBy(-1),
    f: () => { if (view.picture) { view.fit = true; render(); } },
  };
  const action = keys[event.key];
  if (!action) return;
  event.preventDefault();
  action();
});

$('zoom-in').addEventListener('click', () => zoomBy(1));
$('zoom-out').addEventListener('click', () => zoomBy(-1));
$('zoom-fit').addEventListener('click', () => { view.fit = true; render(); });
$('picture').addEventListener('mousemove', pointAt);
window.addEventListener('resize', () => { if (view.fit) render(); });

async function start() {
  try {
    view.inputs = await (await get('/api/inputs')).json();
    buildTree();
  } catch (error) {
    $('tree').replaceChildren(element('p', 'error', 'Cannot list the inputs: ' + error.message));
  }
}

start();
