// Linked into lexaro-import and lexaro-dump for the page (emcc --pre-js), so
// that it runs inside each program's module, where emscripten's file systems
// are in reach. Before main, it changes what the page depends on:
//
// - The user's files (WORKERFS, a File each) are read a mebibyte at a time
//   and the bytes served from there: the programs read in pieces of 64 KiB
//   and less, and each read of a File is a call to FileReaderSync. What is
//   taken from the files is told to Module.onFileRead(bytes), the page's
//   reading progress.
// - Files the programs create (the source on the way, the stream file, the
//   database) go to disk, as a native run's do, when the worker hands over
//   Module.diskFiles: open FileSystemSyncAccessHandles of files in the
//   browser's private file system, one for each file created, the run's alone.
//   Without them (or past them) a file stays in memory (MEMFS), where it
//   grows in place rather than by an eighth and copied again and again.
// - Standard error shows progress as a terminal does, each state ended by a
//   carriage return: such a line goes to Module.onRedraw(text); lines ended
//   by a line feed go to Module.printErr, as emscripten has it.
Module['preRun'] = [].concat(Module['preRun'] || [], function () {
  var piece = 1 << 20;

  WORKERFS.stream_ops.read = function (stream, buffer, offset, length, position) {
    var node = stream.node;
    if (position >= node.size) return 0;
    var held = node.readAhead;
    if (!held || position < held.start || position >= held.start + held.bytes.length) {
      var end = Math.min(node.size, position + Math.max(length, piece));
      held = node.readAhead = {
        start: position,
        bytes: new Uint8Array(WORKERFS.reader.readAsArrayBuffer(node.contents.slice(position, end))),
      };
      if (Module['onFileRead']) Module['onFileRead'](held.bytes.length);
    }
    var from = position - held.start;
    var count = Math.min(length, held.bytes.length - from);
    buffer.set(held.bytes.subarray(from, from + count), offset);
    return count;
  };

  // A file grows in place, a mebibyte at a time, where the browser has
  // resizable ArrayBuffers: no copies, no garbage, and at most a mebibyte
  // unused. Elsewhere it doubles.
  var resizable = typeof ArrayBuffer.prototype.resize === 'function';
  var largest = 4 * 1024 * 1024 * 1024;
  MEMFS.expandFileStorage = function (node, capacity) {
    var previous = node.contents ? node.contents.length : 0;
    if (previous >= capacity) return;
    var size = Math.ceil(capacity / piece) * piece;
    var buffer = node.contents && node.contents.buffer;
    if (buffer && buffer.resizable && size <= buffer.maxByteLength) {
      buffer.resize(size);  // the view follows the buffer's length
      return;
    }
    var contents = resizable && size <= largest
      ? new Uint8Array(new ArrayBuffer(size, { maxByteLength: largest }))
      : new Uint8Array(Math.max(size, 2 * previous));
    if (node.usedBytes > 0) contents.set(node.contents.subarray(0, node.usedBytes), 0);
    node.contents = contents;
  };

  var disk = (Module['diskFiles'] || []).slice();
  if (disk.length) {
    var memoryFile = MEMFS.ops_table.file;
    var diskStream = Object.assign({}, memoryFile.stream, {
      read: function (stream, buffer, offset, length, position) {
        var node = stream.node;
        if (position >= node.usedBytes) return 0;
        var count = Math.min(length, node.usedBytes - position);
        return node.handle.read(buffer.subarray(offset, offset + count), { at: position });
      },
      write: function (stream, buffer, offset, length, position) {
        var node = stream.node;
        var count = node.handle.write(buffer.subarray(offset, offset + length), { at: position });
        node.usedBytes = Math.max(node.usedBytes, position + count);
        node.timestamp = Date.now();
        return count;
      },
      allocate: function (stream, offset, length) {
        var node = stream.node;
        if (offset + length <= node.usedBytes) return;
        node.handle.truncate(offset + length);
        node.usedBytes = offset + length;
      },
      fsync: function (stream) {
        stream.node.handle.flush();
        return 0;
      },
      mmap: function () {
        throw new FS.ErrnoError(43);  // ENODEV: not for files on disk
      },
    });
    var diskNode = Object.assign({}, memoryFile.node, {
      setattr: function (node, attr) {
        if (attr.size !== undefined && attr.size !== node.usedBytes) {
          node.handle.truncate(attr.size);
          node.usedBytes = attr.size;
        }
        memoryFile.node.setattr(node, { mode: attr.mode, timestamp: attr.timestamp });
      },
    });
    var createNode = MEMFS.createNode;
    MEMFS.createNode = function (parent, name, mode, dev) {
      var node = createNode(parent, name, mode, dev);
      if (FS.isFile(node.mode) && disk.length) {
        node.handle = disk.shift();
        node.handle.truncate(0);
        node.node_ops = diskNode;
        node.stream_ops = diskStream;
      }
      return node;
    };
  }

  // Standard error is /dev/tty1, a terminal to the programs (isatty).
  var errorOps = TTY.default_tty1_ops;
  errorOps.put_char = function (tty, byte) {
    if (byte === null || byte === 10) {
      err(UTF8ArrayToString(tty.output, 0));
      tty.output = [];
    } else if (byte === 13) {
      var text = UTF8ArrayToString(tty.output, 0).trim();
      tty.output = [];
      if (text && Module['onRedraw']) Module['onRedraw'](text);
    } else if (byte !== 0) {
      tty.output.push(byte);
    }
  };
});
