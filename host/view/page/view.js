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
  leaf.tabIndex = -1;
  leaf.addEventListener('click', () => go(stateOf(item)));
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
      input.items = input.members.map((member, index) => ({
        input, member, index, name: member.name, size: member.size, picture: member.picture,
      }));
      view.items.push(...input.items);
      details.addEventListener('toggle', () => { if (details.open) fillArchive(input); });
      // The name shows the grid; only the marker opens and closes the list,
      // so that a large archive's rows are never made by a click on its name.
      summary.addEventListener('click', (event) => {
        const box = summary.getBoundingClientRect();
        if (event.clientX - box.left > 22) {
          event.preventDefault();
          go({ input: input.id });
        }
      });
      if (input.members.length <= 2000) details.open = true;
      tree.appendChild(details);
    } else {
      const item = { input, member: null, index: 0, name: input.name, size: input.size, picture: true };
      input.item = item;
      view.items.push(item);
      tree.appendChild(leafFor(item));
    }
  }
  if (view.inputs.length === 0) tree.appendChild(element('p', 'note', 'No inputs.'));
}

function mark(item) {
  document.querySelectorAll('#tree .selected').forEach((e) => e.classList.remove('selected'));
  if (!item) return;
  if (item.member && !item.input.details.open) {
    // A closed archive stays closed (its rows are made only when asked for).
    item.input.summary.classList.add('selected');
    return;
  }
  if (item.member) fillArchive(item.input, item.index + 1);
  const leaf = leafFor(item);
  leaf.classList.add('selected');
  leaf.scrollIntoView({ block: 'nearest' });
}

function showPanel(id) {
  for (const panel of ['welcome', 'grid-panel', 'item-panel']) $(panel).hidden = panel !== id;
}

// ---- Grid ------------------------------------------------------------

// Only the rows in sight (and one screen either side) are in the page:
// cells are laid out by their number, so that 10,240 members cost what 100 do.
const kCell = { width: 150, height: 170, gap: 8 };
const grid = { input: null, items: [], columns: 1, cells: new Map(), focus: 0 };

function gridItems(input) {
  const text = $('grid-filter').value.trim().toLowerCase();
  const key = $('grid-sort').value;
  let items = input.items.filter((item) => !text || item.name.toLowerCase().includes(text));
  const order = {
    name: (a, b) => a.name.localeCompare(b.name),
    size: (a, b) => a.size - b.size || a.index - b.index,
    kind: (a, b) => Number(b.picture) - Number(a.picture) || a.index - b.index,
    position: (a, b) => a.index - b.index,
  }[key];
  return items.sort(order);
}

function showArchive(input, scrollTop = null) {
  const same = grid.input === input;
  view.current = null;
  view.request++;  // an answer on its way for a picture is no longer wanted
  mark(null);
  input.summary.classList.add('selected');
  showPanel('grid-panel');
  $('grid-title').textContent = input.name;
  if (!same) {
    $('grid-filter').value = '';
    grid.focus = 0;
  }
  grid.input = input;
  refreshGrid();
  $('grid-panel').scrollTop = scrollTop !== null ? scrollTop : (same ? input.gridTop || 0 : 0);
  drawGrid();
}

function refreshGrid() {
  const input = grid.input;
  grid.items = gridItems(input);
  const pictures = input.items.filter((item) => item.picture).length;
  $('grid-count').textContent = counted(pictures, 'picture') + ' among ' + counted(input.items.length, 'member') +
      (grid.items.length !== input.items.length ? '; ' + grid.items.length + ' shown' : '');
  for (const cell of grid.cells.values()) cell.remove();
  grid.cells.clear();
  drawGrid();
}

function counted(n, noun) {
  return n + ' ' + noun + (n === 1 ? '' : 's');
}

function drawGrid() {
  if (!grid.input || $('grid-panel').hidden) return;
  const panel = $('grid-panel');
  const box = $('grid');
  grid.columns = Math.max(1, Math.floor((box.clientWidth + kCell.gap) / (kCell.width + kCell.gap)));
  const rowHeight = kCell.height + kCell.gap;
  const rows = Math.ceil(grid.items.length / grid.columns);
  box.style.height = rows * rowHeight + 'px';
  const top = panel.scrollTop - box.offsetTop;
  const first = Math.max(0, Math.floor((top - panel.clientHeight) / rowHeight));
  const last = Math.min(rows, Math.ceil((top + 2 * panel.clientHeight) / rowHeight));
  const wanted = new Set();
  for (let i = first * grid.columns; i < Math.min(grid.items.length, last * grid.columns); ++i) wanted.add(i);
  for (const [i, cell] of grid.cells) {
    if (!wanted.has(i) || cell.item !== grid.items[i]) { cell.remove(); grid.cells.delete(i); }
  }
  for (const i of wanted) {
    let cell = grid.cells.get(i);
    if (!cell) {
      cell = makeCell(grid.items[i], i);
      grid.cells.set(i, cell);
      box.appendChild(cell);
    }
    cell.style.transform = `translate(${(i % grid.columns) * (kCell.width + kCell.gap)}px, ${Math.floor(i / grid.columns) * rowHeight}px)`;
  }
  grid.input.gridTop = panel.scrollTop;
}

