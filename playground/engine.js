// The WebAssembly engine behind a few plain methods, for the playground page
// and for Node scripts alike. The module keeps every record itself; this file
// only copies a program in and reads the documents out of its memory.
//   const engine = await PrendaxEngine.load(bytes);
//   engine.compile(text); engine.compileJson(); engine.start(level, seed);
//   engine.run(ticks); engine.frameJson();
(function (root) {
  'use strict';

  // The module imports a few WASI functions it never calls (the C library's
  // file closing and writing); each answers "not supported".
  const ENOSYS = 52;

  function stubImports(module) {
    const imports = {};
    for (const entry of WebAssembly.Module.imports(module)) {
      if (entry.kind !== 'function') continue;
      imports[entry.module] = imports[entry.module] || {};
      imports[entry.module][entry.name] = () => ENOSYS;
    }
    return imports;
  }

  function wrap(instance) {
    const api = instance.exports;
    if (typeof api._initialize === 'function') api._initialize();
    const encoder = new TextEncoder();
    const decoder = new TextDecoder('utf-8');
    const capacity = api.prendax_source_capacity();

    const bytesAt = (pointer, length) => new Uint8Array(api.memory.buffer, pointer, length);
    const output = (length) => bytesAt(api.prendax_output(), length);
    // A document as text; the bytes of the last one stay readable through outputBytes().
    const text = (length) => decoder.decode(output(length));
    let lastLength = 0;

    return {
      exports: api,
      sourceCapacity: capacity,
      // Compiles text (its UTF-8 bytes, cut where prendax_cli cuts a file); true when it compiled.
      compile(source) {
        const bytes = typeof source === 'string' ? encoder.encode(source) : source;
        const length = Math.min(bytes.length, capacity);
        bytesAt(api.prendax_source(), length).set(bytes.subarray(0, length));
        return api.prendax_compile(length) === 1;
      },
      compileJson() { return text((lastLength = api.prendax_compile_json())); },
      listing() { return text((lastLength = api.prendax_listing())); },
      start(level, seed) { return api.prendax_start(level | 0, seed >>> 0) === 1; },
      tick() { return api.prendax_tick() === 1; },
      run(ticks) { return api.prendax_run(ticks | 0); },
      step() { return api.prendax_step(); },
      frameJson() { return text((lastLength = api.prendax_frame_json())); },
      vmJson() { return text((lastLength = api.prendax_vm_json())); },
      worldJson() { return text((lastLength = api.prendax_world_json())); },
      // The game's facts for drawing a match (field size, start health, codes).
      gameFactsJson() { return text((lastLength = api.prendax_game_facts_json())); },
      linesJson() { return text((lastLength = api.prendax_lines_json())); },
      eventsJson(from) { return text((lastLength = api.prendax_events_json(from | 0))); },
      digest() { return text((lastLength = api.prendax_digest())); },
      // A copy of the last document's bytes, exactly as the module wrote them.
      outputBytes() { return output(lastLength).slice(); },
    };
  }

  const PrendaxEngine = {
    async load(bytes) {
      const module = await WebAssembly.compile(bytes);
      return wrap(await WebAssembly.instantiate(module, stubImports(module)));
    },
  };

  if (typeof module === 'object' && module.exports) module.exports = PrendaxEngine;
  else root.PrendaxEngine = PrendaxEngine;
})(typeof globalThis !== 'undefined' ? globalThis : this);
