-- prendax_lsp in a real editor: headless Neovim with the guide's own Neovim 0.7
-- configuration. Diagnostics are checked against prendax_cli's, then hover,
-- completion, definition, rename, formatting and the quick fix are asked for
-- and their edits applied to the buffer; the syntax file's groups are read at
-- given positions. Ends Neovim with status 0 when every check passed.
--   nvim --headless -u NONE -i NONE -c 'luafile nvim_test.lua'
-- with PRENDAX_CLI, PRENDAX_SOURCE_DIR, SYNTAX_RTP and WORK_DIR set, and
-- prendax_lsp on the PATH.

local cli = os.getenv('PRENDAX_CLI')
local root = os.getenv('PRENDAX_SOURCE_DIR')
local work = os.getenv('WORK_DIR')
local failures = 0

local function check(ok, what)
  if not ok then
    failures = failures + 1
    io.stderr:write('FALLO: ' .. what .. '\n')
  end
end

local function equal(got, want, what)
  check(vim.deep_equal(got, want), what .. ': se esperaba ' .. vim.inspect(want) .. ', se obtuvo ' .. vim.inspect(got))
end

-- The guide's configuration for Neovim 0.7, as a player would paste it.
local function guide_config()
  local text = table.concat(vim.fn.readfile(root .. '/docs/guia.md'), '\n')
  local block = text:match('```lua nvim%-0%.7\n(.-)\n```')
  assert(block, 'la guía no tiene el bloque ```lua nvim-0.7')
  assert(loadstring(block))()
end

-- Every publishDiagnostics is counted, so "no problems" can be told from "not yet".
local published = {}
local default_handler = vim.lsp.handlers['textDocument/publishDiagnostics']
vim.lsp.handlers['textDocument/publishDiagnostics'] = function(err, result, ctx, config)
  published[vim.uri_to_fname(result.uri)] = (published[vim.uri_to_fname(result.uri)] or 0) + 1
  return default_handler(err, result, ctx, config)
end

local function client_of(buf)
  local found = nil
  vim.wait(5000, function()
    found = vim.lsp.buf_get_clients(buf)[1]
    return found ~= nil and found.initialized
  end, 20)
  return found
end

local function open(path)
  vim.cmd('edit! ' .. vim.fn.fnameescape(path))
  local buf = vim.api.nvim_get_current_buf()
  check(vim.bo[buf].filetype == 'zkv', 'tipo de archivo zkv para ' .. path)
  check(client_of(buf) ~= nil, 'cliente prendax_lsp unido a ' .. path)
  return buf
end

local function wait_published(path, count)
  return vim.wait(5000, function() return (published[path] or 0) >= count end, 20)
end

local function request(buf, method, params)
  local answers = vim.lsp.buf_request_sync(buf, method, params, 5000)
  local _, answer = next(answers or {})
  return answer or { err = { message = 'sin respuesta a ' .. method } }
end

local function at(buf, line, character)
  return { textDocument = { uri = vim.uri_from_bufnr(buf) }, position = { line = line, character = character } }
end

-- A text with every malformed UTF-8 byte replaced by U+FFFD, as the server
-- sends the messages that quote a refused byte.
local function replace_malformed(text)
  local out, i = {}, 1
  while i <= #text do
    local b = text:byte(i)
    local n = b < 0x80 and 1 or (b >= 0xC2 and b <= 0xDF) and 2 or (b >= 0xE0 and b <= 0xEF) and 3
      or (b >= 0xF0 and b <= 0xF4) and 4 or 0
    local whole = n > 0
    for k = 1, n - 1 do
      local c = text:byte(i + k)
      whole = whole and c ~= nil and c >= 0x80 and c < 0xC0
    end
    if whole then
      table.insert(out, text:sub(i, i + n - 1))
      i = i + n
    else
      table.insert(out, '\239\191\189')
      i = i + 1
    end
  end
  return table.concat(out)
end

-- prendax_cli's diagnostic lines. A column inside a character (the second
-- byte of an accented letter the lexer refused byte by byte) cannot be said in
-- UTF-16: the editor shows it at the character's first byte.
local function cli_lines(path)
  local lines = vim.fn.systemlist({ 'sh', '-c', '"$0" --quiet --json "$1" 2>&1 >/dev/null', cli, path })
  local source = vim.fn.readfile(path)
  local out = {}
  for _, l in ipairs(lines) do
    local phase, line, col, message = l:match('^%[(%w+)%] línea (%d+), col (%d+): (.*)$')
    if phase then
      line, col = tonumber(line), tonumber(col)
      local text = source[line] or ''
      while col > 1 and (text:byte(col) or 0) >= 0x80 and (text:byte(col) or 0) < 0xC0 do col = col - 1 end
      table.insert(out, { phase, line, col, replace_malformed(message) })
    end
  end
  return out