function makeCell(item, index) {
  const cell = element('div', 'cell');
  cell.item = item;
  cell.tabIndex = index === grid.focus ? 0 : -1;
  cell.dataset.index = index;
  cell.appendChild(element('div', 'thumb'));
  cell.appendChild(element('div', 'name', item.name));
  cell.title = item.name + ' (' + sizeText(item.size) + ')';
  cell.addEventListener('click', () => go(stateOf(item)));
  cell.addEventListener('focus', () => { grid.focus = index; });
  if (item.picture) loadThumb(cell);
  else cell.firstChild.appendChild(element('div', 'kind-mark', kindOf(item)));
  return cell;
}

function kindOf(item) {
  const dot = item.name.lastIndexOf('.');
  return dot > 0 ? item.name.slice(dot + 1).toUpperCase() : 'data';
}

function loadThumb(cell) {
  const item = cell.item;
  if (item.thumb === 'failed') {
    cell.firstChild.replaceChildren(element('div', 'failed', item.thumbReason));
    cell.dataset.failed = '1';
    return;
  }
  const img = new Image();
  img.alt = item.name;
  img.addEventListener('load', () => { img.dataset.loaded = '1'; });
  img.addEventListener('error', async () => {
    // The image says nothing of why; the server's answer (kept there) does.
    let reason = 'cannot be shown';
    try { await get(img.src); } catch (error) { reason = error.message; }
    item.thumb = 'failed';
    item.thumbReason = reason;
    if (cell.isConnected) {
      cell.firstChild.replaceChildren(element('div', 'failed', reason));
      cell.dataset.failed = '1';
    }
  });
  img.src = withToken(address('api/thumb', item));
  cell.firstChild.appendChild(img);
}

// ---- One member or picture ---------------------------------------------

