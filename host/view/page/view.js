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
  roots: [],        // the nodes at the top of the tree
  byKey: new Map(), // every node known so far, by its key
  current: null,    // the item shown
  picture: null,    // {width, height, depth, colours, palette, indexes, base}
  zoom: 1,
  fit: false,
  highlight: null,  // the palette entry whose pixels are shown alone
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
  if (response.status === 409) setTimeout(checkChanges, 0);  // a listing is out of date
  if (!response.ok) {
    let reason = response.status + ' ' + response.statusText;
    try {
      const body = await response.json();
      if (body && body.error) reason = body.error;
      var known = body && body.picture;
    } catch (ignored) { /* not JSON: keep the status */ }
    const error = new Error(reason);
    error.status = response.status;
    error.picture = known;
    throw error;
  }
  return response;
}

function address(kind, item) {
  return '/' + kind + '/' + item.key;
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

// Every input, directory and member is a node. Containers (a directory of
// the inputs, an archive, an archive inside an archive) have children and
// show as a grid; the rest are leaves shown one at a time. A member that an
// archive plug-in recognises is a container whose children are asked for
// when it is first opened.
function node(fields) {
  return { children: null, open: false, depth: 0, parent: null, picture: false, size: 0, ...fields };
}

function memberNodes(parent, members) {
  return members.map((member, index) => node({
    key: parent.key + '/' + member.id, name: member.name, size: member.size, parent, index,
    input: parent.input, picture: member.picture, archive: !!member.archive,
    container: !!member.archive, depth: parent.depth + 1,
  }));
}

// Where each input lies: directories given on the command line become
// folders, a chain of folders with nothing else in them one row.
function buildNodes() {
  const roots = [];
  const folders = new Map();
  const folderFor = (parts) => {
    let list = roots, parent = null, path = '';
    for (const part of parts) {
      path += part + '/';
      let folder = folders.get(path);
      if (!folder) {
        folder = node({ key: 'd:' + path, name: part, container: true, folder: true, children: [], parent, open: true });
        folders.set(path, folder);
        list.push(folder);
      }
      parent = folder;
      list = folder.children;
    }
    return parent;
  };
  view.byKey = new Map();
  for (const input of view.inputs) {
    const parts = input.name.split(/[\\/]/);
    const base = parts.pop();
    const folder = folderFor(parts.filter((p) => p && p !== '.'));
    const item = node({
      key: String(input.id), name: folder ? base : input.name, size: input.size, parent: folder, index: 0,
      input, picture: input.kind === 'picture', container: input.kind === 'archive', archive: input.kind === 'archive',
    });
    if (input.kind === 'archive') {
      item.children = memberNodes(item, input.members);
      item.open = input.members.length <= 2000;
    }
    if (input.error) { item.error = input.error; item.picture = false; }
    (folder ? folder.children : roots).push(item);
  }
  const merge = (list) => list.map((n) => {
    while (n.folder && n.children.length === 1 && n.children[0].folder) {
      const only = n.children[0];
      only.name = n.name + '/' + only.name;
      only.parent = n.parent;
      n = only;
    }
    if (n.children) n.children.forEach((c, i) => { c.parent = n; c.index = i; });
    if (n.folder) n.children = merge(n.children);
    return n;
  });
  view.roots = merge(roots);
  view.roots.forEach((n, i) => { n.index = i; });
  const index = (n, depth) => {
    n.depth = depth;
    view.byKey.set(n.key, n);
    if (n.children) n.children.forEach((c) => index(c, depth + 1));
  };
  view.roots.forEach((n) => index(n, 0));
}

// The children of a container, asked for once for an archive inside an
// archive; the promise of the first asking is shared by later ones.
function loadChildren(n) {
  if (n.children) return Promise.resolve(n.children);
  if (!n.loading) {
    n.loading = get('/api/members/' + n.key).then((r) => r.json()).then((answer) => {
      n.children = memberNodes(n, answer.members);
      n.children.forEach((c) => view.byKey.set(c.key, c));
      return n.children;
    }, (error) => { n.loading = null; throw error; });
  }
  return n.loading;
}

// Only the rows in sight are in the page, so that an archive of 10,240
// members open in the tree costs what one of 10 does.
const kRowHeight = 22;
const tree = { rows: [], shown: new Map() };

function flatRows() {
  const rows = [];
  const walk = (list) => {
    for (const n of list) {
      rows.push(n);
      if (n.container && n.open && n.children) walk(n.children);
    }
  };
  walk(view.roots);
  return rows;
}

function refreshTree() {
  tree.rows = flatRows();
  $('tree-rows').style.height = tree.rows.length * kRowHeight + 'px';
  for (const row of tree.shown.values()) row.remove();
  tree.shown.clear();
  drawTree();
}

function drawTree() {
  const box = $('tree');
  const first = Math.max(0, Math.floor(box.scrollTop / kRowHeight) - 10);
  const last = Math.min(tree.rows.length, Math.ceil((box.scrollTop + box.clientHeight) / kRowHeight) + 10);
  for (const [i, row] of tree.shown) {
    if (i < first || i >= last || row.node !== tree.rows[i]) { row.remove(); tree.shown.delete(i); }
  }
  const holder = $('tree-rows');
  for (let i = first; i < last; ++i) {
    if (tree.shown.has(i)) continue;
    const row = makeRow(tree.rows[i]);
    row.style.transform = `translateY(${i * kRowHeight}px)`;
    tree.shown.set(i, row);
    holder.appendChild(row);
  }
}

function kindText(n) {
  if (n.folder) return counted(n.children.length, 'item');
  if (n.container) return n.children ? counted(n.children.length, 'member') : 'archive';
  if (n.error) return 'unreadable';
  return n.picture ? 'picture' : 'data';
}

function makeRow(n) {
  const row = element('div', 'row' + (n.container ? ' folder' : ' leaf') + (view.current === n || grid.folder === n && !$('grid-panel').hidden ? ' selected' : ''));
  row.node = n;
  row.dataset.key = n.key;
  row.style.paddingLeft = 6 + n.depth * 14 + 'px';
  const twisty = element('span', 'twisty', n.container ? (n.open ? '▾' : '▸') : '');
  row.appendChild(twisty);
  row.appendChild(element('span', 'name', n.name));
  row.appendChild(element('span', 'kind', kindText(n)));
  if (!n.folder) row.appendChild(element('span', 'size', sizeText(n.size)));
  row.title = n.name + (n.folder ? '' : ' (' + n.size + ' bytes, ' + kindText(n) + ')');
  row.tabIndex = -1;
  // The name shows the grid; only the marker opens and closes the rows, so
  // that a click on a name never makes or drops thousands of rows.
  twisty.addEventListener('click', (event) => { event.stopPropagation(); toggle(n); });
  row.addEventListener('click', () => go(n.key));
  return row;
}

async function toggle(n, open = !n.open) {
  if (!n.container || n.open === open) return;
  n.open = open;
  if (open && !n.children) {
    try { await loadChildren(n); } catch (error) { n.open = false; n.error = error.message; }
  }
  refreshTree();
}

// Marks the node's row, opening the containers above it and scrolling the
// row into sight.
function mark(n) {
  for (let up = n && n.parent; up; up = up.parent) up.open = true;
  refreshTree();
  if (!n) return;
  const at = tree.rows.indexOf(n);
  const box = $('tree');
  const y = at * kRowHeight;
  if (y < box.scrollTop || y + kRowHeight > box.scrollTop + box.clientHeight)
    box.scrollTop = Math.max(0, y - box.clientHeight / 2);
  drawTree();
}

function showPanel(id) {
  for (const panel of ['welcome', 'grid-panel', 'item-panel']) $(panel).hidden = panel !== id;
}

// ---- Grid ------------------------------------------------------------

// Only the rows in sight (and one screen either side) are in the page:
// cells are laid out by their number, so that 10,240 members cost what 100 do.
const kCell = { width: 150, height: 170, gap: 8 };
const grid = { folder: null, items: [], columns: 1, cells: new Map(), focus: 0 };

function gridItems(folder) {
  const text = $('grid-filter').value.trim().toLowerCase();
  const key = $('grid-sort').value;
  const items = (folder.children || []).filter((item) => !text || item.name.toLowerCase().includes(text));
  const order = {
    name: (a, b) => a.name.localeCompare(b.name),
    size: (a, b) => a.size - b.size || a.index - b.index,
    kind: (a, b) => Number(b.picture) - Number(a.picture) || a.index - b.index,
    position: (a, b) => a.index - b.index,
  }[key];
  return items.sort(order);
}

async function showFolder(folder, scrollTop = null) {
  const same = grid.folder === folder;
  view.current = null;
  const number = ++view.request;  // an answer on its way for a picture is no longer wanted
  showPanel('grid-panel');
  $('grid-title').textContent = folder.name;
  if (!same) {
    $('grid-filter').value = '';
    grid.focus = 0;
  }
  grid.folder = folder;
  mark(folder);
  $('grid-error').hidden = true;
  if (!folder.children) {
    $('grid-count').textContent = 'opening…';
    try { await loadChildren(folder); } catch (error) {
      if (number !== view.request) return;
      $('grid-error').hidden = false;
      $('grid-error').textContent = error.message;
      $('grid-count').textContent = '';
      grid.items = [];
      for (const cell of grid.cells.values()) cell.remove();
      grid.cells.clear();
      return;
    }
    if (number !== view.request) return;
    refreshTree();
  }
  refreshGrid();
  $('grid-panel').scrollTop = scrollTop !== null ? scrollTop : (same ? folder.gridTop || 0 : 0);
  drawGrid();
}

function refreshGrid() {
  const folder = grid.folder;
  grid.items = gridItems(folder);
  const all = folder.children || [];
  const pictures = all.filter((item) => item.picture).length;
  $('grid-count').textContent = counted(pictures, 'picture') + ' among ' +
      counted(all.length, folder.folder ? 'item' : 'member') +
      (grid.items.length !== all.length ? '; ' + grid.items.length + ' shown' : '');
  for (const cell of grid.cells.values()) cell.remove();
  grid.cells.clear();
  drawGrid();
}

function counted(n, noun) {
  return n.toLocaleString('en') + ' ' + noun + (n === 1 ? '' : 's');
}

function drawGrid() {
  if (!grid.folder || $('grid-panel').hidden) return;
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
  grid.folder.gridTop = panel.scrollTop;
}

function makeCell(item, index) {
  const cell = element('div', 'cell');
  cell.item = item;
  cell.tabIndex = index === grid.focus ? 0 : -1;
  cell.dataset.index = index;
  cell.appendChild(element('div', 'thumb'));
  cell.appendChild(element('div', 'name', item.name));
  cell.title = item.name + ' (' + sizeText(item.size) + ')';
  cell.addEventListener('click', () => go(item.key));
  cell.addEventListener('focus', () => { grid.focus = index; });
  if (item.container) cell.classList.add('folder');
  if (item.picture) loadThumb(cell);
  else cell.firstChild.appendChild(element('div', 'kind-mark', item.container ? '▤ ' + kindOf(item) : kindOf(item)));
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
  // The input's reading in the address, so that one read again after a
  // change is not shown from the browser's cache.
  img.src = withToken(address('api/thumb', item)) + '&g=' + (item.input.generation || 0);
  cell.firstChild.appendChild(img);
}

// ---- One member or picture ---------------------------------------------

function where(item) {
  return item.parent ? ' in ' + item.parent.name : '';
}

function select(item) {
  view.current = item;
  view.request++;  // whatever was asked for before is no longer wanted
  showPanel('item-panel');
  mark(item);
  $('item-title').textContent = item.name;
  $('back').hidden = !item.parent;
  $('item-facts').textContent = sizeText(item.size) + where(item);
  $('download-original').href = withToken(address('download', item) + '/original');
  $('download-png').href = withToken(address('download', item) + '/png');
  $('download-bmp').href = withToken(address('download', item) + '/bmp');
  $('download-png').hidden = $('download-bmp').hidden = !item.picture;
  showError(null);
  $('stage').hidden = $('picture-footer').hidden = $('zoom-tools').hidden = true;
  $('text-view').hidden = true;
  view.picture = null;
  if (item.error) {
    showError(item.error);
    return;
  }
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
    $('item-facts').textContent = sizeText(item.size) + where(item);
    showError(error.message);
    if (error.picture) showKnown(item, error.picture);
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
  view.highlight = null;
  $('item-facts').textContent = width + ' × ' + height + ', ' + depth + ' bits a pixel, ' +
      colours + ' colours · ' + sizeText(item.size) + where(item);
  $('stage').hidden = $('picture-footer').hidden = $('zoom-tools').hidden = false;
  // Each picture opens at 1x, or fitted when it is larger than the stage.
  const stage = $('stage');
  view.zoom = 1;
  view.fit = width > stage.clientWidth || height > stage.clientHeight;
  $('pointer').textContent = 'Point at the picture to see a pixel\'s index and colour.';
  buildPalette();
  render();
}

// What a picture that cannot be shown still tells: its size from the image
// plug-in, and its palette from its header, to look at and export.
function showKnown(item, known) {
  const palette = new Uint8Array(768);
  const text = known.palette || '';
  for (let i = 0; i < text.length / 2 && i < 768; ++i) palette[i] = parseInt(text.substr(2 * i, 2), 16);
  $('item-facts').textContent = known.width + ' × ' + known.height + ', ' + known.depth + ' bits a pixel' +
      (text ? ', 256 colours' : '') + ' · ' + sizeText(item.size) + where(item);
  if (!text) return;
  view.picture = { width: 0, height: 0, depth: known.depth, colours: 256, palette, indexes: new Uint8Array(0), base: null, damaged: true };
  $('picture-footer').hidden = false;
  $('pointer').textContent = 'No pixels to show; the palette is the one in its header.';
  buildPalette();
}

// Draws the picture at the zoom: an integer number of screen pixels for
// each picture pixel, copied without smoothing.
function render() {
  const picture = view.picture;
  if (!picture || !picture.base) return;
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
  context.drawImage(view.highlight !== null ? highlighted() : picture.base, 0, 0, canvas.width, canvas.height);
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
    swatch.title = describeColour(i) + (p.base ? '; click to show its pixels' : '');
    swatch.addEventListener('mouseenter', () => { $('swatch-info').textContent = describeSwatch(i); });
    swatch.addEventListener('click', () => highlight(view.highlight === i ? null : i));
    box.appendChild(swatch);
  }
  view.highlight = null;
  $('swatch-info').textContent = 'Point at a swatch to see its index and colour' +
      (p.base ? '; click one to show where it is used.' : '.');
  const stem = view.current ? view.current.name.replace(/\.[^.]*$/, '') : 'palette';
  $('palette-act').href = paletteFile('act');
  $('palette-act').download = stem + '.act';
  $('palette-pal').href = paletteFile('pal');
  $('palette-pal').download = stem + '.pal';
}