end

local function diagnostic_lines(buf)
  local out = {}
  for _, d in ipairs(vim.diagnostic.get(buf)) do
    table.insert(out, { d.source, d.lnum + 1, d.col + 1, d.message })
  end
  table.sort(out, function(a, b) return a[2] < b[2] or (a[2] == b[2] and a[3] < b[3]) end)
  return out
end

local function buffer_text(buf)
  return table.concat(vim.api.nvim_buf_get_lines(buf, 0, -1, false), '\n')
end

local function write(path, text)
  vim.fn.writefile(vim.split(text, '\n', { plain = true }), path)
end

local function syntax_group(line, col)
  return vim.fn.synIDattr(vim.fn.synID(line, col, 1), 'name')
end

local function run()
  guide_config()

  -- Diagnostics of every example and of programs failing in each phase.
  local files = vim.fn.glob(root .. '/examples/*.zkv', false, true)
  local broken = {
    ['lexico.zkv'] = 'SET x = 1 // canción\nSET é 2',
    ['sintactico.zkv'] = 'REPEAT 3 SHOOT',
    ['semantico.zkv'] = 'SET health 5\n// año\nWAIT scroe + enemy_ahed()',
  }
  for name, text in pairs(broken) do
    write(work .. '/' .. name, text)
    table.insert(files, work .. '/' .. name)
  end
  for _, path in ipairs(files) do
    local buf = open(path)
    check(wait_published(path, 1), 'diagnósticos publicados para ' .. path)
    equal(diagnostic_lines(buf), cli_lines(path), 'diagnósticos de ' .. path)
  end

  -- Hover, completion, definition on one robot.
  local robot = work .. '/robot.zkv'
  write(robot, 'SET lado random(2) // ¿izquierda?\nIF lado == 0 { MOVE LEFT }\nWAIT health\nMOVE ')
  local buf = open(robot)
  wait_published(robot, 1)
  local hover = request(buf, 'textDocument/hover', at(buf, 1, 4))
  check(hover.result and hover.result.contents.value:find('Variable `lado`, creada en la línea 1', 1, true) ~= nil,
    'hover de una variable: ' .. vim.inspect(hover))
  hover = request(buf, 'textDocument/hover', at(buf, 0, 10))
  check(hover.result and hover.result.contents.value:find('random(n)', 1, true) ~= nil, 'hover de random')
  hover = request(buf, 'textDocument/hover', at(buf, 2, 6))
  check(hover.result and hover.result.contents.value:find('solo lectura', 1, true) ~= nil, 'hover de health')
  local completion = request(buf, 'textDocument/completion', at(buf, 3, 5))
  local labels = {}
  for _, item in ipairs(completion.result and completion.result.items or {}) do table.insert(labels, item.label) end
  equal(labels, { 'UP', 'DOWN', 'LEFT', 'RIGHT' }, 'completado tras MOVE')
  local signature = request(buf, 'textDocument/signatureHelp', at(buf, 0, 16))
  check(signature.result and signature.result.signatures[1].label == 'random(n)', 'firma de random(n)')
  local definition = request(buf, 'textDocument/definition', at(buf, 1, 4))
  check(definition.result and definition.result.range.start.line == 0 and
    definition.result.range.start.character == 4, 'definición de lado: ' .. vim.inspect(definition))

  -- Rename: applied to the buffer; a reserved name is refused with its reason.
  local rename = request(buf, 'textDocument/rename', vim.tbl_extend('force', at(buf, 1, 4), { newName = 'sentido' }))
  check(rename.result ~= nil, 'renombrar lado')
  if rename.result then vim.lsp.util.apply_workspace_edit(rename.result, 'utf-16') end
  equal(vim.api.nvim_buf_get_lines(buf, 0, 2, false),
    { 'SET sentido random(2) // ¿izquierda?', 'IF sentido == 0 { MOVE LEFT }' }, 'texto tras renombrar')
  local refused = request(buf, 'textDocument/rename', vim.tbl_extend('force', at(buf, 2, 6), { newName = 'vida' }))
  refused = refused.err or refused.error
  check(refused and refused.message == "'health' es una variable reservada del juego: no se puede renombrar.",
    'renombrar health se rechaza: ' .. vim.inspect(refused))

  -- Formatting, applied to the buffer.
  vim.api.nvim_buf_set_lines(buf, 0, -1, false, { 'SET a 1 WHILE a<3{SET a a+1 IF a==2{SHOOT}ELSE{MOVE  LEFT}}' })
  local formatting = request(buf, 'textDocument/formatting',
    { textDocument = { uri = vim.uri_from_bufnr(buf) }, options = { tabSize = 2, insertSpaces = true } })
  check(formatting.result ~= nil, 'formato: ' .. vim.inspect(formatting))
  if formatting.result then vim.lsp.util.apply_text_edits(formatting.result, buf, 'utf-16') end
  equal(buffer_text(buf), table.concat({ 'SET a 1', 'WHILE a < 3 {', '  SET a a + 1', '  IF a == 2 {', '    SHOOT',
    '  } ELSE {', '    MOVE LEFT', '  }', '}' }, '\n'), 'texto tras dar formato')

  -- The quick fix of a "¿Quiso decir?" diagnostic, after an edit made in the editor.
  local before = published[robot] or 0
  vim.api.nvim_buf_set_lines(buf, 0, -1, false, { '// ñandú', 'SET cuenta 1', 'WAIT cuetna + 1' })
  check(wait_published(robot, before + 1), 'diagnósticos tras editar')
  vim.wait(5000, function() return #vim.diagnostic.get(buf) == 1 end, 20)
  local diags = vim.diagnostic.get(buf)
  equal(#diags, 1, 'un diagnóstico para cuetna')
  local actions = request(buf, 'textDocument/codeAction', {
    textDocument = { uri = vim.uri_from_bufnr(buf) },
    range = { start = { line = 2, character = 0 }, ['end'] = { line = 2, character = 0 } },
    context = { diagnostics = vim.lsp.diagnostic.get_line_diagnostics(buf, 2) },
  })
  local action = actions.result and actions.result[1]
  check(action and action.title == "Cambiar por 'cuenta'", 'arreglo rápido: ' .. vim.inspect(actions))
  if action then vim.lsp.util.apply_workspace_edit(action.edit, 'utf-16') end
  equal(vim.api.nvim_buf_get_lines(buf, 2, 3, false), { 'WAIT cuenta + 1' }, 'texto tras el arreglo')
  check(vim.wait(5000, function() return #vim.diagnostic.get(buf) == 0 end, 20), 'sin diagnósticos tras el arreglo')

  -- The syntax file's groups.
  vim.cmd('syntax on')
  local colours = work .. '/colores.zkv'
  write(colours, 'WHILE health > 0 { MOVE left } // fin\nSET x random(3) AND true\nset y 1.5 "no"')
  open(colours)
  vim.cmd('syntax sync fromstart')
  local expect = {
    { 1, 1, 'zkvStatement' }, { 1, 7, 'zkvReserved' }, { 1, 14, 'zkvOperator' }, { 1, 16, 'zkvNumber' },
    { 1, 25, 'zkvDirection' }, { 1, 32, 'zkvComment' }, { 1, 37, 'zkvComment' }, { 2, 7, 'zkvBuiltin' },
    { 2, 17, 'zkvLogical' }, { 2, 21, 'zkvBoolean' }, { 3, 1, 'zkvStatement' }, { 3, 7, 'zkvNumber' },
    { 3, 11, 'zkvString' }, { 2, 5, '' },
  }
  for _, e in ipairs(expect) do
    equal(syntax_group(e[1], e[2]), e[3], string.format('grupo de sintaxis en %d:%d', e[1], e[2]))
  end
end

local ok, err = pcall(run)
if not ok then
  failures = failures + 1
  io.stderr:write('FALLO: ' .. tostring(err) .. '\n')
end
for _, client in ipairs(vim.lsp.get_active_clients()) do client.stop() end
vim.wait(2000, function() return #vim.lsp.get_active_clients() == 0 end, 20)
if failures > 0 then
  io.stderr:write(failures .. ' comprobaciones fallidas\n')
  vim.cmd('cquit 1')
else
  io.stdout:write('neovim: todas las comprobaciones pasaron\n')
  vim.cmd('qall!')
end