function select(item) {
  view.current = item;
  view.request++;  // whatever was asked for before is no longer wanted
  mark(item);
  showPanel('item-panel');
  $('item-title').textContent = item.name;
  $('back').hidden = !item.member;
  $('item-facts').textContent = sizeText(item.size) + (item.member ? ' in ' + item.input.name : '');
  $('download-original').href = withToken(address('download', item) + '/original');
  $('download-png').href = withToken(address('download', item) + '/png');
  $('download-bmp').href = withToken(address('download', item) + '/bmp');
  $('download-png').hidden = $('download-bmp').hidden = !item.picture;
  showError(null);
  $('stage').hidden = $('picture-footer').hidden = $('zoom-tools').hidden = true;
  $('text-view').hidden = true;
  view.picture = null;
  if (!item.picture) {
    loadText(item);
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
  $('stage').hidden = $('picture-footer').hidden = $('zoom-tools').hidden = false;
  // Each picture opens at 1x, or fitted when it is larger than the stage.
  const stage = $('stage');
  view.zoom = 1;
  view.fit = width > stage.clientWidth || height > stage.clientHeight;
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
    view.zoom = scale;
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
  $('zoom-level').dataset.scale = scale;
  $('zoom-level').title = view.fit ? 'fitted to the window' : '';
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

// ---- Text and hex ------------------------------------------------------

const kPreviewBytes = 65536;

async function loadText(item) {
  const number = view.request;
  $('text-view').hidden = false;
  $('text-body').textContent = 'Reading…';
  let bytes;
  try {
    const response = await fetch(address('download', item) + '/original',
                                 { headers: { 'X-Vyn-Token': token, Range: 'bytes=0-' + (kPreviewBytes - 1) } });
    if (!response.ok) throw new Error((await response.json()).error || response.statusText);
    bytes = new Uint8Array(await response.arrayBuffer());
  } catch (error) {
    if (number !== view.request) return;
    $('text-view').hidden = true;
    showError(error.message);
    return;
  }
  if (number !== view.request) return;
  view.text = { item, bytes };
  showText();
}

function showText() {
  const { item, bytes } = view.text;
  const hexMode = $('text-mode').value === 'hex';
  $('text-encoding').disabled = hexMode;
  let shown;
  if (hexMode) {
    const lines = [];
    for (let at = 0; at < bytes.length; at += 16) {
      const row = bytes.subarray(at, at + 16);
      const hexes = Array.from(row, (b) => b.toString(16).padStart(2, '0')).join(' ');
      const chars = Array.from(row, (b) => (b >= 0x20 && b < 0x7f ? String.fromCharCode(b) : '.')).join('');
      lines.push(at.toString(16).padStart(8, '0') + '  ' + hexes.padEnd(48) + '  ' + chars);
    }
    shown = lines.join('\n');
  } else {
    shown = new TextDecoder($('text-encoding').value).decode(bytes);
  }
  $('text-body').textContent = shown;
  $('text-note').textContent = bytes.length < item.size
      ? 'The first ' + sizeText(bytes.length) + ' of ' + sizeText(item.size) + '.' : '';
}

// ---- Zoom ----------------------------------------------------------------

const kZoomSteps = [1 / 16, 1 / 8, 1 / 4, 1 / 2, 1, 2, 3, 4, 6, 8, 12, 16];

function shownScale() {
  const p = view.picture;
  return p ? $('picture').getBoundingClientRect().width / p.width : 1;
}

// Zooms to the scale keeping the picture's point under (x, y) of the stage
// where it is (the stage's centre when not given).
function zoomTo(scale, x, y) {
  const stage = $('stage');
  const canvas = $('picture');
  if (x === undefined) { x = stage.clientWidth / 2; y = stage.clientHeight / 2; }
  const before = canvas.getBoundingClientRect();
  const box = stage.getBoundingClientRect();
  const px = (box.left + x - before.left) / before.width;
  const py = (box.top + y - before.top) / before.height;
  view.fit = false;
  view.zoom = scale;
  render();
  const after = canvas.getBoundingClientRect();
  stage.scrollLeft += after.left + px * after.width - (box.left + x);
  stage.scrollTop += after.top + py * after.height - (box.top + y);
}

function zoomBy(step, x, y) {
  if (!view.picture) return;
  const now = shownScale();
  const next = step > 0 ? kZoomSteps.find((z) => z > now * 1.001)
                        : [...kZoomSteps].reverse().find((z) => z < now * 0.999);
  if (next !== undefined) zoomTo(next, x, y);
}

// ---- Where the page is: history and address --------------------------------

function stateOf(item) {
  return item.member ? { input: item.input.id, member: item.member.id } : { input: item.input.id };
}

function hashOf(state) {
  if (!state || state.input === undefined) return '#';
  return '#i=' + state.input + (state.member !== undefined ? '&m=' + state.member : '');
}

function parseHash() {
  const params = new URLSearchParams(location.hash.slice(1));
  if (!params.has('i')) return null;
  const state = { input: Number(params.get('i')) };
  if (params.has('m')) state.member = Number(params.get('m'));
  return state;
}

function apply(state) {
  const input = state && view.inputs[state.input];
  if (!input) { view.current = null; view.request++; mark(null); showPanel('welcome'); return; }
  if (input.kind !== 'archive') { select(input.item); return; }
  const item = state.member !== undefined ? input.items[state.member] : null;
  if (item) select(item);
  else showArchive(input, state.top !== undefined ? state.top : null);
}

// A new place: a history entry of its own, so that Back returns (to the grid
// at the row it was left at) and a reload comes back here.
function go(state) {
  const from = history.state;
  if (hashOf(from) !== hashOf(state)) {
    if (from && from.member === undefined && grid.input && from.input === grid.input.id)
      history.replaceState({ ...from, top: $('grid-panel').scrollTop }, '', hashOf(from));
    history.pushState({ ...state, fromGrid: !!(from && from.member === undefined && state.member !== undefined) }, '', hashOf(state));
  }
  apply(state);
}

function back() {
  if (!view.current || !view.current.member) return;
  if (history.state && history.state.fromGrid) history.back();
  else go({ input: view.current.input.id });
}

// ---- Keys and start ------------------------------------------------------

// The members that j/k and Home/End go through: those of the archive in
// view, in the grid's order, or the pictures given on the command line.
function siblings(item) {
  if (!item) return grid.input && !$('grid-panel').hidden ? grid.items : view.items.filter((i) => !i.member);
  if (!item.member) return view.inputs.filter((i) => i.kind !== 'archive').map((i) => i.item);
  return grid.input === item.input ? grid.items : item.input.items;
}

function move(step, to) {
  const list = siblings(view.current);
  if (list.length === 0) return;
  const at = view.current ? list.indexOf(view.current) : -1;
  let next = to === 'first' ? 0 : to === 'last' ? list.length - 1
      : at < 0 ? (step > 0 ? 0 : list.length - 1) : Math.max(0, Math.min(list.length - 1, at + step));
  if (list[next] !== view.current) go(stateOf(list[next]));
}

function focusCell(index) {
  if (grid.items.length === 0) return;
  grid.focus = Math.max(0, Math.min(grid.items.length - 1, index));
  const panel = $('grid-panel');
  const rowHeight = kCell.height + kCell.gap;
  const y = $('grid').offsetTop + Math.floor(grid.focus / grid.columns) * rowHeight;
  if (y < panel.scrollTop) panel.scrollTop = y;
  else if (y + rowHeight > panel.scrollTop + panel.clientHeight) panel.scrollTop = y + rowHeight - panel.clientHeight;
  drawGrid();
  const cell = grid.cells.get(grid.focus);
  if (cell) { cell.tabIndex = 0; cell.focus({ preventScroll: true }); }
}

function pictureOverflows() {
  const stage = $('stage');
  return view.picture && (stage.scrollWidth > stage.clientWidth || stage.scrollHeight > stage.clientHeight);
}

document.addEventListener('keydown', (event) => {
  if (event.ctrlKey || event.metaKey || event.altKey) return;
  if (event.target.closest && event.target.closest('input, select')) return;
  const inGrid = !$('grid-panel').hidden;
  const pan = (dx, dy) => () => { $('stage').scrollLeft += dx; $('stage').scrollTop += dy; };
  const keys = inGrid ? {
    ArrowRight: () => focusCell(grid.focus + 1), ArrowLeft: () => focusCell(grid.focus - 1),
    ArrowDown: () => focusCell(grid.focus + grid.columns), ArrowUp: () => focusCell(grid.focus - grid.columns),
    Home: () => focusCell(0), End: () => focusCell(grid.items.length - 1),
    Enter: () => { if (grid.items[grid.focus]) go(stateOf(grid.items[grid.focus])); },
    j: () => { if (grid.items[grid.focus]) go(stateOf(grid.items[grid.focus])); },
    k: () => { if (grid.items[grid.focus]) go(stateOf(grid.items[grid.focus])); },
  } : {
    ArrowDown: pictureOverflows() ? pan(0, 48) : () => move(1),
    ArrowRight: pictureOverflows() ? pan(48, 0) : () => move(1),
    ArrowUp: pictureOverflows() ? pan(0, -48) : () => move(-1),
    ArrowLeft: pictureOverflows() ? pan(-48, 0) : () => move(-1),
    j: () => move(1), k: () => move(-1),
    Home: () => move(0, 'first'), End: () => move(0, 'last'),
    '+': () => zoomBy(1), '=': () => zoomBy(1), '-': () => zoomBy(-1),
    f: () => { if (view.picture) { view.fit = true; render(); } },
    Escape: back, Backspace: back,
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

$('grid-panel').addEventListener('scroll', () => drawGrid(), { passive: true });
window.addEventListener('resize', () => drawGrid());
$('grid-filter').addEventListener('input', () => { grid.focus = 0; refreshGrid(); $('grid-panel').scrollTop = 0; drawGrid(); });
$('grid-sort').addEventListener('change', () => { refreshGrid(); });
$('text-mode').addEventListener('change', () => { if (view.text) showText(); });
$('text-encoding').addEventListener('change', () => { if (view.text) showText(); });
$('back').addEventListener('click', back);
window.addEventListener('popstate', (event) => apply(event.state || parseHash()));
$('stage').addEventListener('wheel', (event) => {
  if (!view.picture) return;
  event.preventDefault();
  const box = $('stage').getBoundingClientRect();
  zoomBy(event.deltaY < 0 ? 1 : -1, event.clientX - box.left, event.clientY - box.top);
}, { passive: false });
$('picture').addEventListener('mousedown', (event) => {
  if (event.button !== 0) return;
  event.preventDefault();
  const stage = $('stage');
  let x = event.clientX, y = event.clientY;
  const drag = (e) => { stage.scrollLeft -= e.clientX - x; stage.scrollTop -= e.clientY - y; x = e.clientX; y = e.clientY; };
  const end = () => { window.removeEventListener('mousemove', drag); window.removeEventListener('mouseup', end); };
  window.addEventListener('mousemove', drag);
  window.addEventListener('mouseup', end);
});

async function start() {
  try {
    view.inputs = await (await get('/api/inputs')).json();
    buildTree();
  } catch (error) {
    $('tree').replaceChildren(element('p', 'error', 'Cannot list the inputs: ' + error.message));
    return;
  }
  // Back where a reload left off; a single input is opened at once.
  let state = history.state || parseHash();
  if (!state && view.inputs.length === 1) state = { input: 0 };
  if (state) history.replaceState(state, '', hashOf(state));
  apply(state);
}

start();