function describeSwatch(i) {
  const p = view.picture;
  if (!p.base) return describeColour(i);
  let used = 0;
  for (const index of p.indexes) if (index === i) ++used;
  return describeColour(i) + ' · ' + counted(used, 'pixel') +
      (view.highlight === i ? ' (shown; click again to show all)' : '');
}

// The pixels of one palette entry shown as they are, every other pixel
// faded, so that where an entry is used stands out.
function highlighted() {
  const p = view.picture;
  const canvas = document.createElement('canvas');
  canvas.width = p.width;
  canvas.height = p.height;
  const context = canvas.getContext('2d');
  const image = context.createImageData(p.width, p.height);
  const rgba = image.data;
  for (let i = 0; i < p.indexes.length; ++i) {
    const at = p.indexes[i] * 3;
    const own = p.indexes[i] === view.highlight;
    for (let c = 0; c < 3; ++c) rgba[i * 4 + c] = own ? p.palette[at + c] : (p.palette[at + c] >> 3) + 200;
    rgba[i * 4 + 3] = 255;
  }
  context.putImageData(image, 0, 0);
  return canvas;
}

function highlight(index) {
  const p = view.picture;
  if (!p || !p.base) return;
  view.highlight = index;
  document.querySelectorAll('#palette .swatch.chosen').forEach((e) => e.classList.remove('chosen'));
  if (index !== null) $('palette').children[index].classList.add('chosen');
  $('swatch-info').textContent = index !== null ? describeSwatch(index) : 'All pixels shown.';
  render();
}

