// mirdcng: protection of the framework's .ebs files.
//
// Files are encrypted with AES-128 in CBC mode (PKCS#7 padding, a fresh random
// IV per file) under a fixed key built into the library, and may carry a tag:
// a short text of the caller's that travels inside the ciphertext and must be
// given back to decrypt the file. WARNING: the key ships inside the library,
// so this obscures files from those who lack the library; it does not keep
// them from anyone who has it. The layout has no integrity check either.
//
// The three functions keep no state between calls and take no locks: calls on
// different threads do not interfere as long as they do not work on the same
// files or the same caller's stream. Paths are narrow byte strings, passed to
// the file system unchanged apart from the naming rule below. The result codes
// are listed in mirdcng/result_codes.h.
//
// The naming rule (file functions, both paths): a path whose part after its
// last "." (searched over the whole path, folders included) is exactly "EBS"
// is used as it is; every other path gets ".ebs" appended. The test is
// case-sensitive while the extension added is lower case:
//
//   given             used
//   model             model.ebs
//   model.EBS         model.EBS
//   model.ebs         model.ebs.ebs
//   model.Ebs         model.Ebs.ebs
//   model.            model..ebs
//   data.old/model    data.old/model.ebs
//   EBS               EBS
//   (empty)           .ebs
//
// Size limit: a file must stay below 2 GiB (2^31 bytes), and so must every
// container cng_77x writes: a source with its tag must stay below 2^31 - 32
// bytes. Larger ones are refused without being read. Every file is held whole
// in memory while it is worked on.
//
// Files: only regular files are read or written. A name that leads to a FIFO,
// a device, a socket or a folder is refused before it is opened, so that no
// call blocks on one or reads one for ever. Kernel files that measure 0 bytes
// but have content (/proc) are regular files.
//
// Writing a destination (cng_77x, cng_77z): who may write `dst` is decided
// as for fopen(dst, "wb"), by the system: an existing `dst` is opened for
// writing first (following links under the system's own rules for them), and
// a refusal (its permissions, a read-only file, a link the system will not
// follow) fails the call with `dst` untouched; a new `dst` is decided by its
// folder. `dst` is then replaced, never emptied and rewritten: the new
// content goes into a temporary file beside the file that open reached
// (".NAME.mirdcng-RANDOM.tmp", readable by its owner alone until it has
// `dst`'s permissions), is flushed to the disk, and is renamed over it, once
// the name is seen to lead to that same file still (if it does not, the call
// fails and changes nothing); on Linux the folder is synced after. So a
// failure leaves `dst` exactly as it was (no space or no inode for the
// temporary included), and a crash, a kill or a power loss leaves either the
// old `dst` or the whole new one (a crash may leave the temporary behind,
// never a damaged `dst`). What follows from replacing by rename:
//   - `dst` keeps its permissions (and on POSIX its owner and group, where
//     the process may set them; on Windows its hidden, system and archive
//     attributes). Other metadata (ACLs, extended attributes, a Windows
//     security descriptor of its own) is not carried over: the new file gets
//     what the folder gives new files.
//   - A symbolic link is not replaced: the file it leads to is.
//   - A file with several hard links is split: `dst` names the new file, the
//     other names keep the old content.
//   - A process that holds the old `dst` open keeps reading the old content.
// Fallback, NOT crash-safe: where the folder takes no new file from this
// process (the system refuses the temporary for want of permission) while
// `dst` itself was opened for writing, or `dst` cannot be renamed over (on
// Windows, a file another process holds open without delete sharing, as the
// framework's hosts hold theirs; on Linux, a mount point, a file on another
// file system, or another user's file in a sticky folder that this process
// may write), `dst` is emptied and written in place. A failure then writes
// the source back when `dst` is the source; a crash or a kill while it is
// written leaves `dst` empty or cut short.
//
// Exceptions: none leaves a function (they are noexcept), so a host built
// with any compiler may call them. When memory runs out, a file function
// returns false with `err` 0 and create_cng77_pipe returns null with `err`
// untouched; everything the call made is released first, and no destination
// is left claiming to be complete. Errors are the result and `err`, nothing
// else: the library prints nothing.
#ifndef MIRDCNG_MIRDCNG_H_
#define MIRDCNG_MIRDCNG_H_

#include <cstdio>

#include "mirdcng/export.h"
#include "mirdutils/mirdutils.h"

// cng_77x encrypts the file `src` into the file `dst`, with the text `tag`
// (null means none) sealed inside after the content. Returns true when `dst`
// holds the complete encrypted file.
//
// `err` is always written: 2 (and false) when `src` or `dst` is null, 3 when
// the source cannot be opened for reading or is not a regular file, 0
// otherwise. With 0, false means the source was refused or the encryption
// failed: the source is already encrypted (begins with the byte 0xDD), is
// empty with an empty tag, is too large (2^31 - 32 bytes or more with its
// tag: its container would reach 2^31 bytes), cannot be read whole; the tag is
// longer than 255 bytes; `dst` is not a regular file; or `dst` cannot be
// written in full. On every failure `dst` is neither created nor changed
// (but for the fallback above). `dst` may name the source: the source is read
// whole before `dst` is written.
MIRDCNG_EXPORT bool cng_77x(const char* src, const char* dst, const char* tag,
                            int& err) noexcept;