// The palette as a file a paint program loads: an Adobe colour table
// (.act: 256 RGB triples, then the count), which Photoshop, GIMP and
// Aseprite read with the entries in this order, so that a picture redrawn
// with it maps back to the same indexes; or JASC's text palette (.pal),
// which Paint Shop Pro, GIMP and Aseprite read too and a person can.
function paletteFile(kind) {
  const p = view.picture;
  let blob;
  if (kind === 'act') {
    const bytes = new Uint8Array(772);
    bytes.set(p.palette.subarray(0, 768));
    bytes[768] = p.colours >> 8; bytes[769] = p.colours & 255;
    bytes[770] = 0xFF; bytes[771] = 0xFF;  // no entry is transparent
    blob = new Blob([bytes], { type: 'application/octet-stream' });
  } else {
    const lines = ['JASC-PAL', '0100', '256'];
    for (let i = 0; i < 256; ++i) lines.push(p.palette[i * 3] + ' ' + p.palette[i * 3 + 1] + ' ' + p.palette[i * 3 + 2]);
    blob = new Blob([lines.join('\r\n') + '\r\n'], { type: 'text/plain' });
  }
  if (view.paletteUrls && view.paletteUrls[kind]) URL.revokeObjectURL(view.paletteUrls[kind]);
  view.paletteUrls = { ...view.paletteUrls, [kind]: URL.createObjectURL(blob) };
  return view.paletteUrls[kind];
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

// A place is a node's key: "input/member/member..." for inputs and members,
// "d:path/" for a directory.
function hashOf(key) {
  return key === undefined || key === null ? '#' : '#p=' + encodeURIComponent(key);
}

function parseHash() {
  const params = new URLSearchParams(location.hash.slice(1));
  return params.has('p') ? { key: params.get('p') } : null;
}

// The node of a key, asking for the members of the archives inside
// archives on the way (a reload deep inside one).
async function find(key) {
  if (view.byKey.has(key)) return view.byKey.get(key);
  const parts = key.split('/');
  for (let end = 1; end < parts.length; ++end) {
    const up = view.byKey.get(parts.slice(0, end).join('/'));
    if (!up || !up.container) return null;
    await loadChildren(up);
  }
  return view.byKey.get(key) || null;
}

async function apply(state) {
  const number = ++view.request;
  const n = state && state.key !== undefined ? await find(state.key).catch(() => null) : null;
  if (number !== view.request) return;
  if (!n) { view.current = null; grid.folder = null; mark(null); showPanel('welcome'); return; }
  if (n.container) showFolder(n, state.top !== undefined ? state.top : null);
  else select(n);
}

// A new place: a history entry of its own, so that Back returns (to the grid
// at the row it was left at) and a reload comes back here.
function go(key) {
  const from = history.state;
  const state = { key };
  if (!from || from.key !== key) {
    const inGrid = !$('grid-panel').hidden && grid.folder;
    if (from && inGrid && from.key === grid.folder.key)
      history.replaceState({ ...from, top: $('grid-panel').scrollTop }, '', hashOf(from.key));
    const n = view.byKey.get(key);
    state.fromGrid = !!(inGrid && n && n.parent === grid.folder);
    history.pushState(state, '', hashOf(key));
  }
  apply(state);
}

function back() {
  const n = view.current || (!$('grid-panel').hidden && grid.folder);
  if (!n || !n.parent) return;
  if (view.current && history.state && history.state.fromGrid) history.back();
  else go(n.parent.key);
}

// ---- Keys and start ------------------------------------------------------

// The members that j/k and Home/End go through: the leaves of the folder
// the item is in, in the grid's order when that folder is in view.
function siblings(item) {
  if (!item) return grid.folder && !$('grid-panel').hidden ? grid.items : [];
  const list = item.parent ? (grid.folder === item.parent ? grid.items : item.parent.children)
                           : view.roots;
  return list.filter((n) => !n.container);
}

function move(step, to) {
  const list = siblings(view.current);
  if (list.length === 0) return;
  const at = view.current ? list.indexOf(view.current) : -1;
  const next = to === 'first' ? 0 : to === 'last' ? list.length - 1
      : at < 0 ? (step > 0 ? 0 : list.length - 1) : Math.max(0, Math.min(list.length - 1, at + step));
  if (list[next] !== view.current) go(list[next].key);
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
    Enter: () => { if (grid.items[grid.focus]) go(grid.items[grid.focus].key); },
    j: () => { if (grid.items[grid.focus]) go(grid.items[grid.focus].key); },
    k: () => { if (grid.items[grid.focus]) go(grid.items[grid.focus].key); },
    Escape: back, Backspace: back,
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
$('tree').addEventListener('scroll', () => drawTree(), { passive: true });
window.addEventListener('resize', () => { drawGrid(); drawTree(); });
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

// Inputs that change on disk are read again by vyn; the page asks now and
// then, and when one was, takes the new listing and says which.
const kChangeCheck = 2000;

async function checkChanges() {
  if (view.checking) return;
  view.checking = true;
  try {
    const state = await (await get('/api/generation')).json();
    if (view.generation === undefined) { view.generation = state.generation; return; }
    if (state.generation === view.generation) return;
    view.generation = state.generation;
    const before = view.inputs;
    view.inputs = await (await get('/api/inputs')).json();
    const changed = view.inputs.filter((input, i) => (input.generation || 0) !== ((before[i] && before[i].generation) || 0));
    buildNodes();
    grid.folder = null;
    view.current = null;
    $('notice').hidden = false;
    $('notice').textContent = changed.map((input) => input.name).join(', ') +
        (changed.length === 1 ? ' changed on disk and was' : ' changed on disk and were') + ' read again' +
        changed.filter((input) => input.error).map((input) => '; ' + input.error).join('');
    apply(history.state || parseHash());
  } catch (ignored) {
    // The viewer stopped; the next request says so.
  } finally {
    view.checking = false;
  }
}

async function start() {
  try {
    view.inputs = await (await get('/api/inputs')).json();
    buildNodes();
  } catch (error) {
    $('tree').replaceChildren(element('p', 'error', 'Cannot list the inputs: ' + error.message));
    return;
  }
  $('tree-note').hidden = view.inputs.length !== 0;
  $('tree-note').textContent = 'No inputs.';
  // Back where a reload left off; a single input is opened at once.
  let state = history.state || parseHash();
  if (!state && view.roots.length === 1) state = { key: view.roots[0].key };
  if (state) history.replaceState(state, '', hashOf(state.key));
  apply(state);
  checkChanges();
  setInterval(() => { if (!document.hidden) checkChanges(); }, kChangeCheck);
}

$('notice').addEventListener('click', () => { $('notice').hidden = true; });
start();