// cng_77z decrypts the file `src`, made by cng_77x, into the file `dst`, when
// `tag` (null means none) is the tag sealed inside it. Returns true when `dst`
// holds the complete plaintext, the tag not included.
//
// `err` is always written: 2 (and false) when `src` or `dst` is null, 3 when
// the source cannot be opened for reading or is not a regular file, 5 when
// the tag does not match (the file holds a tag and none was given, or the tag
// sealed inside differs from `tag` in length or in any byte), 0 otherwise.
// With 0, false means the source is not an encrypted file (empty, or not
// beginning with the byte 0xDD), is malformed (shorter than its 18-byte
// header, a ciphertext that does not decrypt, or a tag length larger than
// what decrypts), is 2 GiB or larger, `dst` is not a regular file, or `dst`
// cannot be written in full. `dst` is written only after the tag matched: on
// every failure it is neither created nor changed (but for the fallback
// above); on success an existing `dst` is replaced.
//
// WARNING: nothing authenticates the ciphertext; a damaged file may decrypt
// to damaged content, or be refused with 5 or 0.
MIRDCNG_EXPORT bool cng_77z(const char* src, const char* dst, const char* tag,
                            int& err) noexcept;

// create_cng77_pipe opens a file, encrypted or not, as a pipe of the pipe
// library (mirdutils/mirdutils.h), for the caller to read with zulread and
// release with zulclose. `file` is the caller's open stream of the file and
// `name` its path, taken as it is (no naming rule). The file is read again by
// `name`: when it is an encrypted file it is decrypted in memory, and its
// plaintext without the tag trailer is served through a queue pipe. The tag
// is not checked: a file made with any tag opens here. Any file that is not
// decrypted is served raw: `file` is rewound to its start and read through a
// stream pipe made with `file`, `name` and `flag` as given. The named file
// alone decides; `file` is used only when it is served raw. A `file` that
// cannot be rewound (a pipe, a terminal) is not: every byte it still holds is
// served from where it stands.
//
// Not decrypted, so served raw, besides every file that does not begin with
// 0xDD (the empty file included):
//   - a `name` that cannot be opened for reading;
//   - a `name` that is not a regular file (a FIFO, /dev/stdin bound to a
//     pipe, a device): it is not read at all;
//   - a file of 2 GiB or more;
//   - a 0xDD file shorter than its 18-byte header, one whose ciphertext does
//     not decrypt (it is not a non-zero multiple of 16 bytes, or its padding
//     is wrong), and one whose tag length exceeds its decrypted bytes;
//   - every encrypted file when the cipher cannot be used.
//
// Null is returned, writing `err`, in two cases only:
//   2  `file` or `name` is null; nothing else is done
//   3  the file decrypts to nothing once its tag trailer is removed
// Null is also returned, `err` untouched, when memory runs out (an encrypted
// file whose plaintext cannot be held is never served raw: its ciphertext
// would pass for its content) or the pipe library cannot make the queue pipe
// or the stream pipe. Whenever a pipe is
// returned, `err` is left as the caller set it: the pipe itself is the sign
// of success, so set `err` to 0 before the call to tell the cases of null
// apart.
//
// Ownership: the caller owns the returned pipe. `flag` is the stream pipe's
// `owns_stream`, and counts only when the file is served raw: then with true
// the pipe closes `file` on zulclose, with false `file` stays the caller's,
// to be kept open until zulclose. When the file is decrypted, and whenever
// null is returned, `file` stays the caller's, open and unmoved, whatever
// `flag` says. WARNING: the result does not tell the caller which way was
// taken, so with `flag` true it cannot know whether it still owns `file`;
// pass false and close `file` after zulclose.
//
// The pipe library: of it, this function imports create_queue_zulpipe,
// zulwrite and create_binary_stream_zulpipe, nothing else, so that it works
// beside any library that has those three. The plaintext goes into the queue
// pipe with one zulwrite whose result is not looked at: what it returns is
// that library's own convention. So this function cannot tell a write that
// took only part of the plaintext, and returns the pipe all the same; the
// library must then fail the pipe's reads rather than serve part of the file,
// as this project's mirdutils does (its zulread then returns a negative
// count). Beside this project's own mirdutils, which has one more function
// for it, the pipe takes over the block the plaintext was decrypted into
// instead of a copy, under the same rules.
//
// Memory: a file of N bytes is held about twice over at the most while it is
// opened, the pipe's own copy of the plaintext included.
MIRDCNG_EXPORT zulpipe* create_cng77_pipe(FILE* file, const char* name, bool flag,
                                          int& err) noexcept;

#endif  // MIRDCNG_MIRDCNG_H_
